// Firmware upgrades against a simulated keyboard on a fast clock: what reaches the
// controller's flash and the modules, the percent a window sees, every error code, and
// keyboards that stop answering or are pulled out halfway.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "device/session.h"
#include "keyboard_rig.h"
#include "log_capture.h"
#include "protocol/commands.h"
#include "protocol/fwimage.h"
#include "session_test_access.h"
#include "sim/sim_init.h"

namespace tavrik {
namespace {

using namespace std::chrono_literals;

constexpr double kScale = 0.01;
constexpr int kStageA = 'A' << 16;
constexpr int kStageB = 'B' << 16;

// A different random byte everywhere, so a chunk taken from the wrong place shows.
FirmwareImagePtr RandomImage(uint32_t seed = 11) {
    auto image = std::make_shared<FirmwareImage>();
    std::mt19937 rng(seed);
    for (auto& b : *image) {
        b = static_cast<uint8_t>(rng());
    }
    return image;
}

std::vector<uint8_t> Part(const FirmwareImage& buf, size_t offset, size_t size) {
    return {buf.begin() + static_cast<long>(offset),
            buf.begin() + static_cast<long>(offset + size)};
}

sim::SimKeyboardState Keyboard(int verLo = 50) {
    auto s = *sim::MakeInitialState(12, 0, 1, verLo, 5);  // one module in its bootloader
    s.latencyMs = 0;
    s.upgradeToVersion = sim::SimVersion{1, 60};
    s.keyUpgradeToVersion = sim::SimVersion{1, 9};
    return s;
}

struct Rig : test::KeyboardRig {
    FirmwareImagePtr image = RandomImage();

    // The controller restarts in 2 s, the session waits 2.2 s: the hub puts both on one
    // fast clock.
    explicit Rig(const sim::SimKeyboardState& state, bool scan = true)
        : KeyboardRig(state, kScale) {
        Attach(scan);
    }
    // As the upgrade window leaves it: scanned once, then the scan paused.
    void Attach(bool scan) {
        KeyboardRig::Attach(scan);
        if (scan) {
            ASSERT_TRUE(rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
            dev.PauseScan();
        }
    }
    template <typename T>
    T Sim(T (*get)(const sim::SimKeyboard&)) {
        T out{};
        backend.WithKeyboard(0, [&](sim::SimKeyboard& k) { out = get(k); });
        return out;
    }
    std::vector<uint8_t> Image(size_t offset, size_t size) const {
        return Part(*image, offset, size);
    }
    int Start(bool kbmc) { return kbmc ? dev.StartKbmcUpgrade(image) : dev.StartKeyUpgrade(image); }
    std::vector<uint8_t> Flash() {
        return Sim(+[](const sim::SimKeyboard& k) { return k.KbmcFlash(); });
    }
};

// Polls as the upgrade window does, until the thread has let go of the session.
struct Outcome {
    bool ended = false;
    std::vector<int> percents;  // repeats dropped
    int error = 0;
};

Outcome Follow(CCCDev& dev, bool kbmc) {
    Outcome run;
    const auto until = std::chrono::steady_clock::now() + 60s;
    while (!run.ended && std::chrono::steady_clock::now() < until) {
        run.ended = dev.IsUpgrading() == 0;
        const int p = kbmc ? dev.GetKbmcUpgradePercent() : dev.GetKeyUpgradePercent();
        if (run.percents.empty() || run.percents.back() != p) {
            run.percents.push_back(p);
        }
        std::this_thread::sleep_for(1ms);
    }
    run.error = kbmc ? dev.GetKbmcUpgradeError() : dev.GetKeyUpgradeError();
    return run;
}

Outcome Upgrade(Rig& rig, bool kbmc) {
    EXPECT_EQ(rig.Start(kbmc), 1);
    return Follow(rig.dev, kbmc);
}

TEST(SessionUpgradeKbmc, SendsTheImageBlockByBlockAndComesBackWithTheNewVersion) {
    auto state = Keyboard();
    state.programQueries = 1;  // every block is asked about twice
    Rig rig(state);
    test::LogCapture log;
    const int idleMs = SessionTestAccess::IdleMs(rig.dev);
    ASSERT_EQ(rig.Start(true), 1);
    EXPECT_EQ(rig.dev.IsUpgrading(), 1);
    EXPECT_EQ(rig.Start(true), -1);  // one upgrade at a time
    EXPECT_EQ(rig.Start(false), -1);
    const Outcome run = Follow(rig.dev, true);

    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.error, 0);
    EXPECT_TRUE(std::is_sorted(run.percents.begin(), run.percents.end()));
    EXPECT_EQ(run.percents.back(), 100);
    EXPECT_EQ(SessionTestAccess::IdleMs(rig.dev), idleMs);
    EXPECT_EQ(rig.Flash(), rig.Image(kFwKbmcOffset, kFwKbmcSize));
    const auto texts = log.Texts();
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                            [](const std::string& t) { return t.ends_with('%'); }),
              56);  // the progress lines, two per block
    EXPECT_TRUE(log.HasLine("Dev 0: 7e0  3%"));
    EXPECT_TRUE(log.HasLine("Dev 0: 800  3%"));
    EXPECT_TRUE(log.HasLine("Dev 0: e000  100%"));
    EXPECT_TRUE(log.HasLine("Dev 0: KBMC upgrade finish, exit", "CCDev"));
    ASSERT_TRUE(rig.WaitIdle());  // the upgrade asked for a scan at its end
    EXPECT_EQ(rig.dev.GetKbmcStageVer(), kStageA | 1 << 8 | 60);
}

TEST(SessionUpgradeKbmc, VariantImageOnlyForVariantOneFromVersion276) {
    for (const int verLo : {20, 19}) {  // version words 276 and 275
        auto state = Keyboard(verLo);
        state.hwVariant = 1;
        Rig rig(state);
        ASSERT_EQ(Upgrade(rig, true).error, 0);
        const size_t from = verLo == 20 ? kFwKbmcVariantOffset : kFwKbmcOffset;
        EXPECT_EQ(rig.Flash(), rig.Image(from, kFwKbmcSize)) << verLo;
    }
}

TEST(SessionUpgradeKbmc, FailuresLeaveTheirCodeAndReleaseTheSession) {
    const struct {
        int error;
        void (*fault)(sim::SimFaults&);
        int percent;
    } cases[] = {
        {1, nullptr, 0},  // the scan never goes idle
        {2, [](sim::SimFaults& f) { f.refuseChunk = 2 * 64 + 5; }, 4096 * 100 / 0xE000},
        {3, [](sim::SimFaults& f) { f.silentCodes = {0x26}; }, 0},  // after block 0
    };
    for (const auto& c : cases) {
        auto state = Keyboard();
        if (c.fault) {
            c.fault(state.faults);
        }
        Rig rig(state, c.fault != nullptr);
        if (!c.fault) {
            rig.dev.RequestScan();  // no scan thread serves it
        }
        const Outcome run = Upgrade(rig, true);
        ASSERT_TRUE(run.ended) << c.error;
        EXPECT_EQ(run.error, c.error);
        EXPECT_EQ(run.percents.back(), c.percent) << c.error;  // where the last block left it
        EXPECT_EQ(rig.dev.IsScanBusy(), 1) << c.error;         // so the keyboard is shown as it is
        EXPECT_EQ(rig.Flash()[2047], c.error == 1 ? 0xFF : (*rig.image)[2047]);
    }
}

TEST(SessionUpgradeKbmc, StalledBlockIsReportedAndTheUpgradeGoesOn) {
    auto state = Keyboard();
    state.faults.stallBlock = 0;
    Rig rig(state);
    test::LogCapture log;
    const Outcome run = Upgrade(rig, true);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.error, 4);
    EXPECT_EQ(log.Count("Dev 0: 7e0  3%"), 90u);
    EXPECT_TRUE(log.HasLine("Dev 0: Upgrade time too long"));
    EXPECT_EQ(run.percents.back(), 100);
    EXPECT_EQ(rig.Flash(), rig.Image(kFwKbmcOffset, kFwKbmcSize));
}

TEST(SessionUpgradeKey, ProgressWordsGiveZeroFiftyHundredAndEveryModuleTheNewFirmware) {
    Rig rig(Keyboard());
    test::LogCapture log;
    const Outcome run = Upgrade(rig, false);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.error, 0);
    EXPECT_TRUE(std::is_sorted(run.percents.begin(), run.percents.end()));
    EXPECT_EQ(run.percents.back(), 100);
    for (const char* line :
         {"a00  0%", "1300  50%", "1c00  100%", "Upgrade done, wait some time"}) {
        EXPECT_TRUE(log.HasLine(std::string("Dev 0: ") + line)) << line;
    }
    EXPECT_EQ(rig.Sim(+[](const sim::SimKeyboard& k) { return k.KeyImage(); }),
              rig.Image(kFwKeyOffset, kFwKeySize));
    const auto after = rig.backend.StateOf(0);
    for (const auto& m : after->modules) {
        if (m) {
            EXPECT_EQ(m->stage, 'A');
            EXPECT_EQ(m->verHi << 8 | m->verLo, 1 << 8 | 9);
        }
    }
    rig.dev.RequestScan();
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.dev.Snapshot().counts.boot, 0);

    // A second upgrade does not start out showing the first one's 100 %.
    ASSERT_EQ(rig.Start(false), 1);
    EXPECT_EQ(rig.dev.GetKeyUpgradePercent(), 0);
    EXPECT_EQ(Follow(rig.dev, false).percents.back(), 100);
}

TEST(SessionUpgradeKey, FailuresLeaveTheirCode) {
    struct Case {
        int error;
        void (*fault)(sim::SimFaults&);
        int percent;
    };
    const Case cases[] = {
        {1, [](sim::SimFaults& f) { f.silentCodes = {0x0A}; }, 0},
        {2, [](sim::SimFaults& f) { f.refuseChunk = 100; }, 0},
        {3, [](sim::SimFaults& f) { f.silentCodes = {0x12}; }, 0},
        {4, [](sim::SimFaults& f) { f.stallKeyUpgrade = true; }, 50},
    };
    for (const auto& c : cases) {
        auto state = Keyboard();
        c.fault(state.faults);
        Rig rig(state);
        const Outcome run = Upgrade(rig, false);
        ASSERT_TRUE(run.ended) << c.error;
        EXPECT_EQ(run.error, c.error);
        EXPECT_EQ(run.percents.back(), c.percent) << c.error;
        // Started again, it does not report the last failure as its own.
        if (c.error == 1) {
            ASSERT_EQ(rig.Start(false), 1);
            EXPECT_EQ(rig.dev.GetKeyUpgradeError(), 0);
            EXPECT_EQ(Follow(rig.dev, false).error, 1);
        }
    }
}

TEST(SessionUpgrade, KeyboardPulledOutMidUpgradeEndsItAndTheSlotWorksAgain) {
    for (const bool kbmc : {true, false}) {
        auto state = Keyboard();
        state.faults.vanishAfterChunks = kbmc ? 3 * 64 + 10 : 50;
        Rig rig(state);
        const Outcome run = Upgrade(rig, kbmc);
        ASSERT_TRUE(run.ended) << kbmc;
        EXPECT_EQ(run.error, 2) << kbmc;
        EXPECT_TRUE(rig.dev.TransportGone()) << kbmc;
        EXPECT_FALSE(rig.backend.IsAttached(0));
        auto closed = std::async(std::launch::async, [&] { rig.Detach(); });
        ASSERT_EQ(closed.wait_for(20s), std::future_status::ready);

        // Plugged in again: a controller left in its bootloader takes the upgrade anew.
        ASSERT_TRUE(rig.backend.Attach(0));
        rig.Attach(false);
        EXPECT_EQ(rig.dev.GetKbmcStageVer() & 0xFF0000, kbmc ? kStageB : kStageA);
        if (kbmc) {
            ASSERT_EQ(Upgrade(rig, true).error, 0);
            EXPECT_EQ(rig.dev.GetKbmcStageVer(), kStageA | 1 << 8 | 60);
        }
    }
}

// Two keyboards on one bus, each upgraded at the same time from an image of its own;
// the caller lets go of both images as soon as the upgrades have started.
TEST(SessionUpgrade, TwoKeyboardsAtOnceEachFromItsOwnImage) {
    test::NotifyRecorder rec;
    KeyboardHub hub(std::make_unique<sim::SimBackend>(), rec, test::FastHub(kScale));
    sim::SimBackend& backend = *sim::SimOf(hub.Backend());
    std::array<std::vector<uint8_t>, 2> want;
    for (int i = 0; i < 2; ++i) {
        auto state = Keyboard();
        state.serial = "SIM-TWO-" + std::to_string(i);
        backend.Attach(i, state);
    }
    ASSERT_EQ(hub.AttachPresent(), 2);
    std::array<CCCDev*, 2> boards{&hub.Session(0), &hub.Session(1)};
    for (CCCDev* dev : boards) {
        ASSERT_EQ(dev->GetKbmcStageVer(), kStageA | 1 << 8 | 50);
    }
    {
        auto first = RandomImage(21);
        auto second = RandomImage(22);
        ASSERT_NE(*first, *second);
        want = {Part(*first, kFwKbmcOffset, kFwKbmcSize),
                Part(*second, kFwKbmcOffset, kFwKbmcSize)};
        EXPECT_EQ(boards[0]->StartKbmcUpgrade(nullptr), -1);  // nothing to send
        ASSERT_EQ(boards[0]->StartKbmcUpgrade(first), 1);
        ASSERT_EQ(boards[1]->StartKbmcUpgrade(second), 1);
    }
    for (int i = 0; i < 2; ++i) {
        auto& dev = *boards[static_cast<size_t>(i)];
        const Outcome run = Follow(dev, true);
        ASSERT_TRUE(run.ended) << i;
        EXPECT_EQ(run.error, 0) << i;
        EXPECT_EQ(run.percents.back(), 100) << i;
        std::vector<uint8_t> flash;
        backend.WithKeyboard(i, [&](sim::SimKeyboard& k) { flash = k.KbmcFlash(); });
        EXPECT_EQ(flash, want[static_cast<size_t>(i)]) << i;
    }
}

TEST(SessionUpgrade, CloseStopsARunningUpgrade) {
    Rig rig(Keyboard());
    rig.dev.Clock().SetPauseScale(1.0);  // about a minute to run, if nothing stops it
    ASSERT_EQ(rig.Start(true), 1);
    std::this_thread::sleep_for(50ms);
    auto closed = std::async(std::launch::async, [&] { rig.dev.Close(); });
    ASSERT_EQ(closed.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(rig.dev.IsUpgrading(), 0);
}

// What the session tests do not reach: each upgrade command is heard only in the stage
// that takes it, and a restart leaves the controller deaf.
struct SimUpgradeProbe {
    sim::SimKeyboard kb;
    explicit SimUpgradeProbe(sim::SimKeyboardState state) : kb(std::move(state), 1) {}
    // Empty: no reply; else byte 1 of the reply.
    std::optional<uint8_t> Ask(const Command& c) {
        const auto r = kb.Handle(c.Payload());
        return r.empty() ? std::nullopt : std::optional(r.back()[1]);
    }
    std::optional<uint8_t> Chunk(uint16_t address) {
        return Ask(CmdWriteChunk(address, std::array<uint8_t, 32>{}));
    }
    uint16_t KeyProgress() {
        const auto r = kb.Handle(CmdKeyUpgradeState().Payload());
        return r.empty() ? 0 : static_cast<uint16_t>(r.back()[2] | r.back()[3] << 8);
    }
};

TEST(SimUpgrade, BootloaderHearsReadyUntilProgrammingAndChunksOnlyAfterIt) {
    auto state = Keyboard();
    state.restartMs = 0;
    SimUpgradeProbe p(state);
    p.Ask(CmdEnterBootloader());
    EXPECT_EQ(p.kb.State().stage, 'B');
    EXPECT_EQ(p.Chunk(0), std::nullopt);  // before 0x20
    EXPECT_EQ(p.Ask(CmdQueryReady(UpgradeTarget::Kbmc)), 1);
    p.Ask(CmdProgramStart());
    EXPECT_EQ(p.Ask(CmdQueryReady(UpgradeTarget::Kbmc)), std::nullopt);
    EXPECT_EQ(p.Chunk(2048), 0);  // beyond the block
    EXPECT_EQ(p.Chunk(16), 0);
    EXPECT_EQ(p.Chunk(0), 1);
    p.Ask(CmdUpgradeEnd());  // nothing to start: the bootloader comes back
    EXPECT_EQ(p.kb.State().stage, 'B');
}

TEST(SimUpgrade, RestartIsDeafForTwoSecondsUnlessThePauseScaleShortensIt) {
    auto state = Keyboard();
    EXPECT_EQ(state.restartMs, 2000);
    SimUpgradeProbe real(state);
    real.Ask(CmdEnterBootloader());
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(real.Ask(CmdQueryReady(UpgradeTarget::Kbmc)), std::nullopt);
    EXPECT_EQ(real.Ask(CmdGetKbmcVer()), std::nullopt);

    SimUpgradeProbe fast(state);
    fast.kb.SetPauseScale(0.001);  // 2 ms
    fast.Ask(CmdEnterBootloader());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(fast.Ask(CmdQueryReady(UpgradeTarget::Kbmc)), 1);
}

TEST(SimUpgrade, KeyChunksNeedAnOpenTransferAndProgressCountsOnlyWhatArrived) {
    auto state = Keyboard();
    SimUpgradeProbe p(state);
    EXPECT_EQ(p.Chunk(0), std::nullopt);  // no transfer open
    EXPECT_EQ(p.Ask(CmdQueryReady(UpgradeTarget::KeyModule)), 1);
    // The whole image but one chunk of the application area, another one sent twice.
    for (uint16_t a = 0; a < kFwKeySize; a += 32) {
        if (a != 4096) {
            EXPECT_EQ(p.Chunk(a), 1) << a;
        }
    }
    EXPECT_EQ(p.Chunk(4128), 1);
    p.Ask(CmdKeyUpgradeStart());
    EXPECT_EQ(p.Chunk(4096), std::nullopt);  // the transfer closed with 0x10
    EXPECT_EQ(p.Ask(CmdQueryReady(UpgradeTarget::KeyModule)), std::nullopt);  // busy
    std::vector<uint16_t> words;
    for (int q = 0; q < 5; ++q) {
        words.push_back(p.KeyProgress());
    }
    EXPECT_EQ(words, (std::vector<uint16_t>{2560, 4864, 7136, 7136, 7136}));
    for (const auto& m : p.kb.State().modules) {
        if (m) {
            EXPECT_NE(m->verHi << 8 | m->verLo, 1 << 8 | 9);  // never programmed
        }
    }
}

// The session side of the deaf restart: a controller that takes longer than the
// session's fixed wait is asked again until it is ready.
TEST(SessionUpgradeKbmc, ControllerSlowerToRestartThanTheFixedWaitIsAskedAgain) {
    auto state = Keyboard();
    state.restartMs = 9000;  // 90 ms on the test clock, against the session's 22 ms
    Rig rig(state);
    test::LogCapture log;
    const Outcome run = Upgrade(rig, true);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.error, 0);
    EXPECT_EQ(rig.Flash(), rig.Image(kFwKbmcOffset, kFwKbmcSize));
}

TEST(SimUpgrade, UpgradeFieldsRoundTripThroughJson) {
    auto s = Keyboard();
    s.programQueries = 3;
    s.faults.refuseChunk = 7;
    s.faults.stallBlock = 27;
    s.faults.stallKeyUpgrade = true;
    s.faults.vanishAfterChunks = 9;
    std::string error;
    const auto back = sim::ParseSimKeyboardState(sim::SimKeyboardStateToJson(s), &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, s);
    for (const char* bad : {R"({"faults": {"stallBlock": 28}})", R"({"upgradeToVersion": [1]})",
                            R"({"restartMs": -1})"}) {
        EXPECT_FALSE(sim::ParseSimKeyboardState(nlohmann::json::parse(bad))) << bad;
    }
}

}  // namespace
}  // namespace tavrik

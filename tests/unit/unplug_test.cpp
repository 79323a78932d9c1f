// A keyboard pulled out at a chosen step of every long operation: the operation ends
// within its limit and reports a failure, the removal frees the slot, and the keyboard
// plugged in again attaches and answers a scan. The simulator pulls the cable right after
// the n-th command of a code; the removal reaches the hub on the test's thread, as a
// monitor's events reach the owner thread.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "device/session.h"
#include "device/session_jobs.h"
#include "keyboard_rig.h"
#include "protocol/fwimage.h"
#include "protocol/protocol.h"
#include "sim/sim_init.h"

namespace tavrik {
namespace {

using namespace std::chrono_literals;

constexpr auto kJobLimit = 120s;

sim::SimKeyboardState Keyboard() {
    auto s = *sim::MakeInitialState(12, 0, 1, 50, 5);
    s.latencyMs = 0;
    s.restartMs = 2;
    s.upgradeToVersion = sim::SimVersion{1, 60};
    s.keyUpgradeToVersion = sim::SimVersion{1, 9};
    return s;
}

FirmwareImagePtr Image() {
    auto image = std::make_shared<FirmwareImage>();
    std::mt19937 rng(5);
    for (auto& b : *image) {
        b = static_cast<uint8_t>(rng());
    }
    return image;
}

MarcoRecord Macro(int entries) {
    MarcoRecord record{};
    for (int i = 0; i < entries; ++i) {
        record.entries[static_cast<size_t>(i)] = {
            i % 2 == 0 ? MarcoFlag::KeyDown : MarcoFlag::KeyUp, 0x04, 10};
    }
    record.entries[static_cast<size_t>(entries)] = {MarcoFlag::End, 0, 0};
    return record;
}

struct UnplugRig {
    test::NotifyRecorder rec;
    KeyboardHub hub;
    sim::SimBackend& backend;
    std::mutex mu;
    std::vector<DeviceEvent> heard;

    UnplugRig()
        : hub(test::SimBackendWith(Keyboard()), rec, test::FastHub()),
          backend(*sim::SimOf(hub.Backend())) {
        backend.SetHotplugListener([this](sim::SimHotplug kind, const std::string& path) {
            std::lock_guard lock(mu);
            heard.push_back(
                {kind == sim::SimHotplug::Arrived ? DeviceChange::Arrived : DeviceChange::Removed,
                 path});
        });
        hub.AttachPresent();
        Take();
    }
    ~UnplugRig() { backend.SetHotplugListener(nullptr); }

    std::vector<DeviceEvent> Take() {
        std::lock_guard lock(mu);
        return std::exchange(heard, {});
    }
    CCCDev& Dev() { return hub.Session(0); }

    std::optional<JobStatus> Finish(uint32_t id) { return Dev().Jobs().Wait(id, kJobLimit); }
    ::testing::AssertionResult ScanOnce() {
        const auto s = Finish(SubmitScanOnceJob(Dev()));
        if (s && s->state == JobState::Done) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << (s ? s->message : "no such job");
    }
    // Hands what was heard to the hub until the slot is free.
    bool HandRemoval() {
        return test::Eventually([&] {
            hub.Handle(Take());
            return !hub.IsAttached(0);
        });
    }
};

// What a failed count needs to be understood: the session's view beside the keyboard's.
std::string Describe(const SessionSnapshot& snap, const sim::SimBackend& backend) {
    std::string text = "passes " + std::to_string(snap.scanPasses) + ", scan state " +
                       std::to_string(snap.scanState) +
                       ", unanswered: " + SlotListText(snap.UnansweredSlots()) + "; simulator: ";
    const auto state = backend.StateOf(0);
    if (!state) {
        return text + "no keyboard";
    }
    int modules = 0;
    for (const auto& m : state->modules) {
        modules += m ? 1 : 0;
    }
    return text + "stage " + std::string(1, state->stage) + ", " + std::to_string(modules) +
           " modules";
}

struct Step {
    const char* what;
    uint8_t code;
    int count;
};

// Runs `submit` with the cable pulled at `step`; `early` hands the removal to the hub as
// soon as it is heard, while the job may still run, else only after the job ended.
void PullAt(const Step& step, bool early, const std::function<uint32_t(CCCDev&)>& submit) {
    SCOPED_TRACE(std::string(step.what) + " #" + std::to_string(step.count) +
                 (early ? ", removal handled at once" : ", removal handled after the job"));
    UnplugRig rig;
    ASSERT_TRUE(rig.hub.IsAttached(0));
    ASSERT_TRUE(rig.ScanOnce());
    ASSERT_TRUE(rig.backend.UnplugAfter(0, step.code, step.count));
    const uint32_t id = submit(rig.Dev());
    if (early) {
        ASSERT_TRUE(rig.HandRemoval());
    }
    const auto status = rig.Finish(id);
    ASSERT_TRUE(status && status->Finished()) << "the job did not end";
    EXPECT_FALSE(rig.backend.IsAttached(0)) << "the cable was never pulled";
    EXPECT_NE(status->state, JobState::Done) << status->message;
    EXPECT_NE(status->result, 0);
    if (!early) {
        ASSERT_TRUE(rig.HandRemoval());
    }
    EXPECT_EQ(rig.hub.Count(), 0);

    ASSERT_TRUE(rig.backend.Attach(0));
    rig.hub.Handle(rig.Take());
    ASSERT_TRUE(rig.hub.IsAttached(0));
    EXPECT_FALSE(rig.Dev().TransportGone());
    // A controller left in its bootloader answers its version only.
    if (rig.Dev().GetKbmcStageVer() >> 16 == 'A') {
        EXPECT_TRUE(rig.ScanOnce());
        const SessionSnapshot snap = rig.Dev().Snapshot();
        EXPECT_EQ(snap.counts.total, 12) << Describe(snap, rig.backend);
    } else {
        EXPECT_NE(rig.Dev().GetKbmcStageVer(), 0);
    }
}

void PullAtEach(const std::vector<Step>& steps, const std::function<uint32_t(CCCDev&)>& submit) {
    for (const Step& s : steps) {
        for (const bool early : {true, false}) {
            PullAt(s, early, submit);
        }
    }
}

TEST(UnplugDuring, ScanPass) {
    PullAtEach(
        {
            {"version query", CodeByte(ReportCode::CmdGetKbmcVer), 1},
            {"key info", CodeByte(ReportCode::CmdScanKey), 1},
            {"key info", CodeByte(ReportCode::CmdScanKey), 7},
            {"key info", CodeByte(ReportCode::CmdScanKey), 12},
            {"colour", CodeByte(ReportCode::CmdGetKeyColor), 5},
        },
        [](CCCDev& dev) { return SubmitScanOnceJob(dev); });
}

TEST(UnplugDuring, MacroWriteAndReadBack) {
    const MarcoRecord record = Macro(6);
    PullAtEach(
        {
            {"key config", CodeByte(ReportCode::CmdWriteKeyConfig), 1},
            {"macro entry", CodeByte(ReportCode::CmdWriteMarco), 1},
            {"macro entry", CodeByte(ReportCode::CmdWriteMarco), 4},
        },
        [&](CCCDev& dev) { return SubmitMarcoWriteJob(dev, 3, 1, record); });
    PullAtEach(
        {
            {"macro read", CodeByte(ReportCode::CmdReadMarco), 1},
            {"macro read", CodeByte(ReportCode::CmdReadMarco), 5},
        },
        [&](CCCDev& dev) {
            // Written first, while the cable holds: the read-back is what is pulled.
            const auto w = dev.Jobs().Wait(SubmitMarcoWriteJob(dev, 3, 1, record), kJobLimit);
            EXPECT_TRUE(w && w->state == JobState::Done);
            return SubmitMarcoReadJob(dev, 3, std::make_shared<MarcoRecord>());
        });
}

TEST(UnplugDuring, ControllerUpgrade) {
    const auto image = Image();
    PullAtEach(
        {
            {"enter bootloader", CodeByte(ReportCode::CmdEnterBootloader), 1},
            {"erase", CodeByte(ReportCode::CmdErase), 1},
            {"chunk", CodeByte(ReportCode::CmdWriteChunk), 1},
            {"chunk", CodeByte(ReportCode::CmdWriteChunk), 64},
            {"chunk", CodeByte(ReportCode::CmdWriteChunk), 10 * 64 + 5},
            {"chunk", CodeByte(ReportCode::CmdWriteChunk), sim::kSimKbmcBlocks * 64},
        },
        [&](CCCDev& dev) { return SubmitKbmcUpgradeJob(dev, image); });
}

TEST(UnplugDuring, KeyUpgrade) {
    const auto image = Image();
    PullAtEach(
        {
            {"chunk", CodeByte(ReportCode::CmdWriteChunk), 1},
            {"chunk", CodeByte(ReportCode::CmdWriteChunk), 100},
            {"chunk", CodeByte(ReportCode::CmdWriteChunk), 224},
            {"module upgrade start", CodeByte(ReportCode::CmdKeyUpgradeStart), 1},
            {"module upgrade state", CodeByte(ReportCode::CmdKeyUpgradeState), 2},
        },
        [&](CCCDev& dev) { return SubmitKeyUpgradeJob(dev, image); });
}

}  // namespace
}  // namespace tavrik

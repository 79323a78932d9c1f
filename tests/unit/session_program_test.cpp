// Command sequences of the operations that change a keyboard. A small stand-in
// controller takes the commands off the session's ring and answers macro reads, so
// every report the session would send can be checked in order.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <thread>

#include "device/key_assign.h"
#include "device/key_programmer.h"
#include "device/marco_transfer.h"
#include "device/session.h"
#include "keys/keycodes.h"
#include "log_capture.h"
#include "notify_recorder.h"
#include "session_test_access.h"

namespace tavrik {
namespace {

using Sent = std::vector<std::vector<uint8_t>>;

class SessionProgramTest : public ::testing::Test {
protected:
    test::NotifyRecorder rec;
    CCCDev dev{0, &rec};
    std::map<int, MarcoEntry> stored;  // the key's macro as the controller holds it
    std::atomic<bool> answerReads{true};
    std::atomic<int> wrongEntryAt{-1};
    std::mutex sentLock;
    Sent sent;
    std::atomic<bool> stop{false};
    std::thread controller;

    void SetUp() override {
        dev.Clock().SetPauseScale(0.01);
        controller = std::thread([this] { Serve(); });
    }
    void TearDown() override {
        stop = true;
        controller.join();
    }

    void Serve() {
        std::array<uint8_t, kReportSize> slot{};
        while (!stop) {
            if (SessionTestAccess::TakeCmd(dev, slot) >= kTxRingSlots) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
            std::vector<uint8_t> cmd(slot.begin() + 1, slot.begin() + 1 + slot[0]);
            {
                std::lock_guard lock(sentLock);
                sent.push_back(cmd);
            }
            if (cmd[0] == 0x42 && answerReads) {
                const int entry = cmd[2] - 5;
                const auto it = stored.find(entry);
                const MarcoEntry e =
                    it == stored.end() ? MarcoEntry{0xFF, 0xFF, 0xFFFF} : it->second;
                std::array<uint8_t, 64> r{
                    0x43,
                    cmd[1],
                    static_cast<uint8_t>(entry == wrongEntryAt ? cmd[2] + 1 : cmd[2]),
                    e.flag,
                    e.kv,
                    static_cast<uint8_t>(e.delay >> 8),
                    static_cast<uint8_t>(e.delay & 0xFF)};
                SessionTestAccess::Dispatch(dev, r);
            }
        }
    }

    // What the controller took so far, once the ring has been quiet for a while (a
    // loaded machine may hold the controller thread back for a few milliseconds).
    Sent Taken() {
        size_t count = SIZE_MAX;
        int quiet = 0;
        // Quiet for 50 ms once something came; nothing at all is believed only after
        // 300 ms, since a starved controller thread on a loaded machine may not have run.
        for (int i = 0; i < 300; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::lock_guard lock(sentLock);
            quiet = sent.size() == count ? quiet + 1 : 0;
            count = sent.size();
            if (quiet >= (count == 0 ? 30 : 5)) {
                break;
            }
        }
        std::lock_guard lock(sentLock);
        return sent;
    }
    void Forget() {
        std::lock_guard lock(sentLock);
        sent.clear();
    }

    // A present key in `slot` whose layer 2 plays a three-step macro.
    void MacroKey(int slot) {
        std::array<uint8_t, 64> info{
            0x05, static_cast<uint8_t>(slot), 1, 2, 3, 4, 9, 0x04, 0x05, 0x03, 0x06, 0x01};
        SessionTestAccess::Dispatch(dev, info);
        stored = {{0, {1, 4, 10}}, {1, {2, 4, 10}}, {2, {1, 5, 20}}, {3, {0, 0, 0}}};
    }
};

std::vector<uint8_t> Codes(const Sent& sent) {
    std::vector<uint8_t> codes;
    for (const auto& c : sent) {
        codes.push_back(c[0]);
    }
    return codes;
}

TEST_F(SessionProgramTest, RewritingAMacroKeyReadsItBackAndWritesItAgain) {
    MacroKey(7);
    ASSERT_EQ(dev.WriteKeyLayers(7, {0x04, 0x05, 0x03, 0x06}, 0x01), 0);
    const Sent s = Taken();
    // Four reads (the fourth brings the end entry), the config, then four writes.
    EXPECT_EQ(Codes(s),
              (std::vector<uint8_t>{0x42, 0x42, 0x42, 0x42, 0x09, 0x40, 0x40, 0x40, 0x40}));
    EXPECT_EQ(s[0].size(), 64u);
    EXPECT_EQ(s[4], (std::vector<uint8_t>{0x09, 9, 0x05, 0x03, 0x06, 0x01, 0x04}));
    EXPECT_EQ(s[5][2], 5);  // entry 0 travels as record 5
    EXPECT_EQ(s[7][3], 1);
    EXPECT_EQ(s[7][5], 0);  // delay 20, high byte first
    EXPECT_EQ(s[7][6], 20);
    EXPECT_EQ(s[8][2], 8);
    EXPECT_EQ(s[8][3], 0);  // the end entry goes last
}

TEST_F(SessionProgramTest, AMacroThatCannotBeReadBackIsNotOverwritten) {
    MacroKey(7);
    answerReads = false;
    EXPECT_EQ(dev.AssignKey(7, 0, 'B'), kErrMacroNoAnswer);
    for (uint8_t code : Codes(Taken())) {
        EXPECT_EQ(code, 0x42);  // read attempts, and nothing else
    }
    // The table keeps what the keyboard still holds.
    const KeySlot k = dev.Snapshot().slots[7];
    EXPECT_EQ(k.hid, (std::array<uint8_t, 4>{0x04, 0x05, 0x03, 0x06}));
    EXPECT_EQ(k.vk[0], KeyCodeOfHid(0x04));
    EXPECT_EQ(k.flag, 0x01);
    // A wrong reply is no better than none.
    Forget();
    answerReads = true;
    wrongEntryAt = 1;
    EXPECT_EQ(dev.SetKeyColor(7, 0x102030), kErrMacroWrongAnswer);
    const auto codes = Codes(Taken());
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x2E), 0);
}

TEST_F(SessionProgramTest, OperationsOnAnEmptySlotSendNothing) {
    EXPECT_EQ(dev.AssignKey(3, 0, 'A'), kErrNoModule);
    EXPECT_EQ(dev.WriteKeyLayers(3, {4, 4, 4, 4}, 0), kErrNoModule);
    EXPECT_EQ(dev.SetKeyColor(3, 0xFFFFFF), kErrNoModule);
    EXPECT_EQ(dev.ReadMacro(3).error, kErrNoModule);
    {
        const OpLock op = dev.Port().LockOps();
        EXPECT_EQ(KeyProgrammer(dev.Port()).WriteKeyConfig(3, 0x04), 0);
    }
    EXPECT_TRUE(Taken().empty());
}

TEST_F(SessionProgramTest, WriteMarcoStopsAfterTheEndEntryOrTheLimit) {
    MarcoTransfer transfer(dev.Port());
    MarcoRecord r{};
    r.flag = 1;
    r.entries[0] = {1, 4, 10};
    r.entries[1] = {2, 4, 10};
    r.entries[2] = {1, 5, 10};
    transfer.Write(2, r.entries);
    Sent s = Taken();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[3][2], 8);
    Forget();
    for (auto& e : r.entries) {
        e = {1, 4, 10};
    }
    transfer.Write(2, r.entries);
    EXPECT_EQ(Taken().size(), 65u);
}

TEST_F(SessionProgramTest, ColourTravelsAsNibblesAndIsLoggedShifted) {
    std::array<uint8_t, 64> info{0x05, 3, 1, 0, 0, 0, 4, 0x04, 0, 0, 0, 1};
    SessionTestAccess::Dispatch(dev, info);
    test::LogCapture log;
    dev.SetVerbose(true);
    ASSERT_EQ(dev.SetKeyColor(3, 0xFF8010), 0);  // blue FF, green 80, red 10
    const Sent s = Taken();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0], (std::vector<uint8_t>{0x2E, 3, 0, 1, 8, 15}));
    EXPECT_TRUE(log.Contains("Set idx 3 color to 16 128 240"));
    EXPECT_EQ(dev.GetKeySlot(3).colour, 0xFF8010u);

    // A key without assignment keeps its waiting colour.
    std::array<uint8_t, 64> waiting{0x05, 5, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0};
    SessionTestAccess::Dispatch(dev, waiting);
    EXPECT_EQ(dev.SetKeyColor(5, 0xFFFFFF), kErrKeyUnassigned);
    EXPECT_EQ(Taken().size(), 1u);
}

TEST_F(SessionProgramTest, ModesOnOldAndNewControllers) {
    std::array<uint8_t, 64> ver{0x31, 0, 'A', 1, 10, 1, 44, 0, 44};  // word 266
    SessionTestAccess::Dispatch(dev, ver);
    EXPECT_EQ(dev.SetNkro(1), 0);
    EXPECT_TRUE(Taken().empty());

    ver[4] = 50;  // word 306: 44 standard modules, 60 in overload mode
    SessionTestAccess::Dispatch(dev, ver);
    EXPECT_EQ(dev.SetOverload(1, 0), 1);
    EXPECT_EQ(dev.SetNkro(1), 1);
    const Sent s = Taken();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0], (std::vector<uint8_t>{0x44, 1, 3, 60, 0x16, 0x25}));
    EXPECT_EQ(s[1], (std::vector<uint8_t>{0x44, 1, 4, 1, 0x17, 0x20}));
    EXPECT_EQ(dev.Snapshot().scanState, kScanRequested);
}

TEST_F(SessionProgramTest, LayerRelayRepacksTheEvent) {
    // Slot 4 (sent as 5) of keyboard 1 pressed L1 with the extra flag; then released it.
    EXPECT_EQ(dev.RelayLayerSwitch(0x05D18101), 1);
    EXPECT_EQ(dev.RelayLayerSwitch(0x05D24001), 1);
    const Sent s = Taken();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0], (std::vector<uint8_t>{0x46, 1, 2, 2, 5, 0xD1, 0x81, 0}));
    EXPECT_EQ(s[1], (std::vector<uint8_t>{0x46, 1, 3, 2, 5, 0xD2, 0x00, 0}));
}

// Blinking shows the user which key is meant; keys that cannot show it are left alone.
// Stopping puts back the key's colour, or the steady red of a key waiting for a value.
TEST_F(SessionProgramTest, BlinkAndStopBlinkByTheKeyState) {
    const auto info = [&](int slot, uint8_t mac, uint8_t hid0) {
        std::array<uint8_t, 64> r{0x05, static_cast<uint8_t>(slot),     1,   2,
                                  3,    static_cast<uint8_t>(slot + 1), mac, hid0};
        SessionTestAccess::Dispatch(dev, r);
    };
    info(1, 0x11, 0x04);                 // assigned
    info(2, 0x12, 0x00);                 // waiting for its value
    info(3, 0x13 | 0x80, 0x04);          // module in its bootloader
    const uint32_t colour = 0x00306090;  // blue 0x30, green 0x60, red 0x90
    for (const int slot : {0, 1, 2, 3, 90, -1}) {
        dev.BlinkKey(slot, colour);
        dev.StopBlinkKey(slot, colour);
    }
    EXPECT_EQ(Taken(), (Sent{{0x2A, 1, 3, 0x9, 0x6, 0x3},
                             {0x2A, 1, 2, 0x9, 0x6, 0x3},
                             {0x2A, 2, 3, 0x9, 0x6, 0x3},
                             {0x2A, 2, 1, 0xF, 0x0, 0x0}}));
}

// The window asks for the summary again: the counts of the last pass while the scan is
// idle, "scanning" while it is not.
TEST_F(SessionProgramTest, RefreshSummaryTellsTheScanStateAndTheLastCounts) {
    SessionTestAccess::SetScanState(dev, kScanIdle);
    dev.RefreshSummary();
    SessionTestAccess::SetKeyTotal(dev, 7);
    dev.RefreshSummary();
    SessionTestAccess::SetScanState(dev, kScanOnePassDone);
    dev.RefreshSummary();
    const auto notes = rec.Of(UM_INFO_DLG_SUMMARY_CHANGE);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(UnpackSummaryState(notes[0].wParam).state, kSummaryNoKeys);
    EXPECT_EQ(notes[0].lParam, 0u);
    EXPECT_EQ(UnpackSummaryState(notes[1].wParam).state, kSummaryKeysFound);
    EXPECT_EQ(UnpackCounts(notes[1].lParam).total, 7);
    EXPECT_EQ(UnpackSummaryState(notes[2].wParam).state, kSummaryScanning);
    EXPECT_EQ(notes[2].lParam, 0u);
    EXPECT_TRUE(Taken().empty());  // nothing goes to the keyboard
}

TEST(KeyAssign, FlagByteFollowsTheValue) {
    EXPECT_EQ(UpdatedKeyFlag(0x00, 0x04, 0), 0x01);  // a key on layer 0
    EXPECT_EQ(UpdatedKeyFlag(0x00, 0x04, 2), 0x04);
    EXPECT_EQ(UpdatedKeyFlag(0x01, 0xDC, 0), 0x00);  // K/LT clears bit 0
    EXPECT_EQ(UpdatedKeyFlag(0x00, 0xD5, 3), 0x09);  // LT sets it, layer 3 its own bit
    EXPECT_EQ(UpdatedKeyFlag(0x00, 0x00, 1), 0x02);
}

TEST_F(SessionProgramTest, AssignmentsTheKeyboardCannotTakeAreRefusedWithTheTableUntouched) {
    std::array<uint8_t, 64> info{0x05, 3, 1, 0, 0, 0, 4, 0x04, 0, 0, 0, 0};
    SessionTestAccess::Dispatch(dev, info);
    EXPECT_EQ(dev.AssignKey(3, 1, 0x10), kErrNoHidValue);  // generic Shift
    EXPECT_EQ(dev.AssignKey(3, 1, VK_MARCO), kErrStateKeyCode);
    EXPECT_EQ(dev.AssignKey(3, 1, VK_WAIT_SET), kErrStateKeyCode);
    EXPECT_EQ(dev.AssignKey(3, 4, 'B'), kErrBadLayer);
    EXPECT_EQ(dev.AssignKey(3, 2, KeyCodeOfHid(0xDC)), kErrLayerKeyOffLayer0);  // K/LT0
    EXPECT_EQ(dev.AssignKey(90, 0, 'B'), kErrBadSlot);
    EXPECT_EQ(dev.GetKeySlot(3).flag, 0x00);
    EXPECT_TRUE(Taken().empty());

    EXPECT_EQ(dev.AssignKey(3, 1, 'B'), 0);
    const Sent s = Taken();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0], (std::vector<uint8_t>{0x09, 4, 0x05, 0, 0, 0x02, 0x04}));
    EXPECT_EQ(dev.AssignKey(3, 0, KeyCodeOfHid(0xDC)), 0);  // K/LT0 on layer 0 clears bit 0
    EXPECT_EQ(dev.GetKeySlot(3).flag, 0x02);

    // A module in its bootloader, or a controller in its own, takes no assignment.
    std::array<uint8_t, 64> boot{0x05, 6, 1, 0, 0, 0, 0x80 | 7, 0x04, 0, 0, 0, 0};
    SessionTestAccess::Dispatch(dev, boot);
    EXPECT_EQ(dev.AssignKey(6, 0, 'A'), kErrModuleBootloader);
    std::array<uint8_t, 64> ver{0x31, 0, 'B'};
    SessionTestAccess::Dispatch(dev, ver);
    EXPECT_EQ(dev.AssignKey(3, 0, 'A'), kErrControllerBootloader);
}

TEST(SessionResult, EveryRefusalHasItsOwnWords) {
    std::set<std::string> texts;
    for (int r = -1; r >= -22; --r) {
        if (r > -10 && r < -4) {
            continue;
        }
        EXPECT_TRUE(texts.insert(SessionResultText(r)).second) << r;
    }
}

}  // namespace
}  // namespace tavrik

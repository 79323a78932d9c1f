// Sessions against simulated keyboards: the ring, scanning, kinds, and what happens when
// a keyboard stops answering or is pulled out.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "device/session.h"
#include "keyboard_rig.h"
#include "keys/keycodes.h"
#include "log_capture.h"
#include "protocol/commands.h"
#include "protocol/enable_report.h"
#include "session_test_access.h"
#include "sim/sim_init.h"

namespace tavrik {
namespace {

using namespace std::chrono_literals;

using Rig = test::KeyboardRig;

sim::SimKeyboardState Keyboard(int keys, int row = 0, int verHi = 1, int verLo = 50) {
    return *sim::MakeInitialState(keys, row, verHi, verLo, 7);
}

TEST(SessionRing, HoldsAtMost127AndKeepsOrderAcrossTheWrap) {
    test::NotifyRecorder rec;
    CCCDev dev(0, &rec);
    test::LogCapture log;
    dev.SetVerbose(true);
    std::array<uint8_t, kReportSize> out{};
    EXPECT_EQ(SessionTestAccess::TakeCmd(dev, out), kTxRingEmpty);
    EXPECT_EQ(SessionTestAccess::SendCmd(dev, std::span<const uint8_t>{}), 0);
    const std::array<uint8_t, 65> tooLong{};
    EXPECT_EQ(SessionTestAccess::SendCmd(dev, tooLong), 0);

    for (int i = 0; i < 127; ++i) {
        ASSERT_EQ(dev.Port().SendCmd(CmdScanKey(static_cast<uint8_t>(i))), 1) << i;
    }
    EXPECT_EQ(dev.Port().SendCmd(CmdScanKey(0)), 0);
    EXPECT_TRUE(log.Contains("Dev 0: Tx Command Buffer is full, discard"));
    // Take 100, queue 100 more: the ring wraps from 127 to 0 in between.
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(SessionTestAccess::TakeCmd(dev, out), i);
        EXPECT_EQ(out[0], 2);
        EXPECT_EQ(out[2], i);
    }
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(dev.Port().SendCmd(CmdGetKeyVer(static_cast<uint8_t>(i))), 1) << i;
    }
    for (int i = 100; i < 127; ++i) {
        ASSERT_EQ(SessionTestAccess::TakeCmd(dev, out), i);
        EXPECT_EQ(out[1], 0x04);
    }
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(SessionTestAccess::TakeCmd(dev, out), (127 + i) % 128);
        EXPECT_EQ(out[1], 0x06);
        EXPECT_EQ(out[2], i);
    }
    EXPECT_EQ(SessionTestAccess::TakeCmd(dev, out), kTxRingEmpty);
}

TEST(SessionScan, TwoPassesPerRequestThenTheUpdateCheck) {
    Rig rig(Keyboard(20));
    rig.Attach();
    ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
    ASSERT_TRUE(rig.WaitIdle());
    const auto summaries = rig.rec.Of(UM_INFO_DLG_SUMMARY_CHANGE);
    ASSERT_EQ(summaries.size(), 4u);  // start and end of each pass
    EXPECT_EQ(summaries[0].wParam, 0u);
    EXPECT_EQ(summaries[1].wParam, 3u << 8);
    EXPECT_EQ(rig.rec.Count(UM_INFO_DLG_UPDATE_ALL_KEY_DISPLAY), 2u);
    EXPECT_EQ(rig.rec.Count(UM_INFO_UPDATE_CHECK), 1u);
    EXPECT_EQ(rig.dev.Snapshot().scanPasses, 2);

    // The counts agree with the keyboard, and travel packed in the summary.
    const auto state = rig.backend.StateOf(0);
    int assigned = 0, boot = 0, blank = 0;
    for (const auto& m : state->modules) {
        if (!m) {
            continue;
        }
        if (m->stage == 'B') {
            ++boot;
        } else if (m->hid[0] == 0 || m->hid[0] == 0xFF) {
            ++blank;
        } else {
            ++assigned;
        }
    }
    EXPECT_EQ(rig.dev.Snapshot().counts.total, 20);
    EXPECT_EQ(rig.dev.Snapshot().counts.assigned, assigned);
    EXPECT_EQ(rig.dev.Snapshot().counts.boot, boot);
    EXPECT_EQ(rig.dev.Snapshot().counts.blank, blank);
    EXPECT_EQ(summaries[3].lParam, PackCounts(20, assigned, boot, blank));

    // Every present module is in the table with its colour and version.
    for (int s = 0; s < 20; ++s) {
        const auto& m = *state->modules[s];
        const KeySlot k = rig.dev.GetKeySlot(s);
        EXPECT_EQ(k.uid, m.uid) << s;
        EXPECT_EQ(k.shortMac, m.shortMac) << s;
        if (m.stage == 'A' && m.hid[0] != 0 && m.hid[0] != 0xFF) {
            EXPECT_EQ(k.colour, m.colour & 0xF0F0F0) << s;
            EXPECT_EQ(k.verHi << 8 | k.verLo, m.verHi << 8 | m.verLo) << s;
        }
    }
    EXPECT_FALSE(rig.dev.GetKeySlot(20).Present());
    // A bootloader module pulls the reported minimum down to 0.0.
    uint8_t total = 0, minHi = 9, minLo = 9, maxHi = 0, maxLo = 0;
    EXPECT_EQ(SessionTestAccess::GetKeyVerRange(rig.dev, total, minHi, minLo, maxHi, maxLo), 0);
    EXPECT_EQ(total, 20);
    EXPECT_EQ(minHi << 8 | minLo, 0);
    EXPECT_GT(maxHi << 8 | maxLo, 0);
}

TEST(SessionScan, KindsAndViewFlags) {
    {
        Rig rig(Keyboard(5, 0));
        rig.Attach();
        ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
        EXPECT_EQ(rig.dev.Snapshot().kind, 1);
        EXPECT_TRUE(rig.dev.Snapshot().hidePageBtn);  // 44 modules fit one page
        EXPECT_EQ(rig.rec.Count(UM_KBD_KIND_CHANGE), 0u);
    }
    {
        auto state = Keyboard(5, 1, 1, 60);  // version word 316 > 306
        Rig rig(state);
        rig.Attach();
        ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
        EXPECT_EQ(rig.dev.Snapshot().kind, 2);
        EXPECT_EQ(rig.dev.Snapshot().marcoMax, 24);
        EXPECT_TRUE(rig.dev.Snapshot().autoLoop);
        EXPECT_FALSE(rig.dev.Snapshot().kbmcUpdatable);
        EXPECT_TRUE(rig.dev.Snapshot().hideLayerBtn);
        EXPECT_GE(rig.rec.Count(UM_KBD_KIND_CHANGE), 1u);
    }
    {
        // Kind 3 is enabled with the key of the controller's last version reply.
        Rig rig(Keyboard(5, 2));
        rig.Attach();
        ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
        EXPECT_EQ(rig.dev.Snapshot().kind, 3);
        EXPECT_EQ(SessionTestAccess::EnableOk(rig.dev), 1);
        std::optional<bool> enabled;
        rig.backend.WithKeyboard(0, [&](sim::SimKeyboard& k) { enabled = k.Enabled(); });
        EXPECT_EQ(enabled, true);
    }
    {
        // Kind 4: like kind 2 on screen, but its macros keep the full length and never loop.
        Rig rig(Keyboard(5, 3, 1, 60));
        rig.Attach();
        ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
        EXPECT_EQ(rig.dev.Snapshot().kind, 4);
        EXPECT_EQ(rig.dev.Snapshot().marcoMax, 64);
        EXPECT_FALSE(rig.dev.Snapshot().autoLoop);
        EXPECT_FALSE(rig.dev.Snapshot().kbmcUpdatable);
        EXPECT_TRUE(rig.dev.Snapshot().hidePageBtn);
        EXPECT_GE(rig.rec.Count(UM_KBD_KIND_CHANGE), 1u);
        std::optional<bool> enabled;
        rig.backend.WithKeyboard(0, [&](sim::SimKeyboard& k) { enabled = k.Enabled(); });
        EXPECT_FALSE(enabled.has_value());  // only kind 3 gets the enable report
    }
    {
        // 1.10 (266) is the first firmware whose kind is applied.
        Rig rig(Keyboard(5, 1, 1, 10));
        rig.Attach();
        ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
        EXPECT_EQ(rig.dev.Snapshot().kind, 2);
        EXPECT_FALSE(rig.dev.Snapshot().autoLoop);
    }
    {
        // An old controller keeps its kind unknown and reads its USB rate instead.
        auto state = Keyboard(5, 1, 1, 9);  // 265
        state.usbRate = 0;
        Rig rig(state);
        rig.Attach();
        ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
        EXPECT_EQ(rig.dev.Snapshot().kind, 0);
        EXPECT_EQ(rig.dev.Snapshot().usbRate, 1);
    }
}

// Slower than the first wait for every reply (a loaded machine): the version is asked
// again, as the slots are, and the pass counts every key.
TEST(SessionScan, SlowControllerIsAskedOnceMoreAndScansWhole) {
    auto state = Keyboard(2);
    state.latencyMs = 150;
    Rig rig(state);
    rig.Attach();
    ASSERT_TRUE(rig.WaitIdle());
    const SessionSnapshot snap = rig.dev.Snapshot();
    EXPECT_FALSE(snap.verFail);
    EXPECT_EQ(snap.counts.total, 2);
    EXPECT_TRUE(snap.UnansweredSlots().empty());
}

TEST(SessionScan, ControllerThatNeverAnswersLeavesTheSlotsAlone) {
    auto state = Keyboard(5);
    state.faults.silentCodes = {0x30};
    Rig rig(state);
    test::LogCapture log;
    rig.Attach();
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_TRUE(rig.dev.Snapshot().verFail);
    EXPECT_EQ(log.Count("Fail to get VL7 version"), 2u);
    EXPECT_EQ(log.Count("Scan idx"), 0u);
    EXPECT_EQ(rig.dev.Snapshot().scanPasses, 0);
    EXPECT_EQ(rig.dev.GetKbmcStageVer(), -1);
}

// A pause that lands on a pass (a job starting, a window closing) must not publish the
// counts of the few slots asked so far: the window would say "no key modules".
TEST(SessionScan, APassCutShortKeepsTheCountsOfTheLastWholePass) {
    Rig rig(Keyboard(12));
    rig.Attach();
    ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
    ASSERT_TRUE(rig.WaitIdle());
    const int passes = rig.dev.Snapshot().scanPasses;
    ASSERT_EQ(rig.dev.Snapshot().counts.total, 12);

    std::atomic<bool> cut{false};
    const uint32_t scanning = PackSummaryState(kSummaryScanning, 0);
    rig.rec.SetHook([&](const test::Note& n) {
        if (n.code == UM_INFO_DLG_SUMMARY_CHANGE && n.wParam == scanning && !cut.exchange(true)) {
            rig.dev.PauseScan();  // on the scan thread, before the pass asks its first slot
        }
    });
    rig.rec.Clear();
    rig.dev.RequestScan();
    ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_DLG_UPDATE_ALL_KEY_DISPLAY, 1));
    ASSERT_TRUE(rig.WaitIdle());
    rig.rec.SetHook(nullptr);
    ASSERT_TRUE(cut.load());

    EXPECT_EQ(rig.dev.Snapshot().counts.total, 12);
    EXPECT_EQ(rig.dev.Snapshot().scanPasses, passes) << "a cut pass counted as a whole one";
    const auto summaries = rig.rec.Of(UM_INFO_DLG_SUMMARY_CHANGE);
    ASSERT_EQ(summaries.size(), 2u);
    EXPECT_EQ(summaries[1].wParam, PackSummaryState(kSummaryKeysFound, 0));
    EXPECT_EQ(summaries[1].lParam, PackCounts(rig.dev.Snapshot().counts));
    EXPECT_EQ(rig.rec.Count(UM_INFO_UPDATE_CHECK), 0u);

    // Asked again, the scan runs whole passes as before.
    rig.dev.RequestScan();
    ASSERT_TRUE(test::Eventually([&] { return rig.dev.Snapshot().scanPasses >= passes + 2; }));
    EXPECT_EQ(rig.dev.Snapshot().counts.total, 12);
}

TEST(SessionScan, EndOfChainClearsTheRestOfTheTable) {
    Rig rig(Keyboard(12));
    // Stale data beyond the chain, as if a module had been there before.
    std::array<uint8_t, 64> stale{0x05, 30, 1, 2, 3, 4, 5, 0x04, 0, 0, 0, 6};
    SessionTestAccess::Dispatch(rig.dev, stale);
    ASSERT_TRUE(rig.dev.GetKeySlot(30).Present());
    rig.Attach();
    ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
    const KeySlot k = rig.dev.GetKeySlot(30);
    EXPECT_FALSE(k.Present());
    EXPECT_EQ(k.flag, 6);  // flags survive the clearing
    EXPECT_EQ(rig.dev.Snapshot().counts.total, 12);
}

TEST(SessionScan, SlotsWhoseAnswerWasLostAreAskedAgain) {
    auto state = Keyboard(45);
    state.faults.dropRate = 0.04;  // a few lost answers in every pass
    state.faults.seed = 7;
    Rig rig(state);
    test::LogCapture log;
    rig.Attach();
    ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
    const SessionSnapshot snap = rig.dev.Snapshot();
    EXPECT_EQ(snap.counts.total, 45);
    // A session that is not verbose names a slot only when it asks it again.
    EXPECT_GE(log.Count("Scan idx", "CCDev"), 1u);
}

// Every reply comes later than a scan query waits, so each slot's answer reaches the host
// while it waits for the next slot's; it must not pass for that one. The second, longer
// try counts and colours every module right.
TEST(SessionScan, AKeyboardSlowerThanTheReplyWaitIsCountedAndColouredRight) {
    auto state = Keyboard(12);
    for (size_t s = 0; s < 12; ++s) {
        state.modules[s]->stage = 'A';
        state.modules[s]->hid = {0x04, 0x05, 0x06, 0x07};  // assigned: colour and version read
        state.modules[s]->colour = 0x00102030u + static_cast<uint32_t>(s) * 0x00100000u;
        state.modules[s]->verLo = static_cast<uint8_t>(10 + s);
    }
    state.latencyMs = 80;
    Rig rig(state);
    rig.dev.SetVerbose(true);
    rig.Attach();
    ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1, 120s));
    const SessionSnapshot snap = rig.dev.Snapshot();
    EXPECT_EQ(snap.counts.total, 12);
    for (size_t s = 0; s < 12; ++s) {
        const KeySlot& k = snap.slots[s];
        EXPECT_TRUE(k.answered) << s;
        EXPECT_EQ(k.uid, state.modules[s]->uid) << s;
        EXPECT_EQ(k.colour, state.modules[s]->colour) << s;
        EXPECT_EQ(k.verLo, 10 + s) << s;
    }
}

TEST(SessionLifecycle, CloseDuringAScanEndsPromptly) {
    for (int i = 0; i < 5; ++i) {
        Rig rig(Keyboard(90));
        rig.Attach();
        std::this_thread::sleep_for(std::chrono::milliseconds(3 * i));
        auto closed = std::async(std::launch::async, [&] { return rig.dev.Close(); });
        ASSERT_EQ(closed.wait_for(20s), std::future_status::ready);
        EXPECT_EQ(rig.dev.Snapshot().scanState, kScanIdle);
        EXPECT_FALSE(rig.dev.Snapshot().running);
        EXPECT_FALSE(rig.dev.GetKeySlot(0).Present());  // reset
    }
}

TEST(SessionLifecycle, PullingTheKeyboardOutMidScanNeitherHangsNorBreaksTheSlot) {
    Rig rig(Keyboard(90));
    rig.dev.Clock().SetPauseScale(1.0);  // a real pass, long enough to pull out in
    rig.Attach();
    ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_DLG_SUMMARY_CHANGE, 1));
    std::this_thread::sleep_for(20ms);
    rig.backend.Detach(0);
    ASSERT_TRUE(rig.WaitIdle(10s));
    auto closed = std::async(std::launch::async, [&] { rig.Detach(); });
    ASSERT_EQ(closed.wait_for(20s), std::future_status::ready);

    // Plugged in again, the same slot scans it in full.
    rig.backend.Attach(0);
    rig.rec.Clear();
    rig.dev.Clock().SetPauseScale(0.01);
    rig.Attach();
    ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
    EXPECT_EQ(rig.dev.Snapshot().counts.total, 90);
}

TEST(SessionLifecycle, AReadErrorOfAKeyboardStillThereDoesNotLoseIt) {
    Rig rig(Keyboard(12));
    test::LogCapture log;
    rig.usb.m_bLogOn = 1;
    rig.Attach();
    ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
    ASSERT_TRUE(rig.WaitIdle());
    ASSERT_TRUE(rig.backend.FailNextReads(0, 1));
    rig.dev.RequestScan();
    ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 2));
    EXPECT_EQ(log.Count("still present", "CCUSB"), 1u);  // the failed read happened
    EXPECT_FALSE(rig.usb.IsGone());
    EXPECT_EQ(rig.dev.Snapshot().counts.total, 12);

    // Gone for good once the keyboard no longer enumerates.
    rig.backend.Detach(0);
    ASSERT_TRUE(rig.WaitIdle());
    for (int i = 0; i < 3000 && !rig.usb.IsGone(); ++i) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(rig.usb.IsGone());
}

// A rewrite refused because the key's macro could not be read back leaves the key
// table as the keyboard still has it.
TEST(SessionProgramSim, ARefusedRewriteKeepsTheTableAsTheKeyboardHasIt) {
    Rig rig(Keyboard(8, 0, 1, 60));
    rig.Attach();
    ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
    ASSERT_TRUE(rig.WaitIdle());
    int slot = -1;
    for (int s = 0; s < 8 && slot < 0; ++s) {
        if (rig.dev.SetKeyColor(s, 0x00F000) == 0) {
            slot = s;
        }
    }
    ASSERT_GE(slot, 0);
    MarcoRecord record{};
    record.entries[0] = {1, 4, 10};
    record.entries[1] = {2, 4, 10};
    ASSERT_EQ(rig.dev.WriteMacro(slot, 2, record), 0);
    EXPECT_EQ(rig.dev.WriteMacro(slot, 1, record), kErrMacroOnOtherLayer);
    const CCCDev::MarcoReadResult read = rig.dev.ReadMacro(slot);
    ASSERT_EQ(read.error, 0);
    EXPECT_EQ(read.record.entries[1].flag, 2);

    const KeySlot before = rig.dev.Snapshot().slots[static_cast<size_t>(slot)];
    rig.backend.WithKeyboard(0, [](sim::SimKeyboard& k) {
        sim::SimFaults f = k.State().faults;
        f.wrongMarcoEntry = true;
        k.SetFaults(f);
    });
    EXPECT_EQ(rig.dev.AssignKey(slot, 0, 'Q'), kErrMacroWrongAnswer);
    // Layer 2 still plays the macro, so it must be read back first.
    EXPECT_EQ(rig.dev.WriteKeyLayers(slot, {0x14, 0x14, HID_MARCO, 0x14}, 1), kErrMacroWrongAnswer);
    EXPECT_EQ(rig.dev.ReadMacro(slot).error, kErrMacroWrongAnswer);
    const KeySlot after = rig.dev.Snapshot().slots[static_cast<size_t>(slot)];
    EXPECT_EQ(after.hid, before.hid);
    EXPECT_EQ(after.vk, before.vk);
    EXPECT_EQ(after.flag, before.flag);
    const auto state = rig.backend.StateOf(0);  // a copy: keep it while reading from it
    ASSERT_TRUE(state);
    const auto& m = *state->modules[static_cast<size_t>(slot)];
    EXPECT_EQ(after.hid, m.hid);
    EXPECT_EQ(after.flag, m.flag);
}

// Scans, colours and key assignments from several threads on one keyboard: no operation
// shares a reply mailbox with a scan pass, so no stale scan reply overwrites what an
// operation just wrote, and the table ends as the keyboard is.
TEST(SessionConcurrency, ScansAndOperationsLeaveTheTableAsTheKeyboardIs) {
    Rig rig(Keyboard(24));
    rig.Attach();
    ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
    ASSERT_TRUE(rig.WaitIdle());
    std::vector<int> usable;
    for (int s = 0; s < 24; ++s) {
        const KeySlot k = rig.dev.Snapshot().slots[static_cast<size_t>(s)];
        if (k.Present() && k.stage == 'A') {
            usable.push_back(s);
        }
    }
    ASSERT_GE(usable.size(), 8u);

    std::atomic<bool> done{false};
    std::atomic<int> refused{0};
    std::thread scanner([&] {
        for (int n = 1; !done; ++n) {
            rig.dev.RequestScan();
            std::this_thread::sleep_for(3ms);
            if (n % 4 == 0) {
                rig.dev.PauseScan();
            }
        }
    });
    const auto worker = [&](size_t first, bool colours) {
        const uint8_t codes[] = {'A', 'B', 'C', 'D'};
        for (int round = 0; round < 6; ++round) {
            for (size_t i = first; i < usable.size(); i += 2) {
                const int s = usable[i];
                const int r = colours ? rig.dev.SetKeyColor(s, 0x101010u * (round + 1))
                                      : rig.dev.AssignKey(s, round % 4, codes[round % 4]);
                if (r != 0 && r != kErrKeyUnassigned) {
                    ++refused;
                }
            }
        }
    };
    std::thread colourer(worker, 0, true);
    std::thread assigner(worker, 1, false);
    colourer.join();
    assigner.join();
    done = true;
    scanner.join();
    rig.dev.PauseScan();
    EXPECT_EQ(refused, 0);

    const SessionSnapshot snap = rig.dev.Snapshot();
    EXPECT_FALSE(snap.scanPassRunning);
    const auto state = rig.backend.StateOf(0);
    for (int s : usable) {
        const auto& m = *state->modules[static_cast<size_t>(s)];
        const KeySlot& k = snap.slots[static_cast<size_t>(s)];
        EXPECT_EQ(k.hid, m.hid) << s;
        EXPECT_EQ(k.flag, m.flag) << s;
        if (k.vk[0] != VK_WAIT_SET) {
            EXPECT_EQ(k.colour & 0xF0F0F0, m.colour & 0xF0F0F0) << s;
        }
    }
}

// A window thread that waits for a reply while the receive thread waits for that same
// window thread to take a notification: the wait delivers it, and the reply arrives.
TEST(SessionLifecycle, OwnerThreadWaitingForAReplyDeliversNotifications) {
    Rig rig(Keyboard(5));
    rig.dev.Channel().SetOwnerThread({});
    rig.Attach(false);
    rig.backend.KeyDown(0, 2, 0, false);  // the receive thread now blocks on 0x41B
    std::this_thread::sleep_for(30ms);
    const int stageVer = rig.dev.GetKbmcStageVer();
    EXPECT_EQ(stageVer, 'A' << 16 | 1 << 8 | 50);
    EXPECT_EQ(rig.rec.Count(UM_KEY_PRESSED), 1u);
}

// The window pausing the scan while the pass waits for the window to take one of its
// notifications: the pause delivers it, and returns only once that pass has ended.
TEST(SessionLifecycle, PauseScanOnTheOwnerThreadReturnsAfterThePassHasEnded) {
    Rig rig(Keyboard(30));
    rig.dev.Channel().SetOwnerThread({});
    rig.Attach();
    for (int i = 0; i < 30000 && rig.rec.Count(UM_INFO_DLG_SUMMARY_CHANGE) == 0; ++i) {
        rig.dev.Channel().DeliverPending();
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_GE(rig.rec.Count(UM_INFO_DLG_SUMMARY_CHANGE), 1u);
    rig.dev.PauseScan();
    EXPECT_FALSE(rig.dev.Snapshot().scanPassRunning);
    EXPECT_FALSE(rig.dev.IsScanBusy());
    // Every pass that started has sent its end.
    size_t started = 0;
    for (const auto& n : rig.rec.Of(UM_INFO_DLG_SUMMARY_CHANGE)) {
        started += UnpackSummaryState(n.wParam).state == kSummaryScanning ? 1 : 0;
    }
    EXPECT_EQ(rig.rec.Count(UM_INFO_DLG_UPDATE_ALL_KEY_DISPLAY), started);
}

// Close says goodbye last: the host no longer shows the keyboard (0x3A 0), and a kind
// that needs the enable report is disabled again. A scan pass that was running when
// Close came does not tell the keyboard afterwards that the host shows it.
TEST(SessionLifecycle, CloseEndsWithHostInactiveAndTheDisableReport) {
    for (const int row : {0, 2}) {
        Rig rig(Keyboard(30, row));
        rig.Attach();
        ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
        rig.dev.SetHostView(true);
        rig.dev.RequestScan();
        ASSERT_TRUE(rig.rec.WaitFor(UM_INFO_DLG_SUMMARY_CHANGE, 5));  // a third pass runs
        rig.dev.Close();

        std::vector<sim::SimPayload> heard;
        std::array<uint8_t, 8> key{};
        std::optional<bool> enabled;
        rig.backend.WithKeyboard(0, [&](sim::SimKeyboard& k) {
            heard = k.Heard();
            key = k.CipherKey();
            enabled = k.Enabled();
        });
        const auto hostActive =
            std::find_if(heard.rbegin(), heard.rend(), [](const auto& c) { return c[0] == 0x3A; });
        ASSERT_NE(hostActive, heard.rend()) << row;
        EXPECT_EQ((*hostActive)[1], 0) << row;
        if (row == 2) {
            // Kind 3: the disable report follows, under the key the keyboard handed out.
            ASSERT_EQ(hostActive, heard.rbegin() + 1) << row;
            EXPECT_EQ(heard.back()[0], 0x48);
            EXPECT_EQ(CheckEnableKbmc(heard.back(), key), false);
            EXPECT_EQ(enabled, false);
        } else {
            EXPECT_EQ(hostActive, heard.rbegin()) << row;
            EXPECT_FALSE(enabled.has_value());
        }
    }
}

TEST(SessionLifecycle, CloseReleasesAWorkerBlockedOnTheOwnerThread) {
    Rig rig(Keyboard(5));
    rig.dev.Channel().SetOwnerThread({});
    rig.Attach(false);
    rig.backend.KeyDown(0, 2, 0, false);
    rig.backend.KeyUp(0, 2, 0, 0);
    std::this_thread::sleep_for(30ms);
    // Close runs on the owner thread and must not wait for itself.
    rig.dev.Close();
    EXPECT_FALSE(rig.dev.Snapshot().running);
}

TEST(SessionLifecycle, LogLinesCarryTheDeviceIndex) {
    test::LogCapture log;
    test::NotifyRecorder rec;
    CCCDev dev(2, &rec);
    dev.SetVerbose(true);
    const std::array<uint8_t, 64> odd{0x4A};
    SessionTestAccess::Dispatch(dev, odd);
    EXPECT_TRUE(log.HasLine("Dev 2: Recv undefined commands", "CCDev"));
}

}  // namespace
}  // namespace tavrik

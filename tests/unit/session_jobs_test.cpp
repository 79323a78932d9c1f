// The session's long operations as jobs against a simulated keyboard: what reaches the
// keyboard, the progress a window sees, cancelling between keys, keyboards pulled out
// mid-job, and an upgrade that refuses to be cancelled.
#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <random>
#include <thread>

#include "device/session.h"
#include "device/session_jobs.h"
#include "keyboard_rig.h"
#include "keys/keycodes.h"
#include "protocol/fwimage.h"
#include "sim/sim_init.h"

namespace tavrik {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kTeal = 0x00A0B000;  // in no simulated keyboard's palette

// Slot 0 attached and scanned once.
struct Rig : test::KeyboardRig {
    explicit Rig(const sim::SimKeyboardState& state) : KeyboardRig(state) {
        Attach();
        EXPECT_TRUE(WaitIdle());
    }
    JobStatus Finish(uint32_t id) {
        const auto s = dev.Jobs().Wait(id, 120s);
        EXPECT_TRUE(s && s->Finished());
        return s.value_or(JobStatus{});
    }
    // Progress notifications of job `id`: the steps done each one carried.
    std::vector<int> StepsOf(uint32_t id) const {
        std::vector<int> out;
        for (const auto& n : rec.Of(UM_JOB_STATE)) {
            if (JobIdOf(n.wParam) == id && JobStateOf(n.lParam) == JobState::Progress) {
                out.push_back(static_cast<int>(n.lParam & 0xFFFF));
            }
        }
        return out;
    }
    // Waits until job `id` reported at least `steps` steps.
    bool WaitSteps(uint32_t id, int steps) {
        for (int i = 0; i < 12000; ++i) {
            const auto s = dev.Jobs().Status(id);
            if (s && (s->done >= steps || s->Finished())) {
                return s->done >= steps;
            }
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
    sim::SimKeyboardState State() { return *backend.StateOf(0); }
};

sim::SimKeyboardState Keyboard(int keys, int verLo = 50) {
    auto s = *sim::MakeInitialState(keys, 0, 1, verLo, 7);
    s.latencyMs = 0;
    return s;
}

TEST(SessionJobs, AllKeysColourReportsEveryKeyAndReachesEveryAssignedModule) {
    Rig rig(Keyboard(90));
    const uint32_t id = SubmitAllKeyColorJob(rig.dev, kTeal);
    const JobStatus s = rig.Finish(id);
    EXPECT_EQ(s.state, JobState::Done) << s.message;
    EXPECT_EQ(s.done, 90);
    std::vector<int> expected(90);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(rig.StepsOf(id), expected);

    const auto state = rig.State();
    int painted = 0;
    for (int slot = 0; slot < 90; ++slot) {
        const uint8_t vk = rig.dev.GetKeySlot(slot).vk[0];
        if (state.modules[slot] && vk != 0 && vk != VK_WAIT_SET && vk != VK_WAIT_UPGRADE) {
            EXPECT_EQ(state.modules[slot]->colour & 0xF0F0F0, kTeal) << "slot " << slot;
            ++painted;
        }
    }
    EXPECT_GT(painted, 60);
}

TEST(SessionJobs, CancelledColourStopsBetweenKeysAndSaysHowFarItGot) {
    Rig rig(Keyboard(90));
    const uint32_t id = SubmitAllKeyColorJob(rig.dev, kTeal);
    ASSERT_TRUE(rig.WaitSteps(id, 3));
    ASSERT_TRUE(rig.dev.Jobs().Cancel(id));
    const JobStatus s = rig.Finish(id);
    ASSERT_EQ(s.state, JobState::Cancelled);
    EXPECT_EQ(s.result, kJobCancelled);
    ASSERT_LT(s.done, 90);
    EXPECT_EQ(s.message, "cancelled after " + std::to_string(s.done) + " of 90 keys");
    // Nothing after the last key reported was touched.
    const auto state = rig.State();
    for (int slot = s.done; slot < 90; ++slot) {
        if (state.modules[slot]) {
            EXPECT_NE(state.modules[slot]->colour & 0xF0F0F0, kTeal) << "slot " << slot;
        }
    }
}

TEST(SessionJobs, KeyboardPulledOutMidJobEndsItWithAnError) {
    Rig rig(Keyboard(90));
    const uint32_t colour = SubmitAllKeyColorJob(rig.dev, kTeal);
    const uint32_t rescan = SubmitRescanJob(rig.dev);
    ASSERT_TRUE(rig.WaitSteps(colour, 2));
    rig.backend.Detach(0);
    const JobStatus c = rig.Finish(colour);
    EXPECT_EQ(c.state, JobState::Failed);
    EXPECT_EQ(c.result, kJobKeyboardGone);
    EXPECT_LT(c.done, 90);
    const JobStatus r = rig.Finish(rescan);
    EXPECT_EQ(r.state, JobState::Failed);
    EXPECT_EQ(r.result, kJobKeyboardGone);
}

TEST(SessionJobs, RescanWaitsForTheScanToGoIdle) {
    Rig rig(Keyboard(20));
    const int passes = rig.dev.Snapshot().scanPasses;
    rig.backend.InsertModule(0, 40, 0xABCDEF, 0x70, {0x04, 0, 0, 0}, 1);
    const JobStatus s = rig.Finish(SubmitRescanJob(rig.dev));
    EXPECT_EQ(s.state, JobState::Done) << s.message;
    EXPECT_EQ(s.done, 2);
    EXPECT_GE(rig.dev.Snapshot().scanPasses, passes + 2);
    EXPECT_FALSE(rig.dev.IsScanBusy());
    EXPECT_EQ(rig.dev.Snapshot().counts.total, 21);
}

// An inserted module announces its slot number, not its bus address. Before the next
// scan has asked it, a key written to it must still reach it, and not the module that
// happens to use the slot number as its address.
TEST(SessionJobs, AKeyWrittenRightAfterAnInsertReachesTheNewModule) {
    auto state = Keyboard(20);
    constexpr uint8_t kSlot = 40;
    for (auto& m : state.modules) {
        if (m && m->shortMac == kSlot + 1) {
            m->shortMac = 0x7E;  // free the address for slot 0's module
        }
    }
    state.modules[0]->shortMac = kSlot + 1;
    const auto before = state.modules[0]->hid;
    Rig rig(state);
    rig.dev.StopScanThread();  // no pass may set the address right before the write
    ASSERT_TRUE(rig.backend.InsertModule(0, kSlot, 0xABCDEF, 0x70, {0x04, 0, 0, 0}, 1));
    for (int i = 0; i < 2000 && rig.dev.GetKeySlot(kSlot).uid != 0xABCDEF; ++i) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(rig.dev.GetKeySlot(kSlot).uid, 0xABCDEFu);

    ASSERT_EQ(rig.dev.AssignKey(kSlot, 0, 'Z'), 0);
    ASSERT_TRUE(rig.dev.WaitTxWritten(5s));
    for (int i = 0; i < 2000 && rig.State().modules[kSlot]->hid[0] != HidOfKeyCode('Z'); ++i) {
        std::this_thread::sleep_for(5ms);
    }
    const auto after = rig.State();
    EXPECT_EQ(after.modules[kSlot]->hid[0], HidOfKeyCode('Z'));
    EXPECT_EQ(after.modules[0]->hid, before) << "the key went to the module at address 41";
    EXPECT_EQ(rig.dev.GetKeySlot(kSlot).shortMac, 0x70);
}

TEST(SessionJobs, ModeChangesReachTheControllerOrSayWhyNot) {
    {
        Rig rig(Keyboard(10));
        EXPECT_EQ(rig.Finish(SubmitNkroJob(rig.dev, true)).state, JobState::Done);
        EXPECT_TRUE(rig.State().nkro);
        const JobStatus rate = rig.Finish(SubmitUsbRateJob(rig.dev, 4));
        EXPECT_EQ(rate.state, JobState::Done) << rate.message;
        EXPECT_EQ(rig.State().usbRate, 4);
        EXPECT_EQ(rig.Finish(SubmitOverloadJob(rig.dev, true, 60)).state, JobState::Done);
        // The mode rules hold here too, whoever asks: a count with overload off is refused
        // as a whole, the rate with it, before anything is sent.
        ModeChanges wrong;
        wrong.overload = std::make_pair(false, 70);
        wrong.usbRate = 2;
        const JobStatus refused = rig.Finish(SubmitModeChangesJob(rig.dev, wrong));
        EXPECT_EQ(refused.state, JobState::Failed);
        EXPECT_EQ(refused.result, kErrCountWithoutOverload) << refused.message;
        EXPECT_EQ(rig.State().configuredModules, 60);
        EXPECT_EQ(rig.State().usbRate, 4);
        EXPECT_EQ(rig.Finish(SubmitUsbRateJob(rig.dev, 7)).result, kErrUsbRate);
        EXPECT_EQ(rig.Finish(SubmitOverloadJob(rig.dev, true, 30)).result, kErrOverloadCountRange);
    }
    Rig old(Keyboard(10, 0));  // V1.0, before full-key rollover
    const JobStatus s = old.Finish(SubmitNkroJob(old.dev, true));
    EXPECT_EQ(s.state, JobState::Failed);
    EXPECT_EQ(s.result, kJobNotSupported);
    EXPECT_FALSE(old.State().nkro);
}

// The controller answers no mode command: a rate change is not a failure for want of an
// answer, the state read back says what it took, and a keyboard that went is a failure.
TEST(SessionJobs, ModeCommandsAreNotAnsweredButAGoneKeyboardIsAFailure) {
    Rig rig(Keyboard(10));
    EXPECT_EQ(rig.dev.SetUsbRate(5), 0);
    EXPECT_EQ(rig.dev.ReadUsbRate(), 0);
    EXPECT_EQ(rig.dev.GetUsbRate(), 5);

    // The cable goes once the controller obeyed the overload command.
    ASSERT_TRUE(rig.backend.UnplugAfter(0, 0x44, 1));
    const JobStatus overload = rig.Finish(SubmitOverloadJob(rig.dev, true, 60));
    EXPECT_EQ(overload.state, JobState::Failed);
    EXPECT_EQ(overload.result, kJobKeyboardGone) << overload.message;
    for (int i = 0; i < 2000 && !rig.dev.TransportGone(); ++i) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(rig.dev.TransportGone());
    EXPECT_LT(rig.dev.SetUsbRate(4), 0);
    ModeChanges rate;
    rate.usbRate = 4;
    EXPECT_EQ(rig.Finish(SubmitModeChangesJob(rig.dev, rate)).result, kJobKeyboardGone);
}

TEST(SessionJobs, MacroWrittenByOneJobIsReadBackByAnother) {
    Rig rig(Keyboard(10));
    MarcoRecord record{};
    record.entries[0] = {MarcoFlag::KeyDown, 0x04, 10};
    record.entries[1] = {MarcoFlag::KeyUp, 0x04, 20};
    record.entries[2] = {MarcoFlag::End, 0, 0};
    const JobStatus w = rig.Finish(SubmitMarcoWriteJob(rig.dev, 2, 1, record));
    ASSERT_EQ(w.state, JobState::Done) << w.message;
    EXPECT_EQ(rig.dev.GetKeySlot(2).vk[1], VK_MARCO);

    auto read = std::make_shared<MarcoRecord>();
    const JobStatus r = rig.Finish(SubmitMarcoReadJob(rig.dev, 2, read));
    ASSERT_EQ(r.state, JobState::Done) << r.message;
    EXPECT_EQ(read->entries[0], record.entries[0]);
    EXPECT_EQ(read->entries[1], record.entries[1]);

    const JobStatus none = rig.Finish(SubmitMarcoReadJob(rig.dev, 0, read));
    EXPECT_EQ(none.result, -2);  // slot 0 plays no macro
}

TEST(SessionJobs, UpgradeReportsItsPercentAndRefusesACancelOnceRunning) {
    std::mt19937 rng(3);
    auto image = std::make_shared<FirmwareImage>();
    for (auto& b : *image) {
        b = static_cast<uint8_t>(rng());
    }
    auto state = Keyboard(12);
    state.restartMs = 2;
    state.keyUpgradeToVersion = sim::SimVersion{1, 9};
    Rig rig(state);
    const uint32_t id = SubmitKeyUpgradeJob(rig.dev, image);
    // Queued behind it, and cancelled there: never starts.
    const uint32_t second = SubmitKbmcUpgradeJob(rig.dev, image);
    ASSERT_TRUE(rig.dev.Jobs().Cancel(second));
    // Once it reports a percent, the upgrade thread runs.
    for (int i = 0; i < 12000 && rig.dev.Jobs().Status(id)->state != JobState::Progress &&
                    !rig.dev.Jobs().Status(id)->Finished();
         ++i) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(rig.dev.Jobs().Cancel(id));
    const JobStatus s = rig.Finish(id);
    EXPECT_EQ(s.state, JobState::Done) << s.message;
    EXPECT_EQ(s.percent, 100);
    EXPECT_NE(s.message.find("cancel refused"), std::string::npos);
    EXPECT_EQ(rig.dev.Jobs().Status(second)->state, JobState::Cancelled);
    for (const auto& m : rig.State().modules) {
        if (m) {
            EXPECT_EQ(m->verLo, 9);
        }
    }
    // The percent a window saw only grows.
    int last = -1;
    for (const auto& n : rig.rec.Of(UM_JOB_STATE)) {
        if (JobIdOf(n.wParam) == id) {
            EXPECT_GE(JobPercentOf(n.lParam), last);
            last = JobPercentOf(n.lParam);
        }
    }
    EXPECT_EQ(last, 100);
}

}  // namespace
}  // namespace tavrik

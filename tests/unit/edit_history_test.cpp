// Undo and redo of key codes and colours: the history alone on hand-made key tables, then
// over a simulated keyboard, with the undo written by the same job the window submits.
#include "device/edit_history.h"

#include <gtest/gtest.h>

#include <chrono>

#include "device/session.h"
#include "device/session_jobs.h"
#include "keyboard_rig.h"
#include "protocol/protocol.h"
#include "sim/sim_init.h"

namespace tavrik {
namespace {

using namespace std::chrono_literals;

constexpr uint8_t kA = 0x41;
constexpr uint8_t kB = 0x42;
constexpr uint8_t kC = 0x43;
constexpr uint32_t kRed = 0x0000F0;
constexpr uint32_t kBlue = 0xF00000;

KeyTable Table() {
    KeyTable t;
    for (auto& s : t.slots) {
        s.vk = {kA, kA, kA, kA};
        s.colour = kRed;
    }
    return t;
}

KeyEdit Code(int slot, uint8_t before, uint8_t after) {
    return {KeyEdit::Kind::Code, slot, 0, before, after};
}

// The keyboard took `value` for the edit's key.
void Put(KeyTable& table, const KeyEdit& e, uint32_t value) {
    auto& slot = table.slots[static_cast<size_t>(e.slot)];
    if (e.kind == KeyEdit::Kind::Colour) {
        slot.colour = value;
    } else {
        slot.vk[static_cast<size_t>(e.layer)] = static_cast<uint8_t>(value);
    }
}

// A window's write that reached the keyboard.
void Write(EditHistory& h, KeyTable& table, const KeyEdit& e) {
    const uint64_t t = h.BeginEdit(e);
    Put(table, e, e.after);
    EXPECT_EQ(h.Finish(t, table), EditHistory::Outcome::Applied);
}

// An undo or redo whose write reached the keyboard.
void Carry(EditHistory& h, KeyTable& table, const std::optional<KeyWrite>& w) {
    ASSERT_TRUE(w);
    Put(table, w->edit, w->value);
    EXPECT_EQ(h.Finish(w->ticket, table), EditHistory::Outcome::Applied);
}

// A keyboard whose table the history has seen.
struct EditHistoryTest : testing::Test {
    KeyTable table = Table();
    EditHistory h;
    void SetUp() override { h.Observe(table); }
};

TEST_F(EditHistoryTest, UndoAndRedoWalkTheEditsInOrderAndANewEditEndsRedo) {
    Write(h, table, Code(1, kA, kB));
    Write(h, table, Code(1, kB, kC));
    Write(h, table, {KeyEdit::Kind::Colour, 2, 0, kRed, kBlue});
    ASSERT_EQ(h.UndoCount(), 3U);

    const auto colour = h.BeginUndo();
    ASSERT_TRUE(colour);
    EXPECT_EQ(colour->value, kRed);
    EXPECT_TRUE(h.Busy());
    EXPECT_FALSE(h.BeginUndo()) << "one undo at a time";
    Carry(h, table, colour);
    Carry(h, table, h.BeginUndo());
    EXPECT_EQ(table.slots[1].vk[0], kB);
    EXPECT_EQ(h.RedoCount(), 2U);
    Carry(h, table, h.BeginRedo());
    EXPECT_EQ(table.slots[1].vk[0], kC);
    EXPECT_FALSE(h.Observe(table)) << "its own steps are no change from outside";

    Write(h, table, Code(5, kA, kB));
    EXPECT_EQ(h.RedoCount(), 0U);
    EXPECT_FALSE(h.BeginRedo());
    EXPECT_EQ(h.UndoCount(), 3U);
}

TEST_F(EditHistoryTest, AChangeFromOutsideEndsTheHistoryWhereItWasSeen) {
    Write(h, table, Code(1, kA, kB));
    table.slots[7].vk[2] = kC;  // another program
    EXPECT_TRUE(h.Observe(table));
    EXPECT_EQ(h.UndoCount(), 0U);
    Write(h, table, Code(3, kA, kC));
    EXPECT_FALSE(h.Observe(table));
    Carry(h, table, h.BeginUndo());
    EXPECT_EQ(table.slots[3].vk[0], kA);
    EXPECT_FALSE(h.BeginUndo()) << "the change before the outside one stays";
    EXPECT_EQ(table.slots[1].vk[0], kB);

    // A colour the LED shows the same is no change; another one is.
    table.slots[4].colour = kRed | 0x0A;
    EXPECT_FALSE(h.Observe(table));
    table.slots[4].colour = kBlue;
    EXPECT_TRUE(h.Observe(table));
    EXPECT_EQ(h.RedoCount(), 0U);
}

TEST_F(EditHistoryTest, WritesInFlightAreNotOutsideChanges) {
    const uint64_t t = h.BeginEdit(Code(2, kA, kB));
    table.slots[2].vk[0] = kB;
    EXPECT_FALSE(h.Observe(table));
    EXPECT_EQ(h.Finish(t, table), EditHistory::Outcome::Applied);
    const auto undo = h.BeginUndo();
    ASSERT_TRUE(undo);
    EXPECT_FALSE(h.Observe(table));
    table.slots[2].vk[0] = kA;
    EXPECT_FALSE(h.Observe(table));
    EXPECT_EQ(h.Finish(undo->ticket, table), EditHistory::Outcome::Applied);
    EXPECT_EQ(h.RedoCount(), 1U);
}

TEST_F(EditHistoryTest, AFailedUndoKeepsTheHistoryTrueToTheKeyboard) {
    Write(h, table, Code(1, kA, kB));
    Write(h, table, Code(2, kA, kC));

    // Nothing reached the key: the step is still there to undo.
    auto undo = h.BeginUndo();
    ASSERT_TRUE(undo);
    EXPECT_EQ(h.Finish(undo->ticket, table), EditHistory::Outcome::NotApplied);
    EXPECT_EQ(h.UndoCount(), 2U);
    EXPECT_EQ(h.RedoCount(), 0U);

    // The job failed after the key took the value: it counts as undone.
    undo = h.BeginUndo();
    table.slots[2].vk[0] = kA;
    EXPECT_EQ(h.Finish(undo->ticket, table), EditHistory::Outcome::Applied);
    EXPECT_EQ(h.RedoCount(), 1U);

    // The key holds neither value: nothing can be said of the steps before it.
    undo = h.BeginUndo();
    table.slots[1].vk[0] = kC;
    EXPECT_EQ(h.Finish(undo->ticket, table), EditHistory::Outcome::Ended);
    EXPECT_EQ(h.UndoCount() + h.RedoCount(), 0U);
    EXPECT_FALSE(h.Observe(table)) << "the history now expects what the key holds";

    // A failed write whose key shows the new value may not have reached the keyboard.
    Write(h, table, Code(4, kA, kB));
    undo = h.BeginUndo();
    table.slots[4].vk[0] = kA;
    EXPECT_EQ(h.Finish(undo->ticket, table, false), EditHistory::Outcome::Ended);
    EXPECT_EQ(h.UndoCount() + h.RedoCount(), 0U);
    Write(h, table, Code(4, kA, kC));
    undo = h.BeginUndo();
    EXPECT_EQ(h.Finish(undo->ticket, table, false), EditHistory::Outcome::NotApplied);
    EXPECT_EQ(h.UndoCount(), 1U);

    // A failed window write is no step.
    const uint64_t t = h.BeginEdit(Code(9, kA, kB));
    EXPECT_EQ(h.Finish(t, table, false), EditHistory::Outcome::NotApplied);
    EXPECT_EQ(h.UndoCount(), 1U);
}

TEST(EditHistory, ACodeThatCannotBeWrittenBackEndsTheHistory) {
    KeyTable table = Table();
    table.slots[6].vk[0] = VK_WAIT_SET;
    table.slots[8].vk[1] = VK_MARCO;
    EditHistory h;
    h.Observe(table);
    Write(h, table, Code(1, kA, kB));
    Write(h, table, Code(6, VK_WAIT_SET, kC));  // the key's first code
    EXPECT_EQ(h.UndoCount(), 0U);
    Write(h, table, Code(1, kB, kC));
    Write(h, table, {KeyEdit::Kind::Code, 8, 1, VK_MARCO, kA});  // the macro replaced
    EXPECT_EQ(h.UndoCount(), 0U);
}

TEST(EditHistory, AnotherAttachStartsWithNoHistory) {
    KeyTable table = Table();
    EditHistories book;
    const KeyboardRef first{1, 7};
    EditHistory& h = book.For(first);
    h.Observe(table);
    Write(h, table, Code(1, kA, kB));
    EXPECT_EQ(book.For(first).UndoCount(), 1U);
    EXPECT_EQ(book.For({0, 9}).UndoCount(), 0U) << "another slot has its own";
    EXPECT_EQ(book.For(first).UndoCount(), 1U);
    EXPECT_EQ(book.For({1, 8}).UndoCount(), 0U) << "plugged in again";
    EditHistory& again = book.For(first);
    again.Observe(table);
    Write(again, table, Code(1, kB, kC));
    book.Drop(1);
    EXPECT_EQ(book.For(first).UndoCount(), 0U);
}

// ---- Over a simulated keyboard ----

sim::SimKeyboardState Keyboard() {
    auto s = *sim::MakeInitialState(12, 0, 1, 50, 7);
    s.latencyMs = 0;
    return s;
}

struct UndoRig : test::KeyboardRig {
    EditHistory history;
    UndoRig() : KeyboardRig(Keyboard()) {
        Attach();
        EXPECT_TRUE(WaitIdle());
        history.Observe(dev.Snapshot());
    }
    int FirstKey() {
        const SessionSnapshot snap = dev.Snapshot();
        for (size_t s = 0; s < kKeySlots; ++s) {
            if (snap.slots[s].Present() && snap.slots[s].vk[0] != VK_WAIT_SET &&
                !snap.slots[s].HasMacro()) {
                return static_cast<int>(s);
            }
        }
        return -1;
    }
    // The window's write of a code, as it records it.
    void Assign(int slot, uint8_t code) {
        const uint32_t before = dev.Snapshot().slots[static_cast<size_t>(slot)].vk[0];
        const uint64_t t = history.BeginEdit({KeyEdit::Kind::Code, slot, 0, before, code});
        ASSERT_EQ(dev.AssignKey(slot, 0, code, true), 0);
        ASSERT_EQ(history.Finish(t, dev.Snapshot()), EditHistory::Outcome::Applied);
    }
    std::optional<JobStatus> Run(const KeyWrite& w) {
        return dev.Jobs().Wait(SubmitKeyWriteJob(dev, w), 60s);
    }
    // The simulated module takes the code a moment after the controller answered.
    bool Holds(int slot, uint8_t code) {
        return test::Eventually([&] { return Held(slot) == HidOfKeyCode(code); });
    }
    // The code the simulated module holds on layer 0.
    uint8_t Held(int slot) {
        const auto state = backend.StateOf(0);
        for (const auto& m : state->modules) {
            const KeySlot k = dev.Snapshot().slots[static_cast<size_t>(slot)];
            if (m && m->uid == k.uid) {
                return m->hid[0];
            }
        }
        return 0;
    }
};

TEST(EditHistoryOnKeyboard, UndoAndRedoReachTheKeyboard) {
    UndoRig rig;
    const int s = rig.FirstKey();
    ASSERT_GE(s, 0);
    const uint8_t start = rig.dev.Snapshot().slots[static_cast<size_t>(s)].vk[0];
    rig.Assign(s, kB);
    rig.Assign(s, kC);
    ASSERT_TRUE(rig.Holds(s, kC));

    for (const uint8_t want : {kB, start}) {
        const auto w = rig.history.BeginUndo();
        ASSERT_TRUE(w);
        const auto status = rig.Run(*w);
        ASSERT_TRUE(status && status->state == JobState::Done) << (status ? status->message : "");
        EXPECT_EQ(rig.history.Finish(w->ticket, rig.dev.Snapshot()), EditHistory::Outcome::Applied);
        EXPECT_TRUE(rig.Holds(s, want));
    }
    const auto redo = rig.history.BeginRedo();
    ASSERT_TRUE(redo);
    ASSERT_TRUE(rig.Run(*redo));
    EXPECT_EQ(rig.history.Finish(redo->ticket, rig.dev.Snapshot()), EditHistory::Outcome::Applied);
    EXPECT_TRUE(rig.Holds(s, kB));

    // A scan that finds what the history expects ends nothing.
    rig.dev.RequestScan();
    EXPECT_TRUE(rig.WaitIdle());
    EXPECT_FALSE(rig.history.Observe(rig.dev.Snapshot()));
    EXPECT_EQ(rig.history.UndoCount(), 1U);
}

// The cable goes before the undo's write or right after it: the history follows what the
// keyboard took, not what the job hoped for.
void PullMidUndo(bool keyboardGetsIt) {
    SCOPED_TRACE(keyboardGetsIt ? "pulled after the write" : "pulled before the write");
    UndoRig rig;
    const int s = rig.FirstKey();
    ASSERT_GE(s, 0);
    const uint8_t start = rig.dev.Snapshot().slots[static_cast<size_t>(s)].vk[0];
    rig.Assign(s, kB);
    ASSERT_TRUE(rig.Holds(s, kB));
    const auto w = rig.history.BeginUndo();
    ASSERT_TRUE(w);
    if (keyboardGetsIt) {
        ASSERT_TRUE(rig.backend.UnplugAfter(0, CodeByte(ReportCode::CmdWriteKeyConfig), 1));
    } else {
        ASSERT_TRUE(rig.backend.Detach(0));
    }
    const auto status = rig.Run(*w);
    ASSERT_TRUE(status && status->Finished());
    const bool done = status->state == JobState::Done;
    const auto outcome = rig.history.Finish(w->ticket, rig.dev.Snapshot(), done);
    EXPECT_EQ(rig.Held(s), HidOfKeyCode(keyboardGetsIt ? start : kB));
    if (keyboardGetsIt && done) {
        EXPECT_EQ(outcome, EditHistory::Outcome::Applied);
        EXPECT_EQ(rig.history.RedoCount(), 1U);
    } else {
        // Failed: the session shows the value it queued, which may or may not have gone
        // out, so nothing is claimed about the keyboard.
        EXPECT_FALSE(done);
        EXPECT_EQ(outcome, EditHistory::Outcome::Ended);
        EXPECT_EQ(rig.history.UndoCount() + rig.history.RedoCount(), 0U);
    }
    // The window drops a gone keyboard's history; the next attach has a new serial.
    EditHistories book;
    const KeyboardRef before = rig.hub.Ref(0);
    book.For(before).Observe(rig.dev.Snapshot());
    rig.Detach();
    ASSERT_TRUE(rig.backend.Attach(0));
    rig.hub.AttachPresent();
    ASSERT_TRUE(rig.hub.IsAttached(0));
    EXPECT_NE(rig.hub.Ref(0), before);
    EXPECT_EQ(book.For(rig.hub.Ref(0)).UndoCount(), 0U);
}

TEST(EditHistoryOnKeyboard, ACablePulledMidUndoLeavesTheHistoryTrueToTheKeyboard) {
    PullMidUndo(false);
    PullMidUndo(true);
}

}  // namespace
}  // namespace tavrik

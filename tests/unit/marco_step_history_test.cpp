// Undo and redo of the macro editor's step list, without the window.
#include "macro/marco_step_history.h"

#include <gtest/gtest.h>

#include "keys/keycodes.h"

namespace tavrik {
namespace {

constexpr uint8_t kA = 0x41;

MarcoKeyEvent Key(bool down, uint8_t code) {
    return {down, code, false, false, 0};
}

TEST(MarcoStepHistory, EachEditAndEachWholeRecordingIsOneStep) {
    MarcoEditor ed(64, 20);
    MarcoStepHistory h;
    h.Note(ed);
    EXPECT_FALSE(h.CanUndo());

    ed.StartRecording();
    ed.RecordKey(Key(true, kA));
    h.Note(ed);  // still recording: not a step yet
    ed.RecordKey(Key(false, kA));
    ed.StopRecording();
    h.Note(ed);
    const auto recorded = ed.Contents();
    ASSERT_EQ(recorded.steps.Size(), 2);

    EXPECT_TRUE(ed.InsertGui(-1, true).empty());
    h.Note(ed);
    h.Note(ed);  // nothing changed: no step
    ed.DeleteLine(0);
    h.Note(ed);
    const auto last = ed.Contents();

    ASSERT_TRUE(h.Undo(ed));
    EXPECT_EQ(ed.Steps().Size(), 3);
    ASSERT_TRUE(h.Undo(ed));
    EXPECT_EQ(ed.Contents(), recorded);
    ASSERT_TRUE(h.Undo(ed));
    EXPECT_TRUE(ed.Steps().Empty()) << "the whole recording went in one step";
    EXPECT_FALSE(h.Undo(ed));

    ASSERT_TRUE(h.Redo(ed));
    ASSERT_TRUE(h.Redo(ed));
    ASSERT_TRUE(h.Redo(ed));
    EXPECT_EQ(ed.Contents(), last);
    EXPECT_FALSE(h.Redo(ed));

    // An edit after an undo ends what could be redone.
    ASSERT_TRUE(h.Undo(ed));
    ed.Clear();
    h.Note(ed);
    EXPECT_FALSE(h.CanRedo());
    ASSERT_TRUE(h.Undo(ed));
    EXPECT_EQ(ed.Steps().Size(), 3);
}

TEST(MarcoStepHistory, ModeComesBackWithItsListAndARecordingInProgressIsUndone) {
    MarcoEditor ed(64, 20);
    MarcoStepHistory h;
    h.Note(ed);
    ed.InsertGui(-1, true);
    h.Note(ed);
    ASSERT_TRUE(ed.SelectMode(2).empty());
    h.Note(ed);
    const MarcoMode changed = ed.Mode();
    ASSERT_NE(changed, MarcoMode::SingleShot);
    ASSERT_TRUE(h.Undo(ed));
    EXPECT_EQ(ed.Mode(), MarcoMode::SingleShot);
    EXPECT_EQ(ed.StepLimit(), MarcoEditor(64, 20).StepLimit());
    ASSERT_TRUE(h.Redo(ed));
    EXPECT_EQ(ed.Mode(), changed);

    const auto before = ed.Contents();
    ed.StartRecording();
    ed.RecordKey(Key(true, kA));
    ASSERT_TRUE(h.Undo(ed));
    EXPECT_FALSE(ed.Recording());
    EXPECT_EQ(ed.Contents(), before);
    ASSERT_TRUE(h.Redo(ed));
    // A recording starts a new list: the redone one holds the recorded key alone.
    ASSERT_EQ(ed.Steps().Size(), 1);
    EXPECT_EQ(ed.Steps()[0].kv, HidOfKeyCode(kA));
}

}  // namespace
}  // namespace tavrik

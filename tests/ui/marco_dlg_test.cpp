#include <gtest/gtest.h>

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "device/job_runner.h"
#include "device/session.h"
#include "keys/keycodes.h"
#include "macro/marco_file.h"
#include "sim/sim_backend.h"
#include "ui/common/keyboard_guard.h"
#include "ui/macroedit/marco_dlg.h"
#include "ui/mainwnd/my_button_host.h"
#include "ui/widgets/check_button.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/info_button.h"
#include "ui/widgets/number_input.h"
#include "ui/widgets/pic_button.h"
#include "ui/widgets/ui_texts.h"
#include "ui_test_util.h"
#include "window_rig.h"

namespace tavrik::ui {
namespace {

using test::PromptAnswers;
using test::Until;
using test::WindowRig;

// X11 / Wayland key codes (kernel input code + 8).
constexpr quint32 kScanA = 30 + 8;
constexpr quint32 kScanB = 48 + 8;
constexpr quint32 kScanLShift = 42 + 8;
constexpr quint32 kScanRShift = 54 + 8;
constexpr int kSlot = 0;       // a plain key without a macro
constexpr int kMacroSlot = 8;  // the sim keyboard's macro key

struct MarcoDlgTest : testing::Test {
    WindowRig rig{1, 30};
    PromptAnswers answers;
    std::unique_ptr<CMarcoDlg> dlg;
    uint32_t time = 1000;

    void SetUp() override {
        ASSERT_TRUE(rig.UntilKeysShown());
        Open(kSlot);
    }
    void TearDown() override { dlg.reset(); }

    void Open(int slot) {
        dlg.reset();
        CCCDev& dev = rig.W().Hub().Session(0);
        dlg = std::make_unique<CMarcoDlg>(KeyboardGuard(rig.W().Hub(), 0), slot,
                                          dev.Snapshot().curLayer & 3);
        dlg->m_position = {0, 0};
        dlg->Prepare();
        dlg->show();
    }
    void Notify(uint32_t code, int32_t lParam = 0) { dlg->OnNotify(code, 0, lParam); }
    void Press(quint32 scan, bool down, bool repeat = false, Qt::Key key = Qt::Key_unknown) {
        QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, key, Qt::NoModifier, scan, 0,
                        0, {}, repeat);
        time += 100;
        event.setTimestamp(time);
        QApplication::sendEvent(dlg->StepList(), &event);
    }
    void Tap(quint32 scan) {
        Press(scan, true);
        Press(scan, false);
    }
    QStringList Lines() const {
        QStringList out;
        for (int i = 0; i < dlg->StepList()->count(); ++i) {
            out << dlg->StepList()->item(i)->text();
        }
        return out;
    }
    bool UntilJobDone() {
        return Until([&] { return !dlg->JobPending(); });
    }
    sim::SimMarco StoredMarco(int slot) const {
        return rig.sim->StateOf(0)->modules[static_cast<size_t>(slot)]->marco;
    }
};

TEST_F(MarcoDlgTest, RecordsKeysWritesThemToTheKeyAndReadsThemBack) {
    Notify(UM_START_RECORD_MARCO);
    ASSERT_TRUE(dlg->Editor().Recording());
    EXPECT_EQ(dlg->Button(UM_START_RECORD_MARCO)->text(), "Stop Recording");
    EXPECT_EQ(dlg->Button(UM_START_RECORD_MARCO)->accessibleName(), "Stop Recording");
    EXPECT_TRUE(dlg->Button(UM_INSERT_GUI_DOWN)->isHidden());
    Press(kScanLShift, true);
    Press(kScanA, true);
    Press(kScanA, true, true);  // the system's repeat
    Press(kScanA, true);        // a repeat without the flag
    Press(kScanA, false);
    Press(kScanLShift, false);
    // Escape is recorded too rather than closing the dialog.
    Tap(1 + 8);
    EXPECT_TRUE(dlg->isVisible());
    Notify(UM_START_RECORD_MARCO);
    EXPECT_FALSE(dlg->Editor().Recording());
    ASSERT_EQ(Lines().size(), 12);
    EXPECT_EQ(Lines()[0], QString::fromUtf8("\u2193  L Shift "));
    EXPECT_EQ(Lines()[1], "    Delay 10 ms");
    EXPECT_EQ(Lines()[6], QString::fromUtf8("\u2191  L Shift"));
    EXPECT_FALSE(dlg->Button(UM_INSERT_GUI_DOWN)->isHidden());
    EXPECT_FALSE(dlg->Button(UM_INSERT_MARCO_LOOP_START_FLAG)->isHidden());
    EXPECT_TRUE(dlg->Button(UM_INSERT_KEY_UP_FLAG)->isHidden());

    Notify(UM_SAVE_RECORD_MARCO);
    EXPECT_FALSE(dlg->Button(UM_SAVE_RECORD_MARCO)->isEnabled());
    ASSERT_TRUE(UntilJobDone());
    EXPECT_TRUE(answers.messages.empty()) << answers.messages.front().toStdString();
    EXPECT_TRUE(dlg->Button(UM_SAVE_RECORD_MARCO)->isEnabled());
    const sim::SimMarco stored = StoredMarco(kSlot);
    const auto& steps = dlg->Editor().Steps();
    for (int i = 0; i < steps.Size(); ++i) {
        EXPECT_EQ(stored[static_cast<size_t>(i)], steps[i]) << i;
    }
    EXPECT_EQ(stored[0], (MarcoEntry{MarcoFlag::KeyDown, 0xE1, 10}));
    EXPECT_EQ(rig.W().Hub().Session(0).Snapshot().slots[kSlot].vk[0], VK_MARCO);

    const MarcoSteps written = steps;
    Notify(UM_CLEAR_RECORD_MARCO);
    EXPECT_EQ(dlg->StepList()->count(), 0);
    Notify(UM_READ_RECORD_MARCO);
    ASSERT_TRUE(UntilJobDone());
    EXPECT_EQ(dlg->Editor().Steps(), written);
    EXPECT_EQ(Lines().size(), 12);
}

TEST_F(MarcoDlgTest, BothShiftsAndTheStepLimit) {
    Notify(UM_START_RECORD_MARCO);
    Press(kScanLShift, true);
    Press(kScanRShift, true);
    Press(kScanRShift, false);
    Press(kScanLShift, false);
    Notify(UM_STOP_RECORD);
    const auto& steps = dlg->Editor().Steps();
    ASSERT_EQ(steps.Size(), 4);
    EXPECT_EQ(steps[2], (MarcoEntry{MarcoFlag::KeyUp, 0xE5, 10}));

    // This keyboard does not play AutoLoop macros: the mode in force stays.
    ASSERT_FALSE(rig.W().Hub().Session(0).Snapshot().autoLoop);
    Q_EMIT dlg->ModeList()->activated(3);
    EXPECT_EQ(dlg->Editor().Mode(), MarcoMode::SingleShot);
    EXPECT_EQ(dlg->ModeList()->currentIndex(), 0);
    ASSERT_EQ(answers.messages.size(), 1u);
    EXPECT_EQ(answers.messages[0], PromptText("InfoAutoLoopNotSupport"));
    // ManualLoop leaves 63 steps on a keyboard of 64.
    Q_EMIT dlg->ModeList()->activated(2);
    ASSERT_EQ(dlg->Editor().Mode(), MarcoMode::ManualLoop);
    Notify(UM_START_RECORD_MARCO);
    for (int i = 0; i < 40 && dlg->Editor().Recording(); ++i) {
        Tap(static_cast<quint32>(16 + 8 + i % 10));
    }
    EXPECT_FALSE(dlg->Editor().Recording());
    EXPECT_EQ(dlg->Editor().Steps().Size(), 63);
    ASSERT_EQ(answers.messages.size(), 2u);
    EXPECT_EQ(answers.messages[1], PromptText("InfoMarcoMaxNumReach"));
    EXPECT_EQ(dlg->Button(UM_START_RECORD_MARCO)->text(), "Start Recording");
}

TEST_F(MarcoDlgTest, EditingButtonsAndTheirRefusals) {
    Notify(UM_START_RECORD_MARCO);
    Tap(kScanA);
    Notify(UM_START_RECORD_MARCO);
    // No line selected: appended with its own delay line.
    QTest::mouseClick(dlg->Button(UM_INSERT_GUI_DOWN), Qt::LeftButton);
    EXPECT_EQ(Lines().size(), 6);
    EXPECT_EQ(Lines()[4], QString::fromUtf8("\u2193  L GUI "));

    dlg->StepList()->setCurrentRow(0);
    answers.numbers = {1};
    QTest::mouseClick(dlg->Button(UM_INSERT_MARCO_LOOP_START_FLAG), Qt::LeftButton);
    EXPECT_EQ(answers.messages.back(), PromptText("InfoMarcoLoopRange"));
    EXPECT_EQ(answers.numberPrompts.back(),
              QString::fromUtf8("Input Loop count 2-250/输入宏循环次数 2-250"));
    answers.numbers = {5};
    QTest::mouseClick(dlg->Button(UM_INSERT_MARCO_LOOP_START_FLAG), Qt::LeftButton);
    EXPECT_EQ(Lines()[0], "Marco Loop Start (5)");
    // A second start while the loop is open.
    dlg->StepList()->clearSelection();
    QTest::mouseClick(dlg->Button(UM_INSERT_MARCO_LOOP_START_FLAG), Qt::LeftButton);
    EXPECT_EQ(answers.messages.back(), PromptText("InfoMarcoLoopLimitation"));
    QTest::mouseClick(dlg->Button(UM_INSERT_MARCO_LOOP_END_FLAG), Qt::LeftButton);
    EXPECT_EQ(dlg->Editor().Steps()[4], (MarcoEntry{MarcoFlag::LoopEnd, 4, 10}));

    // Delays: greyed out without a selected line; not the last line, and in range.
    dlg->StepList()->clearSelection();
    EXPECT_FALSE(dlg->Button(UM_CHANGE_MARCO_DELAY)->isEnabled());
    EXPECT_FALSE(dlg->Button(UM_DEL_ONE_MARCO_ENTRY)->isEnabled());
    const size_t shown = answers.messages.size();
    QTest::mouseClick(dlg->Button(UM_CHANGE_MARCO_DELAY), Qt::LeftButton);
    EXPECT_EQ(answers.messages.size(), shown);
    dlg->StepList()->setCurrentRow(2);
    EXPECT_TRUE(dlg->Button(UM_CHANGE_MARCO_DELAY)->isEnabled());
    EXPECT_TRUE(dlg->Button(UM_DEL_ONE_MARCO_ENTRY)->isEnabled());
    answers.numbers = {250};
    QTest::mouseClick(dlg->Button(UM_CHANGE_MARCO_DELAY), Qt::LeftButton);
    EXPECT_EQ(Lines()[3], "    Delay 250 ms");
    EXPECT_EQ(answers.numberPrompts.back(), "");  // the input's own texts

    // DualSec: the switch button shows; the switch blocks leaving the mode until deleted.
    Q_EMIT dlg->ModeList()->activated(1);
    EXPECT_TRUE(dlg->Button(UM_INSERT_MARCO_LOOP_START_FLAG)->isHidden());
    ASSERT_FALSE(dlg->Button(UM_INSERT_KEY_UP_FLAG)->isHidden());
    dlg->StepList()->clearSelection();
    QTest::mouseClick(dlg->Button(UM_INSERT_KEY_UP_FLAG), Qt::LeftButton);
    Q_EMIT dlg->ModeList()->activated(0);
    EXPECT_EQ(answers.messages.back(), PromptText("InfoDelSwitchFlagFirst"));
    EXPECT_EQ(dlg->ModeList()->currentIndex(), 1);
    dlg->StepList()->setCurrentRow(dlg->StepList()->count() - 1);
    QTest::mouseClick(dlg->Button(UM_DEL_ONE_MARCO_ENTRY), Qt::LeftButton);
    EXPECT_FALSE(dlg->Editor().Steps().SwitchPresent());
    Q_EMIT dlg->ModeList()->activated(0);
    EXPECT_EQ(dlg->ModeList()->currentIndex(), 0);

    // The delay-mode switch.
    QTest::mouseClick(dlg->DelaySwitch(), Qt::LeftButton);
    EXPECT_EQ(dlg->Editor().DelayMode(), 1);
    EXPECT_TRUE(dlg->DelaySwitch()->State());
    EXPECT_EQ(dlg->DelayLabel()->text(), ButtonText("InfoRecordDelay"));
}

TEST_F(MarcoDlgTest, SavesToAFileAndLoadsItBack) {
    Notify(UM_START_RECORD_MARCO);
    Tap(kScanA);
    Tap(kScanB);
    Notify(UM_STOP_RECORD);
    const auto file = rig.tmp.path / "m.tvm";
    answers.files = {QString::fromStdString(file.string())};
    Notify(UM_SAVE_RECORD_MARCO_TO_FILE);
    ASSERT_TRUE(answers.messages.empty());
    EXPECT_EQ(std::filesystem::file_size(file), kMarcoRecordSize);
    const MarcoSteps saved = dlg->Editor().Steps();

    // A folder in the way: reported, never taken for a success.
    std::filesystem::create_directory(rig.tmp.path / "dir.tvm");
    answers.files = {QString::fromStdString((rig.tmp.path / "dir.tvm").string())};
    Notify(UM_SAVE_RECORD_MARCO_TO_FILE);
    ASSERT_EQ(answers.messages.size(), 1u);
    EXPECT_TRUE(answers.messages[0].startsWith("The macro could not be saved to this file:"));
    EXPECT_TRUE(std::filesystem::is_directory(rig.tmp.path / "dir.tvm"));

    // Unsaved steps: a cancelled chooser and a bad file keep them.
    Notify(UM_START_RECORD_MARCO);
    Tap(kScanA + 2);
    Notify(UM_STOP_RECORD);
    const MarcoSteps unsaved = dlg->Editor().Steps();
    ASSERT_FALSE(unsaved.Empty());
    ASSERT_NE(unsaved, saved);
    const int lines = dlg->StepList()->count();
    Notify(UM_READ_RECORD_MARCO_FROM_FILE);
    EXPECT_EQ(dlg->Editor().Steps(), unsaved);
    EXPECT_EQ(answers.messages.size(), 1u);
    std::ofstream(rig.tmp.path / "bad.tvm") << std::string(280, 'x');
    answers.files = {QString::fromStdString((rig.tmp.path / "bad.tvm").string())};
    Notify(UM_READ_RECORD_MARCO_FROM_FILE);
    EXPECT_EQ(answers.messages.back().toStdString(), kMarcoFileInvalidText);
    EXPECT_EQ(dlg->Editor().Steps(), unsaved);
    EXPECT_EQ(dlg->StepList()->count(), lines);

    answers.files = {QString::fromStdString(file.string())};
    Notify(UM_READ_RECORD_MARCO_FROM_FILE);
    EXPECT_EQ(dlg->Editor().Steps(), saved);
    EXPECT_EQ(dlg->StepList()->count(), 8);

    // A macro file that breaks a rule (a loop played 0 times) is not taken: the steps
    // shown stay, and the rule is said.
    MarcoRecord endless;
    endless.flag = 1;
    endless.entries[0] = {MarcoFlag::KeyDown, 0x04, 10};
    endless.entries[1] = {MarcoFlag::LoopStart, 0, 10};
    endless.entries[2] = {MarcoFlag::KeyUp, 0x04, 10};
    endless.entries[3] = {MarcoFlag::LoopEnd, 2, 10};
    ASSERT_EQ(SaveMarcoFile(rig.tmp.path / "endless.tvm", endless), MarcoFileStatus::Ok);
    answers.files = {QString::fromStdString((rig.tmp.path / "endless.tvm").string())};
    Notify(UM_READ_RECORD_MARCO_FROM_FILE);
    EXPECT_EQ(answers.messages.back().toStdString(),
              "This macro cannot be used:\nThe loop count must be between 2 and 250.");
    EXPECT_EQ(dlg->StepList()->count(), 8);
    EXPECT_EQ(dlg->Editor().Steps(), saved);
}

TEST_F(MarcoDlgTest, ReadOfAKeyWithoutMacroAndOfTheMacroKey) {
    Notify(UM_READ_RECORD_MARCO);
    ASSERT_TRUE(UntilJobDone());
    ASSERT_EQ(answers.messages.size(), 1u);
    EXPECT_TRUE(answers.messages[0].startsWith("Read Marco Fail, error code is -2"));
    EXPECT_EQ(dlg->StepList()->count(), 0);

    Open(kMacroSlot);
    Notify(UM_READ_RECORD_MARCO);
    ASSERT_TRUE(UntilJobDone());
    EXPECT_EQ(answers.messages.size(), 1u);
    EXPECT_GT(dlg->StepList()->count(), 0);
    EXPECT_FALSE(dlg->Button(UM_DEL_ONE_MARCO_ENTRY)->isHidden());
}

TEST_F(MarcoDlgTest, KeyboardPulledOutWhileWriting) {
    Notify(UM_START_RECORD_MARCO);
    for (int i = 0; i < 5; ++i) {
        Tap(kScanA + static_cast<quint32>(i));
    }
    Notify(UM_STOP_RECORD);
    ASSERT_TRUE(rig.sim->UnplugAfter(0, 0x40, 3));
    Notify(UM_SAVE_RECORD_MARCO);
    ASSERT_TRUE(UntilJobDone());
    ASSERT_EQ(answers.messages.size(), 1u);
    // Said as a keyboard that went, not as a slot without a module.
    EXPECT_EQ(answers.messages[0].toStdString(),
              "KB 1 is no longer connected: nothing was written to it.")
        << answers.messages[0].toStdString();
    EXPECT_TRUE(dlg->Button(UM_SAVE_RECORD_MARCO)->isEnabled());
}

TEST_F(MarcoDlgTest, ClosingDuringAJobLeavesNothingWaiting) {
    CCCDev& dev = rig.W().Hub().Session(0);
    Open(kMacroSlot);
    Notify(UM_READ_RECORD_MARCO);
    ASSERT_TRUE(dlg->JobPending());
    const uint32_t job = dlg->PendingJob();
    QTest::mouseClick(dlg->CloseButton(), Qt::LeftButton);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_FALSE(dlg->JobPending());
    dlg.reset();
    ASSERT_TRUE(Until([&] {
        const auto status = dev.Jobs().Status(job);
        return status && status->Finished();
    }));
    EXPECT_TRUE(answers.messages.empty());
}

TEST_F(MarcoDlgTest, TheMainWindowRunsTheEditorForTheSlot) {
    dlg.reset();
    int runs = 0;
    CMarcoDlg::SetExecHook([&](CMarcoDlg& editor) {
        ++runs;
        EXPECT_EQ(editor.pos(), QPoint(12, 34));
        editor.show();
        editor.OnNotify(UM_START_RECORD_MARCO, 0, 0);
        QKeyEvent down(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, kScanA, 0, 0);
        QApplication::sendEvent(editor.StepList(), &down);
        editor.OnNotify(UM_SAVE_RECORD_MARCO, 0, 0);
        EXPECT_TRUE(Until([&] { return !editor.JobPending(); }));
        return 0;
    });
    rig.W().RunMarcoEditor(MarcoEditInputs{kSlot, 0, 0x41, 0, QPoint(12, 34), {}});
    CMarcoDlg::SetExecHook({});
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(StoredMarco(kSlot)[0], (MarcoEntry{MarcoFlag::KeyDown, 0x04, 10}));
    EXPECT_TRUE(answers.messages.empty());
}

// Closed while its write runs: the write goes on, and the main window's status line says
// how it ended. Closing an unwritten macro asks first.
TEST_F(MarcoDlgTest, AWriteLeftByAClosedEditorEndsInTheStatusLine) {
    dlg.reset();
    answers.yes = false;
    CMarcoDlg::SetExecHook([&](CMarcoDlg& editor) {
        editor.show();
        editor.OnNotify(UM_START_RECORD_MARCO, 0, 0);
        QKeyEvent down(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, kScanA, 0, 0);
        QApplication::sendEvent(editor.StepList(), &down);
        editor.OnNotify(UM_STOP_RECORD, 0, 0);
        EXPECT_TRUE(editor.Unsaved());
        editor.reject();  // the user keeps the unsaved macro
        EXPECT_TRUE(editor.isVisible());
        editor.OnNotify(UM_SAVE_RECORD_MARCO, 0, 0);
        EXPECT_TRUE(editor.JobPending());
        editor.reject();  // unsaved until written: asked again, and left this time
        answers.yes = true;
        editor.reject();
        EXPECT_FALSE(editor.isVisible());
        EXPECT_NE(editor.WriteLeftRunning(), 0u);
        return 0;
    });
    rig.W().RunMarcoEditor(MarcoEditInputs{kSlot, 0, 0x41, 0, QPoint(0, 0), {}});
    CMarcoDlg::SetExecHook({});
    EXPECT_EQ(answers.questions.size(), 3u);
    const QString done = ButtonText("SaveRecordMarco") + ": " + PromptText("jobDone");
    ASSERT_TRUE(Until([&] { return rig.W().StatusText() == done; }))
        << rig.W().StatusText().toStdString();
    EXPECT_EQ(StoredMarco(kSlot)[0], (MarcoEntry{MarcoFlag::KeyDown, 0x04, 10}));
}

TEST(MarcoNumberInput, KeepsUpToFiveDigits) {
    EXPECT_EQ(DigitsOnly("12a3"), "123");
    EXPECT_EQ(DigitsOnly("1234567"), "12345");
    CMarcoDelayEditDlg input;
    input.SetTexts("  ", "");
    QTest::keyClicks(input.Edit(), "4x2");
    EXPECT_EQ(input.Edit()->text(), "42");
    EXPECT_EQ(input.Value(), -1);
}

}  // namespace
}  // namespace tavrik::ui

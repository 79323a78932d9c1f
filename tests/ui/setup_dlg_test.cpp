// The settings window on simulated keyboards, headless: what closing it applies, the
// overload warning, the key count, the labels and buttons it shows, failures said in the
// status line, and a keyboard swapped while it is open.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QTest>

#include "device/job_runner.h"
#include "device/keyboard_hub.h"
#include "device/session.h"
#include "device/session_result.h"
#include "sim/sim_backend.h"
#include "ui/settings/setup_dlg.h"
#include "ui/widgets/check_button.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/info_button.h"
#include "ui/widgets/pic_button.h"
#include "ui/widgets/selectors.h"
#include "ui/widgets/text_buttons.h"
#include "ui/widgets/ui_texts.h"
#include "ui_test_util.h"
#include "window_rig.h"

namespace tavrik::ui {
namespace {

using test::PromptAnswers;
using test::Until;
using test::WindowRig;

constexpr quint32 kScanLShift = 42 + 8;
constexpr quint32 kScanRShift = 54 + 8;

// Opens the settings window through the gear button; `act` works on it, then it closes.
void WithSettings(WindowRig& rig, const std::function<void(CSetupDlg&)>& act) {
    CSetupDlg::SetExecHook([&](CSetupDlg& dlg) { act(dlg); });
    QTest::mouseClick(&rig.W().SettingsButton(), Qt::LeftButton);
    CSetupDlg::SetExecHook({});
}

void Click(QWidget* w) {
    ASSERT_NE(w, nullptr);
    QTest::mouseClick(w, Qt::LeftButton);
}

void ShiftKey(QWidget* to, QEvent::Type type, quint32 scan) {
    QKeyEvent e(type, Qt::Key_Shift, type == QEvent::KeyPress ? Qt::ShiftModifier : Qt::NoModifier,
                scan, 0, 0);
    QApplication::sendEvent(to, &e);
}

sim::SimKeyboardState SimState(WindowRig& rig, int index = 0) {
    return *rig.sim->StateOf(index);
}

bool UntilStatus(WindowRig& rig, const QString& start) {
    return Until([&] { return rig.W().StatusText().startsWith(start); });
}

struct SetupDlgTest : testing::Test {
    WindowRig rig{1, 30};
    PromptAnswers answers;
    void SetUp() override { ASSERT_TRUE(rig.UntilKeysShown()); }
};

TEST_F(SetupDlgTest, CloseAndBackApplyAlikeAndADoubleToggleAppliesNothing) {
    ASSERT_FALSE(SimState(rig).nkro);
    WithSettings(rig, [](CSetupDlg& dlg) {
        Click(dlg.Switch(kSwitchNkro));
        Click(dlg.CloseButton());
    });
    EXPECT_TRUE(Until([&] { return SimState(rig).nkro; }));

    WithSettings(rig, [](CSetupDlg& dlg) {
        EXPECT_TRUE(dlg.Switch(kSwitchNkro)->State());
        Click(dlg.Switch(kSwitchNkro));
        Click(dlg.BackButton());
    });
    EXPECT_TRUE(Until([&] { return !SimState(rig).nkro; }));

    // Twice on and off: nothing changed, nothing sent.
    ASSERT_TRUE(Until([&] { return !rig.W().StatusText().startsWith("Applying"); }));
    WithSettings(rig, [](CSetupDlg& dlg) {
        Click(dlg.Switch(kSwitchNkro));
        Click(dlg.Switch(kSwitchNkro));
        Click(dlg.Switch(kSwitchStartWithWin));
        Click(dlg.Switch(kSwitchStartWithWin));
    });
    EXPECT_FALSE(rig.W().StatusText().startsWith("Applying"));
    EXPECT_FALSE(SimState(rig).nkro);
}

TEST_F(SetupDlgTest, OptionsAndLanguageAreWrittenWhenTheWindowCloses) {
    const auto autostart = rig.tmp.path / "config" / "autostart" / "org.tavrik.Tavrik.desktop";
    const bool startedOn = rig.W().Settings().GetAutoStart() != 0;
    const int minBefore = rig.W().Settings().GetMinAfterStart();
    int languageBefore = 0;
    rig.W().Settings().GetLanguage(languageBefore);
    WithSettings(rig, [&](CSetupDlg& dlg) {
        Click(dlg.Switch(kSwitchStartWithWin));
        Click(dlg.Switch(kSwitchMinAfterStart));
        // Two languages: any step is the other one.
        QTest::mouseClick(dlg.LanguageSelector(), Qt::LeftButton, {}, QPoint(5, 10));
        // Nothing is written while the window is open.
        EXPECT_EQ(rig.W().Settings().GetAutoStart() != 0, startedOn);
    });
    EXPECT_EQ(rig.W().Settings().GetAutoStart() != 0, !startedOn);
    EXPECT_EQ(std::filesystem::exists(autostart), !startedOn);
    EXPECT_EQ(rig.W().Settings().GetMinAfterStart(), 1 - minBefore);
    ASSERT_FALSE(answers.messages.empty());
    EXPECT_TRUE(answers.messages.back().startsWith("You have changed system Language"));
    int language = 0;
    rig.W().Settings().GetLanguage(language);
    // An unsettled language shows as the one the program runs in (English here).
    const int shown = languageBefore != 0 ? languageBefore : 2;
    EXPECT_EQ(language, shown == 2 ? 1 : 2);
}

TEST_F(SetupDlgTest, OverloadWarningCancelSendsNothingAndKeyCountsAreChecked) {
    answers.yes = false;
    WithSettings(rig, [&](CSetupDlg& dlg) {
        Click(dlg.Switch(kSwitchOverload));
        ASSERT_EQ(answers.questions.size(), 1u);
        EXPECT_TRUE(answers.questions[0].startsWith("By default this keyboard support 44 key"));
        EXPECT_FALSE(dlg.Switch(kSwitchOverload)->State());
        EXPECT_FALSE(dlg.State().overload);
        // No manual mode: no key-count button.
        EXPECT_EQ(dlg.KeyCountButton(), nullptr);
    });
    EXPECT_FALSE(rig.W().StatusText().startsWith("Applying"));
    EXPECT_EQ(SimState(rig).configuredModules, 44);

    // Manual mode: left Shift held when the window opens. Releasing the right Shift
    // meanwhile does not clear the record.
    const auto manual = [&] {
        ShiftKey(&rig.W(), QEvent::KeyPress, kScanLShift);
        ShiftKey(&rig.W(), QEvent::KeyPress, kScanRShift);
        ShiftKey(&rig.W(), QEvent::KeyRelease, kScanRShift);
    };
    // 0 with the mode unchanged sends nothing; a count without overload mode is refused
    // and said.
    manual();
    answers.numbers = {0, 91, 41};
    WithSettings(rig, [&](CSetupDlg& dlg) {
        EXPECT_TRUE(dlg.State().manual);
        Click(dlg.KeyCountButton());
        Click(dlg.KeyCountButton());
        Click(dlg.KeyCountButton());
        EXPECT_EQ(dlg.State().requestedKeyCount, 0);
    });
    EXPECT_EQ(answers.messages.size(), 2u);
    EXPECT_FALSE(rig.W().StatusText().startsWith("Applying"));
    // The record was cleared when the window closed.
    WithSettings(rig, [](CSetupDlg& dlg) { EXPECT_FALSE(dlg.State().manual); });

    // A count with overload mode off is refused by the rule `mode` follows, and said:
    // nothing is sent (firmware that stores a count: V1.50).
    rig.sim->WithKeyboard(0, [](sim::SimKeyboard& k) {
        auto st = k.State();
        st.verLo = 50;
        k.Restore(st);
    });
    rig.W().Hub().Session(0).RequestScan();
    ASSERT_TRUE(Until([&] { return rig.W().Hub().Session(0).Snapshot().KbmcWord() == 0x0132; }));
    manual();
    answers.messages.clear();
    answers.numbers = {60};
    WithSettings(rig, [&](CSetupDlg& dlg) {
        Click(dlg.KeyCountButton());
        EXPECT_EQ(dlg.State().requestedKeyCount, 0);
    });
    ASSERT_EQ(answers.messages.size(), 1u);
    EXPECT_EQ(answers.messages[0], PromptText("InfoCountNeedsOverload"));
    EXPECT_FALSE(rig.W().StatusText().startsWith("Applying"));
    EXPECT_EQ(SimState(rig).configuredModules, 44);

    // In overload mode (60 modules): a count not above the standard 44 is refused with the
    // standard count named; 70 with the mode unchanged is sent.
    rig.sim->WithKeyboard(0, [](sim::SimKeyboard& k) {
        auto st = k.State();
        st.configuredModules = 60;
        k.Restore(st);
    });
    rig.W().Hub().Session(0).RequestScan();
    ASSERT_TRUE(Until([&] { return rig.W().Hub().Session(0).Snapshot().overload; }));
    manual();
    answers.numbers = {44, 70};
    WithSettings(rig, [&](CSetupDlg& dlg) {
        Click(dlg.KeyCountButton());
        EXPECT_EQ(dlg.State().requestedKeyCount, 0);
        Click(dlg.KeyCountButton());
        EXPECT_EQ(dlg.State().requestedKeyCount, 70);
    });
    ASSERT_EQ(answers.messages.size(), 2u);
    EXPECT_TRUE(answers.messages[1].contains("44")) << answers.messages[1].toStdString();
    EXPECT_TRUE(Until([&] { return SimState(rig).configuredModules == 70; }));
}

TEST_F(SetupDlgTest, ActionButtonsFollowManualModeAndUpdates) {
    WithSettings(rig, [](CSetupDlg& dlg) {
        for (int c = 1; c <= 3; ++c) {
            EXPECT_EQ(dlg.ActionButton(c), nullptr) << c;
        }
        EXPECT_EQ(dlg.KeyboardLabel(1), nullptr);
        EXPECT_EQ(dlg.CurrentCell(2)->text().toStdString(), KeyRangeText(dlg.State().keyRange));
        EXPECT_EQ(dlg.AvailableCell(1)->text(), "Up to date");
    });
    ShiftKey(&rig.W(), QEvent::KeyPress, kScanLShift);
    WithSettings(rig, [](CSetupDlg& dlg) {
        EXPECT_EQ(dlg.ActionButton(kCmdDownloadApp)->text(), "Download");
        EXPECT_EQ(dlg.ActionButton(kCmdUpgradeKbmc)->text(), "Upgrade from file");
        EXPECT_EQ(dlg.ActionButton(kCmdUpgradeKeys)->text(), "Upgrade from file");
    });
    // An update for the keys, none for the controller: only the key row's button.
    rig.W().Hub().Session(0).SetNewVersionFlags(false, true);
    WithSettings(rig, [](CSetupDlg& dlg) {
        EXPECT_EQ(dlg.ActionButton(kCmdDownloadApp), nullptr);
        EXPECT_EQ(dlg.ActionButton(kCmdUpgradeKbmc), nullptr);
        ASSERT_NE(dlg.ActionButton(kCmdUpgradeKeys), nullptr);
        EXPECT_EQ(dlg.ActionButton(kCmdUpgradeKeys)->text(), "Update now");
    });
}

TEST_F(SetupDlgTest, RateSelectorsFirstClickTakesTheSecondEntry) {
    rig.sim->WithKeyboard(0, [](sim::SimKeyboard& k) {
        auto st = k.State();
        st.usbRate = 8;
        k.Restore(st);
    });
    ASSERT_EQ(rig.W().Hub().Session(0).ReadUsbRate() >= 0, true);
    WithSettings(rig, [](CSetupDlg& dlg) {
        EXPECT_EQ(dlg.RateSelector()->Value(), 8);
        QTest::mouseClick(dlg.RateSelector(), Qt::LeftButton, {}, QPoint(5, 10));
        EXPECT_EQ(dlg.State().usbRate, 2);
    });
    EXPECT_TRUE(Until([&] { return SimState(rig).usbRate == 2; }));
}

TEST_F(SetupDlgTest, AFailedApplyIsSaid) {
    rig.sim->WithKeyboard(0, [](sim::SimKeyboard& k) {
        auto f = k.State().faults;
        f.silentCodes = {0x30};  // the state query that reads the modes back
        k.SetFaults(f);
    });
    WithSettings(rig, [](CSetupDlg& dlg) { Click(dlg.Switch(kSwitchNkro)); });
    EXPECT_TRUE(UntilStatus(rig, "Keyboard 1 did not confirm its new settings."))
        << rig.W().StatusText().toStdString();
}

TEST_F(SetupDlgTest, AKeyboardSwappedWhileTheWindowIsOpenGetsNothing) {
    WithSettings(rig, [&](CSetupDlg& dlg) {
        Click(dlg.Switch(kSwitchNkro));
        rig.sim->Detach(0);
        ASSERT_TRUE(Until([&] {
            rig.W().ProcessDeviceEvents();
            return rig.W().Hub().Count() == 0;
        }));
        rig.sim->Attach(0);
        ASSERT_TRUE(Until([&] {
            rig.W().ProcessDeviceEvents();
            return rig.W().Hub().Count() == 1;
        }));
    });
    EXPECT_TRUE(rig.W().StatusText().startsWith("Keyboard 1 went away"))
        << rig.W().StatusText().toStdString();
    QTest::qWait(100);
    EXPECT_FALSE(SimState(rig).nkro);
}

TEST(SetupDlgTwoKeyboards, KeyboardLabelsNameTheSelectedOne) {
    WindowRig rig{2, 10};
    ASSERT_TRUE(rig.UntilKeysShown());
    ASSERT_TRUE(Until([&] { return rig.W().Hub().Count() == 2; }));
    WithSettings(rig, [](CSetupDlg& dlg) {
        ASSERT_NE(dlg.KeyboardLabel(1), nullptr);
        EXPECT_EQ(dlg.KeyboardLabel(1)->text(), "These settings apply to keyboard 1");
        EXPECT_EQ(dlg.KeyboardLabel(2)->text(),
                  "To set up another keyboard, select it in the main window.");
    });
}

TEST(SetupRules, ChangesKeyCountsAndVersionTexts) {
    SetupState a;
    SetupState b = a;
    EXPECT_TRUE(PlanSetupChanges(a, b).Empty());
    b.usbRate = 257;  // compared as a byte
    EXPECT_TRUE(PlanSetupChanges(a, b).Empty());
    a.requestedKeyCount = 60;
    const SetupChanges c = PlanSetupChanges(a, b);
    ASSERT_TRUE(c.modes.overload);
    EXPECT_EQ(c.modes.overload->second, 60);
    // A value that changed under the window is not sent back.
    SetupState opened;
    SetupState now = opened;
    now.usbRate = 4;
    SetupState edited = opened;
    EXPECT_TRUE(PlanSetupChanges(edited, opened, now).Empty());
    edited.nkro = true;
    const SetupChanges user = PlanSetupChanges(edited, opened, now);
    EXPECT_TRUE(user.modes.nkro && !user.modes.usbRate);
    // The key count follows the mode rules with the window's overload mode and the
    // controller's standard count; 0 is the standard count.
    SetupState off;
    EXPECT_EQ(KeyCountRefusal(off, 0), kSessionOk);
    EXPECT_EQ(KeyCountRefusal(off, 60), kErrCountWithoutOverload);
    SetupState on;
    on.overload = true;
    on.standardCount = 44;
    EXPECT_EQ(KeyCountRefusal(on, 45), kSessionOk);
    EXPECT_EQ(KeyCountRefusal(on, 44), kErrOverloadCountNotAbove);
    EXPECT_EQ(KeyCountRefusal(on, -1), kErrOverloadCountRange);  // a cancelled entry
    EXPECT_EQ(KeyRangeText({1, 2, 1, 5}), "V1.2-V1.5");
    EXPECT_EQ(KeyRangeText({1, 3, 1, 3}), "V1.3-V1.3");
}

}  // namespace
}  // namespace tavrik::ui

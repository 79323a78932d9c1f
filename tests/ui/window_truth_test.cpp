// The window writes to the keyboard a dialog was opened for and to no other, keeps
// painting while a key's macro is rewritten, and shows what the keyboard holds.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include "device/job_runner.h"
#include "device/key_counts.h"
#include "device/notify_payload.h"
#include "device/session.h"
#include "keys/keycodes.h"
#include "sim/sim_init.h"
#include "ui/common/keyboard_guard.h"
#include "ui/keypicker/key_picker.h"
#include "ui/macroedit/marco_dlg.h"
#include "ui/mainwnd/keyboard_view.h"
#include "ui/mainwnd/my_button.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/info_button.h"
#include "ui/widgets/key_hot_spot.h"
#include "ui/widgets/text_buttons.h"
#include "ui/widgets/ui_texts.h"
#include "ui_test_util.h"
#include "window_rig.h"

namespace tavrik::ui {
namespace {

using test::PromptAnswers;
using test::Until;
using test::WindowRig;

constexpr int kMacroSlot = 8;  // the simulated keyboard's macro key (macro on layer 0)

// The first slot whose module plays a plain code on layer 0, or the first waiting one.
int FindSlot(const SessionSnapshot& snap, bool waiting) {
    for (int s = 0; s < kKeysPerPage; ++s) {
        const auto& k = snap.slots[static_cast<size_t>(s)];
        if (!k.Present() || k.stage != 'A' || k.HasMacro()) {
            continue;
        }
        if (waiting ? k.vk[0] == VK_WAIT_SET : (k.vk[0] >= 'A' && k.vk[0] <= 'Z')) {
            return s;
        }
    }
    return -1;
}

// The selected keyboard once its keys are shown, with its scan paused: only the test
// changes its key table from then on.
CCCDev& Quiet(WindowRig& rig) {
    EXPECT_TRUE(rig.UntilKeysShown());
    CCCDev& dev = rig.W().Hub().Session(rig.W().SelDev());
    dev.PauseScan();
    return dev;
}

QString CountsText(const KeyCounts& c) {
    return QString::fromStdString(FillNumbers(GetPromptText("scanresult", g_strLanguage),
                                              {c.total, c.assigned, c.boot, c.blank}));
}

// Two keyboards, the second selected; its key's macro editor is open when the keyboard is
// pulled and another one (another serial) takes its slot: "Write to Key" writes nothing,
// says the keyboard went, and the newcomer keeps its key.
TEST(UiKeyboardIdentity, AMacroEditorNeverWritesToAKeyboardThatTookTheSlot) {
    WindowRig rig(2, 30);
    PromptAnswers answers;
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.UntilKeysShown());
    w.OnNotify(UM_KEYBOARD_SELECT, 0, 1);
    ASSERT_EQ(w.SelDev(), 1);
    ASSERT_TRUE(rig.UntilKeysShown());
    const int before = static_cast<int>(rig.sim->StateOf(1)->modules[0]->hid[0]);
    bool ran = false;
    CMarcoDlg::SetExecHook([&](CMarcoDlg& editor) {
        ran = true;
        editor.show();
        EXPECT_EQ(editor.ContextLine()->text(), QString::fromUtf8("KB 2 · key 1 · layer 0"));
        editor.OnNotify(UM_START_RECORD_MARCO, 0, 0);
        QKeyEvent down(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, 30 + 8, 0, 0);
        QApplication::sendEvent(editor.StepList(), &down);
        editor.OnNotify(UM_STOP_RECORD, 0, 0);

        EXPECT_TRUE(rig.sim->Detach(1));
        EXPECT_TRUE(rig.UntilDevices([&] { return !w.Hub().IsAttached(1); }));
        EXPECT_TRUE(rig.sim->Attach(2, *sim::MakeInitialState(30, 2, 1, 40, 77)));
        EXPECT_TRUE(rig.UntilDevices([&] { return w.Hub().IsAttached(1); }));

        editor.OnNotify(UM_SAVE_RECORD_MARCO, 0, 0);
        EXPECT_FALSE(editor.JobPending());
        EXPECT_TRUE(editor.ContextLine()->text().endsWith(PromptText("contextGone")));
        return 0;
    });
    w.RunMarcoEditor(MarcoEditInputs{0, 0, 0x41, 0, QPoint(0, 0), w.ShownKeyboard()});
    CMarcoDlg::SetExecHook({});
    ASSERT_TRUE(ran);
    ASSERT_EQ(answers.messages.size(), 1u);
    EXPECT_EQ(answers.messages[0].toStdString(),
              "KB 2 is no longer connected: nothing was written to it.");
    EXPECT_EQ(w.Hub().Session(1).Jobs().Pending(), 0);
    const auto newcomer = rig.sim->StateOf(2);
    ASSERT_TRUE(newcomer && newcomer->modules[0]);
    EXPECT_NE(newcomer->modules[0]->hid[0], HID_MARCO);
    EXPECT_EQ(static_cast<int>(rig.sim->StateOf(1)->modules[0]->hid[0]), before);
}

// "Color All Keys" opened on keyboard 1; it is pulled while the chooser is open: the other
// keyboard, selected now, gets nothing.
TEST(UiKeyboardIdentity, AllKeysColourChosenAfterTheKeyboardWentColoursNothing) {
    WindowRig rig(2, 30);
    PromptAnswers answers;
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.UntilKeysShown());
    const auto colours = [&] {
        std::vector<uint32_t> out;
        const auto state = rig.sim->StateOf(1);
        for (const auto& m : state->modules) {
            out.push_back(m ? m->colour : 0);
        }
        return out;
    };
    const std::vector<uint32_t> before = colours();
    int asked = 0;
    UiPrompts::SetColorHook([&](QWidget*, const QColor&) -> std::optional<QColor> {
        ++asked;
        EXPECT_TRUE(rig.sim->Detach(0));
        EXPECT_TRUE(rig.UntilDevices([&] { return w.Hub().Count() == 1; }));
        return QColor(255, 0, 0);
    });
    w.View().AllColorButton().click();
    ASSERT_EQ(asked, 1);
    EXPECT_EQ(w.SelDev(), 1);
    EXPECT_EQ(w.Hub().Session(1).Jobs().Pending(), 0);
    ASSERT_FALSE(answers.messages.empty());
    EXPECT_EQ(answers.messages.back(), KeyboardGuard(w.Hub(), KeyboardRef{0, 1}).GoneText());
    EXPECT_EQ(colours(), before);
}

// The picker is open on the second keyboard when another keyboard arrives: the pick is
// still written to the keyboard it was made for.
TEST(UiKeyboardIdentity, APickMadeWhileAnotherKeyboardArrivesIsWritten) {
    WindowRig rig(2, 30);
    PromptAnswers answers;
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.sim->Detach(0));
    ASSERT_TRUE(rig.UntilDevices([&] { return w.Hub().Count() == 1; }));
    ASSERT_EQ(w.SelDev(), 1);
    ASSERT_TRUE(rig.UntilKeysShown());
    w.Hub().Session(1).PauseScan();
    const int slot = FindSlot(w.Hub().Session(1).Snapshot(), false);
    ASSERT_GE(slot, 0);
    int runs = 0;
    CCVKBDlg::SetExecHook([&](CCVKBDlg& picker) {
        ++runs;
        picker.show();
        EXPECT_TRUE(rig.sim->Attach(0));
        EXPECT_TRUE(rig.UntilDevices([&] { return w.Hub().Count() == 2; }));
        QTest::mouseClick(picker.KeyButton(59), Qt::LeftButton);  // A
        return 0;
    });
    w.View().Key(slot).click();
    CCVKBDlg::SetExecHook({});
    ASSERT_EQ(runs, 1);
    EXPECT_TRUE(answers.messages.empty());
    EXPECT_TRUE(Until([&] {
        return rig.sim->StateOf(1)->modules[static_cast<size_t>(slot)]->hid[0] ==
               HidOfKeyCode(0x41);
    }));
}

// A key whose macro lies on another layer gets its new code and colour through a job: the
// button shows the old value until the job ends, then the keyboard's; the macro stays.
TEST(UiKeyRewrite, AKeyWithAMacroOnAnotherLayerIsRewrittenAsAJob) {
    WindowRig rig(1, 30);
    CTavrikDlg& w = rig.W();
    CCCDev& dev = Quiet(rig);
    ASSERT_EQ(dev.Snapshot().slots[kMacroSlot].vk[0], VK_MARCO);
    w.OnNotify(UM_LAYER_SELECT, 0, 1);
    CMyButton& key = w.View().Key(kMacroSlot);
    const int oldVk = key.Vk();
    ASSERT_NE(oldVk, 0x41);
    const auto macroBefore = rig.sim->StateOf(0)->modules[kMacroSlot]->marco;

    EXPECT_EQ(w.OnNotify(UM_CHANGE_ONE_KEY_VK, kMacroSlot, 0x41), 0);
    EXPECT_EQ(key.Vk(), oldVk) << "the button must wait for the job";
    EXPECT_TRUE(w.StatusText().startsWith(PromptText("keyWriteJob")));
    const QString done = PromptText("keyWriteJob") + ": " + PromptText("jobDone");
    ASSERT_TRUE(Until([&] { return w.StatusText() == done; })) << w.StatusText().toStdString();
    EXPECT_EQ(key.Vk(), 0x41);
    const auto module = rig.sim->StateOf(0)->modules[kMacroSlot];
    EXPECT_EQ(module->hid[0], HID_MARCO);
    EXPECT_EQ(module->hid[1], HidOfKeyCode(0x41));
    EXPECT_EQ(module->marco, macroBefore);

    const uint32_t oldColour = key.Color();
    ASSERT_NE(oldColour, 0x00F000u);
    EXPECT_EQ(w.OnNotify(UM_CHANGE_ONE_KEY_LIGHT_COLOR, kMacroSlot, 0x00F000), 0);
    EXPECT_EQ(key.Color(), oldColour);
    ASSERT_TRUE(Until([&] { return w.StatusText() == done; }));
    EXPECT_EQ(key.Color(), 0x00F000u);
    EXPECT_EQ(rig.sim->StateOf(0)->modules[kMacroSlot]->marco, macroBefore);
}

// After "Color All Keys" every button shows what the key table holds (unassigned keys keep
// their black), the status line says how it ended, then returns to the counts.
TEST(UiKeyRewrite, AllKeysColourShowsWhatTheKeysHoldAndEndsInTheCounts) {
    WindowRig rig(1, 30);
    CTavrikDlg& w = rig.W();
    CCCDev& dev = Quiet(rig);
    const int waiting = FindSlot(dev.Snapshot(), true);
    ASSERT_GE(waiting, 0);
    EXPECT_EQ(w.OnNotify(UM_CHANGE_ONE_KEY_LIGHT_COLOR, kAllKeys, 0x0000F0), 0);
    const QString done = ButtonText("chAllColor") + ": " + PromptText("jobDone");
    ASSERT_TRUE(Until([&] { return w.StatusText() == done; })) << w.StatusText().toStdString();
    const SessionSnapshot snap = dev.Snapshot();
    for (int s = 0; s < kKeysPerPage; ++s) {
        EXPECT_EQ(w.View().Key(s).Color(), snap.slots[static_cast<size_t>(s)].colour & 0xFFFFFF)
            << s;
    }
    EXPECT_NE(w.View().Key(waiting).Color(), 0x0000F0u);
    EXPECT_EQ(w.View().Key(0).Color(), 0x0000F0u);
    ASSERT_TRUE(Until([&] { return w.StatusText() == CountsText(CountsOfTable(snap)); }));
}

// An unassigned key that gets a code counts as assigned at once, not after the next scan.
TEST(UiKeyRewrite, CountsFollowTheKeyTableAfterAnAssignment) {
    WindowRig rig(1, 30);
    CTavrikDlg& w = rig.W();
    CCCDev& dev = Quiet(rig);
    const SessionSnapshot before = dev.Snapshot();
    const int waiting = FindSlot(before, true);
    ASSERT_GE(waiting, 0);
    KeyCounts expected = CountsOfTable(before);
    ASSERT_EQ(w.StatusText(), CountsText(expected));
    EXPECT_EQ(w.OnNotify(UM_CHANGE_ONE_KEY_VK, static_cast<uint32_t>(waiting), 0x41), 0);
    ++expected.assigned;
    --expected.blank;
    EXPECT_EQ(w.StatusText(), CountsText(expected));
}

// A module plugged in while layer 2 is shown: its button shows layer 2's code, never the
// layer-0 code the last insert notification carries.
TEST(UiKeyRewrite, AnInsertedModuleShowsTheShownLayersCode) {
    WindowRig rig(1, 30);
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.UntilKeysShown());
    w.OnNotify(UM_LAYER_SELECT, 0, 2);
    const int slot = 35;
    ASSERT_TRUE(rig.sim->InsertModule(
        0, slot, 0x12345678, 0x70,
        {HidOfKeyCode('A'), HidOfKeyCode('B'), HidOfKeyCode('C'), HidOfKeyCode('D')}, 0));
    CCCDev& dev = w.Hub().Session(0);
    ASSERT_TRUE(Until([&] { return dev.Snapshot().slots[slot].vk[2] == 'C'; }));
    // The insert's last notification: layer 0's code.
    w.OnNotify(UM_INFO_DLG_VK_CHANGE, PackSlotDev(slot, 0), 'A');
    EXPECT_EQ(w.View().Key(slot).Vk(), 'C');
}

// A controller in its bootloader is not "no key modules": the window says it waits for its
// firmware and how to give it one.
TEST(UiKeyRewrite, AControllerInStageBSaysItWaitsForItsFirmware) {
    WindowRig rig(1, 30, {}, false, [](int, sim::SimKeyboardState& s) { s.stage = 'B'; });
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(Until([&] { return w.Hub().Session(0).Snapshot().kbmcStage == 'B'; },
                      std::chrono::seconds(5)))
        << "stage " << int(w.Hub().Session(0).Snapshot().kbmcStage) << " attached "
        << w.Hub().IsAttached(0) << " sim " << rig.sim->StateOf(0)->stage << " status "
        << w.StatusText().toStdString();
    w.OnNotify(UM_INFO_DLG_SUMMARY_CHANGE, PackSummaryState(kSummaryNoKeys, 0), 0);
    EXPECT_EQ(w.StatusText(), PromptText("controllerStageB"));
    EXPECT_TRUE(w.View().HelpPanel().isVisible())
        << w.isVisible() << " " << w.View().KeysShown() << " "
        << w.View().HelpPanel().text().toStdString();
    EXPECT_TRUE(w.View().HelpPanel().text().contains("\n    tavrikctl upgrade controller FILE"))
        << w.View().HelpPanel().text().toStdString();
}

// Every shown key says in its tooltip which key it is, its module, firmware and colour (as
// #RRGGBB), and what its "?", "–" or warning sign means; a slot without a module only its
// number. The texts are looked up once per refresh for the whole page.
TEST(UiKeyRewrite, KeyTooltipsSayTheModuleAndWhatItsMarkMeans) {
    WindowRig rig(1, 30);
    CTavrikDlg& w = rig.W();
    CCCDev& dev = Quiet(rig);
    const SessionSnapshot snap = dev.Snapshot();
    const auto tip = [&](int slot) { return w.View().Key(slot).toolTip(); };
    const auto& red = snap.slots[1];
    ASSERT_EQ(red.colour, 0x000000F0u);
    const QString uid = QString("%1").arg(red.uid, 8, 16, QChar('0')).toUpper();
    EXPECT_EQ(tip(1).toStdString(),
              QString::fromUtf8("Key 2 · Module %1 · firmware V%2.%3 · color #F00000")
                  .arg(uid)
                  .arg(red.verHi)
                  .arg(red.verLo)
                  .toStdString());
    const int waiting = FindSlot(snap, true);
    ASSERT_GE(waiting, 0);
    EXPECT_TRUE(tip(waiting).endsWith("\n" + ButtonText("tipUnassigned")))
        << tip(waiting).toStdString();
    EXPECT_TRUE(tip(9).endsWith("\n" + ButtonText("tipBootloader"))) << tip(9).toStdString();
    EXPECT_EQ(tip(40).toStdString(), "Key 41");
    // Layer 2 of a plain key holds no code.
    w.OnNotify(UM_LAYER_SELECT, 0, 2);
    const int plain = FindSlot(snap, false);
    ASSERT_GE(plain, 0);
    EXPECT_TRUE(tip(plain).endsWith("\n" + ButtonText("tipNoCode"))) << tip(plain).toStdString();
}

}  // namespace
}  // namespace tavrik::ui

namespace tavrik::ui {
namespace {

// The window started on `backend` in `language`; `check` is given its help panel, which
// must be seen whole (inside the window, the wrapped text fitting) with its commands
// selectable for copying.
void ExpectHelpShownWhole(
    std::unique_ptr<HidBackend> (*backend)(),
    const std::function<void(CTavrikDlg&, const QString&, const std::string&)>& check) {
    for (const std::string language : {"en", "zh-cn"}) {
        tavrik::test::TempFolder tmp;
        ::setenv("LOCALAPPDATA", (tmp.path / "local").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (tmp.path / "config").c_str(), 1);
        g_strLanguage = language;  // as the start reads it from the settings file
        PromptAnswers answers;     // the device monitor may not start here: its message is answered
        CTavrikDlg w;
        MainWindowSetup setup;
        setup.backend = backend();
        setup.dataFolder = tmp.path / "data";
        setup.askLanguage = false;
        w.Init(std::move(setup));
        const QLabel& help = w.View().HelpPanel();
        ASSERT_TRUE(help.isVisible()) << language;
        check(w, help.text(), language);
        EXPECT_EQ(help.text().contains(QString::fromUtf8("键盘")), language == "zh-cn");
        EXPECT_TRUE(w.rect().contains(help.geometry()));
        EXPECT_TRUE(help.wordWrap());
        EXPECT_LE(help.heightForWidth(help.width()), help.height()) << language;
        EXPECT_TRUE(help.textInteractionFlags() & Qt::TextSelectableByMouse);
    }
    g_strLanguage = "en";
}

// The permission help (some 300 characters) is shown whole where it can be read and its
// commands copied; the status line keeps a headline that fits.
TEST(UiDeniedKeyboard, ThePermissionHelpIsShownWholeAndSelectable) {
    ExpectHelpShownWhole(
        []() -> std::unique_ptr<HidBackend> {
            return std::make_unique<tavrik::test::DeniedBackend>();
        },
        [](CTavrikDlg& w, const QString& text, const std::string& language) {
            EXPECT_EQ(w.StatusText(), PromptText("deniedTitle"));
            EXPECT_TRUE(text.contains("/dev/hidraw7"));
            EXPECT_TRUE(text.contains("sudo udevadm control --reload && sudo udevadm trigger"));
            // In the window's language, through the text tables.
            EXPECT_TRUE(text.contains(QString::fromStdString(
                FillTexts(GetPromptText("deniedNode", language), {"/dev/hidraw7"}))))
                << text.toStdString();
        });
}

// Without hidapi the window does not look as if no keyboard were plugged in: it says why
// none can be reached and what to install.
TEST(UiUnreachableKeyboards, TheMissingLibraryAndWhatToInstallAreSaid) {
    ExpectHelpShownWhole(
        []() -> std::unique_ptr<HidBackend> {
            return std::make_unique<tavrik::test::UnreachableBackend>();
        },
        [](CTavrikDlg& w, const QString& text, const std::string&) {
            EXPECT_EQ(w.StatusText(), PromptText("unreachableTitle"));
            EXPECT_TRUE(text.contains("cannot load libhidapi-hidraw.so.0: file too short"))
                << text.toStdString();
            EXPECT_TRUE(text.contains("sudo apt install libhidapi-hidraw0"));
        });
}

// With a key's picker open, F5 is pressed on the computer's keyboard, then Enter: the
// keyboard's key plays F5.
TEST(UiKeyPickerPress, F5PressedWithThePickerOpenIsAssigned) {
    WindowRig rig(1, 30);
    PromptAnswers answers;
    CTavrikDlg& w = rig.W();
    CCCDev& dev = Quiet(rig);
    ASSERT_EQ(dev.Snapshot().curLayer & 3, 0);
    const int slot = FindSlot(dev.Snapshot(), false);
    ASSERT_GE(slot, 0);
    int runs = 0;
    CCVKBDlg::SetExecHook([&](CCVKBDlg& picker) {
        ++runs;
        picker.show();
        test::PressNativeKey(&picker, 63, Qt::Key_F5);
        test::PressNativeKey(&picker, 28, Qt::Key_Return);
        EXPECT_FALSE(picker.isVisible());
        return 0;
    });
    w.View().Key(slot).click();
    CCVKBDlg::SetExecHook({});
    ASSERT_EQ(runs, 1);
    EXPECT_TRUE(answers.messages.empty());
    EXPECT_TRUE(Until([&] {
        return rig.sim->StateOf(0)->modules[static_cast<size_t>(slot)]->hid[0] ==
               HidOfKeyCode(0x74);
    }));
    EXPECT_EQ(w.View().Key(slot).Vk(), 0x74);
}

}  // namespace
}  // namespace tavrik::ui

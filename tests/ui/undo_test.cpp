// Undo and redo in the windows, over simulated keyboards: the main window's key changes
// (the simulated keyboard agrees at each step, a cable pulled mid-undo, a change made
// elsewhere) and the macro editor's step list.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QShortcut>
#include <QStringList>
#include <QTest>
#include <algorithm>

#include "device/edit_history.h"
#include "device/job_runner.h"
#include "device/keyboard_hub.h"
#include "device/session.h"
#include "keys/keycodes.h"
#include "protocol/protocol.h"
#include "sim/sim_backend.h"
#include "ui/common/keyboard_guard.h"
#include "ui/macroedit/marco_dlg.h"
#include "ui/mainwnd/keyboard_view.h"
#include "ui/mainwnd/main_window.h"
#include "ui/mainwnd/my_button.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/undo_buttons.h"
#include "window_rig.h"

namespace tavrik::ui {
namespace {

using test::Until;
using test::WindowRig;

constexpr uint8_t kF1 = 0x70;
constexpr uint8_t kF2 = 0x71;
constexpr uint32_t kBlue = 0xF00000;

// Ctrl+Z or Ctrl+Shift+Z of `window`, as its shortcut fires.
void Shortcut(QWidget& window, bool redo) {
    const QKeySequence wanted =
        redo ? QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z) : QKeySequence(Qt::CTRL | Qt::Key_Z);
    for (QShortcut* s : window.findChildren<QShortcut*>()) {
        if (s->key() == wanted) {
            Q_EMIT s->activated();
            return;
        }
    }
    ADD_FAILURE() << "no shortcut " << wanted.toString().toStdString();
}

struct UndoWindow {
    WindowRig rig{1, 30};
    int slot = -1;

    UndoWindow() {
        EXPECT_TRUE(rig.UntilKeysShown());
        const SessionSnapshot snap = Dev().Snapshot();
        for (int s = 0; s < 30 && slot < 0; ++s) {
            const auto& k = snap.slots[static_cast<size_t>(s)];
            if (k.Present() && k.stage == 'A' && !k.HasMacro() && k.vk[0] != VK_WAIT_SET) {
                slot = s;
            }
        }
        EXPECT_GE(slot, 0);
    }
    CTavrikDlg& W() { return rig.W(); }
    CCCDev& Dev() { return W().Hub().Session(0); }
    EditHistory& History() { return W().HistoryOf(0); }
    // The simulated module of `slot`: its layer-0 HID value and colour.
    std::pair<uint8_t, uint32_t> Held() {
        const auto state = rig.sim->StateOf(0);
        const auto& m = state->modules[static_cast<size_t>(slot)];
        return m ? std::pair{m->hid[0], m->colour & 0xF0F0F0} : std::pair{uint8_t{0}, 0U};
    }
    bool Settled() {
        return Until([&] { return !History().Busy(); });
    }
};

TEST(UiUndo, KeyChangesAreUndoneAndRedoneOnTheKeyboard) {
    UndoWindow u;
    ASSERT_GE(u.slot, 0);
    const auto start = u.Held();
    CTavrikDlg& w = u.W();
    EXPECT_FALSE(w.UndoButton(false).isEnabled());
    EXPECT_FALSE(w.UndoButton(false).toolTip().isEmpty());
    const auto s = static_cast<uint32_t>(u.slot);
    ASSERT_EQ(w.OnNotify(UM_CHANGE_ONE_KEY_VK, s, kF1), 0);
    ASSERT_EQ(w.OnNotify(UM_CHANGE_ONE_KEY_VK, s, kF2), 0);
    ASSERT_EQ(w.OnNotify(UM_CHANGE_ONE_KEY_LIGHT_COLOR, s, static_cast<int32_t>(kBlue)), 0);
    EXPECT_TRUE(w.UndoButton(false).isEnabled());
    EXPECT_FALSE(w.UndoButton(true).isEnabled());
    const std::pair<uint8_t, uint32_t> f1{HidOfKeyCode(kF1), start.second};
    const std::pair<uint8_t, uint32_t> f2{HidOfKeyCode(kF2), start.second};
    const std::pair<uint8_t, uint32_t> blue{HidOfKeyCode(kF2), kBlue};
    ASSERT_TRUE(Until([&] { return u.Held() == blue; }));

    // Back three steps with Ctrl+Z, each one reaching the keyboard.
    for (const auto& want : {f2, f1, start}) {
        Shortcut(w, false);
        ASSERT_TRUE(u.Settled());
        EXPECT_TRUE(Until([&] { return u.Held() == want; }))
            << int(u.Held().first) << " " << u.Held().second;
        EXPECT_EQ(w.View().Key(u.slot).Vk(), u.Dev().Snapshot().slots[s].vk[0]);
    }
    EXPECT_FALSE(w.UndoButton(false).isEnabled());
    Shortcut(w, false);
    EXPECT_EQ(w.StatusText(), "Nothing to undo on this keyboard.");

    // Forward again with the redo button and Ctrl+Shift+Z.
    QTest::mouseClick(&w.UndoButton(true), Qt::LeftButton);
    ASSERT_TRUE(u.Settled());
    EXPECT_TRUE(Until([&] { return u.Held() == f1; }));
    Shortcut(w, true);
    ASSERT_TRUE(u.Settled());
    EXPECT_TRUE(Until([&] { return u.Held() == f2; }));
    EXPECT_EQ(u.History().UndoCount(), 2U);
    EXPECT_EQ(u.History().RedoCount(), 1U);
}

TEST(UiUndo, AChangeMadeElsewhereEndsTheHistory) {
    UndoWindow u;
    ASSERT_GE(u.slot, 0);
    CTavrikDlg& w = u.W();
    ASSERT_EQ(w.OnNotify(UM_CHANGE_ONE_KEY_VK, static_cast<uint32_t>(u.slot), kF1), 0);
    ASSERT_EQ(u.History().UndoCount(), 1U);
    // The window's own write has reached the keyboard before the other one is made.
    ASSERT_TRUE(u.Settled());
    ASSERT_TRUE(Until([&] { return u.Held().first == HidOfKeyCode(kF1); }));
    // Another front end gives the key another code: undoing would write over it. The
    // write is queued, not acknowledged: wait until the keyboard holds it.
    ASSERT_EQ(u.Dev().AssignKey(u.slot, 0, kF2, true), 0);
    ASSERT_TRUE(Until([&] { return u.Held().first == HidOfKeyCode(kF2); }));
    Shortcut(w, false);
    EXPECT_EQ(w.StatusText(), "Nothing to undo on this keyboard.");
    ASSERT_TRUE(u.Settled());
    EXPECT_EQ(u.Held().first, HidOfKeyCode(kF2));
}

TEST(UiUndo, ACablePulledMidUndoSaysSoAndTheNextAttachHasNoHistory) {
    UndoWindow u;
    ASSERT_GE(u.slot, 0);
    CTavrikDlg& w = u.W();
    ASSERT_EQ(w.OnNotify(UM_CHANGE_ONE_KEY_VK, static_cast<uint32_t>(u.slot), kF1), 0);
    ASSERT_TRUE(u.rig.sim->UnplugAfter(0, CodeByte(ReportCode::CmdWriteKeyConfig), 1));
    const KeyboardRef before = w.Hub().Ref(0);
    // What the status line said after each of the keyboard's notifications.
    QStringList said;
    QObject::connect(&w, &CTavrikDlg::engineNotified, &w,
                     [&](uint32_t) { said << w.StatusText(); });
    Shortcut(w, false);
    ASSERT_TRUE(u.rig.UntilDevices([&] { return !w.Hub().IsAttached(0); }));
    said << w.StatusText();
    // The undo's end was said, before the removal or by it.
    const QString caption = "Undoing the key change (KB 1";
    const bool told = std::any_of(said.begin(), said.end(), [&](const QString& text) {
        return text.startsWith("KB 1 is no longer connected") ||
               (text.startsWith(caption) && (text.contains(": failed") || text.contains(": done")));
    });
    EXPECT_TRUE(told) << said.join(" | ").toStdString();
    ASSERT_TRUE(u.rig.sim->Attach(0));
    ASSERT_TRUE(u.rig.UntilDevices([&] { return w.Hub().IsAttached(0); }));
    EXPECT_NE(w.Hub().Ref(0), before);
    EXPECT_EQ(w.HistoryOf(0).UndoCount(), 0U);
    EXPECT_FALSE(w.UndoButton(false).isEnabled());
}

TEST(UiUndo, TheMacroEditorTakesBackStepListEdits) {
    WindowRig rig{1, 30};
    ASSERT_TRUE(rig.UntilKeysShown());
    CMarcoDlg dlg(KeyboardGuard(rig.W().Hub(), 0), 0, 0);
    dlg.m_position = {0, 0};
    dlg.Prepare();
    dlg.show();
    const auto count = [&] { return dlg.StepList()->count(); };
    EXPECT_FALSE(dlg.UndoButton(false)->isEnabled());
    dlg.OnNotify(UM_INSERT_GUI_DOWN, 0, 0);
    dlg.OnNotify(UM_INSERT_GUI_UP, 0, 0);
    ASSERT_EQ(count(), 4);
    EXPECT_TRUE(dlg.UndoButton(false)->isEnabled());
    Shortcut(dlg, false);
    EXPECT_EQ(count(), 2);
    QTest::mouseClick(dlg.UndoButton(false), Qt::LeftButton);
    EXPECT_EQ(count(), 0);
    EXPECT_FALSE(dlg.UndoButton(false)->isEnabled());
    Shortcut(dlg, true);
    EXPECT_EQ(count(), 2);
    EXPECT_TRUE(dlg.Unsaved());
    QTest::mouseClick(dlg.UndoButton(true), Qt::LeftButton);
    EXPECT_EQ(count(), 4);
    EXPECT_FALSE(dlg.UndoButton(true)->isEnabled());
}

}  // namespace
}  // namespace tavrik::ui

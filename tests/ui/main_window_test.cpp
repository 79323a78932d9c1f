#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include <QTest>

#include "device/notify_payload.h"
#include "device/session.h"
#include "keys/keycodes.h"
#include "sim/sim_file.h"
#include "sim/sim_keyboard.h"
#include "ui/mainwnd/keyboard_view.h"
#include "ui/mainwnd/my_button.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/keyboard_tab.h"
#include "ui/widgets/picture_buttons.h"
#include "ui/widgets/text_buttons.h"
#include "window_rig.h"

namespace tavrik::ui {
namespace {

using test::Until;
using test::WindowRig;

int VisibleKeys(KeyboardView& view) {
    int n = 0;
    for (int s = 0; s < 90; ++s) {
        n += view.Key(s).isVisible() ? 1 : 0;
    }
    return n;
}

TEST(UiMainWindow, StartsWithTwoKeyboardsShowsTheFirstAndItsKeys) {
    WindowRig rig(2, 60);
    CTavrikDlg& w = rig.W();
    EXPECT_TRUE(w.Hub().IsAttached(0));
    EXPECT_TRUE(w.Hub().IsAttached(1));
    EXPECT_EQ(w.SelDev(), 0);
    ASSERT_TRUE(rig.UntilKeysShown()) << w.StatusText().toStdString();
    KeyboardView& view = w.View();
    EXPECT_TRUE(view.KeyboardTab(0).Selected());
    EXPECT_FALSE(view.KeyboardTab(1).Selected());
    EXPECT_FALSE(view.KeyboardTab(1).Disabled());
    EXPECT_TRUE(view.KeyboardTab(2).Disabled());
    EXPECT_EQ(VisibleKeys(view), 45);
    EXPECT_FALSE(view.PromptPicture().isVisible());
    // 60 modules: the next-page button only.
    EXPECT_TRUE(view.NextPageButton().isVisible());
    EXPECT_FALSE(view.PrevPageButton().isVisible());
    // The buttons show the key table of layer 0.
    ASSERT_TRUE(Until([&] {
        const SessionSnapshot snap = w.Hub().Session(0).Snapshot();
        for (int s = 0; s < 45; ++s) {
            if (view.Key(s).Vk() != snap.slots[static_cast<size_t>(s)].vk[0]) {
                return false;
            }
        }
        return true;
    }));
}

// Controls added over time (tool buttons, undo arrows, keyboard tabs) each need a place of
// their own: one drawn over another cannot be read or clicked.
TEST(UiMainWindow, NoTwoControlsOfTheWindowOverlap) {
    WindowRig rig(4, 12);
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.UntilKeysShown());
    std::vector<QWidget*> shown;
    for (QWidget* child : w.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->isVisible() && !child->geometry().isEmpty()) {
            shown.push_back(child);
        }
    }
    ASSERT_GE(shown.size(), 10u);
    // A key's button sits on its colour cell by design.
    auto keyOnItsCell = [](QWidget* a, QWidget* b) {
        return (a->inherits("tavrik::ui::CMyButton") && b->inherits("tavrik::ui::CInfoButton")) ||
               (b->inherits("tavrik::ui::CMyButton") && a->inherits("tavrik::ui::CInfoButton"));
    };
    for (size_t i = 0; i < shown.size(); ++i) {
        for (size_t j = i + 1; j < shown.size(); ++j) {
            if (keyOnItsCell(shown[i], shown[j])) {
                continue;
            }
            EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                << shown[i]->metaObject()->className() << " '"
                << shown[i]->objectName().toStdString() << "' and "
                << shown[j]->metaObject()->className() << " '"
                << shown[j]->objectName().toStdString() << "'";
        }
    }
}

TEST(UiMainWindow, NoKeyboardWaitsWithTheConnectPicture) {
    WindowRig rig(0);
    EXPECT_EQ(rig.W().StatusText().toStdString(), "Waiting for a keyboard. Plug one in to begin.");
    EXPECT_EQ(VisibleKeys(rig.W().View()), 0);
    EXPECT_EQ(rig.W().View().PromptPicture().State(), 1);
}

TEST(UiMainWindow, NotificationsOfTheOtherKeyboardChangeNothing) {
    WindowRig rig(2, 60);
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.UntilKeysShown());
    const QString status = w.StatusText();
    const int before = w.View().Key(3).Vk();
    EXPECT_EQ(w.OnNotify(UM_INFO_DLG_VK_CHANGE, PackSlotDev(3, 1), 0x41), 1);
    EXPECT_EQ(w.View().Key(3).Vk(), before);
    EXPECT_EQ(w.OnNotify(UM_INFO_DLG_SUMMARY_CHANGE, PackSummaryState(kSummaryScanning, 1), 0), 1);
    EXPECT_EQ(w.StatusText(), status);
    EXPECT_EQ(w.OnNotify(UM_KEY_PRESSED, PackSlotDev(50, 1), 0), 1);
    EXPECT_EQ(w.View().ShownPage(), 0);
}

TEST(UiMainWindow, SummaryFillsTheCountsInOrder) {
    WindowRig rig(1, 60);
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.UntilKeysShown());
    w.Hub().Session(0).PauseScan();
    EXPECT_EQ(w.OnNotify(UM_INFO_DLG_SUMMARY_CHANGE, PackSummaryState(kSummaryKeysFound, 0),
                         static_cast<int32_t>(PackCounts(5, 3, 1, 0))),
              0);
    EXPECT_EQ(w.StatusText().toStdString(),
              "Key modules: 5 in total, 3 assigned, 1 in bootloader, 0 unassigned");
    EXPECT_EQ(w.OnNotify(UM_INFO_DLG_SUMMARY_CHANGE, PackSummaryState(kSummaryNoKeys, 0), 0), 0);
    // The round's end redraws the page: still nothing to edit over the prompt picture.
    EXPECT_EQ(w.OnNotify(UM_INFO_DLG_UPDATE_ALL_KEY_DISPLAY, 0, 0), 0);
    EXPECT_EQ(VisibleKeys(w.View()), 0);
    EXPECT_EQ(w.View().PromptPicture().State(), 2);
    EXPECT_FALSE(w.View().LayerButton(0).isVisible());
    EXPECT_FALSE(w.View().AllColorButton().isVisible());
    EXPECT_FALSE(w.View().NextPageButton().isVisible());
}

TEST(UiMainWindow, KeyPressedOnTheOtherPageSwitchesAndSelects) {
    WindowRig rig(1, 60);
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.UntilKeysShown());
    w.View().Key(3).SetSelected(true);
    // The physical key of slot 50 goes down on the simulated keyboard.
    ASSERT_TRUE(rig.sim->KeyDown(0, 50, 0, false));
    ASSERT_TRUE(Until([&] { return w.View().Key(50).Selected(); }));
    EXPECT_EQ(w.View().ShownPage(), 1);
    EXPECT_TRUE(w.View().PrevPageButton().isVisible());
    EXPECT_FALSE(w.View().Key(3).isVisible());
    ASSERT_TRUE(rig.sim->KeyUp(0, 50, 0, 0));
    ASSERT_TRUE(Until([&] { return !w.View().Key(50).Selected(); }));
}

TEST(UiMainWindow, AKeyCodeIsWrittenToTheKeyboardAndARefusalRestoresTheButton) {
    WindowRig rig(1, 60);
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.UntilKeysShown());
    w.Hub().Session(0).PauseScan();
    // The first module that holds a plain key on layer 0.
    int slot = -1;
    const SessionSnapshot snap = w.Hub().Session(0).Snapshot();
    for (int s = 0; s < 45 && slot < 0; ++s) {
        const auto& k = snap.slots[static_cast<size_t>(s)];
        if (k.Present() && k.stage == 'A' && !k.HasMacro() && k.vk[0] != VK_WAIT_SET) {
            slot = s;
        }
    }
    ASSERT_GE(slot, 0);
    EXPECT_EQ(w.OnNotify(UM_CHANGE_ONE_KEY_VK, static_cast<uint32_t>(slot), 0x70), 0);  // F1
    EXPECT_EQ(w.View().Key(slot).Vk(), 0x70);
    ASSERT_TRUE(Until([&] {
        const auto state = rig.sim->StateOf(0);
        const auto& module = state->modules[static_cast<size_t>(slot)];
        return module && module->hid[0] == HidOfKeyCode(0x70);
    }));
    // A state code is refused: nothing is written and the button shows F1 again.
    w.View().Key(slot).SetVk(VK_WAIT_SET);
    EXPECT_EQ(w.OnNotify(UM_CHANGE_ONE_KEY_VK, static_cast<uint32_t>(slot), VK_WAIT_SET), 1);
    EXPECT_EQ(w.View().Key(slot).Vk(), 0x70);
    EXPECT_EQ(w.OnNotify(UM_CHANGE_ONE_KEY_VK, 90, 0x41), -1);
}

TEST(UiMainWindow, LayerAndKeyboardSelectionKeepTheLayer) {
    WindowRig rig(2, 60);
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.UntilKeysShown());
    QTest::mouseClick(&w.View().LayerButton(2), Qt::LeftButton);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(w.Hub().Session(i).Snapshot().curLayer, 2);
    }
    EXPECT_TRUE(w.View().LayerButton(2).Selected());
    EXPECT_FALSE(w.View().LayerButton(0).Selected());
    QTest::mouseClick(&w.View().KeyboardTab(1), Qt::LeftButton);
    EXPECT_EQ(w.SelDev(), 1);
    EXPECT_TRUE(w.View().KeyboardTab(1).Selected());
    EXPECT_FALSE(w.View().KeyboardTab(0).Selected());
    ASSERT_TRUE(rig.UntilKeysShown());
    // Keyboard 1 may still be in its first pass: its keys follow the table as the pass
    // goes on, so the view is held to the table once the pass ended and was shown.
    const auto shownLayer2 = [&] {
        const SessionSnapshot snap = w.Hub().Session(1).Snapshot();
        for (int s = 0; s < 45; ++s) {
            if (w.View().Key(s).Vk() != snap.slots[static_cast<size_t>(s)].vk[2]) {
                return false;
            }
        }
        return !w.Hub().Session(1).IsScanBusy();
    };
    if (!Until(shownLayer2)) {
        const SessionSnapshot snap = w.Hub().Session(1).Snapshot();
        for (int s = 0; s < 45; ++s) {
            EXPECT_EQ(w.View().Key(s).Vk(), snap.slots[static_cast<size_t>(s)].vk[2]) << s;
        }
        ADD_FAILURE() << "scan busy: " << w.Hub().Session(1).IsScanBusy();
    }
    // A disabled tab sends nothing.
    QTest::mouseClick(&w.View().KeyboardTab(3), Qt::LeftButton);
    EXPECT_EQ(w.SelDev(), 1);
}

TEST(UiMainWindow, PulledKeyboardsMoveTheSelectionAndTheLastLeavesTheConnectPicture) {
    WindowRig rig(2, 30);
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.UntilKeysShown());
    ASSERT_TRUE(rig.sim->Detach(0));
    ASSERT_TRUE(Until([&] {
        w.ProcessDeviceEvents();
        return !w.Hub().IsAttached(0);
    }));
    EXPECT_EQ(w.SelDev(), 1);
    EXPECT_TRUE(w.View().KeyboardTab(0).Disabled());
    EXPECT_TRUE(w.View().KeyboardTab(1).Selected());
    ASSERT_TRUE(rig.UntilKeysShown());

    ASSERT_TRUE(rig.sim->Detach(1));
    ASSERT_TRUE(Until([&] {
        w.ProcessDeviceEvents();
        return w.Hub().Count() == 0;
    }));
    EXPECT_EQ(w.StatusText().toStdString(), "Keyboard removed. Waiting for a keyboard.");
    EXPECT_EQ(VisibleKeys(w.View()), 0);
    EXPECT_EQ(w.View().PromptPicture().State(), 1);

    // Back in: it gets a tab and is shown.
    ASSERT_TRUE(rig.sim->Attach(1));
    ASSERT_TRUE(Until([&] {
        w.ProcessDeviceEvents();
        return w.Hub().Count() == 1;
    }));
    EXPECT_FALSE(w.View().KeyboardTab(w.SelDev()).Disabled());
    ASSERT_TRUE(rig.UntilKeysShown());
}

TEST(UiMainWindow, LayerRelayGoesToEveryOtherKeyboardOnly) {
    WindowRig rig(3, 20);
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.UntilKeysShown());
    for (int i = 0; i < 3; ++i) {
        w.Hub().Session(i).PauseScan();
    }
    const auto relayed = [&](int k) {
        bool seen = false;
        rig.sim->WithKeyboard(k, [&](sim::SimKeyboard& kb) {
            const auto sw = kb.LastLayerSwitch();
            seen = sw && sw->layerKey == 0xD2 && sw->devicePlusOne == 2;
        });
        return seen;
    };
    const LayerEvent press = LayerPressEvent(4, 0xD2, false, 1);
    EXPECT_EQ(w.OnNotify(UM_OTHER_KEYBOARD_SWITCH_LAYER, PackLayerEvent(press), 0), 1);
    ASSERT_TRUE(Until([&] { return relayed(0) && relayed(2); }));
    EXPECT_FALSE(relayed(1));
}

TEST(UiMainWindow, ClosingWhileKeyboardsScanEndsWithoutAHang) {
    WindowRig rig(2, 90);
    // No wait for the scans: the window goes while both keyboards are busy.
    Until([] { return false; }, std::chrono::milliseconds(30));
    rig.window.reset();
    // The shared simulator file is left whole, with both keyboards and their modules.
    std::vector<sim::SimFileKeyboard> kept;
    ASSERT_EQ(sim::ReadSimFile(rig.simFile, kept), sim::SimFileError::None);
    ASSERT_EQ(kept.size(), 2u);
    for (const auto& k : kept) {
        EXPECT_TRUE(k.attached);
        EXPECT_EQ(std::count_if(k.state.modules.begin(), k.state.modules.end(),
                                [](const auto& m) { return m.has_value(); }),
                  90);
    }
}

}  // namespace
}  // namespace tavrik::ui

namespace tavrik::ui {
namespace {

// The keyboard goes while its 90 keys change colour: the job ends, the window waits for a
// keyboard again and nothing hangs.
TEST(UiMainWindow, PullingTheKeyboardDuringAllKeysColourEndsTheJob) {
    test::WindowRig rig(1, 90);
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.UntilKeysShown());
    EXPECT_EQ(w.OnNotify(UM_CHANGE_ONE_KEY_LIGHT_COLOR, kAllKeys, 0x0000F0), 0);
    ASSERT_TRUE(test::Until([&] { return w.StatusText().contains('%'); }));
    ASSERT_TRUE(rig.sim->Detach(0));
    ASSERT_TRUE(test::Until([&] {
        w.ProcessDeviceEvents();
        return w.Hub().Count() == 0;
    }));
    EXPECT_EQ(w.StatusText().toStdString(), "Keyboard removed. Waiting for a keyboard.");
    ASSERT_TRUE(rig.sim->Attach(0));
    ASSERT_TRUE(test::Until([&] {
        w.ProcessDeviceEvents();
        return w.Hub().Count() == 1;
    }));
    ASSERT_TRUE(rig.UntilKeysShown());
}

}  // namespace
}  // namespace tavrik::ui

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "app/app_globals.h"
#include "app/texts.h"
#include "keys/picker_table.h"
#include "ui/keypicker/key_picker.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/key_hot_spot.h"
#include "ui/widgets/result_show_button.h"
#include "ui/widgets/text_buttons.h"
#include "ui_test_util.h"

namespace tavrik::ui {
namespace {

using test::PromptAnswers;

// The language of the texts and pictures, restored after each test.
struct English {
    std::string saved = g_strLanguage;
    English() { g_strLanguage = "en"; }
    ~English() { g_strLanguage = saved; }
};

TEST(UiKeyPicker, LayerKeysOnlyOnLayerZeroAndDisabledEntriesNever) {
    English english;
    for (const int layer : {0, 1, 3}) {
        CCVKBDlg dlg;
        dlg.m_layer = layer;
        dlg.Prepare();
        for (int i = 128; i <= 131; ++i) {
            CKeyButton* key = dlg.KeyButton(i);
            EXPECT_EQ(key != nullptr, layer == 0) << "entry " << i << " layer " << layer;
            if (key) {
                EXPECT_EQ(key->objectName(), QString::number(15000 + i));
                EXPECT_EQ(key->KeyCode(), PickerKeyTable()[i].keyCode);
            }
        }
        // Disabled entries never get a button: the window follows the table's rule.
        for (int i = 0; i < kPickerKeyCount; ++i) {
            EXPECT_EQ(dlg.KeyButton(i) != nullptr, PickerKeyOffered(i, layer)) << "entry " << i;
        }
        EXPECT_EQ(dlg.findChildren<CKeyButton*>().size(), layer == 0 ? 133 : 129);
        EXPECT_EQ(dlg.KeyboardPicture(),
                  layer == 0 ? "res/uipics/vk-en-L0.png" : "res/uipics/vk-en.png");
    }
    g_strLanguage = "zh-cn";
    CCVKBDlg chinese;
    chinese.m_layer = 2;
    EXPECT_EQ(chinese.KeyboardPicture(), "res/uipics/vk-ch.png");
}

TEST(UiKeyPicker, MacroRefusedWhenAnotherLayerHoldsOne) {
    English english;
    PromptAnswers answers;
    const std::array<int, 4> codes = {0x3C, 0x04, 0x05, 0x06};
    {
        CCVKBDlg dlg;
        dlg.m_layer = 1;
        dlg.m_layerCodes = codes;
        dlg.show();
        QTest::mouseClick(dlg.MarcoButton(), Qt::LeftButton);
        EXPECT_FALSE(dlg.m_bMarco);
        EXPECT_TRUE(dlg.isVisible());
        ASSERT_EQ(answers.messages.size(), 1u);
        EXPECT_EQ(answers.messages[0].toStdString(), GetPromptText("limitationMarcoCount", "en"));
    }
    {
        CCVKBDlg dlg;
        dlg.m_layer = 0;  // the macro is on the layer being edited
        dlg.m_layerCodes = codes;
        dlg.show();
        QTest::mouseClick(dlg.MarcoButton(), Qt::LeftButton);
        EXPECT_TRUE(dlg.m_bMarco);
        EXPECT_FALSE(dlg.m_bVkChange);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(answers.messages.size(), 1u);
    }
}

TEST(UiKeyPicker, ColourThenCloseReportsOnlyTheColour) {
    PromptAnswers answers;
    answers.color = QColor(0x10, 0x20, 0x30);
    CCVKBDlg dlg;
    dlg.m_vk = 0x41;
    dlg.show();
    QTest::mouseClick(dlg.ColorButton(), Qt::LeftButton);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.ShownColor(), 0x302010u);
    EXPECT_EQ(dlg.Display()->FillColor(), 0x302010u);
    EXPECT_EQ(dlg.Display()->ShownText(), "A");
    QTest::mouseClick(dlg.CloseButton(), Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(dlg.m_bColorChange);
    EXPECT_EQ(dlg.m_color, 0x302010u);
    EXPECT_FALSE(dlg.m_bVkChange);
    EXPECT_FALSE(dlg.m_bMarco);
    EXPECT_EQ(dlg.m_vk, 0x41);
}

TEST(UiKeyPicker, EscapeAndBackCloseWithoutAChoice) {
    for (const bool escape : {true, false}) {
        CCVKBDlg dlg;
        dlg.m_vk = 0x41;
        dlg.show();
        if (escape) {
            QTest::keyClick(&dlg, Qt::Key_Escape);
        } else {
            QTest::mouseClick(dlg.BackButton(), Qt::LeftButton);
        }
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_FALSE(dlg.m_bVkChange || dlg.m_bColorChange || dlg.m_bMarco);
    }
}

TEST(UiKeyPicker, DisplayFollowsNotificationsAndRestoresTheStart) {
    CCVKBDlg dlg;
    dlg.m_vk = 0x41;
    dlg.Prepare();
    dlg.OnNotify(UM_SHOW_VK, 0, 0x42);
    EXPECT_EQ(dlg.Display()->ShownText(), "B");
    EXPECT_FALSE(dlg.m_bVkChange);
    dlg.OnNotify(UM_RESTORE_VK, 0, 0);
    EXPECT_EQ(dlg.ShownKeyCode(), 0x41);
    dlg.OnNotify(UM_CHANGE_ONE_KEY_VK, 0, 0x43);
    EXPECT_TRUE(dlg.m_bVkChange);
    EXPECT_EQ(dlg.Display()->ShownText(), "C");
}

TEST(UiKeyPicker, AHotSpotClickPicksTheKeyAndEndsTheModalRun) {
    CCVKBDlg dlg;
    dlg.m_layer = 1;
    dlg.m_vk = 0x41;
    // Entry 60 is the S key; click it at its place in the window once the run started.
    const PickerKey& s = PickerKeyTable()[60];
    bool clicked = false;
    QTimer::singleShot(0, &dlg, [&] {
        clicked = true;
        QWidget* under = dlg.childAt(s.x + s.width / 2, s.y + s.height / 2);
        ASSERT_EQ(under, dlg.KeyButton(60));
        QTest::mouseClick(under, Qt::LeftButton);
    });
    QTimer watchdog;  // a broken close must fail the test, not hang it
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &dlg, &QDialog::reject);
    watchdog.start(30000);
    dlg.RunModal();
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(dlg.m_bVkChange);
    EXPECT_EQ(dlg.m_vk, 0x53);
    EXPECT_FALSE(dlg.m_bColorChange);
}

TEST(UiKeyPicker, NegativePositionMeansTheBottomRightOfTheWorkArea) {
    CCVKBDlg::SetExecHook([](CCVKBDlg&) { return 0; });
    CCVKBDlg dlg;
    dlg.m_position = QPoint(-5, 100);
    dlg.RunModal();
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(dlg.pos(), QPoint(work.right() + 1 - 1060, work.bottom() + 1 - 560));
    dlg.m_position = QPoint(30, 40);
    dlg.RunModal();
    EXPECT_EQ(dlg.pos(), QPoint(30, 40));
    CCVKBDlg::SetExecHook({});
}

}  // namespace
}  // namespace tavrik::ui

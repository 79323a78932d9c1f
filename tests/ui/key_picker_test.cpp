#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "app/app_globals.h"
#include "app/texts.h"
#include "keys/picker_table.h"
#include "ui/keypicker/key_picker.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/info_button.h"
#include "ui/widgets/key_hot_spot.h"
#include "ui/widgets/result_show_button.h"
#include "ui/widgets/text_buttons.h"
#include "ui_test_util.h"

namespace tavrik::ui {
namespace {

using test::PressNativeKey;
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

// ---- A key by pressing it, and by its name ----

// A key pressed and let go on the computer's keyboard, as X11 and Wayland report it: the
// kernel's input code + 8.
// The key codes of the hot spots marked now.
std::vector<int> Marked(const CCVKBDlg& dlg) {
    std::vector<int> codes;
    for (const CKeyButton* key : dlg.findChildren<CKeyButton*>()) {
        if (key->Marked()) {
            codes.push_back(key->KeyCode());
        }
    }
    std::sort(codes.begin(), codes.end());
    return codes;
}

CKeyButton* HotSpotOf(const CCVKBDlg& dlg, int keyCode) {
    for (CKeyButton* key : dlg.findChildren<CKeyButton*>()) {
        if (key->KeyCode() == keyCode) {
            return key;
        }
    }
    return nullptr;
}

constexpr quint32 kInputF5 = 63, kInputF6 = 64, kInputEnter = 28, kInputEsc = 1;

TEST(UiKeyPickerPress, APressedKeyIsShownAndASecondEnterTakesIt) {
    English english;
    CCVKBDlg dlg;
    dlg.m_layer = 1;
    dlg.m_vk = 0x41;
    dlg.show();
    PressNativeKey(&dlg, kInputF6, Qt::Key_F6);
    PressNativeKey(&dlg, kInputF5, Qt::Key_F5);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(dlg.m_bVkChange);
    EXPECT_EQ(dlg.Display()->ShownText(), "F5");
    EXPECT_EQ(Marked(dlg), std::vector<int>{0x74});
    EXPECT_EQ(dlg.Prompt()->text(), "F5 is chosen: press Enter or click it to assign it.");
    PressNativeKey(&dlg, kInputEnter, Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(dlg.m_bVkChange);
    EXPECT_EQ(dlg.m_vk, 0x74);
}

TEST(UiKeyPickerPress, AClickTakesAPressedKeyAndEscapeStillCloses) {
    English english;
    {
        CCVKBDlg dlg;
        dlg.m_vk = 0x41;
        dlg.show();
        PressNativeKey(&dlg, kInputF5, Qt::Key_F5);
        QTest::mouseClick(HotSpotOf(dlg, 0x74), Qt::LeftButton);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.m_vk, 0x74);
    }
    CCVKBDlg dlg;
    dlg.m_vk = 0x41;
    dlg.show();
    PressNativeKey(&dlg, kInputF5, Qt::Key_F5);
    PressNativeKey(&dlg, kInputEsc, Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_FALSE(dlg.m_bVkChange);
    EXPECT_EQ(dlg.m_vk, 0x41);
}

// By the physical key: the two Ctrl, Shift and Alt keys, the keypad's Enter and digits and
// the main ones are different codes. Enter with nothing chosen chooses the Enter key.
TEST(UiKeyPickerPress, SidesAndTheKeypadStayApart) {
    English english;
    const std::pair<quint32, int> keys[] = {
        {29, 0xA2}, {97, 0xA3},   // left and right Ctrl
        {42, 0xA0}, {54, 0xA1},   // Shift
        {56, 0xA4}, {100, 0xA5},  // Alt
        {28, 0x0D}, {96, 0x6C},   // Enter, keypad Enter
        {2, 0x31},  {79, 0x61},   // 1, keypad 1
    };
    for (const auto& [input, code] : keys) {
        CCVKBDlg dlg;
        dlg.m_vk = 0x41;
        dlg.show();
        PressNativeKey(&dlg, input);
        EXPECT_EQ(dlg.ShownKeyCode(), code) << "input code " << input;
        EXPECT_EQ(Marked(dlg), std::vector<int>{code}) << "input code " << input;
        EXPECT_TRUE(dlg.isVisible());
    }
}

// A key the picker has no code for is said, and leaves nothing chosen: the next Enter is
// the Enter key, not the key chosen before.
TEST(UiKeyPickerPress, AKeyWithoutACodeIsSaid) {
    English english;
    for (const quint32 input : {85u /* no key code at all */, 183u /* F13: not offered */}) {
        CCVKBDlg dlg;
        dlg.m_vk = 0x41;
        dlg.show();
        PressNativeKey(&dlg, kInputF5, Qt::Key_F5);
        PressNativeKey(&dlg, input);
        EXPECT_EQ(dlg.Prompt()->text().toStdString(), GetPromptText("vkNoCode", "en"));
        EXPECT_EQ(dlg.ShownKeyCode(), 0x41);
        EXPECT_TRUE(Marked(dlg).empty());
        EXPECT_EQ(dlg.FoundEntry(), -1);
        PressNativeKey(&dlg, kInputEnter, Qt::Key_Return);
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(dlg.ShownKeyCode(), 0x0D);
    }
}

TEST(UiKeyPickerFind, TypingMarksTheMatchesAndEnterTakesTheOnlyOne) {
    English english;
    CCVKBDlg dlg;
    dlg.m_vk = 0x41;
    dlg.show();
    QTest::keyClicks(dlg.SearchField(), "vol");
    EXPECT_EQ(Marked(dlg), (std::vector<int>{0xAE, 0xAF}));
    EXPECT_EQ(HotSpotOf(dlg, 0xAE)->accessibleName(), "Vol-");
    EXPECT_EQ(dlg.Prompt()->text(), "2 keys match: type more, or click one.");
    // Two matches: Enter takes neither, and is not taken for the Enter key either.
    QTest::keyClick(dlg.SearchField(), Qt::Key_Return);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.ShownKeyCode(), 0x41);
    QTest::keyClicks(dlg.SearchField(), "+");
    EXPECT_EQ(Marked(dlg), std::vector<int>{0xAF});
    EXPECT_EQ(dlg.Display()->ShownText(), "Vol+");
    QTest::keyClick(dlg.SearchField(), Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(dlg.m_bVkChange);
    EXPECT_EQ(dlg.m_vk, 0xAF);
}

// The whole name wins among several ("F1" of F1, F10, F11, F12); nothing found is said;
// the Chinese names of the Chinese pictures are found too; Escape in the field closes.
TEST(UiKeyPickerFind, ExactNamesNoMatchChineseAndEscape) {
    English english;
    {
        CCVKBDlg dlg;
        dlg.show();
        QTest::keyClicks(dlg.SearchField(), "f1");
        EXPECT_EQ(Marked(dlg), (std::vector<int>{0x70, 0x79, 0x7A, 0x7B}));
        EXPECT_EQ(dlg.ShownKeyCode(), 0x70);
        QTest::keyClicks(dlg.SearchField(), "x");
        EXPECT_TRUE(Marked(dlg).empty());
        EXPECT_EQ(dlg.Prompt()->text().toStdString(), GetPromptText("vkFoundNone", "en"));
        QTest::keyClick(dlg.SearchField(), Qt::Key_Escape);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_FALSE(dlg.m_bVkChange);
    }
    g_strLanguage = "zh-cn";
    CCVKBDlg dlg;
    dlg.show();
    EXPECT_EQ(dlg.SearchField()->placeholderText().toStdString(), GetButtonText("vkFind", "zh-cn"));
    // Typed one character at a time, as an input method would hand them over.
    for (const QChar c : QString::fromUtf8("音量")) {
        QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(dlg.SearchField(), &typed);
    }
    EXPECT_EQ(dlg.SearchField()->text(), QString::fromUtf8("音量"));
    EXPECT_EQ(Marked(dlg), (std::vector<int>{0xAE, 0xAF}));
    EXPECT_EQ(dlg.Prompt()->text().toStdString(),
              FillNumbers(GetPromptText("vkFound", "zh-cn"), {2}));
}

}  // namespace
}  // namespace tavrik::ui

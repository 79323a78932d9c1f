#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include "app/paths.h"
#include "app_test_env.h"
#include "keys/keycodes.h"
#include "ui/keypicker/key_picker.h"
#include "ui/mainwnd/my_button.h"
#include "ui/mainwnd/my_button_host.h"
#include "ui/pictures/picture_cache.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/key_hot_spot.h"
#include "ui/widgets/text_buttons.h"
#include "ui_test_util.h"

namespace tavrik::ui {
namespace {

using test::Call;
using test::PromptAnswers;

struct FakeHost : test::Recorder, MyButtonHost {
    std::vector<int> deselected;
    std::vector<std::pair<int, uint32_t>> ledOn, ledOff;
    std::vector<MarcoEditInputs> marcoRuns;
    KeyPickInputs inputs;
    KeyboardRef shown{1, 7};
    bool gone = false;  // the shown keyboard went while the picker was open
    std::vector<KeyboardRef> confirmed;
    KeyboardRef ShownKeyboard() const override { return shown; }
    bool ConfirmKeyboard(const KeyboardRef& ref) override {
        confirmed.push_back(ref);
        return !gone;
    }
    void DeselectKeys(int slot) override { deselected.push_back(slot); }
    void LedHighlightOn(int slot, uint32_t colour) override { ledOn.push_back({slot, colour}); }
    void LedHighlightOff(int slot, uint32_t colour) override { ledOff.push_back({slot, colour}); }
    QPoint DialogPosition() const override { return {12, 34}; }
    KeyPickInputs PickInputs(int) const override { return inputs; }
    void RunMarcoEditor(const MarcoEditInputs& in) override { marcoRuns.push_back(in); }
    // Recorded as the window's own codes for them.
    void KeyCodePicked(int slot, int code) override {
        calls.push_back({UM_CHANGE_ONE_KEY_VK, static_cast<uint32_t>(slot), code});
    }
    void KeyColourPicked(int slot, uint32_t colour) override {
        calls.push_back({UM_CHANGE_ONE_KEY_LIGHT_COLOR, static_cast<uint32_t>(slot),
                         static_cast<int32_t>(colour)});
    }
};

// What the picker is run with, and the user's part in it.
struct PickerScript {
    int runs = 0;
    CCVKBDlg seen;  // a copy of the inputs the picker got
    std::function<void(CCVKBDlg&)> user;
    PickerScript() {
        CCVKBDlg::SetExecHook([this](CCVKBDlg& dlg) {
            ++runs;
            seen.m_position = dlg.m_position;
            seen.m_layer = dlg.m_layer;
            seen.m_vk = dlg.m_vk;
            seen.m_layerCodes = dlg.m_layerCodes;
            seen.m_color = dlg.m_color;
            dlg.show();
            if (user) {
                user(dlg);
            }
            return 0;
        });
    }
    ~PickerScript() { CCVKBDlg::SetExecHook({}); }
};

struct KeyButtonTest : testing::Test {
    FakeHost host;
    CMyButton* button = nullptr;
    PickerScript picker;
    PromptAnswers answers;
    void SetUp() override {
        button = new CMyButton(&host, 12);
        button->setGeometry(92, 110, 100, 70);
        host.resize(1060, 560);
        host.show();
    }
    void Setup(int vk, int layer, std::array<uint8_t, 4> codes = {}) {
        button->SetVk(vk);
        button->SetLayer(layer);
        button->SetColor(0x00FF00);
        host.inputs.layer = layer;
        host.inputs.layerCodes = codes;
    }
    void Click() { QTest::mouseClick(button, Qt::LeftButton); }
};

TEST_F(KeyButtonTest, APickedCodeIsSentAlone) {
    Setup(0x41, 2, {0x41, 0x3B, 0x41, 0x3B});
    picker.user = [](CCVKBDlg& dlg) { QTest::mouseClick(dlg.KeyButton(60), Qt::LeftButton); };
    Click();
    EXPECT_EQ(picker.runs, 1);
    EXPECT_EQ(picker.seen.m_position, QPoint(12, 34));
    EXPECT_EQ(picker.seen.m_layer, 2);
    EXPECT_EQ(picker.seen.m_vk, 0x41);
    EXPECT_EQ(picker.seen.m_layerCodes, (std::array<int, 4>{0x41, 0x3B, 0x41, 0x3B}));
    EXPECT_EQ(picker.seen.m_color, 0x00FF00u);
    EXPECT_EQ(host.deselected, std::vector<int>{12});
    EXPECT_EQ(host.calls, (std::vector<Call>{{UM_CHANGE_ONE_KEY_VK, 12, 0x53}}));
    EXPECT_EQ(button->Vk(), 0x53);
    EXPECT_EQ(button->accessibleName(), "Key 12: S");
}

TEST_F(KeyButtonTest, APickedColourIsSentAlone) {
    Setup(0x41, 0);
    answers.color = QColor(0xAB, 0xCD, 0xEF);
    picker.user = [](CCVKBDlg& dlg) {
        QTest::mouseClick(dlg.ColorButton(), Qt::LeftButton);
        QTest::mouseClick(dlg.CloseButton(), Qt::LeftButton);
    };
    Click();
    // The LED has 16 levels per channel: #ABCDEF is shown and sent as the #A0C0E0 it gets.
    EXPECT_EQ(host.calls, (std::vector<Call>{{UM_CHANGE_ONE_KEY_LIGHT_COLOR, 12, 0xE0C0A0}}));
    EXPECT_EQ(button->Color(), 0xE0C0A0u);
    EXPECT_EQ(button->Vk(), 0x41);
    // The key's colour shows in the rim around the cap picture.
    EXPECT_EQ(test::PixelAt(button, 5, 35), QColor(0xA0, 0xC0, 0xE0));
    // The chooser started at the key's colour.
    EXPECT_EQ(answers.colorInitial, QColor(0x00, 0xFF, 0x00));
}

// The keyboard was pulled out (or another one chosen) while the picker was open: its choice
// must not land on the keyboard shown now.
TEST_F(KeyButtonTest, AChoiceForAKeyboardThatWentMeanwhileIsDropped) {
    Setup(0x41, 0);
    answers.color = QColor(0x10, 0x20, 0x30);
    picker.user = [this](CCVKBDlg& dlg) {
        QTest::mouseClick(dlg.ColorButton(), Qt::LeftButton);
        host.gone = true;
        host.shown = {1, 8};  // another keyboard took its slot
        QTest::mouseClick(dlg.KeyButton(59), Qt::LeftButton);
    };
    Click();
    EXPECT_TRUE(host.calls.empty());
    // The keyboard asked about is the one the picker was opened for.
    EXPECT_EQ(host.confirmed, (std::vector<KeyboardRef>{{1, 7}}));
    EXPECT_EQ(button->Vk(), 0x41);
    EXPECT_EQ(button->Color(), 0x00FF00u);
}

TEST_F(KeyButtonTest, AnUnsetKeyOnLayerZeroTurnsWhiteWithItsFirstCode) {
    picker.user = [](CCVKBDlg& dlg) { QTest::mouseClick(dlg.KeyButton(59), Qt::LeftButton); };
    Setup(VK_WAIT_SET, 0);
    Click();
    EXPECT_EQ(host.calls, (std::vector<Call>{{UM_CHANGE_ONE_KEY_VK, 12, 0x41},
                                             {UM_CHANGE_ONE_KEY_LIGHT_COLOR, 12, 0xFFFFFF}}));
    EXPECT_EQ(button->Color(), 0xFFFFFFu);

    host.calls.clear();
    Setup(VK_WAIT_SET, 1);
    Click();
    EXPECT_EQ(host.calls, (std::vector<Call>{{UM_CHANGE_ONE_KEY_VK, 12, 0x41}}));
    EXPECT_EQ(button->Color(), 0x00FF00u);
}

TEST_F(KeyButtonTest, MacroChosenSendsNoCodeButAColourChosenBefore) {
    Setup(0x41, 1, {0x41, 0x41, 0x04, 0x05});
    answers.color = QColor(0x12, 0x34, 0x56);
    picker.user = [](CCVKBDlg& dlg) {
        QTest::mouseClick(dlg.ColorButton(), Qt::LeftButton);
        dlg.m_bVkChange = true;  // even a code reported by the picker is not sent
        QTest::mouseClick(dlg.MarcoButton(), Qt::LeftButton);
    };
    Click();
    ASSERT_EQ(host.marcoRuns.size(), 1u);
    EXPECT_EQ(host.marcoRuns[0].slot, 12);
    EXPECT_EQ(host.marcoRuns[0].layer, 1);
    EXPECT_EQ(host.marcoRuns[0].keyCode, 0x41);
    EXPECT_EQ(host.marcoRuns[0].position, QPoint(12, 34));
    EXPECT_EQ(host.marcoRuns[0].keyboard, (KeyboardRef{1, 7}));
    EXPECT_EQ(host.calls, (std::vector<Call>{{UM_CHANGE_ONE_KEY_LIGHT_COLOR, 12, 0x503010}}));
}

TEST_F(KeyButtonTest, DamagedOrEmptyKeysOpenNoPicker) {
    Setup(VK_WAIT_UPGRADE, 0);
    Click();
    ASSERT_EQ(answers.messages.size(), 1u);
    EXPECT_EQ(answers.messages[0], QString::fromUtf8("物理按键固件损坏，请先到配置界面升级固件"));
    Setup(0, 0);
    Click();
    EXPECT_EQ(answers.messages.size(), 1u);
    EXPECT_EQ(picker.runs, 0);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(host.deselected, (std::vector<int>{12, 12}));
    EXPECT_EQ(button->accessibleName(), "Key 12: empty");
}

TEST_F(KeyButtonTest, RestingMouseLightsTheKeyAndLeavingStopsIt) {
    Setup(0x41, 0);
    test::Hover(button);
    EXPECT_TRUE(host.ledOn.empty());  // not before the mouse rested
    QTRY_VERIFY_WITH_TIMEOUT(!host.ledOn.empty(), 30000);
    EXPECT_EQ(host.ledOn, (std::vector<std::pair<int, uint32_t>>{{12, 0xFFFFFF}}));
    EXPECT_TRUE(button->LedHighlightRequested());
    EXPECT_EQ(test::PixelAt(button, 2, 35), ColorOf(kMagenta));
    test::Leave(button);
    EXPECT_EQ(host.ledOff, (std::vector<std::pair<int, uint32_t>>{{12, 0x00FF00}}));
    EXPECT_FALSE(button->LedHighlightRequested());

    // Passing over without resting asks nothing of the keyboard.
    test::Hover(button);
    test::Leave(button);
    QTest::qWait(2 * CMyButton::kHoverDelayMs);
    EXPECT_EQ(host.ledOn.size(), 1u);
    EXPECT_EQ(host.ledOff.size(), 1u);
}

TEST(UiKeyButtonPictures, AMissingPictureKeepsThePreviousOnes) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    ASSERT_TRUE(QDir(root.path()).mkpath("res/uipics/keys"));
    auto write = [&](uint8_t hid, bool focused, QColor colour) {
        QImage image(10, 10, QImage::Format_ARGB32);
        image.fill(colour);
        const QString path =
            root.path() + "/" + QString::fromStdString(KeyPicturePath(hid, focused));
        ASSERT_TRUE(image.save(path));
    };
    write(HidOfKeyCode(0x41), false, Qt::red);
    write(HidOfKeyCode(0x41), true, Qt::red);
    write(HidOfKeyCode(0x42), false, Qt::blue);
    write(HidOfKeyCode(0x42), true, Qt::blue);
    const tavrik::test::ResourceRootScope resources(root.path().toStdString());
    Pictures::Clear();

    QWidget window;
    CMyButton button(&window, 3);
    button.setGeometry(0, 0, 100, 70);
    button.SetVk(0x41);
    EXPECT_EQ(button.grab().toImage().pixelColor(50, 35), QColor(Qt::red));
    button.SetVk(0x42);
    EXPECT_EQ(button.grab().toImage().pixelColor(50, 35), QColor(Qt::blue));
    EXPECT_EQ(button.PictureKey(), 0x42);
    button.SetVk(0x43);  // no picture for it
    EXPECT_EQ(button.grab().toImage().pixelColor(50, 35), QColor(Qt::blue));
    EXPECT_EQ(button.PictureKey(), 0x42);

    Pictures::Clear();  // the pictures of the test's root are forgotten
}

}  // namespace
}  // namespace tavrik::ui

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QColorDialog>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include "ui/widgets/check_button.h"
#include "ui/widgets/color_chooser.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/info_button.h"
#include "ui/widgets/key_hot_spot.h"
#include "ui/widgets/keyboard_tab.h"
#include "ui/widgets/pic_button.h"
#include "ui/widgets/picture_buttons.h"
#include "ui/widgets/result_show_button.h"
#include "ui/widgets/selectors.h"
#include "ui/widgets/text_buttons.h"
#include "ui/widgets/ui_texts.h"
#include "ui_test_util.h"

namespace tavrik::ui {
namespace {

using test::Call;
using test::PromptAnswers;
using test::Recorder;

// Runs the application's loop; should it not end within 20 s, a modal window left open is
// closed and the loop ends with 7, which the test refuses.
int ExecWithModalWatchdog() {
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
        }
        QCoreApplication::exit(7);
    });
    watchdog.start(20000);
    return QCoreApplication::exec();
}

TEST(UiWidgets, TextButtonSendsItsCodeToTheNearestWindowOnRelease) {
    Recorder window;
    QWidget middle(&window);
    ClickSdMsgButton button(&middle, "Next Page", UM_PAGE_SWITCH);
    button.setGeometry(0, 0, 220, 30);
    window.show();
    QTest::mousePress(&button, Qt::LeftButton);
    EXPECT_TRUE(window.calls.empty());
    QTest::mouseRelease(&button, Qt::LeftButton);
    ASSERT_EQ(window.calls.size(), 1u);
    EXPECT_EQ(window.calls[0].code, UM_PAGE_SWITCH);
    EXPECT_EQ(window.calls[0].wParam, 0u);
}

TEST(UiWidgets, UsbPollSelectorWrapsBothWaysAndShowsReportsPerSecond) {
    Recorder window;
    CUsbPollButton poll(&window);
    poll.setGeometry(0, 0, 200, 30);
    window.show();
    poll.SetValue(1);
    ASSERT_TRUE(poll.SetPosition(0));
    EXPECT_TRUE(poll.text().startsWith("<- 1000")) << poll.text().toStdString();
    EXPECT_TRUE(poll.text().endsWith(" ->"));

    QTest::mouseClick(&poll, Qt::LeftButton, {}, QPoint(150, 15));  // right half: previous
    EXPECT_EQ(poll.Value(), 10);
    EXPECT_EQ(poll.Position(), 6);
    QTest::mouseClick(&poll, Qt::LeftButton, {}, QPoint(20, 15));  // left half: next, wraps
    EXPECT_EQ(poll.Value(), 1);
    QTest::mouseClick(&poll, Qt::LeftButton, {}, QPoint(20, 15));
    EXPECT_EQ(poll.Value(), 2);
    EXPECT_EQ(window.calls, (std::vector<Call>{{UM_USB_POLL_CHANGE, 0, 10},
                                               {UM_USB_POLL_CHANGE, 0, 1},
                                               {UM_USB_POLL_CHANGE, 0, 2}}));
    poll.SetValue(3);
    EXPECT_TRUE(poll.text().startsWith("<- 333"));
    poll.SetValue(8);
    EXPECT_TRUE(poll.text().startsWith("<- 125"));
    EXPECT_FALSE(poll.SetPosition(7));
    EXPECT_FALSE(poll.SetPosition(-1));
}

TEST(UiWidgets, LanguageSelectorShowsNothingForAnUnknownValueAndSendsItsValue) {
    Recorder window;
    CLanguageSelButton language(&window);
    language.setGeometry(0, 0, 200, 30);
    window.show();
    language.SetValue(3);
    EXPECT_EQ(language.text(), "<-  ->");
    language.SetValue(2);
    ASSERT_TRUE(language.SetPosition(language.PositionOf(2)));
    QTest::mouseClick(&language, Qt::LeftButton, {}, QPoint(10, 15));
    EXPECT_EQ(language.Value(), 1);
    EXPECT_EQ(window.calls, (std::vector<Call>{{UM_LANGUAGE_SELECT, 0, 1}}));
}

TEST(UiWidgets, DisabledKeyboardTabIsAGreyPlateAndIgnoresClicks) {
    Recorder window;
    CKeyBoardButton tab(&window, "Keyboard 2", UM_KEYBOARD_SELECT, 1);
    tab.setGeometry(0, 0, 70, 32);
    window.show();
    EXPECT_TRUE(tab.Disabled());
    QTest::mouseClick(&tab, Qt::LeftButton);
    EXPECT_TRUE(window.calls.empty());
    const QImage plate = tab.grab().toImage();
    for (const QPoint p : {QPoint(1, 1), QPoint(35, 16), QPoint(68, 30)}) {
        EXPECT_EQ(plate.pixelColor(p), ColorOf(kPanelGrey));
    }

    tab.SetDisabled(false);
    EXPECT_EQ(tab.grab().toImage().pixelColor(35, 1), QColor(Qt::white));  // its outline
    QTest::mouseClick(&tab, Qt::LeftButton);
    EXPECT_EQ(window.calls, (std::vector<Call>{{UM_KEYBOARD_SELECT, 0, 1}}));
}

TEST(UiWidgets, PromptPictureRefusesStatesOutsideItsThree) {
    QWidget window;
    CPromptPictureButton prompt(&window, {"res/uipics/a.png", "res/uipics/b.png", "c.png"});
    EXPECT_TRUE(prompt.SetState(2));
    EXPECT_FALSE(prompt.SetState(3));
    EXPECT_FALSE(prompt.SetState(-1));
    EXPECT_EQ(prompt.State(), 2);
    // Without its picture the grey fill still draws.
    prompt.setGeometry(0, 0, 40, 40);
    EXPECT_EQ(prompt.grab().toImage().pixelColor(20, 20), ColorOf(kPanelGrey));
}

TEST(UiWidgets, CloseButtonHidesToTrayOrClosesItsWindow) {
    Recorder window;
    CCloseButton close(&window);
    close.setGeometry(0, 0, 40, 40);
    window.show();
    QTest::mouseClick(&close, Qt::LeftButton);
    EXPECT_EQ(window.calls, (std::vector<Call>{{UM_HIDE_TO_TRAY, 0, 0}}));
    EXPECT_TRUE(window.isVisible());

    close.SetCloseDirectly(true);
    QTest::mouseClick(&close, Qt::LeftButton);
    EXPECT_EQ(window.calls.size(), 1u);
    EXPECT_FALSE(window.isVisible());
}

TEST(UiWidgets, BackButtonTellsItsWindowThenClosesIt) {
    Recorder window;
    CBackButton back(&window);
    back.setGeometry(0, 0, 40, 40);
    window.show();
    QTest::mouseClick(&back, Qt::LeftButton);
    EXPECT_EQ(window.calls, (std::vector<Call>{{UM_BACK, 0, 0}}));
    EXPECT_FALSE(window.isVisible());
}

TEST(UiWidgets, IconOutlineIsMagentaOnlyWhileHovered) {
    Recorder window;
    CRefreshButton refresh(&window);
    refresh.setGeometry(0, 0, 40, 40);
    window.show();
    EXPECT_EQ(test::PixelAt(&refresh, 1, 20), ColorOf(kPanelGrey));
    test::Hover(&refresh);
    EXPECT_EQ(test::PixelAt(&refresh, 1, 20), ColorOf(kMagenta));
    test::Leave(&refresh);
    EXPECT_EQ(test::PixelAt(&refresh, 1, 20), ColorOf(kPanelGrey));
    QTest::mouseClick(&refresh, Qt::LeftButton);
    EXPECT_EQ(window.calls, (std::vector<Call>{{UM_REFRESH_SCAN, 0, 0}}));
}

TEST(UiWidgets, SetupBadgeSetFromAnotherThreadIsDrawnOnTheNextPaint) {
    QWidget window;
    CSetupButton setup(&window);
    setup.setGeometry(0, 0, 40, 40);
    int opened = 0;
    QObject::connect(&setup, &CSetupButton::openSettings, [&] { ++opened; });
    window.show();
    EXPECT_NE(test::PixelAt(&setup, 32, 7), ColorOf(kBadgeRed));

    std::unique_ptr<QThread> thread(QThread::create([&] { setup.SetBadge(true); }));
    thread->start();
    ASSERT_TRUE(thread->wait(30000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(setup.Badge());
    EXPECT_EQ(test::PixelAt(&setup, 32, 7), ColorOf(kBadgeRed));

    setup.click();  // the update prompt presses it for the user
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(setup.accessibleName(), "Settings");
}

TEST(UiWidgets, SwitchTogglesAndSendsItsNumber) {
    Recorder window;
    CMyCheckButton check(&window, 3);
    check.setGeometry(0, 0, 60, 35);
    window.show();
    const QColor offBody = test::PixelAt(&check, 30, 17);
    EXPECT_EQ(offBody, QColor(Qt::black));
    QTest::mouseClick(&check, Qt::LeftButton);
    EXPECT_TRUE(check.State());
    EXPECT_EQ(test::PixelAt(&check, 30, 17), ColorOf(kSwitchPurple));
    QTest::mouseClick(&check, Qt::LeftButton);
    EXPECT_FALSE(check.State());
    EXPECT_EQ(window.calls, (std::vector<Call>{{UM_CHECK_BUTTON, 0, 3}, {UM_CHECK_BUTTON, 0, 3}}));
}

TEST(UiWidgets, ColourButtonSendsOnlyAConfirmedColour) {
    PromptAnswers answers;
    Recorder window;
    CChAllLightColorButton colour(&window, "All colour");
    colour.setGeometry(0, 0, 220, 30);
    window.show();
    QTest::mouseClick(&colour, Qt::LeftButton);  // cancelled
    EXPECT_EQ(answers.colorAsked, 1);
    EXPECT_TRUE(window.calls.empty());
    EXPECT_EQ(colour.Color(), kPanelGrey);

    answers.color = QColor(0x11, 0x22, 0x33);
    QTest::mouseClick(&colour, Qt::LeftButton);
    EXPECT_EQ(colour.Color(), 0x332211u);
    EXPECT_EQ(window.calls,
              (std::vector<Call>{{UM_CHANGE_ONE_KEY_LIGHT_COLOR, kAllKeys, 0x332211}}));
}

// The chooser itself (no hook) starts at the colour it is given and shows, before the
// choice is confirmed, the colour the LED's 16 levels per channel make of the pick; that is
// what it returns.
TEST(UiWidgets, ColourChooserShowsTheLedsColourBeforeItIsConfirmed) {
    bool looked = false;
    const auto look = [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* chooser = qobject_cast<CColorChooser*>(modal);
        if (chooser == nullptr) {
            ADD_FAILURE() << "the colour chooser is not the modal window";
            if (modal != nullptr) {
                modal->close();
            }
            return;
        }
        EXPECT_EQ(chooser->Picked(), QColor(0x12, 0x34, 0x56));
        EXPECT_TRUE(chooser->LedText().endsWith("#103050")) << chooser->LedText().toStdString();
        chooser->Palette().setCurrentColor(QColor(0xFF, 0x80, 0x00));
        EXPECT_EQ(chooser->LedColor(), QColor(0xF0, 0x80, 0x00));
        EXPECT_TRUE(chooser->LedText().startsWith(PromptText("colorLevels")));
        EXPECT_TRUE(chooser->LedText().endsWith("#F08000")) << chooser->LedText().toStdString();
        looked = true;
        chooser->accept();
    };
    // Inside the application's loop: a test before may have ended it, which leaves nested
    // loops (the chooser's) ending at once until the loop runs again.
    std::optional<QColor> chosen;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, look);
        chosen = UiPrompts::ChooseColor(nullptr, QColor(0x12, 0x34, 0x56));
        QCoreApplication::exit(0);
    });
    EXPECT_EQ(ExecWithModalWatchdog(), 0);
    EXPECT_TRUE(looked);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(*chosen, QColor(0xF0, 0x80, 0x00));
}

// Enter confirms and Escape cancels from within the palette, where the focus is when the
// chooser opens ("Pick Screen Color"): Enter must not start picking off the screen, which
// grabs the mouse, nor be swallowed; Escape must not hide the palette alone.
TEST(UiWidgets, EnterAndEscapeInTheColourChoosersPaletteEndTheChooser) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        std::optional<QColor> chosen;
        bool pressed = false;
        QTimer::singleShot(0, [&] {
            QTimer::singleShot(0, [&] {
                QWidget* modal = QApplication::activeModalWidget();
                auto* chooser = qobject_cast<CColorChooser*>(modal);
                if (chooser == nullptr) {
                    ADD_FAILURE() << "the colour chooser is not the modal window";
                    return;
                }
                QPushButton* first = chooser->Palette().findChild<QPushButton*>();
                ASSERT_NE(first, nullptr);
                QTest::keyClick(first, key);
                pressed = true;
                EXPECT_FALSE(chooser->Palette().isHidden()) << "the palette hid itself";
                // Left open, the press did not confirm: close it so that the test ends.
                QTimer::singleShot(0, [modal] {
                    if (QApplication::activeModalWidget() == modal) {
                        modal->close();
                    }
                });
            });
            chosen = UiPrompts::ChooseColor(nullptr, QColor(0x12, 0x34, 0x56));
            QCoreApplication::exit(0);
        });
        EXPECT_EQ(ExecWithModalWatchdog(), 0);
        EXPECT_TRUE(pressed);
        if (key == Qt::Key_Escape) {
            EXPECT_FALSE(chosen) << "Escape confirmed the chooser";
            continue;
        }
        ASSERT_TRUE(chosen) << "Enter did not confirm the chooser";
        EXPECT_EQ(*chosen, QColor(0x10, 0x30, 0x50));
    }
}

TEST(UiWidgets, UpgradeButtonSendsItsCommandNumber) {
    Recorder window;
    CStartUpgradeButton upgrade(&window, "Upgrade", 2);
    upgrade.setGeometry(0, 0, 120, 30);
    window.show();
    QTest::mouseClick(&upgrade, Qt::LeftButton);
    EXPECT_EQ(window.calls, (std::vector<Call>{{UM_START_UPGRADE, 0, 2}}));
}

TEST(UiWidgets, LinksOpenOnlyWebAddresses) {
    PromptAnswers answers;
    QWidget window;
    CInfoButton label(&window, "Web site");
    CPictureButton picture(&window, "res/uipics/Q1.png", "QR code");
    label.setGeometry(0, 0, 200, 26);
    picture.setGeometry(0, 30, 100, 100);
    window.show();
    QTest::mouseClick(&label, Qt::LeftButton);  // no link: a plain label
    label.SetLink("file:///etc/passwd");
    QTest::mouseClick(&label, Qt::LeftButton);
    label.SetLink("https://example.com/tavrik");
    QTest::mouseClick(&label, Qt::LeftButton);
    picture.SetLink("javascript:alert(1)");
    QTest::mouseClick(&picture, Qt::LeftButton);
    picture.SetLink("http://example.com/q1");
    QTest::mouseClick(&picture, Qt::LeftButton);
    EXPECT_EQ(answers.opened,
              (std::vector<QString>{"https://example.com/tavrik", "http://example.com/q1"}));
}

TEST(UiWidgets, KeyCapShowsCaptionForNothingAndTheKeyNameOtherwise) {
    PromptAnswers answers;
    QWidget window;
    CResultShowButton cap(&window);
    cap.setGeometry(0, 0, 100, 70);
    window.show();
    EXPECT_EQ(cap.ShownText(), "N/A");
    cap.SetKeyValue(0x04);
    EXPECT_EQ(cap.ShownText(), "A");
    cap.SetKeyValue(300);
    EXPECT_EQ(cap.KeyValue(), 0);

    // A right click picks the fill colour and tells nobody; a left click does nothing.
    answers.color = QColor(0, 0, 255);
    QTest::mouseClick(&cap, Qt::LeftButton);
    EXPECT_EQ(answers.colorAsked, 0);
    QTest::mouseClick(&cap, Qt::RightButton);
    EXPECT_EQ(cap.FillColor(), 0xFF0000u);
    EXPECT_EQ(test::PixelAt(&cap, 50, 60), QColor(0, 0, 255));
}

TEST(UiWidgets, HotSpotIsInvisibleUntilHoveredAndEmitsItsKeyCode) {
    QWidget window;
    CKeyButton key(&window, 0x41);
    key.setGeometry(0, 0, 41, 41);
    window.show();
    int picked = -1;
    QObject::connect(&key, &CKeyButton::picked, [&](int code) { picked = code; });
    test::Hover(&key);
    EXPECT_EQ(test::PixelAt(&key, 1, 20), ColorOf(kMagenta));
    QTest::mouseClick(&key, Qt::LeftButton);
    EXPECT_EQ(picked, 0x41);
    EXPECT_EQ(key.accessibleName(), "A");
}

}  // namespace
}  // namespace tavrik::ui

#include <gtest/gtest.h>

#include <QIcon>
#include <QKeyEvent>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include "app/paths.h"
#include "device/session.h"
#include "ui/app/tavrik_app.h"
#include "ui/mainwnd/keyboard_view.h"
#include "ui/mainwnd/my_button.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/icon_buttons.h"
#include "window_rig.h"

namespace tavrik::ui {
namespace {

using test::Until;
using test::WindowRig;

UiArgs Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "tavrik");
    return ParseUiArgs(static_cast<int>(args.size()), args.data());
}

TEST(UiStartup, OwnOptionsAreTakenAndTheRestGoesToTheShell) {
    const UiArgs plain = Parse({"-AUTO"});
    EXPECT_FALSE(plain.simulate);
    EXPECT_EQ(plain.shellArgs, std::vector<std::string>{"-AUTO"});
    const UiArgs sim = Parse({"--simulate=/tmp/k.json", "-auto"});
    EXPECT_TRUE(sim.simulate);
    EXPECT_EQ(sim.simFile, "/tmp/k.json");
    // "-auto" alone after our own options still counts as an autostart.
    EXPECT_EQ(sim.shellArgs, std::vector<std::string>{"-auto"});
    EXPECT_FALSE(Parse({"--simulate="}).error.empty());
    EXPECT_TRUE(Parse({"--help"}).help);
    EXPECT_TRUE(Parse({"--version"}).version);
    // Anything else is refused, a typo of --simulate above all: never the real keyboards.
    for (const char* bad : {"--frobnicate", "--simulte=/tmp/k.json", "-autoo"}) {
        const UiArgs refused = Parse({bad});
        EXPECT_TRUE(refused.unknownOption) << bad;
        EXPECT_NE(refused.error.find(bad), std::string::npos) << refused.error;
        EXPECT_TRUE(refused.shellArgs.empty()) << bad;
    }
}

TEST(UiStartup, ExitStoresWhereTheWindowWas) {
    WindowRig rig(1, 10);
    rig.W().move(123, 45);
    rig.window.reset();
    QSettings profile("Tavrik App", QString::fromStdString(ApplicationName()));
    profile.beginGroup("SETTING");
    EXPECT_EQ(profile.value("left").toInt(), 123);
    EXPECT_EQ(profile.value("top").toInt(), 45);
}

TEST(UiStartup, HidingWithoutATrayMinimisesPausesTheScanAndShowingScansAgain) {
    WindowRig rig(1, 10);
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.UntilKeysShown());
    ASSERT_TRUE(w.Settings().CloseToTray());
    EXPECT_FALSE(w.HasTray());  // the offscreen platform has none
    EXPECT_EQ(w.OnNotify(UM_HIDE_TO_TRAY, 0, 0), 0);
    EXPECT_TRUE(w.HiddenToTray());
    EXPECT_TRUE(w.isMinimized() || !w.isVisible());
    EXPECT_FALSE(w.Hub().Session(0).IsScanBusy());
    // The command goes out through the sending thread: the keyboard hears it a moment later.
    const auto heardGoodbye = [&] {
        bool goodbye = false;
        rig.sim->WithKeyboard(0, [&](sim::SimKeyboard& kb) {
            for (const auto& heard : kb.Heard()) {
                goodbye = goodbye || (heard[0] == 0x3A && heard[1] == 0);
            }
        });
        return goodbye;
    };
    EXPECT_TRUE(Until(heardGoodbye, std::chrono::seconds(10)))
        << "the keyboard was not told that the host no longer shows it";
    w.ShowFromTray();
    EXPECT_FALSE(w.HiddenToTray());
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.Hub().Session(0).IsScanBusy());
}

TEST(UiStartup, WithoutCloseToTrayTheHideRequestChangesNothing) {
    WindowRig rig(0, 0, "[Config1]\nAutoStart=N\nMinAfterStart=N\nCloseToMin=N\n");
    EXPECT_FALSE(rig.W().Settings().CloseToTray());
    EXPECT_EQ(rig.W().OnNotify(UM_HIDE_TO_TRAY, 0, 0), 0);
    EXPECT_FALSE(rig.W().HiddenToTray());
    EXPECT_TRUE(rig.W().isVisible());
}

// With close-to-tray off, the close button and a desktop close end the event loop with 0,
// and the window's place is stored for the next start.
TEST(UiStartup, WithoutCloseToTrayCloseEndsTheProgramAndStoresThePlace) {
    for (const bool button : {true, false}) {
        WindowRig rig(1, 10, "[Config1]\nAutoStart=N\nMinAfterStart=N\nCloseToMin=N\n");
        CTavrikDlg& w = rig.W();
        w.move(123, 45);
        QTimer::singleShot(0, &w, [&] {
            if (button) {
                QTest::mouseClick(w.findChild<CCloseButton*>(), Qt::LeftButton);
            } else {
                w.close();
            }
        });
        // Should the loop not end, the watchdog ends it with a code the test refuses.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(7); });
        watchdog.start(20000);
        EXPECT_EQ(QCoreApplication::exec(), 0) << (button ? "close button" : "desktop close");
        EXPECT_FALSE(w.isVisible());
        QSettings profile("Tavrik App", QString::fromStdString(ApplicationName()));
        profile.beginGroup("SETTING");
        EXPECT_EQ(profile.value("left", -1).toInt(), w.x());
        EXPECT_EQ(profile.value("top", -1).toInt(), w.y());
    }
}

// The window carries the program's icon itself, for window managers that do not read it
// from the desktop file. It follows the first frame.
TEST(UiStartup, TheWindowHasTheProgramsIcon) {
    WindowRig rig(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.W().windowIcon().isNull(); }, 20000));
    const QIcon icon = rig.W().windowIcon();
    EXPECT_FALSE(icon.pixmap(48, 48).isNull());
}

// Started from the desktop, the window's first frame comes before the keyboards and the
// tray icon, which follow it.
TEST(UiStartup, TheKeyboardsAndTheTrayFollowTheFirstFrame) {
    WindowRig rig(1, 10, "[Config1]\nAutoStart=N\nMinAfterStart=N\n", false, {},
                  [](MainWindowSetup& setup) {
                      setup.attachAfterFirstFrame = true;
                      setup.assumeTray = true;
                  });
    EXPECT_FALSE(rig.W().HasTray());
    ASSERT_TRUE(rig.UntilKeysShown());
    EXPECT_TRUE(rig.W().HasTray());
}

// Started by the autostart entry with minimise-after-start, the window is never shown, so
// no task-bar entry comes and goes: with a tray it stays hidden; without one it only ever
// shows minimised, where it can be reached. Soon after, it counts as hidden to the tray.
TEST(UiStartup, AutostartWithMinimiseAfterStartHidesTheWindowSoonAfter) {
    struct ShowWatch : QObject {
        int shown = 0;
        int shownNormal = 0;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() == QEvent::Show && qobject_cast<CTavrikDlg*>(o) != nullptr) {
                ++shown;
                shownNormal += static_cast<QWidget*>(o)->isMinimized() ? 0 : 1;
            }
            return false;
        }
    };
    for (const bool tray : {true, false}) {
        ShowWatch watch;
        qApp->installEventFilter(&watch);
        WindowRig rig(0, 0, "[Config1]\nAutoStart=N\nMinAfterStart=Y\n", true, {},
                      [&](MainWindowSetup& setup) { setup.assumeTray = tray; });
        EXPECT_EQ(rig.W().HasTray(), tray);
        ASSERT_TRUE(Until([&] { return rig.W().HiddenToTray(); }, std::chrono::seconds(20)));
        EXPECT_EQ(watch.shownNormal, 0) << "tray " << tray;
        if (tray) {
            EXPECT_EQ(watch.shown, 0);
            EXPECT_FALSE(rig.W().isVisible());
        }
        qApp->removeEventFilter(&watch);
    }
    // Started by hand, the same settings show the window.
    WindowRig byHand(0, 0, "[Config1]\nAutoStart=N\nMinAfterStart=Y\n", false);
    EXPECT_TRUE(byHand.W().isVisible());
    EXPECT_FALSE(byHand.W().isMinimized());
}

TEST(UiStartup, EscapeAndArrowsNeverReachTheControls) {
    WindowRig rig(1, 10);
    CTavrikDlg& w = rig.W();
    ASSERT_TRUE(rig.UntilKeysShown());
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Left, Qt::Key_Down, Qt::Key_F1}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        EXPECT_TRUE(w.eventFilter(&w.View().Key(0), &press)) << key;
    }
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
    EXPECT_FALSE(w.eventFilter(&w.View().Key(0), &letter));
    EXPECT_TRUE(w.isVisible());
}

}  // namespace
}  // namespace tavrik::ui

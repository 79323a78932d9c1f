// The settings window's firmware upgrades against a simulated keyboard on a shortened
// clock: the file checks and their messages, both upgrades to 100 %, engine errors, a
// pulled cable, polls running out, and what is cleared after success.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "device/keyboard_hub.h"
#include "device/session.h"
#include "firmware_test_image.h"
#include "log_capture.h"
#include "sim/sim_backend.h"
#include "ui/settings/setup_dlg.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/info_button.h"
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

struct SetupUpgradeTest : ::testing::Test {
    WindowRig rig{1, 6};
    PromptAnswers answers;
    std::filesystem::path image;

    void SetUp() override {
        ASSERT_TRUE(rig.UntilKeysShown());
        image = rig.tmp.path / "ZPN31-image.bin";
        Write(image, tavrik::testing::GoodImage());
    }

    static void Write(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    }
    void Faults(const std::function<void(sim::SimFaults&)>& change) {
        rig.sim->WithKeyboard(0, [&](sim::SimKeyboard& k) {
            auto f = k.State().faults;
            change(f);
            k.SetFaults(f);
        });
    }
    // Opens the window in manual mode, runs `act`, waits for the upgrade's end.
    void Manual(const std::function<void(CSetupDlg&)>& act) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier, kScanLShift, 0, 0);
        QApplication::sendEvent(&rig.W(), &press);
        CSetupDlg::SetExecHook([&](CSetupDlg& dlg) {
            act(dlg);
            ASSERT_TRUE(Until([&] { return !dlg.UpgradeRunning(); }, std::chrono::seconds(120)));
        });
        QTest::mouseClick(&rig.W().SettingsButton(), Qt::LeftButton);
        CSetupDlg::SetExecHook({});
    }
    bool ScanRequestedAfter(int passes) {
        return Until([&] { return rig.W().Hub().Session(0).Snapshot().scanPasses > passes; },
                     std::chrono::seconds(60));
    }
};

TEST_F(SetupUpgradeTest, FileChecksSayWhyAndEndTheWorkflow) {
    const auto tooBig = rig.tmp.path / "ZPN31-big.bin";
    Write(tooBig, std::vector<uint8_t>(kFwBufferSize + 1));
    auto bad = tavrik::testing::GoodImage();
    bad[0x100] ^= 0x10;
    const auto damaged = rig.tmp.path / "ZPN31-damaged.bin";
    Write(damaged, bad);
    answers.firmwareFiles = {QString::fromStdString(tooBig.string()),
                             QString::fromStdString((rig.tmp.path / "ZPN31-none.bin").string()),
                             QString::fromStdString(damaged.string()), QString()};
    Manual([&](CSetupDlg& dlg) {
        for (int i = 0; i < 4; ++i) {
            QTest::mouseClick(dlg.ActionButton(kCmdUpgradeKbmc), Qt::LeftButton);
        }
        EXPECT_FALSE(dlg.UpgradeRunning());
    });
    ASSERT_EQ(answers.messages.size(), 3u);
    EXPECT_TRUE(answers.messages[0].startsWith("You opened an invalid File"));
    EXPECT_TRUE(answers.messages[1].startsWith("The firmware file could not be read"));
    EXPECT_TRUE(answers.messages[2].startsWith("Sorry, this is not my file, error code=-1."));
    EXPECT_TRUE(answers.questions.empty());  // no confirmation was asked
}

TEST_F(SetupUpgradeTest, BothUpgradesRunToTheEndInManualMode) {
    answers.firmwareFiles = {QString::fromStdString(image.string()),
                             QString::fromStdString(image.string())};
    Manual([&](CSetupDlg& dlg) {
        QTest::mouseClick(dlg.ActionButton(kCmdUpgradeKeys), Qt::LeftButton);
        ASSERT_TRUE(dlg.UpgradeRunning());
        // The window refuses to close while the upgrade runs.
        QTest::mouseClick(dlg.CloseButton(), Qt::LeftButton);
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_TRUE(rig.W().StatusText().startsWith("Upgrading the key modules of keyboard 1"));
        ASSERT_TRUE(Until([&] { return !dlg.UpgradeRunning(); }, std::chrono::seconds(120)));
        EXPECT_EQ(dlg.ActionButton(kCmdUpgradeKeys)->text(), "Done");
        QTest::mouseClick(dlg.ActionButton(kCmdUpgradeKbmc), Qt::LeftButton);
        ASSERT_TRUE(Until([&] { return !dlg.UpgradeRunning(); }, std::chrono::seconds(120)));
        EXPECT_EQ(dlg.ActionButton(kCmdUpgradeKbmc)->text(), "Done");
    });
    EXPECT_EQ(answers.questions.size(), 2u);  // the confirmations
    EXPECT_TRUE(answers.questions[0].startsWith("Do NOT do any operation during upgrading!"));
}

TEST_F(SetupUpgradeTest, EngineErrorsAndAPulledCableAreSaid) {
    answers.firmwareFiles = {QString::fromStdString(image.string()),
                             QString::fromStdString(image.string())};
    Faults([](sim::SimFaults& f) { f.refuseChunk = 3; });
    Manual([&](CSetupDlg& dlg) {
        QTest::mouseClick(dlg.ActionButton(kCmdUpgradeKbmc), Qt::LeftButton);
    });
    ASSERT_FALSE(answers.messages.empty());
    EXPECT_TRUE(answers.messages.back().startsWith("Error happen during upgrading, error code="))
        << answers.messages.back().toStdString();
    EXPECT_TRUE(Until([&] {
        return rig.W().StatusText().startsWith("The upgrade of keyboard 1 did not succeed");
    })) << rig.W().StatusText().toStdString();

    Faults([](sim::SimFaults& f) {
        f.refuseChunk = 0;
        f.vanishAfterChunks = 2;
    });
    Manual([&](CSetupDlg& dlg) {
        QTest::mouseClick(dlg.ActionButton(kCmdUpgradeKeys), Qt::LeftButton);
        Until(
            [&] {
                rig.W().ProcessDeviceEvents();
                return !dlg.UpgradeRunning();
            },
            std::chrono::seconds(120));
    });
    EXPECT_FALSE(answers.messages.back().startsWith("Upgrade Done"))
        << answers.messages.back().toStdString();
}

TEST_F(SetupUpgradeTest, PollsRunningOutAreAFailureNeverDone) {
    CSetupDlg::SetUpgradePollLimit(2);
    answers.firmwareFiles = {QString::fromStdString(image.string())};
    const int passes = rig.W().Hub().Session(0).Snapshot().scanPasses;
    Manual([&](CSetupDlg& dlg) {
        QTest::mouseClick(dlg.ActionButton(kCmdUpgradeKeys), Qt::LeftButton);
    });
    ASSERT_FALSE(answers.messages.empty());
    EXPECT_TRUE(answers.messages.back().startsWith("The upgrade did not finish."))
        << answers.messages.back().toStdString();
    // Every way out asks for a scan.
    EXPECT_TRUE(ScanRequestedAfter(passes));
}

// The program asked to end while the settings window's upgrade runs: the tray's exit asks
// and may be refused; a signal does not ask. Either way the upgrade runs to its end, the
// program then ends by itself with 0, and the status line says why it waited.
TEST_F(SetupUpgradeTest, ExitDuringAnUpgradeEndsTheProgramWhenTheUpgradeEnded) {
    answers.firmwareFiles = {QString::fromStdString(image.string())};
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier, kScanLShift, 0, 0);
    QApplication::sendEvent(&rig.W(), &press);
    bool upgradeEnded = false;
    CSetupDlg::SetExecHook([&](CSetupDlg& dlg) {
        QTest::mouseClick(dlg.ActionButton(kCmdUpgradeKeys), Qt::LeftButton);
        ASSERT_TRUE(dlg.UpgradeRunning());
        // The tray's exit, refused: nothing ends.
        answers.yes = false;
        rig.W().ExitProgram();
        ASSERT_EQ(answers.questions.size(), 2u);
        EXPECT_EQ(answers.questions[1], PromptText("exitDuringUpgrade"));
        EXPECT_NE(rig.W().StatusText(), PromptText("exitAfterUpgrade"));
        // SIGTERM: nobody is asked; the program waits for the upgrade.
        rig.W().ExitProgram(false);
        EXPECT_EQ(answers.questions.size(), 2u);
        EXPECT_EQ(rig.W().StatusText(), PromptText("exitAfterUpgrade"));
        EXPECT_TRUE(dlg.UpgradeRunning());
        upgradeEnded = Until([&] { return !dlg.UpgradeRunning(); }, std::chrono::seconds(120));
        EXPECT_EQ(dlg.ActionButton(kCmdUpgradeKeys)->text(), "Done");
    });
    QTimer::singleShot(0, &rig.W(),
                       [&] { QTest::mouseClick(&rig.W().SettingsButton(), Qt::LeftButton); });
    // Should the loop not end, the watchdog ends it with a code the test refuses.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    watchdog.start(180000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    CSetupDlg::SetExecHook({});
    EXPECT_TRUE(upgradeEnded);
    EXPECT_FALSE(rig.W().isVisible());
}

TEST_F(SetupUpgradeTest, SuccessClearsTheFlagsHidesTheButtonAndTheBadge) {
    // The downloaded file of an update: no chooser without manual mode.
    std::filesystem::create_directories(rig.tmp.path / "data");
    const auto downloaded = rig.W().Settings().Zpn31FirmwareFile();
    std::filesystem::copy_file(image, downloaded,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(image, rig.W().Settings().ControllerFirmwareFile(),
                               std::filesystem::copy_options::overwrite_existing);
    CCCDev& dev = rig.W().Hub().Session(0);
    dev.SetNewVersionFlags(false, true);
    CSetupDlg::SetExecHook([&](CSetupDlg& dlg) {
        ASSERT_NE(dlg.ActionButton(kCmdUpgradeKeys), nullptr);
        EXPECT_EQ(dlg.ActionButton(kCmdUpgradeKbmc), nullptr);
        QTest::mouseClick(dlg.ActionButton(kCmdUpgradeKeys), Qt::LeftButton);
        ASSERT_TRUE(Until([&] { return !dlg.UpgradeRunning(); }, std::chrono::seconds(120)));
        EXPECT_FALSE(dlg.ActionButton(kCmdUpgradeKeys)->isVisible());
        EXPECT_EQ(dlg.AvailableCell(2)->text(), "Up to date");
    });
    QTest::mouseClick(&rig.W().SettingsButton(), Qt::LeftButton);
    CSetupDlg::SetExecHook({});
    ASSERT_FALSE(answers.messages.empty());
    EXPECT_TRUE(answers.messages.back().startsWith("Upgrade Done"));
    EXPECT_FALSE(dev.Snapshot().keyNewVer);
    EXPECT_FALSE(rig.W().SettingsButton().Badge());
}

}  // namespace
}  // namespace tavrik::ui

// The window's side of the online update against a local server on 127.0.0.1 serving a
// version file and an image: the badge, when the question is asked, Yes opening the
// settings window ready to upgrade, and the end of the threads during a question.
#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "firmware_test_image.h"
#include "http_test_server.h"
#include "ui/settings/setup_dlg.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/text_buttons.h"
#include "ui_test_util.h"
#include "update/digest.h"
#include "update/update_config.h"
#include "update/update_service.h"
#include "window_rig.h"

namespace tavrik::ui {
namespace {

using test::PromptAnswers;
using test::Until;
using test::WindowRig;

constexpr uint32_t Fw(int kbmcMajor, int kbmcMinor, int keyMajor, int keyMinor) {
    return static_cast<uint32_t>(kbmcMajor) << 24 | static_cast<uint32_t>(kbmcMinor) << 16 |
           static_cast<uint32_t>(keyMajor) << 8 | static_cast<uint32_t>(keyMinor);
}

struct UpdatePromptTest : ::testing::Test {
    WindowRig rig{1, 6};
    PromptAnswers answers;
    std::filesystem::path www = rig.tmp.path / "www";
    std::unique_ptr<tavrik::test::HttpTestServer> server;

    void SetUp() override {
        ASSERT_TRUE(rig.UntilKeysShown());
        std::filesystem::create_directories(www / "Update");
        const auto image = tavrik::testing::GoodImage();
        std::ofstream(www / "fw.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<long>(image.size()));
        const std::string md5 =
            Md5Hex(std::string(reinterpret_cast<const char*>(image.data()), image.size()))
                .value_or("");
        // Newer controller and key firmware, for either kind of controller.
        const std::string fw = std::to_string(Fw(1, 99, 9, 9));
        std::ofstream(www / "Update" / "second_latest_version.txt")
            << "[upgrade_config]\r\nLatestAppVersion=10\r\nLatestFwVersion=" << fw
            << "\r\nFwURL=/fw.bin\r\nFwMd5=" << md5 << "\r\nZPN31LatestFwVersion=" << fw
            << "\r\nZPN31FwURL=/fw.bin\r\nZPN31FwMd5=" << md5 << "\r\n";
        server = std::make_unique<tavrik::test::HttpTestServer>(www, std::chrono::seconds(120));
    }

    void Start() {
        UpdateConfig config = LoadUpdateConfig(rig.tmp.path / "data");
        config.server = server->Url();
        config.connectTimeoutS = 5;
        UpdateTimings t;
        t.retryMs = 200;
        t.scanPollMs = 50;
        t.keyboardPollMs = 50;
        t.settingsPollMs = 50;
        t.promptPauseMs = 10;
        rig.W().StartUpdates(config, t);
    }
    void InFront() {
        rig.W().show();
        rig.W().activateWindow();
        ASSERT_TRUE(Until([&] { return QApplication::activeWindow() == &rig.W(); },
                          std::chrono::seconds(5)));
    }
};

TEST_F(UpdatePromptTest, BadgeQuestionAndYesOpenTheSettingsReadyToUpgrade) {
    // Another window in front: the badge, no question.
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(
        Until([&] { return QApplication::activeWindow() == &other; }, std::chrono::seconds(5)));
    Start();
    ASSERT_TRUE(Until([&] { return rig.W().SettingsButton().Badge(); }, std::chrono::seconds(60)));
    // The tool's news comes first, the firmware's after its downloads: a scan's round may
    // run in between and know only the former. Wait for the whole check.
    ASSERT_TRUE(Until(
        [&] {
            OnlineUpdateService* u = rig.W().Updates();
            return u->State().latestZpn31 != 0 && u->PromptRounds() > 0 && u->IsPromptSuspended();
        },
        std::chrono::seconds(60)));
    EXPECT_TRUE(answers.questions.empty());

    // In front, after a keyboard's scan settled (0x41E): asked; Yes opens the settings.
    bool opened = false;
    CSetupDlg::SetExecHook([&](CSetupDlg& dlg) {
        opened = true;
        ASSERT_NE(dlg.ActionButton(kCmdUpgradeKbmc), nullptr);
        EXPECT_EQ(dlg.ActionButton(kCmdUpgradeKbmc)->text(), "Update now");
        ASSERT_NE(dlg.ActionButton(kCmdUpgradeKeys), nullptr);
        EXPECT_EQ(dlg.ActionButton(kCmdUpgradeKeys)->text(), "Update now");
    });
    other.hide();
    InFront();
    rig.W().OnNotify(UM_INFO_UPDATE_CHECK, 0, 0);
    ASSERT_TRUE(Until([&] { return opened; }, std::chrono::seconds(60)));
    CSetupDlg::SetExecHook({});
    ASSERT_FALSE(answers.questions.empty());
    EXPECT_TRUE(answers.questions[0].startsWith(
        "An update is available. Open the settings now to update keyboard 1"));
}

TEST_F(UpdatePromptTest, NoQuestionWhileTheSettingsWindowIsOpenAndShutdownEndsAQuestion) {
    InFront();
    // The settings window is open when the round comes: no question.
    bool roundSeen = false;
    CSetupDlg::SetExecHook([&](CSetupDlg&) {
        Start();
        roundSeen = Until(
            [&] {
                return rig.W().Updates()->PromptRounds() > 0 &&
                       rig.W().Updates()->IsPromptSuspended();
            },
            std::chrono::seconds(60));
    });
    rig.W().OpenSettings();
    CSetupDlg::SetExecHook({});
    ASSERT_TRUE(roundSeen);
    EXPECT_TRUE(answers.questions.empty());

    // Shutdown while the question is shown: the threads end without its answer.
    InFront();
    double stopMs = -1;
    UiPrompts::SetQuestionHook([&](QWidget*, const QString&) {
        const auto t0 = std::chrono::steady_clock::now();
        rig.W().StopUpdates();
        stopMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                     .count();
        return true;
    });
    rig.W().OnNotify(UM_INFO_UPDATE_CHECK, 0, 0);
    ASSERT_TRUE(Until([&] { return stopMs >= 0; }, std::chrono::seconds(60)));
    EXPECT_EQ(rig.W().Updates(), nullptr);
    // Not a speed check: a deadlock would never return at all.
    EXPECT_LT(stopMs, 10000.0);
    RecordProperty("stop_ms", std::to_string(stopMs));
}

}  // namespace
}  // namespace tavrik::ui

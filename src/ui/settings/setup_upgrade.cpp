// The version table's commands: the installer's address, and the controller and key
// module upgrades from a checked firmware image, run as a job of the keyboard's session.
#include <QApplication>
#include <QCloseEvent>

#include "app/texts.h"
#include "device/job_runner.h"
#include "device/session.h"
#include "device/session_jobs.h"
#include "protocol/fwimage.h"
#include "ui/settings/setup_dlg.h"
#include "ui/settings/setup_host.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/info_button.h"
#include "ui/widgets/text_buttons.h"
#include "ui/widgets/ui_prompts.h"
#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {

extern int g_setupUpgradePollLimit;

namespace {

constexpr const char* kInvalidFile =
    "You opened an invalid File, please re-open\r\n你打开了一个无效的文件，请重新打开\r\n";
constexpr const char* kNotMyFile =
    "Sorry, this is not my file, error code=%d.\r\n亲，你选择的文件不是我要的哦，错误号码：%d";
constexpr const char* kConfirm =
    "Do NOT do any operation during upgrading! \r\nDo you want to continue\r\n"
    "升级过程中请勿操作键盘，否则可能导致升级失败！\r\n你确定要继续升级吗?";
constexpr const char* kKbmcError =
    "Error happen during upgrading, error code=%d\r\n升级出错，请重新升级, 错误号：%d";
constexpr const char* kKeyError =
    "Sorry, there is error during upgrade, please un-plug/plug USB cable, then re-upgrade\r\n"
    "升级出错，错误号：%d，请重新拔插USB并重新启动本软件，然后再次运行升级";
constexpr const char* kDone = "Upgrade Done， Congratulations\r\n恭喜你，升级完成\r\n";
constexpr const char* kKeyDone = "Upgrade Done， Congratulations\r\n恭喜你，升级完成";
constexpr const char* kBigChange =
    "This update includes a big change, Please Click OK, then un-plug and plug USB cable\r\n"
    "本次更新包含主要变更，点击OK，然后重新拔插键盘USB线";

QString Filled(const char* text, std::initializer_list<long> numbers) {
    return QString::fromStdString(FillNumbers(text, numbers));
}

}  // namespace

// The button texts by the window's language: started, failed, done.
QString CSetupDlg::UpgradeText(int command, const char* moment) const {
    const bool chinese = state_.language == kLanguageChinese;
    const std::string m = moment;
    if (m == "started") {
        return command == kCmdUpgradeKbmc ? (chinese ? "升级开始" : "Start")
                                          : (chinese ? "下载中" : "Dowdloading");
    }
    if (m == "failed") {
        return chinese ? "升级失败" : "Fail";
    }
    return chinese ? "升级完成" : "Done";
}

bool CSetupDlg::RefuseWhileUpgrading() {
    if (job_ == 0) {
        return false;
    }
    UiPrompts::Message(this, PromptText("upgradeRunning"));
    return true;
}

void CSetupDlg::OnUpgradeCommand(int command) {
    if (job_ != 0) {
        UiPrompts::Message(this, PromptText("upgradeRunning"));
        return;
    }
    if (command == kCmdDownloadApp) {
        UiPrompts::OpenLink(QString::fromStdString(host_.InstallerUrl()));
        return;
    }
    if (command != kCmdUpgradeKbmc && command != kCmdUpgradeKeys) {
        return;
    }
    bool bigChange = true;
    FirmwareImagePtr image = LoadCheckedImage(bigChange);
    if (!image) {
        return;
    }
    if (!UiPrompts::Question(this, kConfirm)) {
        return;
    }
    CCCDev* dev = host_.KeyboardFor(state_.keyboard);
    if (dev == nullptr) {
        UiPrompts::Message(this, PromptText("upgradeKeyboardGone"));
        return;
    }
    const bool controller = command == kCmdUpgradeKbmc;
    if (!state_.manual && !(controller ? state_.kbmcUpdate : state_.keyUpdate)) {
        // Nothing to upgrade without an update; the scan goes on.
        host_.RefreshUpdateBadge();
        dev->RequestScan();
        return;
    }
    // The job pauses the scan, runs the engine and asks for a scan on every way out.
    job_ = controller ? SubmitKbmcUpgradeJob(*dev, image, g_setupUpgradePollLimit)
                      : SubmitKeyUpgradeJob(*dev, image, g_setupUpgradePollLimit);
    jobCommand_ = command;
    bigChange_ = bigChange;
    if (CStartUpgradeButton* b = ActionButton(command)) {
        b->setText(UpgradeText(command, "started"));
        b->update();
    }
    host_.FollowUpgrade(state_.keyboard, job_, controller);
    poll_.start();
}

// The file: chosen in manual mode or with Shift held, else the downloaded one. Its checks
// and their messages; null when the workflow ends here.
FirmwareImagePtr CSetupDlg::LoadCheckedImage(bool& bigChange) {
    std::string path = state_.firmwarePath;
    if (state_.manual || shiftNow_) {
        const QString chosen = UiPrompts::ChooseFirmwareFile(this);
        if (chosen.isEmpty()) {
            return nullptr;
        }
        path = chosen.toStdString();
    }
    if (!FirmwarePathAllowed(state_.kind, path)) {
        UiPrompts::Message(this, kInvalidFile);
        return nullptr;
    }
    auto image = std::make_shared<FirmwareImage>();
    std::string why;
    switch (LoadFirmwareFile(path, *image, nullptr, &why)) {
        case FirmwareLoadResult::Ok:
            break;
        case FirmwareLoadResult::TooLarge:
            UiPrompts::Message(this, kInvalidFile);
            return nullptr;
        default:
            UiPrompts::Message(this,
                               PromptText("fwFileUnreadable") + "\n" + QString::fromStdString(why));
            return nullptr;
    }
    // The stage and version of the last scan: the UI thread does not wait for the keyboard.
    int stageVer = -1;
    if (CCCDev* dev = host_.KeyboardFor(state_.keyboard)) {
        const SessionSnapshot snap = dev->Snapshot();
        if (!snap.verFail && snap.kbmcStage != 0) {
            stageVer = snap.kbmcStage * 65536 + snap.KbmcWord();
        }
    }
    const FirmwareCheckPlan plan = PlanFirmwareCheck(stageVer);
    const int check = plan.dual ? CheckDualImage(*image) : CheckSingleImage(*image);
    if (check < 1) {
        UiPrompts::Message(this, Filled(kNotMyFile, {check, check}));
        return nullptr;
    }
    bigChange = plan.bigChange;
    return image;
}

void CSetupDlg::PollUpgrade() {
    CCCDev* dev = host_.KeyboardFor(state_.keyboard);
    std::optional<JobStatus> status;
    if (dev != nullptr) {
        status = dev->Jobs().Status(job_);
    }
    if (!status || status->Finished()) {
        UpgradeEnded();
        return;
    }
    if (status->percent > 0) {
        if (CStartUpgradeButton* b = ActionButton(jobCommand_)) {
            b->setText(QString("%1%").arg(status->percent));
            b->update();
        }
    }
}

void CSetupDlg::UpgradeEnded() {
    poll_.stop();
    const int command = jobCommand_;
    const bool controller = command == kCmdUpgradeKbmc;
    CCCDev* dev = host_.KeyboardFor(state_.keyboard);
    std::optional<JobStatus> status;
    if (dev != nullptr) {
        status = dev->Jobs().Status(job_);
    }
    job_ = 0;
    jobCommand_ = 0;
    CStartUpgradeButton* button = ActionButton(command);
    const auto showFailed = [&] {
        if (button != nullptr && controller) {
            button->setText(UpgradeText(command, "failed"));
            button->update();
        }
    };
    if (!status || status->result == kJobKeyboardGone) {
        showFailed();
        UiPrompts::Message(this, PromptText("upgradeKeyboardGone"));
        host_.RefreshUpdateBadge();
        return;
    }
    const int result = status->result;
    if (status->state != JobState::Done) {
        showFailed();
        if (result < 0 && result >= -4) {
            const int code = -result;
            UiPrompts::Message(
                this, controller ? Filled(kKbmcError, {code, code}) : Filled(kKeyError, {code}));
        } else if (result == kJobUpgradeNotStarted) {
            UiPrompts::Message(this, PromptText("upgradeNotStarted"));
        } else {
            // Polls ran out, or the engine stopped without an error: never "done".
            UiPrompts::Message(this, PromptText("upgradeUnfinished"));
        }
        host_.RefreshUpdateBadge();
        dev->RequestScan();
        return;
    }
    ShowRowDone(command);
    const SessionSnapshot snap = dev->Snapshot();
    if (!state_.manual) {
        UiPrompts::Message(this, controller ? kDone : kKeyDone);
        if (controller) {
            state_.kbmcUpdate = false;
        } else {
            state_.keyUpdate = false;
        }
        dev->SetNewVersionFlags(controller ? false : snap.kbmcNewVer,
                                controller ? snap.keyNewVer : false);
        if (button != nullptr) {
            button->hide();
        }
        update();
        if (controller && bigChange_) {
            UiPrompts::Message(this, kBigChange);
        }
    } else {
        if (controller && bigChange_) {
            UiPrompts::Message(this, kBigChange);
        }
        if (button != nullptr) {
            button->setText(UpgradeText(command, "done"));
            button->update();
        }
    }
    host_.RefreshUpdateBadge();
    dev->RequestScan();
}

// The row shows the firmware it now runs.
void CSetupDlg::ShowRowDone(int command) {
    const bool controller = command == kCmdUpgradeKbmc;
    const int row = controller ? 1 : 2;
    if (CInfoButton* cur = CurrentCell(row)) {
        const int latest = controller ? state_.latestKbmc : state_.latestKey;
        if (latest != 0) {
            cur->setText(QString::fromStdString(VersionText(latest)));
            cur->update();
        }
    }
    if (CInfoButton* avail = AvailableCell(row)) {
        avail->setText(QString::fromStdString(GetSetupPromptText("noUpdate", g_strLanguage)));
        avail->update();
    }
    if (CStartUpgradeButton* b = ActionButton(command); b != nullptr && !controller) {
        b->setText("100%");
        b->update();
    }
}

}  // namespace tavrik::ui

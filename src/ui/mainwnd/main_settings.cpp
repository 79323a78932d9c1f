// The main window's side of the settings window: what it opens it with, the keyboard it
// was opened for, and applying the changes when it closed (options at once, controller
// modes as one job of that keyboard's session, whose progress and end the status line says).
#include <QApplication>
#include <QTimer>

#include "app/app_globals.h"
#include "app/applog.h"
#include "app/settings.h"
#include "app/texts.h"
#include "device/job_runner.h"
#include "device/keyboard_hub.h"
#include "device/mode_rules.h"
#include "device/session.h"
#include "device/session_jobs.h"
#include "ui/mainwnd/main_window.h"
#include "ui/settings/setup_dlg.h"
#include "ui/widgets/ui_prompts.h"
#include "ui/widgets/ui_texts.h"
#include "update/tool_version.h"
#include "update/update_config.h"
#include "update/update_rules.h"
#include "update/update_service.h"

namespace tavrik::ui {
namespace {

QString KeyboardText(const char* key, int slot) {
    return QString::fromStdString(FillNumbers(GetPromptText(key, g_strLanguage), {slot + 1}));
}

}  // namespace

// Whether a dialog's keyboard is still the one it was opened for: the same attach, and
// its cable still in.
CCCDev* CTavrikDlg::KeyboardFor(const KeyboardRef& ticket) {
    CCCDev* dev = hub_ ? hub_->Resolve(ticket) : nullptr;
    return dev != nullptr && !dev->TransportGone() ? dev : nullptr;
}

std::string CTavrikDlg::InstallerUrl() const {
    return updates_ ? updates_->Config().InstallerUrl()
                    : LoadUpdateConfig(settings_->DataFolderPath()).InstallerUrl();
}

SetupState CTavrikDlg::CollectSetupState() {
    SetupState s;
    s.keyboard = ShownKeyboard();
    s.keyboardCount = hub_ ? hub_->Count() : 0;
    const QPoint at = DialogPosition();
    s.ownerLeft = at.x();
    s.ownerTop = at.y();
    // An unsettled language is the one the program runs in.
    int language = g_strLanguage == "en" ? kLanguageEnglish : kLanguageChinese;
    settings_->GetLanguage(language);
    s.language = language;
    s.startWithWin = settings_->GetAutoStart() != 0;
    s.minAfterStart = settings_->GetMinAfterStart() != 0;
    s.checkUpdates = settings_->GetAutoUpgrade() != 0;
    s.appVersion = kToolVersion;
    UpdateState* update = updates_ ? &updates_->State() : nullptr;
    if (update != nullptr) {
        s.latestApp = update->latestTool;
        s.appUpdate = update->toolUpdateAvailable != 0;
    }
    if (CCCDev* dev = KeyboardFor(s.keyboard)) {
        FillKeyboardState(s, dev->Snapshot(), update);
    }
    s.firmwarePath = (s.kind == kZpn31Kind ? settings_->Zpn31FirmwareFile()
                                           : settings_->ControllerFirmwareFile())
                         .string();
    return s;
}

void CTavrikDlg::OpenSettings() {
    if (settingsDlg_ != nullptr || !settings_) {
        return;
    }
    SetupState state = CollectSetupState();
    state.manual = m_bLShiftDown;
    notice_.clear();
    if (updates_) {
        updates_->State().settingsOpen = 1;
    }
    {
        CSetupDlg dlg(state, *this, this);
        settingsDlg_ = &dlg;
        dlg.RunModal();
        settingsDlg_ = nullptr;
        ApplySettings(state, dlg.State());
    }
    m_bLShiftDown = false;
    if (updates_) {
        updates_->State().settingsOpen = 0;
    }
    if (!exiting_) {
        showNormal();
    }
}

void CTavrikDlg::ApplySettings(const SetupState& opened, const SetupState& edited) {
    CCCDev* dev = KeyboardFor(edited.keyboard);
    // A keyboard that went is compared with what the window opened with, to say what
    // was dropped; the one still there with what it holds now.
    SetupState now = opened;
    if (dev != nullptr) {
        now = CollectSetupState();
        FillKeyboardState(now, dev->Snapshot(), updates_ ? &updates_->State() : nullptr);
    }
    const SetupChanges c = PlanSetupChanges(edited, opened, now);
    if (c.autoStart) {
        settings_->SetAutoStart(*c.autoStart);
    }
    if (c.minAfterStart) {
        settings_->SetMinAfterStart(*c.minAfterStart);
    }
    if (c.autoUpgrade) {
        settings_->SetAutoUpgrade(*c.autoUpgrade);
    }
    const int slot = edited.keyboard.slot;
    if (!c.modes.Empty() && dev != nullptr) {
        const uint32_t id = SubmitModeChangesJob(*dev, c.modes);
        FollowJob(slot, id, KeyboardText("settingsApplying", slot), -1, [slot](const JobStatus& s) {
            if (s.state == JobState::Done) {
                return KeyboardText("settingsApplied", slot);
            }
            DlgLog("Settings of keyboard " + std::to_string(slot + 1) + " failed: " + s.message +
                   "\n");
            if (s.result == kJobKeyboardGone) {
                return KeyboardText("settingsKeyboardGone", slot);
            }
            if (s.result == kJobNotSupported) {
                return KeyboardText("settingsNotSupported", slot);
            }
            if (IsModeRefusal(s.result)) {
                return KeyboardText("settingsRefused", slot) + " " +
                       QString::fromStdString(SessionResultText(s.result, g_strLanguage));
            }
            return KeyboardText("settingsNoAnswer", slot);
        });
    } else if (!c.modes.Empty()) {
        DlgLog("Settings for keyboard " + std::to_string(slot + 1) +
               " dropped: the keyboard went away\n");
        SetNotice(KeyboardText("settingsKeyboardGone", slot));
    }
    if (c.language) {
        settings_->SetLanguage(*c.language);
        UiPrompts::Message(this, QString::fromUtf8(kLanguageRestartNoteText));
    }
}

void CTavrikDlg::FollowUpgrade(const KeyboardRef& ticket, uint32_t job, bool controller) {
    const int slot = ticket.slot;
    FollowJob(slot, job, KeyboardText(controller ? "upgradeStatusKbmc" : "upgradeStatusKeys", slot),
              -1, [slot](const JobStatus& s) {
                  return KeyboardText(
                      s.state == JobState::Done ? "upgradeDoneStatus" : "upgradeFailedStatus",
                      slot);
              });
}

void CTavrikDlg::SetNotice(const QString& text) {
    notice_ = text;
    SetStatus(text);
}

bool CTavrikDlg::DeferExitForUpgrade(bool ask) {
    if (exitAfterUpgrade_) {
        return true;
    }
    if (!UpgradeRunning()) {
        return false;
    }
    // Stopping between firmware blocks would leave the keyboard without a working firmware.
    if (ask && !UiPrompts::Question(this, PromptText("exitDuringUpgrade"))) {
        DlgLog("Exit asked during a firmware upgrade: the user chose to stay\n");
        return true;
    }
    DlgLog("Exit asked during a firmware upgrade: the program ends when the upgrade ends\n");
    SetNotice(PromptText("exitAfterUpgrade"));
    exitAfterUpgrade_ = true;
    auto* wait = new QTimer(this);
    wait->setInterval(200);
    connect(wait, &QTimer::timeout, this, [this, wait] {
        if (UpgradeRunning()) {
            return;
        }
        wait->stop();
        wait->deleteLater();
        exitAfterUpgrade_ = false;
        DlgLog("The firmware upgrade ended: the program ends\n");
        ExitProgram(false);
    });
    wait->start();
    return true;
}

bool CTavrikDlg::UpgradeRunning() const {
    if (!hub_) {
        return false;
    }
    for (int i = 0; i < kHubSlots; ++i) {
        if (hub_->IsAttached(i) && hub_->Session(i).IsUpgrading() != 0) {
            return true;
        }
    }
    return settingsDlg_ != nullptr && settingsDlg_->UpgradeRunning();
}

}  // namespace tavrik::ui

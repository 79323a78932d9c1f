// Keyboards attached at start-up and coming and going while the window runs.
#include <QSocketNotifier>

#include "app/app_globals.h"
#include "app/applog.h"
#include "app/keyboard_backend.h"
#include "app/texts.h"
#include "app/udev_access.h"
#include "device/job_runner.h"
#include "device/keyboard_hub.h"
#include "device/session.h"
#include "device/session_jobs.h"
#include "hid/device_monitor.h"
#include "ui/common/job_state_relay.h"
#include "ui/mainwnd/keyboard_view.h"
#include "ui/mainwnd/main_window.h"
#include "ui/mainwnd/update_bridge.h"
#include "ui/widgets/keyboard_tab.h"
#include "ui/widgets/ui_prompts.h"
#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {

void CTavrikDlg::AttachAtStart() {
    const int count = hub_->AttachPresent();
    if (count == 0) {
        SetStatusKey("waiting");
        view_->HideKeysView();
        view_->SetPromptPicture(1);
    } else {
        SetStatusKey("connected");
    }
    UpdateKeyboardButtons();
    ReportDeniedKeyboards();
    ReportUnreachableKeyboards();
}

void CTavrikDlg::StartDeviceMonitor() {
    std::string error;
    monitor_ = hub_->MakeMonitor(&error);
    if (!monitor_) {
        DlgLog("Fail to register USB event: " + error + "\n");
        UiPrompts::Message(this, "Fail to register USB event, Please restart the application");
        return;
    }
    monitorNotifier_ = new QSocketNotifier(monitor_->Fd(), QSocketNotifier::Read, this);
    connect(monitorNotifier_, &QSocketNotifier::activated, this, [this] { ProcessDeviceEvents(); });
}

void CTavrikDlg::ProcessDeviceEvents() {
    if (!monitor_) {
        return;
    }
    for (const DeviceEvent& e : monitor_->Process()) {
        if (e.change == DeviceChange::Arrived) {
            OnDeviceArrival(e.path);
        } else {
            OnDeviceRemoval(e.path);
        }
    }
}

void CTavrikDlg::OnDeviceArrival(const std::string& path) {
    const bool first = hub_->Count() == 0;
    const int slot = hub_->OnArrival(path);
    ReportDeniedKeyboards();
    if (slot < 0) {
        return;
    }
    if (first) {
        SetStatusKey("scanning");
        view_->SetPromptPicture(0);
    }
    UpdateKeyboardButtons();
}

void CTavrikDlg::OnDeviceRemoval(const std::string& path) {
    const int selected = hub_->Selected();
    const int slot = hub_->OnRemoval(path);
    if (slot < 0) {
        return;
    }
    JobStateRelay::Instance().PublishKeyboardGone(slot);
    ForgetHistory(slot);
    // Its jobs ended with it (a closed session's job notifications are dropped); one
    // followed with its own end text says so. A keyboard taking the slot starts afresh.
    if (auto ended = std::move(shownJob_[static_cast<size_t>(slot)].ended)) {
        JobStatus gone;
        gone.state = JobState::Failed;
        gone.result = kJobKeyboardGone;
        shownJob_[static_cast<size_t>(slot)] = {};
        SetNotice(ended(gone));
        if (slot == selected && hub_->Count() == 0) {
            view_->SetDevPage(slot, 0);
            UpdateKeyboardButtons();
            view_->HideKeysView();
            view_->SetPromptPicture(1);
            return;
        }
    }
    shownJob_[static_cast<size_t>(slot)] = {};
    view_->SetDevPage(slot, 0);
    UpdateKeyboardButtons();
    if (slot != selected) {
        return;
    }
    if (hub_->Count() > 0) {
        // The hub selected the first keyboard left and asked it for its summary.
        view_->ShowPage(hub_->Session(hub_->Selected()).Snapshot());
    } else {
        SetStatusKey("devRemove");
        view_->HideKeysView();
        view_->SetPromptPicture(1);
    }
}

void CTavrikDlg::UpdateKeyboardButtons() {
    if (updateBridge_) {
        updateBridge_->Publish(*hub_);
    }
    for (int i = 0; i < kHubSlots; ++i) {
        CKeyBoardButton& tab = view_->KeyboardTab(i);
        tab.SetDisabled(!hub_->IsAttached(i));
        tab.SetSelected(hub_->IsAttached(i) && i == hub_->Selected());
        tab.update();
    }
}

// A keyboard that is there but may not be opened is not "no keyboard": say which node and
// what lets the user in, once.
void CTavrikDlg::ReportDeniedKeyboards() {
    const auto& denied = hub_->DeniedPaths();
    if (denied.empty() || deniedReported_) {
        return;
    }
    deniedReported_ = true;
    const std::string text = DeniedKeyboardsText(denied, FindUdevRule(), g_strLanguage);
    DlgLog(text + "\n");
    ShowLongHelp("deniedTitle", text);
}

// Without hidapi the window would look as if no keyboard were plugged in: say why none can
// be reached and what to install. Hot-plug cannot mend it, so this is said once, at start.
void CTavrikDlg::ReportUnreachableKeyboards() {
    const std::string why = hub_->Backend().Unavailable();
    if (why.empty()) {
        return;
    }
    ShowLongHelp("unreachableTitle", UnreachableKeyboardsText(why, g_strLanguage));
}

// Some 300 characters: the status line takes the headline, the whole text goes where it can
// be read and its commands copied.
void CTavrikDlg::ShowLongHelp(const char* titleKey, const std::string& text) {
    const QString help = PromptText(titleKey) + "\n\n" + QString::fromStdString(text);
    if (!view_->ShowHelp(help)) {
        UiPrompts::Message(this, help);
    }
    SetStatusKey(titleKey);
}

}  // namespace tavrik::ui

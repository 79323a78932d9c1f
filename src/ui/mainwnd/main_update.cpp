// The online update of the window: its two threads started with the window, the badge on
// the settings button, and the question whether to open the settings window.
#include <QApplication>
#include <QMetaObject>
#include <condition_variable>
#include <mutex>

#include "app/app_globals.h"
#include "app/texts.h"
#include "device/keyboard_hub.h"
#include "ui/mainwnd/main_window.h"
#include "ui/mainwnd/update_bridge.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/ui_prompts.h"
#include "update/update_config.h"
#include "update/update_service.h"

namespace tavrik::ui {

void UpdateBridge::Publish(KeyboardHub& hub) {
    for (int i = 0; i < kKeyboardSlots; ++i) {
        slots_[static_cast<size_t>(i)] = hub.IsAttached(i) ? &hub.Session(i) : nullptr;
    }
}

void UpdateBridge::Close() {
    closing_->store(true);
    for (auto& slot : slots_) {
        slot = nullptr;
    }
}

CCCDev* UpdateBridge::Session(int slot) {
    if (slot < 0 || slot >= kKeyboardSlots || closing_->load()) {
        return nullptr;
    }
    return slots_[static_cast<size_t>(slot)].load();
}

bool UpdateBridge::OnUiThread(std::function<void()> fn) {
    struct Call {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto call = std::make_shared<Call>();
    auto closing = closing_;
    if (closing->load()) {
        return false;
    }
    QMetaObject::invokeMethod(
        qApp,
        [call, closing, fn = std::move(fn)] {
            if (!closing->load()) {
                fn();
            }
            std::lock_guard lock(call->mutex);
            call->done = true;
            call->cv.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(call->mutex);
    // Each slice bounds one wait; the window's closing ends them all.
    while (!call->done && !closing->load()) {
        call->cv.wait_for(lock, std::chrono::milliseconds(20));
    }
    return call->done && !closing->load();
}

// The answers live in shared state: a call given up at closing must not leave the UI
// thread writing into a frame that is gone.
bool UpdateBridge::IsForeground() {
    auto front = std::make_shared<std::atomic<bool>>(false);
    CTavrikDlg* w = &window_;
    OnUiThread([w, front] {
        *front = w->isVisible() && w->isEnabled() && !w->isMinimized() &&
                 QApplication::activeWindow() == w && w->SettingsDialog() == nullptr;
    });
    return front->load();
}

void UpdateBridge::RedrawSettingsButton() {
    if (closing_->load()) {
        return;
    }
    if (OnlineUpdateService* updates = window_.Updates()) {
        // SetBadge is safe from any thread: an atomic and a queued repaint.
        window_.SettingsButton().SetBadge(updates->State().badge != 0);
    }
}

void UpdateBridge::SelectKeyboard(int slot) {
    CTavrikDlg* w = &window_;
    OnUiThread([w, slot] { w->OnNotify(UM_KEYBOARD_SELECT, 0, slot); });
}

bool UpdateBridge::AskUser(int slot) {
    auto yes = std::make_shared<std::atomic<bool>>(false);
    CTavrikDlg* w = &window_;
    OnUiThread([w, slot, yes] {
        const std::string text = AskUserText(GetPromptText("askUser", g_strLanguage), slot);
        *yes = UiPrompts::Question(w, QString::fromStdString(text));
    });
    return yes->load() && !closing_->load();
}

void UpdateBridge::OpenSettings() {
    CTavrikDlg* w = &window_;
    OnUiThread([w] { w->OpenSettings(); });
}

void CTavrikDlg::StartUpdates(const UpdateConfig& config, const UpdateTimings& timings) {
    StopUpdates();
    updateBridge_ = std::make_unique<UpdateBridge>(*this);
    updateBridge_->Publish(*hub_);
    updates_ = std::make_unique<OnlineUpdateService>(config, *updateBridge_, timings);
    updates_->Start();
}

void CTavrikDlg::StopUpdates() {
    if (updateBridge_) {
        updateBridge_->Close();
    }
    if (updates_) {
        updates_->Stop();
    }
    updates_.reset();
    updateBridge_.reset();
}

void CTavrikDlg::RefreshUpdateBadge() {
    if (updates_) {
        updates_->RefreshUpdateBadge();
    }
}

}  // namespace tavrik::ui

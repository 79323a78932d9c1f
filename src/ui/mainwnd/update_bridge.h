// The main window as the update threads see it. They never touch the hub or a widget:
// the attached slots are published here by the UI thread after every attach and detach,
// and every question for the window is queued to the UI thread and waited for, until the
// window closes; from then on each call returns at once, so stopping the threads never
// waits on a question or a settings window.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>

#include "update/update_service.h"

namespace tavrik {
class KeyboardHub;
}

namespace tavrik::ui {

class CTavrikDlg;

class UpdateBridge : public UpdateWindow {
public:
    explicit UpdateBridge(CTavrikDlg& window) : window_(window) {}

    // UI thread: the slots that hold a keyboard now.
    void Publish(KeyboardHub& hub);
    // UI thread: every call from now on returns at once.
    void Close();

    CCCDev* Session(int slot) override;
    bool IsForeground() override;
    void RedrawSettingsButton() override;
    void SelectKeyboard(int slot) override;
    bool AskUser(int slot) override;
    void OpenSettings() override;

private:
    // Runs `fn` on the UI thread and waits for it; false when the window closed first.
    bool OnUiThread(std::function<void()> fn);

    CTavrikDlg& window_;
    std::array<std::atomic<CCCDev*>, kKeyboardSlots> slots_{};
    std::shared_ptr<std::atomic<bool>> closing_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace tavrik::ui

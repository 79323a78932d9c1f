// The two threads of the online update, for the whole life of the window: one checks the
// server at start, after a failure every minute and otherwise once a week; the other,
// woken after each complete check and after a keyboard's scan settled, marks outdated
// keyboards, puts the badge on the settings button and asks the user whether to open the
// settings window. Both end promptly when stopped, also in the middle of a download.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "update/update_check.h"
#include "update/update_config.h"
#include "update/update_state.h"

namespace tavrik {

class CCCDev;

inline constexpr int kKeyboardSlots = 4;

// The window's side of the update prompt. The session hook is called from the update
// threads and must be cheap; the others are window work the prompt thread waits for. A
// window that is closing makes them return at once (AskUser with false).
class UpdateWindow {
public:
    virtual ~UpdateWindow() = default;
    // The session of the keyboard in `slot` (0..3), or null while the slot is empty.
    virtual CCCDev* Session(int slot) = 0;
    // Whether the main window is visible, enabled and in the foreground.
    virtual bool IsForeground() { return false; }
    virtual void RedrawSettingsButton() {}
    // Selects the keyboard, as notification 0x41D does.
    virtual void SelectKeyboard(int /*slot*/) {}
    // The Yes/No question of AskUserText; true for Yes.
    virtual bool AskUser(int /*slot*/) { return false; }
    // Clicks the settings button; returns when the settings window has closed.
    virtual void OpenSettings() {}
};

// The prompt's question: the "askUser" text and the keyboard's number, counted from 1.
std::string AskUserText(const std::string& askUser, int slot);

// Pauses and limits. Tests shorten them; the window takes the defaults.
struct UpdateTimings {
    int retryMs = 60000;             // after a failed check
    int idleTickMs = 60000;          // between looks at the weekly counter
    int64_t recheckAfterS = 604800;  // counted 60 s per idle tick
    int scanPollMs = 10000;          // while a keyboard scans
    int scanPollCount = 100;
    int upgradePollMs = 60;  // while an upgrade runs
    int upgradePollCount = 100;
    int keyboardPollMs = 10000;  // until a keyboard is attached
    int settingsPollMs = 3000;   // while the settings window is open
    int promptPauseMs = 100;     // around the click on the settings button
};

class OnlineUpdateService {
public:
    OnlineUpdateService(UpdateConfig config, UpdateWindow& window, UpdateTimings timings = {});
    ~OnlineUpdateService();
    OnlineUpdateService(const OnlineUpdateService&) = delete;
    OnlineUpdateService& operator=(const OnlineUpdateService&) = delete;

    // Starts both threads with a check due; the prompt thread waits for its first wake.
    // Once per service: a stopped service stays stopped.
    void Start();
    // Ends both threads and waits for them. Safe to call more than once.
    void Stop();
    // Wakes the prompt thread for one round (after notification 0x41E). No effect while a
    // round runs or before Start.
    void ResumePrompt();

    UpdateState& State() { return state_; }
    const UpdateConfig& Config() const { return config_; }
    int Checks() const { return checks_.load(); }
    int PromptRounds() const { return rounds_.load(); }
    // Whether the prompt thread waits for its next wake (so that ResumePrompt counts).
    bool IsPromptSuspended();

    // Recomputes the settings button's badge from the tool and the attached keyboards and
    // redraws the button.
    void RefreshUpdateBadge();

    // The prompt thread's steps, public for the window and for tests. Each returns early
    // (0) when the service stops.
    int UpdateNeeded();
    void WaitUpgradesIdle();
    int UpdatePrompt();

private:
    void OnlineUpdateThread();
    void PromptThread();
    // Sleeps up to `ms`; false when the service stops meanwhile.
    bool Sleep(int ms);
    bool Stopping() const { return stop_.load(); }
    // Waits while any attached keyboard scans; false when it still scans after the limit.
    bool WaitScansIdle();
    bool WaitSuspended();

    const UpdateConfig config_;
    UpdateWindow& window_;
    const UpdateTimings timings_;
    UpdateState state_;

    std::atomic<bool> stop_{false};
    std::atomic<int> checkDue_{0};
    std::atomic<int> checks_{0};
    std::atomic<int> rounds_{0};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool started_ = false;
    bool suspended_ = true;  // the prompt thread starts suspended
    bool resume_ = false;

    std::thread onlineThread_;
    std::thread promptThread_;
};

}  // namespace tavrik

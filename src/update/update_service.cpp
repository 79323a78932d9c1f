#include "update/update_service.h"

#include <array>
#include <chrono>

#include "device/session.h"
#include "update/update_log.h"
#include "update/update_rules.h"

namespace tavrik {

std::string AskUserText(const std::string& askUser, int slot) {
    return askUser + " " + std::to_string(slot + 1) + "\n\r";
}

OnlineUpdateService::OnlineUpdateService(UpdateConfig config, UpdateWindow& window,
                                         UpdateTimings timings)
    : config_(std::move(config)), window_(window), timings_(timings) {}

OnlineUpdateService::~OnlineUpdateService() {
    Stop();
}

void OnlineUpdateService::Start() {
    {
        std::lock_guard lock(mutex_);
        if (started_ || stop_) {
            return;
        }
        started_ = true;
    }
    checkDue_ = 1;
    promptThread_ = std::thread([this] { PromptThread(); });
    onlineThread_ = std::thread([this] { OnlineUpdateThread(); });
}

void OnlineUpdateService::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    cv_.notify_all();
    if (onlineThread_.joinable()) {
        onlineThread_.join();
    }
    if (promptThread_.joinable()) {
        promptThread_.join();
    }
}

void OnlineUpdateService::ResumePrompt() {
    {
        std::lock_guard lock(mutex_);
        if (!started_ || !suspended_) {
            return;
        }
        resume_ = true;
    }
    cv_.notify_all();
}

bool OnlineUpdateService::IsPromptSuspended() {
    std::lock_guard lock(mutex_);
    return suspended_ && !resume_;
}

bool OnlineUpdateService::Sleep(int ms) {
    std::unique_lock lock(mutex_);
    return !cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

bool OnlineUpdateService::WaitSuspended() {
    std::unique_lock lock(mutex_);
    suspended_ = true;
    // Ends with a resume or the stop; the slices only bound each single wait.
    while (!resume_ && !stop_.load()) {
        cv_.wait_for(lock, std::chrono::seconds(1));
    }
    suspended_ = false;
    resume_ = false;
    return !stop_.load();
}

void OnlineUpdateService::OnlineUpdateThread() {
    TV_UPDLOG_D(config_.debug, "Online update thread start");
    int64_t seconds = 0;
    while (!Stopping()) {
        if (checkDue_ != 0) {
            ++checks_;
            if (OnlineUpdateCheck(config_, state_, &stop_) == 1) {
                checkDue_ = 0;
                ResumePrompt();
            } else {
                Sleep(timings_.retryMs);
            }
            continue;
        }
        if (!Sleep(timings_.idleTickMs)) {
            break;
        }
        seconds += 60;
        if (seconds > timings_.recheckAfterS) {
            checkDue_ = 1;
            seconds = 0;
        }
    }
}

void OnlineUpdateService::PromptThread() {
    if (!WaitSuspended()) {
        return;
    }
    TV_UPDLOG_D(config_.debug, "Update Prompt Thread start");
    do {
        ++rounds_;
        if (UpdateNeeded() != 0) {
            WaitUpgradesIdle();
            UpdatePrompt();
        }
    } while (WaitSuspended());
}

bool OnlineUpdateService::WaitScansIdle() {
    for (int round = 0; round < timings_.scanPollCount; ++round) {
        bool busy = false;
        for (int i = 0; i < kKeyboardSlots; ++i) {
            CCCDev* dev = window_.Session(i);
            busy = busy || (dev != nullptr && dev->IsScanBusy() != 0);
        }
        if (!busy) {
            return true;
        }
        if (!Sleep(timings_.scanPollMs)) {
            return false;
        }
    }
    return false;
}

int OnlineUpdateService::UpdateNeeded() {
    if (!WaitScansIdle()) {
        return 0;
    }
    bool kbmcNote = false;
    bool keyNote = false;
    for (int i = 0; i < kKeyboardSlots; ++i) {
        if (CCCDev* dev = window_.Session(i)) {
            const Outdated o = MarkOutdated(*dev, state_);
            kbmcNote = kbmcNote || o.kbmc;
            keyNote = keyNote || o.keys;
        }
    }
    return state_.toolUpdateAvailable != 0 || kbmcNote || keyNote ? 1 : 0;
}

void OnlineUpdateService::WaitUpgradesIdle() {
    for (int round = 0; round < timings_.upgradePollCount; ++round) {
        bool upgrading = false;
        for (int i = 0; i < kKeyboardSlots; ++i) {
            CCCDev* dev = window_.Session(i);
            upgrading = upgrading || (dev != nullptr && dev->IsUpgrading() != 0);
        }
        if (!upgrading || !Sleep(timings_.upgradePollMs)) {
            return;
        }
    }
}

int OnlineUpdateService::UpdatePrompt() {
    auto anyKeyboard = [this] {
        for (int i = 0; i < kKeyboardSlots; ++i) {
            if (window_.Session(i) != nullptr) {
                return true;
            }
        }
        return false;
    };
    while (!anyKeyboard()) {
        if (!Sleep(timings_.keyboardPollMs)) {
            return 0;
        }
    }
    if (!WaitScansIdle()) {
        return 0;
    }
    for (int i = 0; i < kKeyboardSlots && !Stopping(); ++i) {
        CCCDev* dev = window_.Session(i);
        if (dev == nullptr) {
            continue;
        }
        const Outdated o = MarkOutdated(*dev, state_);
        if (state_.toolUpdateAvailable == 0 && !o.kbmc && !o.keys) {
            continue;
        }
        state_.badge = 1;
        window_.RedrawSettingsButton();
        if (!window_.IsForeground()) {
            continue;
        }
        window_.SelectKeyboard(i);
        if (state_.settingsOpen != 0 || !window_.AskUser(i) || !Sleep(timings_.promptPauseMs)) {
            continue;
        }
        window_.OpenSettings();
        if (!Sleep(timings_.promptPauseMs)) {
            return 0;
        }
        while (state_.settingsOpen != 0) {
            if (!Sleep(timings_.settingsPollMs)) {
                return 0;
            }
        }
        Sleep(10);
    }
    return Stopping() ? 0 : 1;
}

void OnlineUpdateService::RefreshUpdateBadge() {
    std::array<NewVersionFlags, kKeyboardSlots> flags{};
    for (int i = 0; i < kKeyboardSlots; ++i) {
        if (const CCCDev* dev = window_.Session(i)) {
            const SessionSnapshot s = dev->Snapshot();
            flags[static_cast<size_t>(i)] = {s.kbmcNewVer ? 1 : 0, s.keyNewVer ? 1 : 0};
        }
    }
    state_.badge = BadgeWanted(state_.toolUpdateAvailable != 0, flags) ? 1 : 0;
    window_.RedrawSettingsButton();
}

}  // namespace tavrik

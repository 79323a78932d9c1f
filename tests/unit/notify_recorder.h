// A NotifyTarget that records what a session sends, for tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "device/notify.h"

namespace tavrik::test {

struct Note {
    uint32_t code;
    uint32_t wParam;
    uint32_t lParam;
    bool operator==(const Note&) const = default;
};

class NotifyRecorder : public NotifyTarget {
public:
    void Notify(uint32_t code, uint32_t wParam, uint32_t lParam) override {
        std::function<void(const Note&)> hook;
        {
            std::lock_guard lock(mutex_);
            notes_.push_back({code, wParam, lParam});
            hook = hook_;
        }
        cv_.notify_all();
        if (hook) {
            hook({code, wParam, lParam});
        }
    }
    // Called on the notifying thread after each note is recorded, as a window's handler is.
    void SetHook(std::function<void(const Note&)> hook) {
        std::lock_guard lock(mutex_);
        hook_ = std::move(hook);
    }

    std::vector<Note> Notes() const {
        std::lock_guard lock(mutex_);
        return notes_;
    }
    std::vector<Note> Of(uint32_t code) const {
        std::vector<Note> out;
        for (const auto& n : Notes()) {
            if (n.code == code) {
                out.push_back(n);
            }
        }
        return out;
    }
    size_t Count(uint32_t code) const { return Of(code).size(); }
    void Clear() {
        std::lock_guard lock(mutex_);
        notes_.clear();
    }
    // Waits (generously: tests run on loaded machines) until `count` notifications of
    // `code` arrived.
    bool WaitFor(uint32_t code, size_t count,
                 std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] {
            size_t n = 0;
            for (const auto& note : notes_) {
                n += note.code == code ? 1 : 0;
            }
            return n >= count;
        });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Note> notes_;
    std::function<void(const Note&)> hook_;
};

}  // namespace tavrik::test

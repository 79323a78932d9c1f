// Carries a session's notifications to its target. Without an owner thread the target is
// called on the worker's own thread (tests, the command line). With one (the window's
// thread), a worker queues the notification, wakes the owner and waits until the owner
// has handled it, as a synchronous window message would.
//
// Two rules keep that from deadlocking: whenever the owner itself waits for the session
// (a reply, a pause, a thread to end) it delivers what is queued meanwhile; and Release
// drops queued and future notifications and lets their senders go, which a closing
// session does before it joins its threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "device/notify.h"

namespace tavrik {

class NotifyChannel {
public:
    NotifyChannel() = default;
    NotifyChannel(const NotifyChannel&) = delete;
    NotifyChannel& operator=(const NotifyChannel&) = delete;

    void SetTarget(NotifyTarget* target);
    // Deliver on the calling thread from now on; `wakeOwner` asks that thread's event
    // loop to call DeliverPending soon. `poke` wakes the owner if it waits in the session.
    void SetOwnerThread(std::function<void()> wakeOwner);
    void SetPoke(std::function<void()> poke);

    // From any thread. False when the notification was dropped.
    bool Send(uint32_t code, uint32_t wParam, uint32_t lParam);
    // Owner thread: handles everything queued. True when something was delivered.
    bool DeliverPending();
    bool IsOwnerThread() const;
    bool HasOwner() const;
    // Notifications queued for the owner and not delivered yet.
    bool HasPending() const;

    // Drops queued and future notifications and releases waiting senders.
    void Release();
    void Reopen();

private:
    struct Pending {
        uint32_t code;
        uint32_t wParam;
        uint32_t lParam;
        uint64_t id;
    };

    mutable std::mutex mutex_;
    std::condition_variable handled_;
    std::deque<Pending> queue_;
    uint64_t nextId_ = 1;
    uint64_t doneUpTo_ = 0;  // every id up to this one is handled or dropped
    bool released_ = false;
    NotifyTarget* target_ = nullptr;
    std::thread::id owner_{};
    bool hasOwner_ = false;
    std::function<void()> wakeOwner_;
    std::function<void()> poke_;
};

}  // namespace tavrik

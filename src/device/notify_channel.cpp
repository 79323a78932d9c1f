#include "device/notify_channel.h"

#include <chrono>

namespace tavrik {

void NotifyChannel::SetTarget(NotifyTarget* target) {
    std::lock_guard lock(mutex_);
    target_ = target;
}

void NotifyChannel::SetOwnerThread(std::function<void()> wakeOwner) {
    std::lock_guard lock(mutex_);
    owner_ = std::this_thread::get_id();
    hasOwner_ = true;
    wakeOwner_ = std::move(wakeOwner);
}

void NotifyChannel::SetPoke(std::function<void()> poke) {
    std::lock_guard lock(mutex_);
    poke_ = std::move(poke);
}

bool NotifyChannel::IsOwnerThread() const {
    std::lock_guard lock(mutex_);
    return hasOwner_ && owner_ == std::this_thread::get_id();
}

bool NotifyChannel::HasOwner() const {
    std::lock_guard lock(mutex_);
    return hasOwner_;
}

bool NotifyChannel::HasPending() const {
    std::lock_guard lock(mutex_);
    return !queue_.empty() && !released_;
}

bool NotifyChannel::Send(uint32_t code, uint32_t wParam, uint32_t lParam) {
    std::unique_lock lock(mutex_);
    if (released_ || target_ == nullptr) {
        return false;
    }
    if (!hasOwner_ || owner_ == std::this_thread::get_id()) {
        NotifyTarget* target = target_;
        lock.unlock();
        target->Notify(code, wParam, lParam);
        return true;
    }
    const uint64_t id = nextId_++;
    queue_.push_back({code, wParam, lParam, id});
    auto wake = wakeOwner_;
    auto poke = poke_;
    lock.unlock();
    if (wake) {
        wake();
    }
    if (poke) {
        poke();
    }
    lock.lock();
    // The owner either handles it or releases the channel; the limit only bounds each
    // sleep so a lost wake-up cannot park a worker for good.
    while (doneUpTo_ < id && !released_) {
        handled_.wait_for(lock, std::chrono::milliseconds(50));
    }
    return doneUpTo_ >= id;
}

bool NotifyChannel::DeliverPending() {
    bool delivered = false;
    std::unique_lock lock(mutex_);
    while (!queue_.empty() && !released_) {
        const Pending p = queue_.front();
        queue_.pop_front();
        NotifyTarget* target = target_;
        lock.unlock();
        if (target != nullptr) {
            target->Notify(p.code, p.wParam, p.lParam);
        }
        delivered = true;
        lock.lock();
        doneUpTo_ = p.id;
        handled_.notify_all();
    }
    return delivered;
}

void NotifyChannel::Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    queue_.clear();
    handled_.notify_all();
}

void NotifyChannel::Reopen() {
    std::lock_guard lock(mutex_);
    released_ = false;
}

}  // namespace tavrik

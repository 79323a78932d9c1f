// Simulated hot-plug: the backend's own, plus the sim file watched for other programs.
// The file is replaced by rename, so the watch is on its folder, filtered by name.
// Reading and merging the file (its lock, its parse) is done by a thread of the monitor,
// never by the owner thread (a window's UI thread): a file held locked by another program
// or a big one would stall the window. A sync that found the lock held is tried again
// until the file has been read, so the keyboards always end up as the file says.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "hid/device_monitor.h"
#include "log/log.h"
#include "sim/sim_backend.h"

namespace tavrik::sim {
namespace {

// A held lock is tried for this long per attempt, then again after kRetryPause.
constexpr int kLockTryMs = 200;
constexpr auto kRetryPause = std::chrono::milliseconds(100);

DeviceChange ChangeOf(sim::SimHotplug kind) {
    switch (kind) {
        case sim::SimHotplug::Arrived:
            return DeviceChange::Arrived;
        case sim::SimHotplug::Removed:
            return DeviceChange::Removed;
        case sim::SimHotplug::Changed:
            break;
    }
    return DeviceChange::Changed;
}

class SimMonitor final : public DeviceMonitor {
public:
    explicit SimMonitor(sim::SimBackend& backend) : backend_(backend) {}

    ~SimMonitor() override {
        {
            std::lock_guard lock(syncMu_);
            stop_ = true;
        }
        syncCv_.notify_all();
        if (syncer_.joinable()) {
            syncer_.join();  // at most one lock attempt and one read
        }
        backend_.SetHotplugListener(nullptr);
        for (int fd : {epoll_, inotify_, wake_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    bool Start(std::string* error) {
        const auto file = backend_.BoundFile();
        auto folder = file.parent_path();
        if (folder.empty()) {
            folder = ".";
        }
        name_ = file.filename().string();
        inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        if (name_.empty() || inotify_ < 0 || wake_ < 0 || epoll_ < 0 ||
            ::inotify_add_watch(inotify_, folder.c_str(),
                                IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE) < 0) {
            if (error) {
                *error = name_.empty() ? std::string("no simulator file is kept")
                                       : folder.string() + ": " + std::strerror(errno);
            }
            return false;
        }
        for (int fd : {inotify_, wake_}) {
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.fd = fd;
            ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
        }
        // Called on whatever thread plugged or unplugged; handed over to the owner.
        backend_.SetHotplugListener([this](sim::SimHotplug kind, const std::string& path) {
            {
                std::lock_guard lock(mutex_);
                queue_.push_back({ChangeOf(kind), path});
            }
            const uint64_t one = 1;
            [[maybe_unused]] const auto n = ::write(wake_, &one, sizeof one);
        });
        syncer_ = std::thread([this] { SyncLoop(); });
        return true;
    }

    int Fd() const override { return epoll_; }

    std::vector<DeviceEvent> Process() override {
        uint64_t count = 0;
        [[maybe_unused]] const auto n = ::read(wake_, &count, sizeof count);
        if (FileTouched()) {
            {
                std::lock_guard lock(syncMu_);
                syncPending_ = true;
            }
            syncCv_.notify_all();
        }
        std::lock_guard lock(mutex_);
        std::vector<DeviceEvent> events(queue_.begin(), queue_.end());
        queue_.clear();
        return events;
    }

private:
    void SyncLoop() {
        std::unique_lock lock(syncMu_);
        for (;;) {
            syncCv_.wait(lock, [this] { return syncPending_ || stop_; });
            if (stop_) {
                return;
            }
            syncPending_ = false;
            lock.unlock();
            std::string error;
            const auto result = backend_.SyncFile(&error, kLockTryMs);
            if (result == sim::SimFileError::None || result == sim::SimFileError::NotFound) {
                warning_.Over();
            } else {
                warning_.Warn("Simulated keyboards not taken from the file: " + error);
            }
            lock.lock();
            if (result == sim::SimFileError::Busy) {
                // Another program holds the file: read it once it is let go.
                syncPending_ = true;
                syncCv_.wait_for(lock, kRetryPause, [this] { return stop_; });
            }
        }
    }

    // Drains the watch; true when an event named the file (or events were lost).
    bool FileTouched() {
        bool touched = false;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t len = ::read(inotify_, buffer, sizeof buffer);
            if (len <= 0) {
                return touched;
            }
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= len;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buffer + at);
                touched |= (ev->mask & IN_Q_OVERFLOW) != 0 || (ev->len > 0 && name_ == ev->name);
                at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            }
        }
    }

    sim::SimBackend& backend_;
    std::string name_;
    int inotify_ = -1;
    int wake_ = -1;
    int epoll_ = -1;
    std::mutex mutex_;
    std::deque<DeviceEvent> queue_;
    RepeatedWarning warning_;
    std::mutex syncMu_;
    std::condition_variable syncCv_;
    bool syncPending_ = false;
    bool stop_ = false;
    std::thread syncer_;
};

}  // namespace

std::unique_ptr<DeviceMonitor> SimBackend::MakeMonitor(std::string* error) {
    auto monitor = std::make_unique<SimMonitor>(*this);
    if (!monitor->Start(error)) {
        return nullptr;
    }
    return monitor;
}

}  // namespace tavrik::sim

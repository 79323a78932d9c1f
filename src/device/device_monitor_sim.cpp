// Simulated hot-plug: the backend's own, plus the sim file watched for other programs.
// The file is replaced by rename, so the watch is on its folder, filtered by name.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>

#include <glog/logging.h>

#include "device/device_monitor.h"
#include "sim/sim_backend.h"

namespace tavrik {
namespace {

class SimMonitor final : public DeviceMonitor {
public:
    explicit SimMonitor(sim::SimBackend& backend) : backend_(backend) {}

    ~SimMonitor() override {
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
                queue_.push_back({kind == sim::SimHotplug::Arrived ? DeviceChange::Arrived
                                                                   : DeviceChange::Removed,
                                  path});
            }
            const uint64_t one = 1;
            [[maybe_unused]] const auto n = ::write(wake_, &one, sizeof one);
        });
        return true;
    }

    int Fd() const override { return epoll_; }

    std::vector<DeviceEvent> Process() override {
        uint64_t count = 0;
        [[maybe_unused]] const auto n = ::read(wake_, &count, sizeof count);
        if (FileTouched()) {
            std::string error;
            const auto result = backend_.SyncFile(&error);
            if (result != sim::SimFileError::None && result != sim::SimFileError::NotFound) {
                LOG(WARNING) << "Simulated keyboards not taken from the file: " << error;
            }
        }
        std::lock_guard lock(mutex_);
        std::vector<DeviceEvent> events(queue_.begin(), queue_.end());
        queue_.clear();
        return events;
    }

private:
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
};

}  // namespace

std::unique_ptr<DeviceMonitor> MakeSimMonitor(sim::SimBackend& backend, std::string* error) {
    auto monitor = std::make_unique<SimMonitor>(backend);
    if (!monitor->Start(error)) {
        return nullptr;
    }
    return monitor;
}

}  // namespace tavrik

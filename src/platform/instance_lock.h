// One running copy per user and data folder. The first copy holds an flock on a lock file;
// the kernel drops it when that copy ends in any way, so a crash leaves no stale lock. A
// later copy finds the lock taken and asks the first one, over a Unix-domain socket in the
// abstract namespace named after the lock file and the user, to show its window.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace tavrik {

class InstanceLock {
public:
    // `lockFile`: the file whose lock marks the running copy (its folder must exist).
    // `name`: the application's name, part of the socket's name.
    InstanceLock(std::filesystem::path lockFile, std::string name);
    ~InstanceLock();  // stops listening and releases the lock
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Tries to take the lock (once; later calls give the first answer). True when another
    // copy holds it. A lock that cannot be made at all gives false: the tool starts normally.
    bool IsAlreadyRunning();

    // First copy: answers "show" requests of later copies by calling `onShow` on a listener
    // thread of its own (the window side hands it on to its UI thread). False when this
    // copy does not hold the lock or the socket cannot be opened.
    bool StartListening(std::function<void()> onShow);
    void StopListening();

    // Later copy: asks the first copy to show its window, trying again while the first copy
    // may still be starting, for at most `limit`. True when the first copy confirmed.
    bool AskFirstToShow(std::chrono::milliseconds limit) const;

private:
    void Listen();
    void Serve(int fd);

    std::filesystem::path lockFile_;
    std::string socketName_;  // abstract: begins with a NUL byte
    std::once_flag tried_;
    bool running_ = false;
    int lockFd_ = -1;
    int listenFd_ = -1;
    std::function<void()> onShow_;
    std::atomic<bool> stop_{false};
    std::thread listener_;
};

}  // namespace tavrik

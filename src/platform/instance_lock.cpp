#include "platform/instance_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace tavrik {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kShow = "show\n";
constexpr std::string_view kDone = "ok\n";
constexpr std::chrono::milliseconds kPollStep{100};
constexpr std::chrono::milliseconds kPeerLimit{500};

uint64_t Fnv1a(std::string_view s) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : s) {
        h = (h ^ c) * 1099511628211ull;
    }
    return h;
}

std::string SocketName(const std::filesystem::path& lockFile, const std::string& name) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::weakly_canonical(lockFile, ec);
    if (ec) {
        full = lockFile;
    }
    char tail[64];
    std::snprintf(tail, sizeof tail, "-%lu-%016llx", static_cast<unsigned long>(::getuid()),
                  static_cast<unsigned long long>(Fnv1a(full.string())));
    return std::string(1, '\0') + "tavrik-" + name.substr(0, 40) + tail;
}

socklen_t FillAddress(sockaddr_un& addr, const std::string& name) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    const size_t n = std::min(name.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, name.data(), n);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n);
}

int Remaining(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads until a line break, `max` bytes or the deadline.
std::string ReadLine(int fd, size_t max, Clock::time_point deadline) {
    std::string got;
    while (got.size() < max && (got.empty() || got.back() != '\n')) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, Remaining(deadline));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            break;
        }
        char buf[16];
        const ssize_t n = ::read(fd, buf, std::min(sizeof buf, max - got.size()));
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got.append(buf, size_t(n));
    }
    return got;
}

bool SendAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        text.remove_prefix(size_t(n));
    }
    return true;
}

}  // namespace

InstanceLock::InstanceLock(std::filesystem::path lockFile, std::string name)
    : lockFile_(std::move(lockFile)), socketName_(SocketName(lockFile_, name)) {}

InstanceLock::~InstanceLock() {
    StopListening();
    if (lockFd_ >= 0) {
        ::close(lockFd_);  // releases the lock
    }
}

bool InstanceLock::IsAlreadyRunning() {
    std::call_once(tried_, [this] {
        const int fd = ::open(lockFile_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            return;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            lockFd_ = fd;
            // The holder's process id, for whoever looks at the file.
            const std::string pid = std::to_string(::getpid()) + "\n";
            if (::ftruncate(fd, 0) == 0) {
                [[maybe_unused]] const ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
            }
            return;
        }
        running_ = errno == EWOULDBLOCK;
        ::close(fd);
    });
    return running_;
}

bool InstanceLock::StartListening(std::function<void()> onShow) {
    if (lockFd_ < 0 || listener_.joinable()) {
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un addr;
    const socklen_t len = FillAddress(addr, socketName_);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return false;
    }
    listenFd_ = fd;
    onShow_ = std::move(onShow);
    stop_ = false;
    listener_ = std::thread([this] { Listen(); });
    return true;
}

void InstanceLock::StopListening() {
    if (listener_.joinable()) {
        stop_ = true;
        listener_.join();
    }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
}

void InstanceLock::Listen() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(kPollStep.count()));
        if (r <= 0 || (p.revents & POLLIN) == 0) {
            continue;
        }
        const int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (c >= 0) {
            Serve(c);
            ::close(c);
        }
    }
}

void InstanceLock::Serve(int fd) {
    // Only the same user may raise the window.
    ucred peer{};
    socklen_t len = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || peer.uid != ::getuid()) {
        return;
    }
    if (ReadLine(fd, kShow.size(), Clock::now() + kPeerLimit) != kShow) {
        return;
    }
    if (onShow_) {
        try {
            onShow_();
        } catch (...) {
            // A failing window hook must not end the listener.
        }
    }
    SendAll(fd, kDone);
}

bool InstanceLock::AskFirstToShow(std::chrono::milliseconds limit) const {
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            return false;
        }
        sockaddr_un addr;
        const socklen_t len = FillAddress(addr, socketName_);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 && SendAll(fd, kShow)) {
            const bool answered = ReadLine(fd, kDone.size(), deadline) == kDone;
            ::close(fd);
            return answered;
        }
        ::close(fd);
        if (Remaining(deadline) == 0) {
            return false;
        }
        std::this_thread::sleep_for(std::min(std::chrono::milliseconds(50),
                                             std::chrono::milliseconds(Remaining(deadline))));
    }
}

}  // namespace tavrik

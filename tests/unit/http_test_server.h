// A small HTTP/1.1 server on 127.0.0.1 for tests: serves the files of a folder, or a
// scripted reply for a path (an error, a redirect, an endless body, a stall, a body
// trickled a few bytes a second). One
// connection at a time, each closed after its reply. It stops when destroyed and at the
// latest after `lifetime`, so a test that goes wrong cannot leave it running.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tavrik::test {

class HttpTestServer {
public:
    struct Reply {
        enum Mode { Body, Stall, Endless, Trickle } mode = Body;
        int status = 200;
        std::string body;
        std::string location;        // sent as Location with a 302
        bool withLength = true;      // Content-Length, or a body ended by closing
        size_t bytesPerSecond = 20;  // Trickle

        static Reply Status(int status, std::string body = {}) {
            Reply r;
            r.status = status;
            r.body = std::move(body);
            return r;
        }
        static Reply Redirect(std::string location) {
            Reply r = Status(302);
            r.location = std::move(location);
            return r;
        }
        static Reply Forever(Mode mode) {
            Reply r;
            r.mode = mode;
            r.withLength = false;
            return r;
        }
    };
    struct Request {
        std::string path;
        std::string head;  // the request line and headers
        size_t bytesSent = 0;
    };

    explicit HttpTestServer(std::filesystem::path root,
                            std::chrono::seconds lifetime = std::chrono::seconds(60))
        : root_(std::move(root)), until_(std::chrono::steady_clock::now() + lifetime) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listen_, 16) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            return;
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~HttpTestServer() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (listen_ >= 0) {
            ::close(listen_);
        }
    }

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    void Script(const std::string& path, Reply reply) {
        std::lock_guard lock(mutex_);
        scripts_[path] = std::move(reply);
    }
    void Unscript(const std::string& path) {
        std::lock_guard lock(mutex_);
        scripts_.erase(path);
    }
    std::vector<Request> Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    int Count(const std::string& path) const {
        int n = 0;
        for (const auto& r : Requests()) {
            n += r.path == path ? 1 : 0;
        }
        return n;
    }

private:
    bool Live() const { return !stop_ && std::chrono::steady_clock::now() < until_; }

    bool WaitFor(int fd, short events) const {
        pollfd p{fd, events, 0};
        while (Live()) {
            if (::poll(&p, 1, 50) > 0) {
                return true;
            }
        }
        return false;
    }

    // Sleeps up to `ms`; false when the server stops meanwhile.
    bool Pause(int ms) const {
        for (int waited = 0; waited < ms; waited += 50) {
            if (!Live()) {
                return false;
            }
            ::poll(nullptr, 0, 50);
        }
        return Live();
    }

    bool SendAll(int fd, const char* data, size_t size, size_t& sent) {
        while (size > 0) {
            if (!WaitFor(fd, POLLOUT)) {
                return false;
            }
            const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            data += n;
            size -= static_cast<size_t>(n);
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    void Serve() {
        while (Live()) {
            if (!WaitFor(listen_, POLLIN)) {
                break;
            }
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                Handle(fd);
                ::close(fd);
            }
        }
    }

    void Handle(int fd) {
        std::string head;
        char buf[1024];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 16384) {
            if (!WaitFor(fd, POLLIN)) {
                return;
            }
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
                return;
            }
            head.append(buf, static_cast<size_t>(n));
        }
        std::istringstream line(head);
        std::string method, path;
        line >> method >> path;
        Reply reply;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back({path, head.substr(0, head.find("\r\n\r\n")), 0});
            if (auto it = scripts_.find(path); it != scripts_.end()) {
                reply = it->second;
            } else if (std::ifstream file(root_ / path.substr(1), std::ios::binary);
                       file && std::filesystem::is_regular_file(root_ / path.substr(1))) {
                reply.body.assign(std::istreambuf_iterator<char>(file), {});
            } else {
                reply.status = 404;
                reply.body = "not here";
            }
        }
        size_t sent = 0;
        if (reply.mode == Reply::Stall) {
            // Until the client hangs up or the server stops.
            while (WaitFor(fd, POLLIN) && ::recv(fd, buf, sizeof buf, 0) > 0) {
            }
        } else {
            std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " X\r\n";
            if (!reply.location.empty()) {
                out += "Location: " + reply.location + "\r\n";
            }
            if (reply.mode == Reply::Body && reply.withLength) {
                out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
            }
            out += "Connection: close\r\n\r\n";
            if (SendAll(fd, out.data(), out.size(), sent)) {
                if (reply.mode == Reply::Body) {
                    SendAll(fd, reply.body.data(), reply.body.size(), sent);
                } else if (reply.mode == Reply::Trickle) {
                    // Until the client hangs up or the server stops.
                    const std::string bit(reply.bytesPerSecond, 'x');
                    while (SendAll(fd, bit.data(), bit.size(), sent) && Pause(1000)) {
                    }
                } else {
                    // Far more than any download may take: the client must hang up.
                    const std::string chunk(64 * 1024, 'x');
                    for (int i = 0; i < 4096 && SendAll(fd, chunk.data(), chunk.size(), sent);) {
                        ++i;
                    }
                }
            }
        }
        std::lock_guard lock(mutex_);
        requests_.back().bytesSent = sent;
    }

    std::filesystem::path root_;
    std::chrono::steady_clock::time_point until_;
    std::atomic<bool> stop_{false};
    int listen_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::string, Reply> scripts_;
    std::vector<Request> requests_;
    std::thread thread_;
};

}  // namespace tavrik::test

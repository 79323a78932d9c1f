#include "update/downloader.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "platform/process.h"
#include "update/fetch_protocol.h"

extern char** environ;

namespace tavrik {

namespace {

using Clock = std::chrono::steady_clock;

// How long the helper may outlive its own time limit, or a cancel, before it is stopped.
constexpr auto kHelperGrace = std::chrono::seconds(5);
constexpr size_t kMaxResultLine = 4096;

class Fd {
public:
    Fd() = default;
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
};

bool MakePipe(Fd& read, Fd& write) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    read.Reset(fds[0]);
    write.Reset(fds[1]);
    return true;
}

FetchResult Failure(FetchStatus status, std::string detail) {
    FetchResult result;
    result.status = status;
    result.detail = std::move(detail);
    return result;
}

// Waits for the helper's result line, cancelling and, past every limit, stopping it.
FetchResult Follow(pid_t pid, Fd& result, Fd& cancel, const FetchLimits& limits) {
    auto hardEnd = limits.deadline == Clock::time_point::max() ? Clock::time_point::max()
                                                               : limits.deadline + kHelperGrace;
    std::string line;
    bool stopped = false;
    while (true) {
        if (cancel.Get() >= 0 && limits.cancel != nullptr && limits.cancel->load()) {
            cancel.Close();
            hardEnd = std::min(hardEnd, Clock::now() + kHelperGrace);
        }
        if (Clock::now() >= hardEnd) {
            // It ignored its own limit and the cancel: the only way left to keep the bound.
            ::kill(pid, SIGKILL);
            stopped = true;
            break;
        }
        pollfd p{result.Get(), POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        char buffer[512];
        const ssize_t n = ::read(result.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        line.append(buffer, static_cast<size_t>(std::min<size_t>(static_cast<size_t>(n),
                                                                 kMaxResultLine - line.size())));
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (stopped) {
        return limits.cancel != nullptr && limits.cancel->load()
                   ? Failure(FetchStatus::Cancelled, "stopped")
                   : Failure(FetchStatus::TimeLimit, "the time limit ran out");
    }
    if (auto parsed = ParseFetchResult(line)) {
        return *parsed;
    }
    return Failure(FetchStatus::Failed,
                   WIFSIGNALED(status)
                       ? "the download helper ended by signal " + std::to_string(WTERMSIG(status))
                       : "the download helper ended without a result");
}

}  // namespace

std::optional<AtomicFile> StageDownload(const std::filesystem::path& target) {
    return AtomicFile::Open(target, nullptr, nullptr, StreamTargets::Refuse);
}

std::filesystem::path FetchHelperPath() {
    const std::filesystem::path folder = ExecutablePath().parent_path();
    std::error_code ec;
    for (const auto& candidate :
         {folder / "tavrik-fetch", folder.parent_path() / "libexec" / "tavrik" / "tavrik-fetch"}) {
        if (std::filesystem::is_regular_file(candidate, ec) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

FetchResult Fetch(const std::string& url, int fd, const FetchLimits& limits) {
    if (limits.deadline != Clock::time_point::max() && Clock::now() >= limits.deadline) {
        return Failure(FetchStatus::TimeLimit, "the time limit ran out");
    }
    static const std::filesystem::path helper = FetchHelperPath();
    if (helper.empty()) {
        return Failure(FetchStatus::Failed,
                       "the download helper tavrik-fetch is not installed beside " +
                           ExecutablePath().parent_path().string() + " or in ../libexec/tavrik");
    }
    Fd cancelRead, cancelWrite, resultRead, resultWrite;
    if (!MakePipe(cancelRead, cancelWrite) || !MakePipe(resultRead, resultWrite)) {
        return Failure(FetchStatus::Failed, "cannot start the download helper: no pipe");
    }
    std::vector<std::string> args = FetchArguments(url, limits);
    args.insert(args.begin(), helper.string());
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, cancelRead.Get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, resultWrite.Get(), kFetchResultFd);
    // Nothing else of this process (keyboards, locks) goes with it.
    posix_spawn_file_actions_addclosefrom_np(&actions, kFetchResultFd + 1);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return Failure(FetchStatus::Failed,
                       "cannot start the download helper: " + std::system_category().message(rc));
    }
    cancelRead.Close();
    resultWrite.Close();
    return Follow(pid, resultRead, cancelWrite, limits);
}

}  // namespace tavrik

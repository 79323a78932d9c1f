#include "hostile.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include <gtest/gtest.h>

extern char** environ;

namespace tavrik::hostile {

namespace fs = std::filesystem;

FileFacts Facts(const fs::path& path) {
    FileFacts f;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return f;
    }
    f.exists = true;
    f.type = st.st_mode & S_IFMT;
    f.mode = st.st_mode & 07777;
    f.inode = st.st_ino;
    if (S_ISREG(st.st_mode)) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        f.bytes = text.str();
    }
    return f;
}

Sandbox::Sandbox() {
    const char* tmp = std::getenv("TEST_TMPDIR");
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name =
        info ? std::string(info->test_suite_name()) + "." + info->name() : "hostile";
    dir_ = fs::path(tmp && *tmp ? tmp : fs::temp_directory_path().c_str()) / "hostile" / name;
    std::error_code ec;
    // A folder left read-only by an earlier run must still go.
    if (fs::exists(dir_, ec)) {
        for (const auto& e : fs::recursive_directory_iterator(dir_, ec)) {
            if (e.is_directory(ec) && !e.is_symlink(ec)) {
                fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
            }
        }
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }
    fs::create_directories(dir_ / "home", ec);
    if (ec) {
        throw std::runtime_error("cannot make " + dir_.string());
    }
    dir_ = fs::canonical(dir_);
}

void Sandbox::WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Sandbox::ReadFile(const std::string& name) const {
    return Facts(dir_ / name).bytes;
}

namespace {

// Reads what is there without blocking; false once the pipe is closed.
bool Drain(int fd, std::string& into) {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return true;
        }
        return false;
    }
}

}  // namespace

CtlRun Sandbox::Ctl(const std::vector<std::string>& args, std::chrono::milliseconds limit,
                    bool simulate, const std::optional<std::string>& stdinText) const {
    std::vector<std::string> argv{TAVRIK_CTL};
    if (simulate) {
        argv.push_back("--simulate=" + SimFile().string());
    }
    argv.insert(argv.end(), args.begin(), args.end());

    std::vector<std::string> env;
    // An entry of the sandbox's own replaces the inherited one of that name.
    auto ownName = [this](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        return std::any_of(env_.begin(), env_.end(),
                           [&name](const std::string& own) { return own.rfind(name, 0) == 0; });
    };
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("HOME=", 0) != 0 && entry.rfind("XDG_", 0) != 0 &&
            entry.rfind("LOCALAPPDATA=", 0) != 0 && entry.rfind("TAVRIK_", 0) != 0 &&
            !ownName(entry)) {
            env.push_back(entry);
        }
    }
    env.push_back("HOME=" + (dir_ / "home").string());
    env.push_back("XDG_DATA_HOME=" + (dir_ / "home" / "data").string());
    env.push_back("XDG_CONFIG_HOME=" + (dir_ / "home" / "config").string());
    env.push_back("TAVRIK_SIM_PAUSE_SCALE=0.05");    // restarts and settling in a blink
    env.push_back("TAVRIK_SIM_REPLY_SLACK_MS=500");  // upgrade replies on a loaded machine
    env.insert(env.end(), env_.begin(), env_.end());

    auto pointers = [](std::vector<std::string>& v) {
        std::vector<char*> p;
        for (auto& s : v) {
            p.push_back(s.data());
        }
        p.push_back(nullptr);
        return p;
    };
    auto argp = pointers(argv);
    auto envp = pointers(env);

    int outPipe[2];
    int errPipe[2];
    int inPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 ||
        ::pipe2(inPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    CtlRun run;
    if (rc != 0) {
        ::close(inPipe[1]);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        run.err = "cannot start " + argv[0];
        return run;
    }
    if (stdinText) {
        // Small inputs only: the pipe holds 64 KiB.
        [[maybe_unused]] const ssize_t n = ::write(inPipe[1], stdinText->data(), stdinText->size());
    }
    ::close(inPipe[1]);
    ::fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
    ::fcntl(errPipe[0], F_SETFL, O_NONBLOCK);

    const auto until = std::chrono::steady_clock::now() + limit;
    const int signo = std::exchange(signal_, 0);
    bool signalled = false;
    bool outOpen = true;
    bool errOpen = true;
    while (outOpen || errOpen) {
        if (signo != 0 && !signalled && run.err.find(signalMarker_) != std::string::npos) {
            ::kill(pid, signo);
            signalled = true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            run.timedOut = true;
            break;
        }
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        ::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 200)));
        if (outOpen) {
            outOpen = Drain(outPipe[0], run.out);
        }
        if (errOpen) {
            errOpen = Drain(errPipe[0], run.err);
        }
    }
    if (run.timedOut) {
        // A hung command is the fault under test; it must not hang the suite too.
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    run.status = (!run.timedOut && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace tavrik::hostile

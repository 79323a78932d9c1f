#include "platform/atomic_file.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

namespace tavrik {

namespace fs = std::filesystem;

namespace {

// A FIFO whose reader is still starting (`cmd -o fifo & reader < fifo`) gets this long.
constexpr auto kFifoReaderWait = std::chrono::seconds(5);
// A stream that takes no bytes for this long is given up on.
constexpr int kStreamStallMs = 30000;

void Fail(std::string* error, FileWriteFailure* failure, FileWriteFailure what,
          const std::string& message) {
    if (error != nullptr) {
        *error = message;
    }
    if (failure != nullptr) {
        *failure = what;
    }
}

std::string Quoted(const fs::path& p) {
    return "'" + p.string() + "'";
}

std::string SysError(int err) {
    return std::strerror(err);
}

fs::path FolderOf(const fs::path& p) {
    return p.has_parent_path() ? p.parent_path() : fs::path(".");
}

const char* KindName(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    return "not a regular file";
}

// Opened without blocking, so a FIFO without a reader or a terminal line cannot hang the
// open; writes block as usual afterwards.
int OpenStream(const fs::path& path, bool fifo, int& err) {
    const auto giveUp = std::chrono::steady_clock::now() + kFifoReaderWait;
    for (;;) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            const int flags = ::fcntl(fd, F_GETFL);
            if (flags >= 0) {
                ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
            }
            return fd;
        }
        err = errno;
        if (err == EINTR) {
            continue;
        }
        if (!fifo || err != ENXIO || std::chrono::steady_clock::now() >= giveUp) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Temporaries of this target left by a process that died before it could remove its own
// (killed mid-write): ".<name>.tmp-<pid>-..." whose <pid> no longer runs. Only regular
// files are removed; a process still running keeps its own.
void RemoveStaleTemporaries(const fs::path& target) {
    const std::string prefix = "." + target.filename().string() + ".tmp-";
    std::error_code ec;
    for (fs::directory_iterator it(FolderOf(target), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) != 0) {
            continue;
        }
        char* rest = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &rest, 10);
        if (pid <= 0 || rest == nullptr || *rest != '-' || pid == ::getpid()) {
            continue;
        }
        struct stat st {};
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH &&
            ::lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            ::unlink(it->path().c_str());
        }
    }
}

int CreateTemporary(const fs::path& target, fs::path& temp, int& err) {
    RemoveStaleTemporaries(target);
    static std::atomic<unsigned> counter{0};
    thread_local std::minstd_rand random(
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        static_cast<unsigned>(::getpid()));
    for (int attempt = 0; attempt < 16; ++attempt) {
        fs::path candidate = target;
        candidate.replace_filename(
            "." + target.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
            std::to_string(counter.fetch_add(1)) + "-" + std::to_string(random() % 100000));
        // 0666: the umask decides a new file's permissions, as for any other file.
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temp = std::move(candidate);
            return fd;
        }
        err = errno;
        if (err != EEXIST && err != EINTR) {
            return -1;
        }
    }
    return -1;
}

bool WriteAll(int fd, std::string_view bytes, int& err) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w < 0 && errno == EAGAIN) {
            // A stream shared with a non-blocking reader end (a pipe set up by a shell).
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, kStreamStallMs) > 0) {
                continue;
            }
            err = ETIMEDOUT;
            return false;
        }
        err = w < 0 ? errno : EIO;
        return false;
    }
    return true;
}

// A rename is durable only once its folder is on disk. Some file systems cannot flush a
// folder at all; that is no failure of ours.
bool SyncFolder(const fs::path& folder, int& err) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        err = errno;
        return false;
    }
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
    err = errno;
    ::close(fd);
    return ok;
}

// Whether we may write into the file itself. Root may write anything, so for root a file
// without any write permission counts as read-only.
bool MayWrite(const fs::path& path, const struct stat& st) {
    if (::geteuid() == 0) {
        return (st.st_mode & 0222) != 0;
    }
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

std::optional<AtomicFile> AtomicFile::Open(const fs::path& path, std::string* error,
                                           FileWriteFailure* failure, StreamTargets streams) {
    if (failure != nullptr) {
        *failure = FileWriteFailure::None;
    }
    if (path.empty() || !path.has_filename()) {
        Fail(error, failure, FileWriteFailure::CannotCreate, "no file name in " + Quoted(path));
        return std::nullopt;
    }
    struct stat st {};
    bool existed = false;
    fs::path target = path;
    if (::stat(path.c_str(), &st) == 0) {
        existed = true;
        if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
            if (streams == StreamTargets::Refuse) {
                Fail(error, failure, FileWriteFailure::Refused,
                     Quoted(path) + " is " + KindName(st.st_mode) + ", not a regular file");
                return std::nullopt;
            }
            int err = 0;
            const int fd = OpenStream(path, S_ISFIFO(st.st_mode), err);
            if (fd < 0) {
                Fail(error, failure, FileWriteFailure::CannotCreate,
                     "cannot open " + Quoted(path) + " for writing: " +
                         (err == ENXIO ? std::string("no reader") : SysError(err)));
                return std::nullopt;
            }
            return AtomicFile(path, path, fd, true);
        }
        if (!S_ISREG(st.st_mode)) {
            Fail(error, failure, FileWriteFailure::Refused,
                 Quoted(path) + " is " + KindName(st.st_mode) + "; it is not replaced");
            return std::nullopt;
        }
        // Replacing needs only the folder's permission; a file its owner made read-only is
        // kept as it is all the same.
        if (!MayWrite(path, st)) {
            Fail(error, failure, FileWriteFailure::Refused,
                 Quoted(path) + " is read-only; it is not replaced");
            return std::nullopt;
        }
        // Through links to the file itself: the link stays, the file is replaced.
        std::error_code ec;
        if (fs::path resolved = fs::canonical(path, ec); !ec) {
            target = std::move(resolved);
        }
    } else if (const int err = errno; err == ENOENT) {
        struct stat lst {};
        if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
            std::error_code ec;
            Fail(error, failure, FileWriteFailure::Refused,
                 Quoted(path) + " is a link to " + Quoted(fs::read_symlink(path, ec)) +
                     ", which does not exist");
            return std::nullopt;
        }
    } else if (err != ENOTDIR) {
        Fail(error, failure,
             err == ELOOP ? FileWriteFailure::Refused : FileWriteFailure::CannotCreate,
             "cannot look at " + Quoted(path) + ": " + SysError(err));
        return std::nullopt;
    }

    fs::path temp;
    int err = 0;
    const int fd = CreateTemporary(target, temp, err);
    if (fd < 0) {
        Fail(
            error, failure, FileWriteFailure::CannotCreate,
            "cannot create a temporary file in " + Quoted(FolderOf(target)) + ": " + SysError(err));
        return std::nullopt;
    }
    AtomicFile file(target, temp, fd, false);
    if (existed) {
        // The owner first: a change of owner may clear the set-id bits that follow.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Only root or the owner may; a file of ours needs neither.
        }
        if (::fchmod(fd, st.st_mode & 07777) != 0) {
            Fail(error, failure, FileWriteFailure::CannotWrite,
                 "cannot give " + Quoted(temp) + " the permissions of " + Quoted(target) + ": " +
                     SysError(errno));
            return std::nullopt;
        }
    }
    return file;
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::move(other.temp_)),
      fd_(other.fd_),
      stream_(other.stream_),
      finished_(other.finished_),
      failed_(other.failed_) {
    other.fd_ = -1;
    other.finished_ = true;  // nothing left for the moved-from object to remove
}

AtomicFile::~AtomicFile() {
    Discard();
}

void AtomicFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!finished_ && !stream_) {
        ::unlink(temp_.c_str());
    }
    finished_ = true;
}

bool AtomicFile::Write(std::string_view bytes, std::string* error) {
    if (fd_ < 0 || finished_) {
        Fail(error, nullptr, FileWriteFailure::CannotWrite, Quoted(target_) + " is already closed");
        return false;
    }
    int err = 0;
    if (!WriteAll(fd_, bytes, err)) {
        failed_ = true;
        Fail(error, nullptr, FileWriteFailure::CannotWrite,
             "cannot write " + Quoted(temp_) + ": " + SysError(err));
        return false;
    }
    return true;
}

bool AtomicFile::Commit(std::string* error) {
    if (fd_ < 0 || finished_ || failed_) {
        Fail(error, nullptr, FileWriteFailure::CannotWrite,
             failed_ ? "an earlier write to " + Quoted(temp_) + " failed"
                     : Quoted(target_) + " is already closed");
        Discard();
        return false;
    }
    if (stream_) {
        const bool closed = ::close(fd_) == 0;
        const int err = errno;
        fd_ = -1;
        finished_ = true;
        if (!closed) {
            Fail(error, nullptr, FileWriteFailure::CannotWrite,
                 "cannot finish writing " + Quoted(target_) + ": " + SysError(err));
        }
        return closed;
    }
    // The rename must not reach the disk before the bytes it publishes.
    if (::fsync(fd_) != 0) {
        Fail(error, nullptr, FileWriteFailure::CannotWrite,
             "cannot flush " + Quoted(temp_) + " to disk: " + SysError(errno));
        Discard();
        return false;
    }
    const bool closed = ::close(fd_) == 0;
    const int closeErr = errno;
    fd_ = -1;
    if (!closed) {
        Fail(error, nullptr, FileWriteFailure::CannotWrite,
             "cannot close " + Quoted(temp_) + ": " + SysError(closeErr));
        Discard();
        return false;
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        Fail(error, nullptr, FileWriteFailure::CannotWrite,
             "cannot rename " + Quoted(temp_) + " to " + Quoted(target_) + ": " + SysError(errno));
        Discard();
        return false;
    }
    finished_ = true;
    int err = 0;
    if (!SyncFolder(FolderOf(target_), err)) {
        Fail(error, nullptr, FileWriteFailure::CannotWrite,
             Quoted(target_) +
                 " was replaced, but its folder could not be flushed to disk: " + SysError(err));
        return false;
    }
    return true;
}

bool WriteFileAtomically(const fs::path& path, std::string_view bytes, std::string* error,
                         FileWriteFailure* failure) {
    auto file = AtomicFile::Open(path, error, failure);
    if (!file) {
        return false;
    }
    if (!file->Write(bytes, error) || !file->Commit(error)) {
        if (failure != nullptr) {
            *failure = FileWriteFailure::CannotWrite;
        }
        return false;
    }
    return true;
}

bool IsAtomicFileTemporary(const fs::path& path) {
    const std::string name = path.filename().string();
    return name.size() > 1 && name[0] == '.' && name.find(".tmp-") != std::string::npos;
}

}  // namespace tavrik

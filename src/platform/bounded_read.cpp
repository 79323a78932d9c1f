#include "platform/bounded_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace tavrik {
namespace {

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

BoundedRead Fail(const std::filesystem::path& path, ReadFailure failure, const std::string& why) {
    BoundedRead r;
    r.failure = failure;
    r.why = why;
    r.error = "'" + path.string() + "' " + why;
    return r;
}

FileStamp StampOf(const struct stat& st) {
    const auto ns = [](const timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; };
    return {uint64_t(st.st_dev), uint64_t(st.st_ino), uint64_t(st.st_size), ns(st.st_mtim),
            ns(st.st_ctim)};
}

}  // namespace

std::optional<FileStamp> StampOfFile(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return StampOf(st);
}

std::string SizeText(size_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) {
        return std::to_string(bytes >> 20) + " MiB";
    }
    if (bytes >= 1024 && bytes % 1024 == 0) {
        return std::to_string(bytes >> 10) + " KiB";
    }
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

BoundedRead ReadBoundedFile(const std::filesystem::path& path, size_t limit, BeyondLimit beyond) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const Fd file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
    if (file.fd < 0) {
        const int e = errno;
        return e == ENOENT ? Fail(path, ReadFailure::NotFound, "does not exist")
                           : Fail(path, ReadFailure::CannotOpen,
                                  std::string("cannot be opened: ") + std::strerror(e));
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) {
        return Fail(path, ReadFailure::CannotRead,
                    std::string("cannot be read: ") + std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return Fail(path, ReadFailure::NotRegular, "is not a regular file");
    }
    // Reads of a regular file do not block; clearing the flag keeps an odd file system
    // from answering EAGAIN.
    ::fcntl(file.fd, F_SETFL, ::fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);
    const auto tooLarge = [&] {
        return Fail(path, ReadFailure::TooLarge, "is larger than " + SizeText(limit));
    };
    if (beyond == BeyondLimit::Refuse && uint64_t(st.st_size) > limit) {
        return tooLarge();
    }
    // The size seen may change while reading (a file still being written): the limit is
    // kept by what is read, not by what fstat said.
    BoundedRead r;
    r.stamp = StampOf(st);
    const size_t want = beyond == BeyondLimit::Refuse ? limit + 1 : limit;
    r.bytes.resize(std::min(want, size_t(st.st_size) + 1));
    size_t got = 0;
    for (;;) {
        if (got == r.bytes.size()) {
            if (got >= want) {
                break;
            }
            r.bytes.resize(std::min(want, got * 2 + 4096));
        }
        const ssize_t n = ::read(file.fd, r.bytes.data() + got, r.bytes.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return Fail(path, ReadFailure::CannotRead,
                        std::string("cannot be read: ") + std::strerror(errno));
        }
        if (n == 0) {
            break;
        }
        got += size_t(n);
    }
    if (got > limit) {
        return tooLarge();
    }
    r.bytes.resize(got);
    return r;
}

}  // namespace tavrik

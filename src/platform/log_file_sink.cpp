#include "platform/log_file_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

namespace tavrik {

namespace {

// Only a regular file: a FIFO without a reader would hold the open (and every log line
// after it), a device would take lines that are not its to take.
int OpenForAppend(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        return -1;
    }
    if (fd >= 0) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    return fd;
}

std::string Header(const char* programName) {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char when[32];
    std::strftime(when, sizeof when, "%Y/%m/%d %H:%M:%S", &tm);
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) {
        host[0] = '\0';
    }
    std::string h = "Log file created at: ";
    h += when;
    h += "\nRunning on machine: ";
    h += host;
    h += "\nRunning program: ";
    h += programName;
    h += "\nLog line format: [IWEF]yyyymmdd hh:mm:ss.uuuuuu threadid file:line] msg\n";
    return h;
}

}  // namespace

std::unique_ptr<LogFileSink> LogFileSink::Open(const std::filesystem::path& file,
                                               const char* programName, std::uintmax_t sizeLimit) {
    const int fd = OpenForAppend(file);
    if (fd < 0) {
        return nullptr;
    }
    std::unique_ptr<LogFileSink> sink(new LogFileSink(file, fd, programName, sizeLimit));
    const std::string header = Header(programName);
    std::lock_guard lock(sink->mutex_);
    sink->KeepWithinLimit(header.size());
    sink->WriteAll(header);
    return sink;
}

LogFileSink::LogFileSink(std::filesystem::path file, int fd, const char* programName,
                         std::uintmax_t sizeLimit)
    : file_(std::move(file)), fd_(fd), programName_(programName), sizeLimit_(sizeLimit) {}

LogFileSink::~LogFileSink() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void LogFileSink::send(google::LogSeverity severity, const char* /*fullFilename*/,
                       const char* baseFilename, int line, const google::LogMessageTime& time,
                       const char* message, size_t messageLen) {
    if (stopped_.load(std::memory_order_relaxed)) {
        return;
    }
    std::string text = ToString(severity, baseFilename, line, time, message, messageLen);
    text += '\n';
    std::lock_guard lock(mutex_);
    ReopenIfRemoved();
    KeepWithinLimit(text.size());
    WriteAll(text);
}

// Emptied in place rather than replaced, so that other copies appending to the same file
// carry on in it. Caller holds mutex_.
void LogFileSink::KeepWithinLimit(size_t adding) {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || std::uintmax_t(st.st_size) + adding <= sizeLimit_) {
        return;
    }
    if (::ftruncate(fd_, 0) == 0) {
        WriteAll(Header(programName_) + "Log file emptied: it reached its limit of " +
                 std::to_string(sizeLimit_) + " bytes\n");
    }
}

// Another copy of the tool deletes an oversized log at its start; this copy then carries on
// in a new file of the same name instead of writing into the deleted one.
void LogFileSink::ReopenIfRemoved() {
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && st.st_nlink > 0) {
        return;
    }
    const int fd = OpenForAppend(file_);
    if (fd >= 0) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
}

void LogFileSink::WriteAll(const std::string& text) {
    size_t done = 0;
    while (fd_ >= 0 && done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n < 0 && (errno == ENOSPC || errno == EDQUOT)) {
                stopped_ = true;
            }
            return;
        }
    }
}

}  // namespace tavrik

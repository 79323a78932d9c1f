// A glog sink that appends every line to one fixed file. glog's own files carry a date and a
// process number in their names and are locked against other processes, so a second copy
// of the tool could not add its lines; this sink opens the file for appending instead, and
// every line goes out in one write, so copies running at once never split each other's lines.
#pragma once

#include <glog/logging.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>

namespace tavrik {

class LogFileSink : public google::LogSink {
public:
    // Opens (creating when missing) `file` for appending and writes glog's usual header
    // lines. Null when the file cannot be opened. A line that would take the file past
    // `sizeLimit` bytes first empties it (with a header saying so), so the file keeps to
    // its limit however long the program runs and whatever it logs.
    static std::unique_ptr<LogFileSink> Open(const std::filesystem::path& file,
                                             const char* programName,
                                             std::uintmax_t sizeLimit = UINTMAX_MAX);
    ~LogFileSink() override;
    LogFileSink(const LogFileSink&) = delete;
    LogFileSink& operator=(const LogFileSink&) = delete;

    void send(google::LogSeverity severity, const char* fullFilename, const char* baseFilename,
              int line, const google::LogMessageTime& time, const char* message,
              size_t messageLen) override;

private:
    LogFileSink(std::filesystem::path file, int fd, const char* programName,
                std::uintmax_t sizeLimit);
    void WriteAll(const std::string& text);
    void ReopenIfRemoved();
    void KeepWithinLimit(size_t adding);

    std::mutex mutex_;
    std::filesystem::path file_;
    int fd_ = -1;
    const char* programName_;
    std::uintmax_t sizeLimit_;
    // A full disk stops logging rather than failing the tool.
    std::atomic<bool> stopped_{false};
};

}  // namespace tavrik

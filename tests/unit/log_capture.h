// Records the glog lines written while an instance is alive, so tests can check what
// a component reported. Lines from every thread are captured.
#pragma once

#include <glog/logging.h>

#include <cstddef>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik::test {

struct LoggedLine {
    google::LogSeverity severity = google::GLOG_INFO;
    std::string file;  // as passed to the logger, e.g. "CCUSB"
    int line = 0;
    std::string text;  // without the trailing newline
};

class LogCapture : public google::LogSink {
public:
    LogCapture() { google::AddLogSink(this); }
    ~LogCapture() override { google::RemoveLogSink(this); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Called by glog with its own locks held: must not log.
    void send(google::LogSeverity severity, const char* fullFilename, const char* /*baseFilename*/,
              int line, const google::LogMessageTime& /*time*/, const char* message,
              size_t messageLen) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(LoggedLine{severity, fullFilename ? fullFilename : "", line,
                                    std::string(message, messageLen)});
    }

    std::vector<LoggedLine> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

    // Texts only, in order.
    std::vector<std::string> Texts() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        out.reserve(lines_.size());
        for (const auto& l : lines_)
            out.push_back(l.text);
        return out;
    }

    // Number of lines whose text contains `needle` (and, if given, whose source file
    // equals `file`).
    size_t Count(std::string_view needle, std::string_view file = {}) const {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (const auto& l : lines_) {
            if ((file.empty() || l.file == file) && l.text.find(needle) != std::string::npos)
                ++n;
        }
        return n;
    }

    bool Contains(std::string_view needle, std::string_view file = {}) const {
        return Count(needle, file) > 0;
    }

    // Number of lines that contain every one of `keys`: the values a line names (a file,
    // a key, a count) rather than the words around them.
    size_t CountWithAll(std::initializer_list<std::string_view> keys) const {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (const auto& l : lines_) {
            bool all = true;
            for (const auto key : keys) {
                all = all && l.text.find(key) != std::string::npos;
            }
            n += all ? 1 : 0;
        }
        return n;
    }

    // A line whose text equals `text` exactly.
    bool HasLine(std::string_view text, std::string_view file = {}) const {
        std::lock_guard lock(mutex_);
        for (const auto& l : lines_) {
            if ((file.empty() || l.file == file) && l.text == text)
                return true;
        }
        return false;
    }

    void Clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<LoggedLine> lines_;
};

}  // namespace tavrik::test

#include "log/log.h"

#include <glog/logging.h>

#include <cstdio>

namespace tavrik {

void LogLine(const char* source, int line, std::string_view text) {
    google::LogMessage(source, line).stream() << text;
}

void LogLinef(const char* source, int line, const char* fmt, ...) {
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    LogLine(source, line, text);
}

void DevLogV(const char* source, int line, int devIdx, const char* fmt, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof text, fmt, args);
    google::LogMessage(source, line).stream() << "Dev " << devIdx << ": " << text;
}

void DevLog(const char* source, int line, int devIdx, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    DevLogV(source, line, devIdx, fmt, args);
    va_end(args);
}

void RepeatedWarning::Warn(const std::string& text) {
    std::lock_guard lock(mu_);
    const auto now = std::chrono::steady_clock::now();
    if (!active_) {
        active_ = true;
        last_ = now;
        ++logged_;
        LOG(WARNING) << text;
        return;
    }
    ++unsaid_;
    text_ = text;
    if (now - last_ >= every_) {
        last_ = now;
        ++logged_;
        LOG(WARNING) << text << " (" << unsaid_ << " more like this since the last line)";
        unsaid_ = 0;
    }
}

void RepeatedWarning::Over() {
    std::lock_guard lock(mu_);
    if (unsaid_ > 0) {
        ++logged_;
        LOG(WARNING) << text_ << " (" << unsaid_ << " more like this since the last line)";
    }
    active_ = false;
    unsaid_ = 0;
}

int RepeatedWarning::Logged() const {
    std::lock_guard lock(mu_);
    return logged_;
}

}  // namespace tavrik

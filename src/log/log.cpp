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

}  // namespace tavrik

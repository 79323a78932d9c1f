#include "device/devlog.h"

#include <glog/logging.h>

#include <cstdio>
#include <string>

namespace tavrik {

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

// The one way a line reaches the diagnostic log: information level, under a fixed source
// name ("CCDev", "CCUSB", "TavrikDlg", "Tavrik") so the log reads the same whichever file
// the line comes from. Transport and session lines carry the "Dev %d: " prefix.
#pragma once

#include <cstdarg>
#include <string_view>

namespace tavrik {

void LogLine(const char* source, int line, std::string_view text);

#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
void LogLinef(const char* source, int line, const char* fmt, ...);

void DevLogV(const char* source, int line, int devIdx, const char* fmt, va_list args);
#if defined(__GNUC__)
__attribute__((format(printf, 4, 5)))
#endif
void DevLog(const char* source, int line, int devIdx, const char* fmt, ...);

}  // namespace tavrik

// Always written.
#define TV_DEVLOG(source, dev, ...) ::tavrik::DevLog(source, __LINE__, dev, __VA_ARGS__)
// Written only while the object's verbose flag is on.
#define TV_DEVLOG_V(on, source, dev, ...)        \
    do {                                         \
        if (on) {                                \
            TV_DEVLOG(source, dev, __VA_ARGS__); \
        }                                        \
    } while (0)

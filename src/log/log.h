// The one way a line reaches the diagnostic log: information level, under a fixed source
// name ("CCDev", "CCUSB", "TavrikDlg", "Tavrik") so the log reads the same whichever file
// the line comes from. Transport and session lines carry the "Dev %d: " prefix.
#pragma once

#include <chrono>
#include <cstdarg>
#include <mutex>
#include <string>
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

// A warning that may come again and again (a file rewritten in a loop by another
// program): the first is logged whole, the next ones are counted and logged at most once
// per `every` with their count and the latest text, and the count left when the trouble
// ends (Over) closes it. Any thread.
class RepeatedWarning {
public:
    explicit RepeatedWarning(std::chrono::milliseconds every = std::chrono::seconds(10))
        : every_(every) {}
    void Warn(const std::string& text);
    void Over();
    // Lines logged so far, for tests.
    int Logged() const;

private:
    mutable std::mutex mu_;
    std::chrono::milliseconds every_;
    std::chrono::steady_clock::time_point last_;
    bool active_ = false;
    int unsaid_ = 0;
    int logged_ = 0;
    std::string text_;
};

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

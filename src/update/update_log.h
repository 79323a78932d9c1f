// Log lines of the online update. They carry the main window's source name, since the
// update is part of the window's work; debug lines only appear with the debug setting.
#pragma once

namespace tavrik {

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void UpdateLogAt(int line, const char* fmt, ...);

}  // namespace tavrik

// Always written.
#define TV_UPDLOG(...) ::tavrik::UpdateLogAt(__LINE__, __VA_ARGS__)
// Written only while `on` (the debug setting) holds.
#define TV_UPDLOG_D(on, ...)        \
    do {                            \
        if (on) {                   \
            TV_UPDLOG(__VA_ARGS__); \
        }                           \
    } while (0)

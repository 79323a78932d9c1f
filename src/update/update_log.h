// Log lines of the online update. They carry the main window's source name, since the
// update is part of the window's work; debug lines only appear with the debug setting.
#pragma once

#include "log/log.h"

// Always written.
#define TV_UPDLOG(...) ::tavrik::LogLinef("TavrikDlg", __LINE__, __VA_ARGS__)
// Written only while `on` (the debug setting) holds.
#define TV_UPDLOG_D(on, ...)        \
    do {                            \
        if (on) {                   \
            TV_UPDLOG(__VA_ARGS__); \
        }                           \
    } while (0)

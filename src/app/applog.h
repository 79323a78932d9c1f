// The diagnostic log: its start-up set-up, the main window's and the application's log
// helpers, and its shutdown. Every line is written at information level.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "app/paths.h"

namespace tavrik {

// A log file larger than this is deleted at start-up.
inline constexpr std::uintmax_t kLogSizeLimit = 0xA00000;

// Start-up set-up: creates the data folder, deletes a log file over kLogSizeLimit, sets
// glog up (program name "Tavrik", no buffering, copies to stderr from information level)
// and appends every line to <dataFolder>/TavrikDebug.log. False when there is no log file
// (the folder or the file cannot be made); the tool then runs without one.
bool SetUpLog(const std::filesystem::path& dataFolder = DataFolder());

// For the command-line tool: no log file; lines go to stderr, from information level when
// `verbose`, else only errors.
void SetUpCommandLineLog(bool verbose);

// Closes the log file and shuts glog down. Safe to call when nothing was set up.
void ShutDownLog();

// The debug setting (OemDebugLevel=Debug) that lets DlgDebugLog lines through.
void SetDlgDebugLog(bool on);
bool IsDlgDebugLogOn();

// A line from the main window (source name "TavrikDlg"); dropped once g_bAppExit is set.
void DlgLog(std::string_view text, int line = __builtin_LINE());
// The same, written only while the debug setting is on.
void DlgDebugLog(std::string_view text, int line = __builtin_LINE());
// A line from the application object (source name "Tavrik").
void AppLog(std::string_view text, int line = __builtin_LINE());

}  // namespace tavrik

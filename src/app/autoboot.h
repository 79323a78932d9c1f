// The autostart entry that starts the tool with "-auto" when the user logs in. It is named
// after the application and runs the executable's own path.
#pragma once

#include <filesystem>
#include <string>

namespace tavrik {

inline constexpr const char* kAutoBootArgument = "-auto";

// Where the entry lives: <config home>/autostart/<application name>.desktop.
std::filesystem::path AutoBootEntryFile();
// The Exec= value the entry must hold: the executable's path and " -auto".
std::string AutoBootExecValue();

// Writes the entry (creates or replaces it): 1 success, 0 failure.
int SetAutoBootEntry();
// 1 when the entry exists and its Exec= line is exactly the expected one, else 0.
int IsAutoBootEntryPresent();
// Deletes the entry: 0 only when it cannot be removed.
int DeleteAutoBootEntry();

}  // namespace tavrik

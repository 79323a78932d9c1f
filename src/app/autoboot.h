// The autostart entry that starts the tool with "-auto" when the user logs in. It carries the
// program's reverse-DNS id and runs the executable's own path. An entry of an older version,
// named after the executable, is removed when found.
#pragma once

#include <filesystem>
#include <string>

namespace tavrik {

inline constexpr const char* kAutoBootArgument = "-auto";

// Where the entry lives: <config home>/autostart/org.tavrik.Tavrik.desktop.
std::filesystem::path AutoBootEntryFile();
// The Exec= value the entry must hold: the executable's path and " -auto".
std::string AutoBootExecValue();

// Writes the entry (creates or replaces it): 1 success, 0 failure.
int SetAutoBootEntry();
// 1 when the entry exists, its Exec= line is exactly the expected one and no older entry is
// left, else 0.
int IsAutoBootEntryPresent();
// Deletes the entry and an older one: 0 only when one cannot be removed.
int DeleteAutoBootEntry();

}  // namespace tavrik

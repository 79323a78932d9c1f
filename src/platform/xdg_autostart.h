// The per-user autostart entry of the freedesktop.org desktops: a desktop entry in
// $XDG_CONFIG_HOME/autostart (else ~/.config/autostart) that the session starts at log-in.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tavrik {

// <autostart folder>/<name>.desktop.
std::filesystem::path AutostartEntryFile(std::string_view name);

// The Exec= value that runs `program` with `argument`: the path quoted and escaped where the
// desktop entry rules need it, so a path with blanks or quotes still runs.
std::string DesktopExecValue(const std::filesystem::path& program, std::string_view argument);

// Writes (creating or replacing) the entry. False when it cannot be written.
bool WriteAutostartEntry(const std::filesystem::path& entry, std::string_view name,
                         std::string_view execValue);

// True when the entry exists and its [Desktop Entry] group's Exec= line is exactly
// "Exec=" + execValue.
bool AutostartEntryMatches(const std::filesystem::path& entry, std::string_view execValue);

// Removes the entry; true when it is gone afterwards (also when there was none).
bool RemoveAutostartEntry(const std::filesystem::path& entry);

}  // namespace tavrik

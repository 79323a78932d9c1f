// Where the tool keeps its files and finds the ones shipped with it.
#pragma once

#include <filesystem>
#include <string>

namespace tavrik {

// The per-user data folder: $LOCALAPPDATA/Tavrik when LOCALAPPDATA is set (tests set it),
// else $XDG_DATA_HOME/Tavrik, else ~/.local/share/Tavrik. Not created here.
std::filesystem::path DataFolder();

// Files in the data folder.
inline constexpr const char* kSettingsFileName = "ccsetup.ini";
inline constexpr const char* kLogFileName = "TavrikDebug.log";
// The simulated keyboards of `--simulate` without a FILE.
inline constexpr const char* kSimFileName = "simulated-keyboards.json";

// Saved keyboard profiles (backup files under a name), in the data folder.
inline constexpr const char* kProfileFolderName = "profiles";
std::filesystem::path ProfileFolder();

// The running executable's full path; empty if the system cannot tell.
std::filesystem::path ExePath();

// The folder holding the executable, without a trailing separator.
std::string GetExeFolder();

// The executable's base name without its extension. It names the single-instance lock (and
// named the autostart entry of older versions).
std::string ApplicationName();

// The folder that holds `res` (text tables and pictures): the executable's folder when it
// has a `res` folder, else <prefix>/share/tavrik with <prefix> the parent of the
// executable's folder (an installed bin/tavrik). Worked out once; SetResourceRoot replaces it.
std::filesystem::path ResourceRoot();
void SetResourceRoot(const std::filesystem::path& root);

}  // namespace tavrik

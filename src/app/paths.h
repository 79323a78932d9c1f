// Where the tool keeps its files.
#pragma once

#include <filesystem>

namespace tavrik {

// The per-user data folder: $LOCALAPPDATA/Tavrik when LOCALAPPDATA is set (tests set it),
// else $XDG_DATA_HOME/Tavrik, else ~/.local/share/Tavrik. Not created here.
std::filesystem::path DataFolder();

}  // namespace tavrik

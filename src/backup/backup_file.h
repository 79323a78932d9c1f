// The backup file: UTF-8 JSON, one module per line so that two backups compare well with
// diff. Layout and rules: docs/backup.md.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "backup/keyboard_state.h"

namespace tavrik::backup {

inline constexpr const char* kBackupFormatName = "tavrik-keyboard-backup";
inline constexpr int kBackupFormatVersion = 1;
// A full keyboard with 90 macros of 65 entries takes about 300 KiB.
inline constexpr size_t kBackupFileMaxBytes = 4u << 20;

std::string FormatBackup(const KeyboardState& state);

struct ParsedBackup {
    std::optional<KeyboardState> state;
    std::string error;  // names the field at fault when `state` is empty
};
// Never throws; every length and range in the text is checked before it is used.
ParsedBackup ParseBackup(std::string_view text);

enum class BackupFileStatus { Ok, CannotRead, Invalid };
// Reads a regular file of at most kBackupFileMaxBytes and parses it. CannotRead: `error`
// names the file and says why; Invalid: it says what is wrong inside.
BackupFileStatus ReadBackupFile(const std::filesystem::path& path, KeyboardState& out,
                                std::string& error);

// "0x1A2B3C4D", the way a module's UID is written everywhere in a backup.
std::string UidText(uint32_t uid);
// "#RRGGBB" from a 0x00BBGGRR colour.
std::string ColourHex(uint32_t colour);

}  // namespace tavrik::backup

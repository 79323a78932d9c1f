// The backup and restore commands' work on a file, shared with the profile commands,
// whose files are backups under a name.
#pragma once

#include <string>

#include "cli/command.h"

namespace tavrik::cli {

// Takes the selected keyboard's backup into `file` (the `backup` command).
int BackupToFile(const Args& args, Context& ctx, const std::string& file);
// Puts the backup in `file` back on the selected keyboard (`restore`; --dry-run, --json).
int RestoreFromFile(const Args& args, Context& ctx, const std::string& file);

}  // namespace tavrik::cli

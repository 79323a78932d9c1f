// Placeholder: the backup and restore commands replace this file.
#include "cli/command.h"

namespace tavrik::cli {
void AddBackupCommands(std::vector<CommandDef>&) {}
}  // namespace tavrik::cli

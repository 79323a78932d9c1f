#include "cli/command.h"

namespace tavrik::cli {
void AddUpgradeCommands(std::vector<CommandDef>&) {}
}  // namespace tavrik::cli

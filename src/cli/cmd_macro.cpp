#include "cli/command.h"

namespace tavrik::cli {
void AddMacroCommands(std::vector<CommandDef>&) {}
}  // namespace tavrik::cli

// What the commands that change a key share: their SLOT and LAYER arguments, and how a
// session's refusal of an operation on a slot is said.
#pragma once

#include <optional>
#include <string>

#include "cli/command.h"
#include "device/job_runner.h"

namespace tavrik::cli {

// A slot 0..89; nothing, after saying why, for other text.
std::optional<int> SlotArg(Context& ctx, const std::string& text);
// A layer 0..3; nothing, after saying why, for other text.
std::optional<int> LayerArg(Context& ctx, const std::string& text);

// Says why the session refused an operation on `slot`; the exit status.
int Refused(Context& ctx, const char* command, int slot, int result);
// The same for an operation that ran as a job.
int Refused(Context& ctx, const char* command, int slot, const JobStatus& job);

}  // namespace tavrik::cli

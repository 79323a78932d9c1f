// Commands that run a long operation submit it as a job on the keyboard's session and
// wait for it here, showing its progress on a terminal.
#pragma once

#include <chrono>
#include <cstdint>

#include "cli/command.h"
#include "device/job_runner.h"

namespace tavrik {
class CCCDev;
}

namespace tavrik::cli {

enum class JobProgress {
    None,
    Percent,  // "N%" lines, or a bar on a terminal
    Steps,    // a bar with "n/m" on a terminal, nothing otherwise
};

// True when ctx.out is the process's standard output and that is a terminal.
bool OutIsTerminal(const Context& ctx);

// Waits up to `limit` for job `id` on `dev` and returns its last status, which is not
// finished when the limit passed (the job is then asked to cancel).
JobStatus WaitForJob(Context& ctx, CCCDev& dev, uint32_t id, JobProgress style,
                     std::chrono::milliseconds limit);

// Before a write that must not be cut (a macro whose key would be left half-written):
// from now until the program ends, SIGINT and SIGTERM are noted instead of ending it, so
// the write is finished and the simulator file saved. Only for the program's own run
// (ctx.out is std::cout); a test that runs commands in-process keeps its signals.
void DeferStopSignals(const Context& ctx);
// The signal noted since DeferStopSignals, or 0.
int StopSignalNoted();

}  // namespace tavrik::cli

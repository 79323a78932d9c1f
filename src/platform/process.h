// The running process as the system sees it.
#pragma once

#include <filesystem>

namespace tavrik {

// Full path of the running executable (from /proc/self/exe); empty when unknown.
std::filesystem::path ExecutablePath();

// Makes `folder` the working folder; false when it cannot.
bool ChangeWorkingFolder(const std::filesystem::path& folder);

// The real user id, as a number for names that must differ between users.
unsigned long CurrentUserId();

// SIGINT and SIGTERM call `handler` (which may only do async-signal-safe work) instead of
// ending the process; interrupted system calls are restarted. A signal the process was
// started with ignored stays ignored.
void CatchStopSignals(void (*handler)(int));

}  // namespace tavrik

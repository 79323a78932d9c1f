#include "platform/process.h"

#include <unistd.h>

#include <csignal>
#include <system_error>

namespace tavrik {

std::filesystem::path ExecutablePath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}

bool ChangeWorkingFolder(const std::filesystem::path& folder) {
    return !folder.empty() && ::chdir(folder.c_str()) == 0;
}

unsigned long CurrentUserId() {
    return static_cast<unsigned long>(::getuid());
}

void CatchStopSignals(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signo : {SIGTERM, SIGINT}) {
        // One the parent set to be ignored (a shell's background job) stays ignored.
        struct sigaction was {};
        if (sigaction(signo, nullptr, &was) == 0 && was.sa_handler != SIG_IGN) {
            sigaction(signo, &action, nullptr);
        }
    }
}

}  // namespace tavrik

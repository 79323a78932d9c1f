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
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace tavrik

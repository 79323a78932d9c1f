#include <algorithm>
#include <csignal>
#include <iostream>

#include "app/applog.h"
#include "cli/cli.h"

int main(int argc, char** argv) {
    // A reader that goes away (`-o /dev/stdout | head`) is a failed write with its own
    // message and exit status, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    // No log file of its own: the engine's lines go to stderr, all of them with the global
    // --verbose (-v, anywhere on the line), else only errors.
    const bool verbose = std::any_of(args.begin(), args.end(), [](const std::string& a) {
        return a == "--verbose" || a == "-v";
    });
    tavrik::SetUpCommandLineLog(verbose);
    const int status = tavrik::RunCli(args, std::cout, std::cerr);
    tavrik::ShutDownLog();
    return status;
}

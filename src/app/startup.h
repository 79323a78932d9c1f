// The application's start-up steps that need no window, and its exit routine.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/instance_lock.h"

namespace tavrik {

// True when there is exactly one argument after the program name and it is "-auto" in any
// letter case.
bool IsAutoBoot(const std::vector<std::string>& args);

// Whether files can be made in `folder`; it is created first when missing.
bool FolderWritable(const std::filesystem::path& folder);

// The lock file that marks the running copy: <data folder>/<application name>.lock, or,
// when the data folder cannot be written, one in the runtime folder ($XDG_RUNTIME_DIR,
// else the temporary folder) named after the user and the data folder.
std::filesystem::path InstanceLockFile();

struct StartOptions {
    bool changeWorkingFolder = true;
    // How long a later copy tries to reach the first one.
    std::chrono::milliseconds showRequestLimit{1000};
};

class Application {
public:
    // `argv` as main received it.
    Application(int argc, const char* const* argv, StartOptions options = {});
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // In order: the working folder becomes the resource root; the log is set up (so a later
    // copy writes to it too); a data folder that cannot be written is said on stderr and in
    // the log, in the user's language, naming it; a later copy logs that the tool already runs,
    // asks the first copy to show its window and gets false, to exit without showing anything; else
    // g_strLanguage is read from the settings and the result is true: the window side goes
    // on (connecting Instance().StartListening to its window).
    bool Start();

    bool AutoBoot() const { return IsAutoBoot(args_); }
    // The program and its arguments, separated by blanks.
    std::string CommandLine() const;
    InstanceLock& Instance() { return *instance_; }

    // The exit routine: stops the show listener and shuts the log down.
    void Exit();

private:
    std::string program_;
    std::vector<std::string> args_;
    StartOptions options_;
    std::unique_ptr<InstanceLock> instance_;
};

}  // namespace tavrik

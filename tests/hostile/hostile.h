// Runs the installed-style tavrikctl binary as a user would: a process of its own, with a
// home folder of its own, a time limit and its output captured. Each test gets a scratch
// folder named after it under TEST_TMPDIR.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavrik::hostile {

struct CtlRun {
    int status = -1;  // exit status; -1 when it was ended by a signal or timed out
    bool timedOut = false;
    std::string out;
    std::string err;
};

// What a test can say about a path before and after a command: it was not touched.
struct FileFacts {
    bool exists = false;
    unsigned type = 0;  // S_IFMT bits
    unsigned mode = 0;  // permission bits
    unsigned long long inode = 0;
    std::string bytes;  // regular files only
    bool operator==(const FileFacts&) const = default;
};
FileFacts Facts(const std::filesystem::path& path);

class Sandbox {
public:
    // A fresh folder for the running test; HOME, XDG_DATA_HOME and XDG_CONFIG_HOME of the
    // commands it runs point into it.
    Sandbox();
    const std::filesystem::path& Dir() const { return dir_; }
    std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }
    // The simulated keyboards' file every command of this sandbox uses.
    std::filesystem::path SimFile() const { return dir_ / "sim.json"; }

    // tavrikctl with `args`, given `--simulate=<SimFile()>` first unless `simulate` is
    // false. A command still running at `limit` is stopped and reported as timed out.
    CtlRun Ctl(const std::vector<std::string>& args,
               std::chrono::milliseconds limit = std::chrono::seconds(60), bool simulate = true,
               const std::optional<std::string>& stdinText = std::nullopt) const;
    // Extra environment entries ("NAME=value") for the commands of this sandbox.
    void SetEnv(const std::string& entry) { env_.push_back(entry); }
    // The next command is sent `signo` (a user's Ctrl+C) once its standard error holds
    // `marker`.
    void SignalNextWhen(int signo, const std::string& marker) {
        signal_ = signo;
        signalMarker_ = marker;
    }

    void WriteFile(const std::string& name, const std::string& bytes) const;
    std::string ReadFile(const std::string& name) const;

private:
    std::filesystem::path dir_;
    std::vector<std::string> env_;
    mutable int signal_ = 0;
    std::string signalMarker_;
};

}  // namespace tavrik::hostile

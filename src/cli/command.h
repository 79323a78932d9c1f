// What every tavrikctl command module shares: its table entry, the streams and the
// exit statuses scripts can rely on.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/args.h"
#include "macro/marco.h"

namespace tavrik::cli {

enum ExitStatus {
    kExitOk = 0,
    kExitFailed = 1,   // the operation failed (I/O, no keyboard, refused by the keyboard)
    kExitBadData = 2,  // the input file or data is not valid
    kExitUsage = 64,   // the command line is wrong
};

// Options that every command takes, wherever they stand on the command line.
struct GlobalOptions {
    bool simulate = false;
    std::string simFile;  // empty: the default file in the data folder
    int device = 0;
    bool verbose = false;
};

struct CommandDef;

struct Context {
    std::ostream& out;
    std::ostream& err;
    GlobalOptions global;
    // A change to simulated keyboards could not be saved (said on `err`): the command
    // failed whatever it returned.
    bool unsaved = false;
    const CommandDef* command = nullptr;  // the one running, set by the dispatcher
};

// No upper limit on the positionals.
inline constexpr int kAnyCount = -1;

// How many positionals a command takes, and what it says when given another number.
struct ArgCount {
    ArgCount() = default;
    ArgCount(int least, int most, std::string words = {})
        : min(least), max(most), refusal(std::move(words)) {}

    int min = 0;
    int max = 0;  // or kAnyCount
    // After "tavrikctl PATH: ". Empty: "unexpected argument 'X'" for a command that takes
    // none, else "expected " and the synopsis's words outside [...].
    std::string refusal;
};

struct CommandDef {
    std::string path;      // words that select it, e.g. "macro show"
    std::string synopsis;  // arguments after the path
    ArgCount count;        // checked before `run` is called
    std::string summary;   // one line for the command list
    std::string help;      // the rest of --help
    std::vector<OptionSpec> options;
    int (*run)(const Args& args, Context& ctx) = nullptr;
};

void AddKeysCommands(std::vector<CommandDef>& table);
void AddMacroCommands(std::vector<CommandDef>& table);
void AddFirmwareCommands(std::vector<CommandDef>& table);
void AddDeviceCommands(std::vector<CommandDef>& table);
void AddSimCommands(std::vector<CommandDef>& table);
void AddProgramCommands(std::vector<CommandDef>& table);
void AddBackupCommands(std::vector<CommandDef>& table);
void AddProfileCommands(std::vector<CommandDef>& table);
void AddLayoutCommands(std::vector<CommandDef>& table);
void AddUpgradeCommands(std::vector<CommandDef>& table);
void AddUpdateCommands(std::vector<CommandDef>& table);

// Reports a usage error for `def` and returns kExitUsage.
int UsageError(Context& ctx, const CommandDef& def, const std::string& message);

// The macro file at `path` for `command`; nothing, after saying why, with the exit
// status in `status`, when it cannot be read or holds no macro.
std::optional<MarcoRecord> LoadMacroFileArg(Context& ctx, const char* command,
                                            const std::string& path, int& status);

// True, after naming the rule the macro breaks and `outcome`, when `entries` fail
// CheckMarcoEntries for a keyboard that holds `limit` steps. `what` names the macro.
bool RefuseInvalidMacro(Context& ctx, const char* command, const std::string& what,
                        const MarcoEntries& entries, int limit, const char* outcome);

// Says the running command's refusal of its positionals (as for a wrong count) and
// returns kExitUsage: for commands whose words are wrong though their count is right.
int RefusePositionals(Context& ctx, const Args& args);

// Where the "wrote FILE" line of a command that writes FILE goes, asked before FILE is
// written: stderr when FILE is a stream (a terminal, a pipe, /dev/stdout) or the file
// standard output goes to, so that the line never lands among the bytes written.
std::ostream& WroteLineStream(Context& ctx, const std::string& path);

}  // namespace tavrik::cli

#include "cli/cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "cli/command.h"

namespace tavrik {

namespace cli {

namespace {

const std::vector<CommandDef>& Table() {
    static const std::vector<CommandDef> table = [] {
        std::vector<CommandDef> t;
        AddKeysCommands(t);
        AddMacroCommands(t);
        AddFirmwareCommands(t);
        AddDeviceCommands(t);
        AddProgramCommands(t);
        AddBackupCommands(t);
        AddProfileCommands(t);
        AddLayoutCommands(t);
        AddUpgradeCommands(t);
        AddUpdateCommands(t);
        AddSimCommands(t);
        return t;
    }();
    return table;
}

void PrintCommandHelp(std::ostream& os, const CommandDef& def) {
    os << "usage: tavrikctl " << def.path << (def.synopsis.empty() ? "" : " ") << def.synopsis
       << "\n\n"
       << def.summary << "\n";
    if (!def.help.empty()) {
        os << "\n" << def.help;
        if (def.help.back() != '\n') {
            os << "\n";
        }
    }
}

void PrintOverview(std::ostream& os, const std::string& group) {
    os << "usage: tavrikctl COMMAND [ARGS...]\n\n"
          "Configures modular keyboards from the command line.\n\nCommands:\n";
    size_t width = 0;
    for (const auto& def : Table()) {
        width = std::max(width, def.path.size());
    }
    for (const auto& def : Table()) {
        if (group.empty() || def.path.rfind(group + " ", 0) == 0) {
            os << "  " << def.path << std::string(width - def.path.size() + 2, ' ') << def.summary
               << "\n";
        }
    }
    os << "\nGlobal options (anywhere on the line):\n"
          "  --simulate[=FILE]  use simulated keyboards kept in FILE (default: a file in the\n"
          "                     data folder, made on first use)\n"
          "  --device N         the keyboard to work on, 0..3 (default 0)\n"
          "  --verbose, -v      write the diagnostic log to stderr\n"
          "  --version          print the version and exit\n"
          "\nMessages are in Chinese when LC_ALL, LC_MESSAGES or LANG starts with zh, else\n"
          "in English.\n"
          "\nRun 'tavrikctl COMMAND --help' for the options of a command.\n";
}

// Takes the global options out of `args`, wherever they stand.
bool ExtractGlobalOptions(std::vector<std::string>& args, GlobalOptions& global,
                          std::string& error) {
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            rest.insert(rest.end(), args.begin() + static_cast<long>(i), args.end());
            break;
        }
        if (a == "--simulate") {
            global.simulate = true;
        } else if (a.rfind("--simulate=", 0) == 0) {
            global.simulate = true;
            global.simFile = a.substr(11);
            if (global.simFile.empty()) {
                error = "--simulate= needs a FILE";
                return false;
            }
        } else if (a == "--device" || a.rfind("--device=", 0) == 0) {
            std::string value;
            if (a == "--device") {
                if (i + 1 >= args.size()) {
                    error = "--device needs a number 0..3";
                    return false;
                }
                value = args[++i];
            } else {
                value = a.substr(9);
            }
            const auto n = ParseNumber(value, 0, 3);
            if (!n) {
                error = "--device takes a keyboard number 0..3";
                return false;
            }
            global.device = static_cast<int>(*n);
        } else if (a == "--verbose" || a == "-v") {
            global.verbose = true;
        } else {
            rest.push_back(a);
        }
    }
    args = std::move(rest);
    return true;
}

bool WantsHelp(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(),
                       [](const std::string& a) { return a == "--help" || a == "-h"; });
}

// The words of a synopsis outside [...]: what the command cannot do without.
std::string RequiredWords(const std::string& synopsis) {
    std::string words;
    int depth = 0;
    std::istringstream in(synopsis);
    for (std::string w; in >> w;) {
        const bool outside = depth == 0 && w[0] != '[';
        depth += static_cast<int>(std::count(w.begin(), w.end(), '[')) -
                 static_cast<int>(std::count(w.begin(), w.end(), ']'));
        if (outside) {
            words += (words.empty() ? "" : " ") + w;
        }
    }
    return words;
}

bool CountFits(const ArgCount& count, size_t n) {
    return n >= static_cast<size_t>(count.min) &&
           (count.max == kAnyCount || n <= static_cast<size_t>(count.max));
}

}  // namespace

int UsageError(Context& ctx, const CommandDef& def, const std::string& message) {
    ctx.err << "tavrikctl " << def.path << ": " << message << "\n"
            << "usage: tavrikctl " << def.path << " " << def.synopsis << "\n";
    return kExitUsage;
}

int RefusePositionals(Context& ctx, const Args& args) {
    const CommandDef& def = *ctx.command;
    ctx.err << "tavrikctl " << def.path << ": ";
    if (!def.count.refusal.empty()) {
        ctx.err << def.count.refusal;
    } else if (def.count.max == 0 && !args.Positional().empty()) {
        ctx.err << "unexpected argument '" << args.Positional()[0] << "'";
    } else {
        ctx.err << "expected " << RequiredWords(def.synopsis);
    }
    ctx.err << "\n";
    return kExitUsage;
}

std::ostream& WroteLineStream(Context& ctx, const std::string& path) {
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0) {
        return ctx.out;  // a new file
    }
    struct stat standardOut {};
    const bool isStandardOut = ::fstat(STDOUT_FILENO, &standardOut) == 0 &&
                               standardOut.st_dev == target.st_dev &&
                               standardOut.st_ino == target.st_ino;
    return S_ISREG(target.st_mode) && !isStandardOut ? ctx.out : ctx.err;
}

}  // namespace cli

int RunCli(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err) {
    using namespace cli;
    Context ctx{out, err, {}};
    std::vector<std::string> args = argv;
    std::string globalError;
    if (!ExtractGlobalOptions(args, ctx.global, globalError)) {
        err << "tavrikctl: " << globalError << "\n";
        return kExitUsage;
    }
    if (args.size() == 1 && args[0] == "--version") {
        out << "tavrikctl " << TAVRIK_VERSION << "\n";
        return kExitOk;
    }
    if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
        if (args.size() > 1) {
            std::vector<std::string> topic(args.begin() + 1, args.end());
            topic.push_back("--help");
            return RunCli(topic, out, err);
        }
        PrintOverview(args.empty() ? err : out, "");
        return args.empty() ? kExitUsage : kExitOk;
    }

    // The longest command path that the leading words spell.
    const CommandDef* found = nullptr;
    size_t words = 0;
    for (const auto& def : Table()) {
        std::istringstream path(def.path);
        size_t n = 0;
        bool match = true;
        for (std::string w; path >> w; ++n) {
            if (n >= args.size() || args[n] != w) {
                match = false;
                break;
            }
        }
        if (match && n > words) {
            found = &def;
            words = n;
        }
    }
    if (found == nullptr) {
        const bool isGroup = std::any_of(Table().begin(), Table().end(), [&](const auto& d) {
            return d.path.rfind(args[0] + " ", 0) == 0;
        });
        if (isGroup) {
            PrintOverview(WantsHelp(args) ? out : err, args[0]);
            return WantsHelp(args) ? kExitOk : kExitUsage;
        }
        err << "tavrikctl: unknown command '" << args[0] << "'\n";
        PrintOverview(err, "");
        return kExitUsage;
    }

    const std::vector<std::string> rest(args.begin() + static_cast<long>(words), args.end());
    if (WantsHelp(rest)) {
        PrintCommandHelp(out, *found);
        return kExitOk;
    }
    std::string error;
    const auto parsed = Args::Parse(rest, found->options, error);
    if (!parsed) {
        return UsageError(ctx, *found, error);
    }
    ctx.command = found;
    if (!CountFits(found->count, parsed->Positional().size())) {
        return RefusePositionals(ctx, *parsed);
    }
    const int status = found->run(*parsed, ctx);
    return status == kExitOk && ctx.unsaved ? kExitFailed : status;
}

}  // namespace tavrik

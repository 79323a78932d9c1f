// tavrikctl update check: one online update check, as the window's update thread runs it,
// and which attached keyboards it finds outdated.
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/paths.h"
#include "cli/command.h"
#include "cli/format.h"
#include "cli/job_wait.h"
#include "cli/keyboards.h"
#include "update/update_check.h"
#include "update/update_rules.h"
#include "update/update_url.h"

namespace tavrik::cli {

namespace {

// The longest --timeout: a day, far beyond any sensible check.
constexpr double kMaxTimeoutS = 86400;

// One firmware download of the check, in the words both outputs give.
struct DownloadRow {
    std::string kind;
    std::string file;
    std::string outcome;
    std::string detail;
    bool verified = false;
};

// What one check learnt and how the attached keyboards stand, printed as text or as JSON.
// A version the check did not learn is empty.
struct UpdateCheckResult {
    bool complete = false;
    std::string shortfall;  // what the check left undone; empty when nothing
    std::string server;
    std::string tool;
    std::optional<std::string> latestTool;
    bool toolUpdateAvailable = false;
    std::optional<std::string> controller;
    std::optional<std::string> keys;
    std::optional<std::string> zpn31;
    std::vector<DownloadRow> downloads;
    std::vector<KeyboardVerdict> keyboards;
    bool keyboardsKnown = true;  // every keyboard was found and answered its scan

    int ExitStatus() const { return shortfall.empty() && keyboardsKnown ? kExitOk : kExitFailed; }
};

std::optional<std::string> Learnt(bool known, int word) {
    return known ? std::optional(VersionText((word >> 8) & 0xFF, word & 0xFF)) : std::nullopt;
}

nlohmann::json OrNull(const std::optional<std::string>& text) {
    return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
}

std::string Shown(const std::optional<std::string>& version) {
    return version ? "V" + *version : std::string("unknown");
}

nlohmann::json VerdictJson(Verdict v) {
    if (v == Verdict::Outdated || v == Verdict::UpToDate) {
        return v == Verdict::Outdated;
    }
    return nullptr;
}

const char* VerdictText(Verdict v) {
    switch (v) {
        case Verdict::Outdated:
            return "outdated";
        case Verdict::UpToDate:
            return "up to date";
        case Verdict::NotUpdatable:
            return "not compared (no online update for this keyboard)";
        case Verdict::Unknown:
            break;
    }
    return "not known";
}

// Seconds as a positive number, fractions allowed.
std::optional<std::chrono::milliseconds> ParseTimeout(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) != 0) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const double s = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !(s > 0) || s > kMaxTimeoutS) {
        return std::nullopt;
    }
    const auto ms = std::chrono::milliseconds(static_cast<long long>(s * 1000.0 + 0.5));
    return ms.count() > 0 ? std::optional(ms) : std::nullopt;
}

// One line per download on a terminal: what starts, then how it ended.
TransferProgress TerminalProgress(Context& ctx) {
    return [&ctx](const TransferStep& step) {
        switch (step.phase) {
            case TransferStep::Start:
                ctx.out << "Downloading " << step.what << "... " << std::flush;
                break;
            case TransferStep::Done:
                ctx.out << "done, " << step.bytes << " bytes\n" << std::flush;
                break;
            case TransferStep::Failed:
                ctx.out << "failed: " << step.detail << "\n" << std::flush;
                break;
        }
    };
}

// Runs the check on `config`, then judges every attached keyboard against what it learnt.
UpdateCheckResult CheckAndJudge(Context& ctx, const UpdateConfig& config,
                                const TransferProgress& progress) {
    UpdateState state;
    CheckReport report;
    UpdateCheckResult result;
    result.complete = OnlineUpdateCheck(config, state, nullptr, &report, progress) == 1;
    result.shortfall = CheckShortfall(report);
    result.server = config.server;
    result.tool = VersionText(kToolVersionMajor, kToolVersionMinor);
    if (report.info && report.info->latestAppVersion > 256) {
        const uint32_t v = report.info->latestAppVersion;
        result.latestTool =
            VersionText(static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF));
    }
    result.toolUpdateAvailable = state.toolUpdateAvailable != 0;
    result.controller = Learnt(report.kbmcKnown, state.latestKbmc);
    result.keys = Learnt(report.keyKnown, state.latestKey);
    result.zpn31 = Learnt(report.zpn31Known, state.latestZpn31);
    for (const auto& d : report.downloads) {
        result.downloads.push_back({FwKindName(d.kind), FwFileName(d.kind),
                                    FwOutcomeName(d.outcome), d.detail,
                                    d.outcome == FwOutcome::Verified});
    }

    // Keyboards are judged against what the check learnt; what it did not learn is not
    // known rather than up to date.
    int status = kExitOk;
    if (auto kb = Keyboards::Open(ctx, status)) {
        for (int i = 0; i < kb->Count(); ++i) {
            if (kb->ScanOnce(ctx, i)) {
                MarkOutdated(kb->Session(i), state);
                result.keyboards.push_back(JudgeAfterCheck(FactsOf(kb->Session(i)), state, report));
            } else {
                result.keyboardsKnown = false;
                result.keyboards.push_back({});
            }
        }
    } else {
        result.keyboardsKnown = false;
    }
    return result;
}

nlohmann::json UpdateCheckJson(const UpdateCheckResult& result) {
    nlohmann::json downloads = nlohmann::json::array();
    for (const DownloadRow& d : result.downloads) {
        downloads.push_back(
            {{"kind", d.kind},
             {"file", d.file},
             {"outcome", d.outcome},
             {"detail", d.detail.empty() ? nlohmann::json(nullptr) : nlohmann::json(d.detail)}});
    }
    nlohmann::json keyboards = nlohmann::json::array();
    for (size_t i = 0; i < result.keyboards.size(); ++i) {
        keyboards.push_back({{"slot", i},
                             {"controllerOutdated", VerdictJson(result.keyboards[i].kbmc)},
                             {"keysOutdated", VerdictJson(result.keyboards[i].keys)}});
    }
    return {{"complete", result.complete},
            {"error",
             result.shortfall.empty() ? nlohmann::json(nullptr) : nlohmann::json(result.shortfall)},
            {"tool",
             {{"current", result.tool},
              {"latest", OrNull(result.latestTool)},
              {"updateAvailable", result.toolUpdateAvailable}}},
            {"controller", OrNull(result.controller)},
            {"keys", OrNull(result.keys)},
            {"zpn31", OrNull(result.zpn31)},
            {"downloads", downloads},
            {"keyboards", keyboards}};
}

void PrintUpdateCheck(std::ostream& out, const UpdateCheckResult& result) {
    out << "Update check "
        << (!result.complete           ? "failed"
            : result.shortfall.empty() ? "complete"
                                       : "incomplete")
        << " (" << result.server << ")\n"
        << "Tool: V" << result.tool << ", latest " << Shown(result.latestTool)
        << (result.toolUpdateAvailable ? ", update available" : "") << "\n"
        << "Controller firmware: " << Shown(result.controller) << "\n"
        << "Key firmware: " << Shown(result.keys) << "\n"
        << "ZPN31 controller firmware: " << Shown(result.zpn31) << "\n";
    for (const DownloadRow& d : result.downloads) {
        out << "Download " << d.kind << " (" << d.file << "): " << d.outcome;
        if (!d.verified && !d.detail.empty()) {
            out << ": " << d.detail;
        }
        out << "\n";
    }
    for (size_t i = 0; i < result.keyboards.size(); ++i) {
        out << "Keyboard " << i << ": controller " << VerdictText(result.keyboards[i].kbmc)
            << ", keys " << VerdictText(result.keyboards[i].keys) << "\n";
    }
}

int RunUpdateCheck(const Args& args, Context& ctx) {
    UpdateConfig config = LoadUpdateConfig(DataFolder());
    if (args.Has("server")) {
        const std::string server = args.Get("server");
        if (!IsUpdateUrl(server)) {
            ctx.err << "tavrikctl update check: --server takes an http:// or https:// address\n";
            return kExitUsage;
        }
        config.server = server;
    }
    if (args.Has("timeout")) {
        const auto limit = ParseTimeout(args.Get("timeout"));
        if (!limit) {
            ctx.err << "tavrikctl update check: --timeout takes a positive number of seconds "
                       "(at most 86400), got \""
                    << args.Get("timeout") << "\"\n";
            return kExitUsage;
        }
        config.checkLimit = *limit;
    }
    const bool json = args.Has("json");
    const UpdateCheckResult result =
        CheckAndJudge(ctx, config, !json && OutIsTerminal(ctx) ? TerminalProgress(ctx) : nullptr);
    if (json) {
        ctx.out << UpdateCheckJson(result).dump(1) << "\n";
    } else {
        PrintUpdateCheck(ctx.out, result);
    }
    // The reason comes last, after the report it sums up.
    if (!result.shortfall.empty()) {
        ctx.out << std::flush;
        ctx.err << "tavrikctl update check: " << result.shortfall << "\n";
    }
    return result.ExitStatus();
}

}  // namespace

void AddUpdateCommands(std::vector<CommandDef>& table) {
    table.push_back(
        {"update check",
         "[--server URL] [--timeout SECONDS] [--json]",
         {0, kAnyCount},
         "Ask the update server for new versions and download new firmware",
         "Runs one online update check: reads the version information from the update\n"
         "server, downloads the firmware images it names into the data folder (each kept\n"
         "only when its size and MD5 digest check out) and tells, for every attached\n"
         "keyboard (or simulated one, with --simulate), whether its controller or key\n"
         "firmware is outdated, up to date or not known (when the check did not learn\n"
         "the latest version or its image failed to arrive). On a terminal each download\n"
         "shows a line as it goes. Exit status 0 when the check did everything the\n"
         "version information asked for and every keyboard answered, 1 otherwise, with\n"
         "the reason on standard error.\n\n"
         "The server is --server, else $TAVRIK_UPDATE_SERVER, else UpdateServer in\n"
         "[Config1] of ccsetup.ini, else the built-in address. A transfer slower than\n"
         "100 bytes a second for 15 seconds fails.\n\n"
         "  --server URL       the update server (http:// or https://)\n"
         "  --timeout SECONDS  time limit of the whole check (default 60)\n"
         "  --json             {\"complete\", \"error\", \"tool\": {\"current\", \"latest\",\n"
         "                     \"updateAvailable\"}, \"controller\", \"keys\", \"zpn31\",\n"
         "                     \"downloads\": [{\"kind\", \"file\", \"outcome\", \"detail\"}],\n"
         "                     \"keyboards\": [{\"slot\", \"controllerOutdated\",\n"
         "                     \"keysOutdated\"}]} (null: not known or not compared)\n",
         {{"server", true}, {"timeout", true}, {"json"}},
         RunUpdateCheck});
}

}  // namespace tavrik::cli

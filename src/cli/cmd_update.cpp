// tavrikctl update check: one online update check, as the window's update thread runs it,
// and which attached keyboards it finds outdated.
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>

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

nlohmann::json VersionOrNull(bool known, int word) {
    return known ? nlohmann::json(VersionText((word >> 8) & 0xFF, word & 0xFF))
                 : nlohmann::json(nullptr);
}

std::string Shown(const nlohmann::json& version) {
    return version.is_null() ? std::string("unknown") : "V" + version.get<std::string>();
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

    UpdateState state;
    CheckReport report;
    const bool complete =
        OnlineUpdateCheck(config, state, nullptr, &report,
                          !json && OutIsTerminal(ctx) ? TerminalProgress(ctx) : nullptr) == 1;
    const std::string shortfall = CheckShortfall(report);

    nlohmann::json latestTool = nullptr;
    if (report.info && report.info->latestAppVersion > 256) {
        const uint32_t v = report.info->latestAppVersion;
        latestTool = VersionText(static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF));
    }
    nlohmann::json downloads = nlohmann::json::array();
    for (const auto& d : report.downloads) {
        downloads.push_back(
            {{"kind", FwKindName(d.kind)},
             {"file", FwFileName(d.kind)},
             {"outcome", FwOutcomeName(d.outcome)},
             {"detail", d.detail.empty() ? nlohmann::json(nullptr) : nlohmann::json(d.detail)}});
    }

    // Keyboards are judged against what the check learnt; what it did not learn is not
    // known rather than up to date.
    int status = kExitOk;
    bool keyboardsKnown = true;
    std::vector<KeyboardVerdict> verdicts;
    if (auto kb = Keyboards::Open(ctx, status)) {
        for (int i = 0; i < kb->Count(); ++i) {
            if (kb->ScanOnce(ctx, i)) {
                MarkOutdated(kb->Session(i), state);
                verdicts.push_back(JudgeAfterCheck(FactsOf(kb->Session(i)), state, report));
            } else {
                keyboardsKnown = false;
                verdicts.push_back({});
            }
        }
    } else {
        keyboardsKnown = false;
    }
    nlohmann::json keyboards = nlohmann::json::array();
    for (size_t i = 0; i < verdicts.size(); ++i) {
        keyboards.push_back({{"slot", i},
                             {"controllerOutdated", VerdictJson(verdicts[i].kbmc)},
                             {"keysOutdated", VerdictJson(verdicts[i].keys)}});
    }

    const nlohmann::json result = {
        {"complete", complete},
        {"error", shortfall.empty() ? nlohmann::json(nullptr) : nlohmann::json(shortfall)},
        {"tool",
         {{"current", VersionText(kToolVersionMajor, kToolVersionMinor)},
          {"latest", latestTool},
          {"updateAvailable", state.toolUpdateAvailable != 0}}},
        {"controller", VersionOrNull(report.kbmcKnown, state.latestKbmc)},
        {"keys", VersionOrNull(report.keyKnown, state.latestKey)},
        {"zpn31", VersionOrNull(report.zpn31Known, state.latestZpn31)},
        {"downloads", downloads},
        {"keyboards", keyboards}};
    const int exitStatus = shortfall.empty() && keyboardsKnown ? kExitOk : kExitFailed;
    // The reason comes last, after the report it sums up.
    auto tellShortfall = [&] {
        if (!shortfall.empty()) {
            ctx.out << std::flush;
            ctx.err << "tavrikctl update check: " << shortfall << "\n";
        }
        return exitStatus;
    };

    if (json) {
        ctx.out << result.dump(1) << "\n";
        return tellShortfall();
    }
    ctx.out << "Update check "
            << (!complete           ? "failed"
                : shortfall.empty() ? "complete"
                                    : "incomplete")
            << " (" << config.server << ")\n"
            << "Tool: V" << result["tool"]["current"].get<std::string>() << ", latest "
            << Shown(latestTool) << (state.toolUpdateAvailable != 0 ? ", update available" : "")
            << "\n"
            << "Controller firmware: " << Shown(result["controller"]) << "\n"
            << "Key firmware: " << Shown(result["keys"]) << "\n"
            << "ZPN31 controller firmware: " << Shown(result["zpn31"]) << "\n";
    for (const auto& d : report.downloads) {
        ctx.out << "Download " << FwKindName(d.kind) << " (" << FwFileName(d.kind)
                << "): " << FwOutcomeName(d.outcome);
        if (d.outcome != FwOutcome::Verified && !d.detail.empty()) {
            ctx.out << ": " << d.detail;
        }
        ctx.out << "\n";
    }
    for (size_t i = 0; i < verdicts.size(); ++i) {
        ctx.out << "Keyboard " << i << ": controller " << VerdictText(verdicts[i].kbmc) << ", keys "
                << VerdictText(verdicts[i].keys) << "\n";
    }
    return tellShortfall();
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

// tavrikctl update check: one online update check, as the window's update thread runs it,
// and which attached keyboards it finds outdated.
#include <nlohmann/json.hpp>

#include "app/paths.h"
#include "cli/command.h"
#include "cli/format.h"
#include "cli/keyboards.h"
#include "update/update_check.h"
#include "update/update_rules.h"
#include "update/update_url.h"

namespace tavrik::cli {

namespace {

nlohmann::json VersionOrNull(int word) {
    return word == 0 ? nlohmann::json(nullptr)
                     : nlohmann::json(VersionText((word >> 8) & 0xFF, word & 0xFF));
}

std::string Shown(const nlohmann::json& version) {
    return version.is_null() ? std::string("unknown") : "V" + version.get<std::string>();
}

std::string OutdatedText(const nlohmann::json& value) {
    return value.is_null() ? "not known" : value.get<bool>() ? "outdated" : "up to date";
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

    UpdateState state;
    CheckReport report;
    const bool complete = OnlineUpdateCheck(config, state, nullptr, &report) == 1;

    nlohmann::json latestTool = nullptr;
    if (report.info && report.info->latestAppVersion > 256) {
        const uint32_t v = report.info->latestAppVersion;
        latestTool = VersionText(static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF));
    }
    nlohmann::json downloads = nlohmann::json::array();
    for (const auto& d : report.downloads) {
        downloads.push_back({{"kind", FwKindName(d.kind)},
                             {"file", FwFileName(d.kind)},
                             {"outcome", FwOutcomeName(d.outcome)}});
    }

    // Keyboards are judged against what the check recorded, as the window's prompt does.
    int status = kExitOk;
    bool keyboardsKnown = true;
    nlohmann::json keyboards = nlohmann::json::array();
    if (auto kb = Keyboards::Open(ctx, status)) {
        for (int i = 0; i < kb->Count(); ++i) {
            if (kb->ScanOnce(ctx, i)) {
                const Outdated o = MarkOutdated(kb->Session(i), state);
                keyboards.push_back(
                    {{"slot", i}, {"controllerOutdated", o.kbmc}, {"keysOutdated", o.keys}});
            } else {
                keyboardsKnown = false;
                keyboards.push_back(
                    {{"slot", i}, {"controllerOutdated", nullptr}, {"keysOutdated", nullptr}});
            }
        }
    } else {
        keyboardsKnown = false;
    }

    const nlohmann::json result = {{"complete", complete},
                                   {"tool",
                                    {{"current", VersionText(kToolVersionMajor, kToolVersionMinor)},
                                     {"latest", latestTool},
                                     {"updateAvailable", state.toolUpdateAvailable != 0}}},
                                   {"controller", VersionOrNull(state.latestKbmc)},
                                   {"keys", VersionOrNull(state.latestKey)},
                                   {"zpn31", VersionOrNull(state.latestZpn31)},
                                   {"downloads", downloads},
                                   {"keyboards", keyboards}};
    const int exitStatus = complete && keyboardsKnown ? kExitOk : kExitFailed;

    if (args.Has("json")) {
        ctx.out << result.dump(1) << "\n";
        return exitStatus;
    }
    ctx.out << "Update check " << (complete ? "complete" : "failed") << " (" << config.server
            << ")\n"
            << "Tool: V" << result["tool"]["current"].get<std::string>() << ", latest "
            << Shown(latestTool) << (state.toolUpdateAvailable != 0 ? ", update available" : "")
            << "\n"
            << "Controller firmware: " << Shown(result["controller"]) << "\n"
            << "Key firmware: " << Shown(result["keys"]) << "\n"
            << "ZPN31 controller firmware: " << Shown(result["zpn31"]) << "\n";
    for (const auto& d : downloads) {
        ctx.out << "Download " << d["kind"].get<std::string>() << " ("
                << d["file"].get<std::string>() << "): " << d["outcome"].get<std::string>() << "\n";
    }
    for (const auto& k : keyboards) {
        ctx.out << "Keyboard " << k["slot"].get<int>() << ": controller "
                << OutdatedText(k["controllerOutdated"]) << ", keys "
                << OutdatedText(k["keysOutdated"])
                << (complete ? "" : " (against the versions of an incomplete check)") << "\n";
    }
    return exitStatus;
}

}  // namespace

void AddUpdateCommands(std::vector<CommandDef>& table) {
    table.push_back(
        {"update check",
         "[--server URL] [--json]",
         "Ask the update server for new versions and download new firmware",
         "Runs one online update check: reads the version information from the update\n"
         "server, downloads the firmware images it names into the data folder (each kept\n"
         "only when its size and MD5 digest check out) and tells, for every attached\n"
         "keyboard (or simulated one, with --simulate), whether its controller or key\n"
         "firmware is outdated. Exit status 0 when the check was complete and every\n"
         "keyboard answered, 1 otherwise.\n\n"
         "The server is --server, else $TAVRIK_UPDATE_SERVER, else UpdateServer in\n"
         "[Config1] of ccsetup.ini, else the built-in address.\n\n"
         "  --server URL  the update server (http:// or https://)\n"
         "  --json        {\"complete\", \"tool\": {\"current\", \"latest\", "
         "\"updateAvailable\"},\n"
         "                \"controller\", \"keys\", \"zpn31\", \"downloads\": [{\"kind\", "
         "\"file\",\n"
         "                \"outcome\"}], \"keyboards\": [{\"slot\", \"controllerOutdated\",\n"
         "                \"keysOutdated\"}]}\n",
         {{"server", true}, {"json"}},
         RunUpdateCheck});
}

}  // namespace tavrik::cli

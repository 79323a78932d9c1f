// `upgrade controller|keys FILE`: the image checks of the upgrade window, then the
// engine, with its progress on the terminal.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/format.h"
#include "cli/job_wait.h"
#include "cli/keyboards.h"
#include "device/session_jobs.h"
#include "protocol/fwimage.h"

namespace tavrik::cli {

namespace {

// Says why FILE cannot be used; the exit status.
int InvalidFile(Context& ctx, const std::string& path, const char* reasonKey) {
    ctx.err << "tavrikctl upgrade: " << path << ": " << CliText("upgradeInvalidFile") << ": "
            << CliText(reasonKey) << "\n";
    return kExitBadData;
}

bool Confirm(Context& ctx) {
    ctx.out << CliText("upgradeConfirm") << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes";
}

int RunUpgrade(const Args& args, Context& ctx) {
    const auto& pos = args.Positional();
    if (pos[0] != "controller" && pos[0] != "keys") {
        return RefusePositionals(ctx, args);
    }
    const bool controller = pos[0] == "controller";
    const std::string& path = pos[1];
    if (!args.Has("yes") && isatty(STDIN_FILENO) == 0) {
        ctx.err << "tavrikctl upgrade: no terminal to confirm on; add --yes\n";
        return kExitUsage;
    }

    int status = kExitOk;
    auto selected = OpenSelectedKeyboard(ctx, status, true);
    if (!selected) {
        return status;
    }
    CCCDev& dev = selected->Dev();

    if (!FirmwarePathAllowed(dev.Snapshot().kind, path)) {
        return InvalidFile(ctx, path, "upgradeNameWithoutMarker");
    }
    auto loaded = std::make_shared<FirmwareImage>();
    FirmwareBuffer& image = *loaded;
    std::string why;
    switch (LoadFirmwareFile(path, image, nullptr, &why)) {
        case FirmwareLoadResult::Ok:
            break;
        case FirmwareLoadResult::TooLarge:
            return InvalidFile(ctx, path, "upgradeTooLarge");
        default:
            ctx.err << "tavrikctl: firmware file " << why << "\n";
            return kExitFailed;
    }
    const FirmwareCheckPlan plan = PlanFirmwareCheck(dev.GetKbmcStageVer());
    const int check = plan.dual ? CheckDualImage(image) : CheckSingleImage(image);
    if (check < 1) {
        ctx.err << "tavrikctl upgrade: " << path << ": " << CliText("upgradeNotFirmware", check)
                << "\n";
        return kExitBadData;
    }
    if (!args.Has("yes") && !Confirm(ctx)) {
        ctx.out << CliText("upgradeNothingChanged") << "\n";
        return kExitFailed;
    }

    FirmwareImagePtr checked = std::move(loaded);
    const JobStatus job = WaitForJob(
        ctx, dev,
        controller ? SubmitKbmcUpgradeJob(dev, checked) : SubmitKeyUpgradeJob(dev, checked),
        JobProgress::Percent, std::chrono::hours(3));
    if (job.result == kJobUpgradeNotStarted) {
        ctx.err << "tavrikctl upgrade: the upgrade could not start\n";
        return kExitFailed;
    }
    // Upgrade error codes come back negated.
    const int error = job.result < 0 && job.result >= -4 ? -job.result : 0;
    if (job.state != JobState::Done && error == 0) {
        ctx.err << "tavrikctl upgrade: "
                << (job.Finished() ? job.message : "the upgrade did not finish in time") << "\n";
        return kExitFailed;
    }
    if (error != 0) {
        ctx.err << "tavrikctl upgrade: "
                << CliText(controller ? "upgradeControllerFailed" : "upgradeKeysFailed", error)
                << "\n";
        return kExitFailed;
    }
    ctx.out << CliText("upgradeDone") << "\n";
    if (controller && plan.bigChange) {
        ctx.out << CliText("upgradeBigChange") << "\n";
    }
    return kExitOk;
}

}  // namespace

void AddUpgradeCommands(std::vector<CommandDef>& table) {
    table.push_back(
        {"upgrade",
         "controller|keys FILE [--yes]",
         {2, 2},
         "Upgrade controller or key module firmware",
         "Checks FILE as the upgrade window does (path rule of kind-3 keyboards, size,\n"
         "single or dual image check by the controller's stage and version), asks for\n"
         "confirmation unless --yes, then runs the upgrade on the keyboard chosen with\n"
         "--device, showing its progress. Exit status 0 when done, 1 on an upgrade error,\n"
         "2 when the file is refused.\n",
         {{"yes"}},
         RunUpgrade});
}

}  // namespace tavrik::cli

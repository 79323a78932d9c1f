// `upgrade controller|keys FILE`: the image checks of the upgrade window, then the
// engine, with its progress on the terminal.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/job_wait.h"
#include "cli/keyboards.h"
#include "device/session_jobs.h"
#include "protocol/fwimage.h"

namespace tavrik::cli {

namespace {

constexpr const char* kInvalidFileText =
    "You opened an invalid File, please re-open\r\n你打开了一个无效的文件，请重新打开\r\n";
constexpr const char* kConfirmText =
    "Do NOT do any operation during upgrading! \r\nDo you want to continue\r\n"
    "升级过程中请勿操作键盘，否则可能导致升级失败！\r\n你确定要继续升级吗?";
constexpr const char* kDoneText = "Upgrade Done， Congratulations\r\n恭喜你，升级完成\r\n";
constexpr const char* kBigChangeText =
    "This update includes a big change, Please Click OK, then un-plug and plug USB cable\r\n"
    "本次更新包含主要变更，点击OK，然后重新拔插键盘USB线";

// The messages are written for message boxes; a terminal wants plain line ends.
std::string Lines(std::string text) {
    std::string out;
    for (char c : text) {
        if (c != '\r') {
            out += c;
        }
    }
    while (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out + "\n";
}

std::string Format(const char* fmt, int a, int b) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, a, b);
    return buf;
}

bool Confirm(Context& ctx) {
    ctx.out << Lines(kConfirmText) << "[y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes";
}

int RunUpgrade(const Args& args, Context& ctx) {
    const auto& pos = args.Positional();
    if (pos.size() != 2 || (pos[0] != "controller" && pos[0] != "keys")) {
        ctx.err << "tavrikctl upgrade: expected controller|keys FILE\n";
        return kExitUsage;
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
        ctx.err << Lines(kInvalidFileText);
        return kExitBadData;
    }
    auto loaded = std::make_shared<FirmwareImage>();
    FirmwareBuffer& image = *loaded;
    std::string why;
    switch (LoadFirmwareFile(path, image, nullptr, &why)) {
        case FirmwareLoadResult::Ok:
            break;
        case FirmwareLoadResult::TooLarge:
            ctx.err << Lines(kInvalidFileText);
            return kExitBadData;
        default:
            ctx.err << "tavrikctl: firmware file " << why << "\n";
            return kExitFailed;
    }
    const FirmwareCheckPlan plan = PlanFirmwareCheck(dev.GetKbmcStageVer());
    const int check = plan.dual ? CheckDualImage(image) : CheckSingleImage(image);
    if (check < 1) {
        ctx.err << Lines(
            Format("Sorry, this is not my file, error code=%d.\r\n"
                   "亲，你选择的文件不是我要的哦，错误号码：%d",
                   check, check));
        return kExitBadData;
    }
    if (!args.Has("yes") && !Confirm(ctx)) {
        ctx.out << "Nothing was changed.\n";
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
        ctx.err << Lines(controller
                             ? Format("Error happen during upgrading, error code=%d\r\n"
                                      "升级出错，请重新升级, 错误号：%d",
                                      error, error)
                             : Format("Sorry, there is error during upgrade, please "
                                      "un-plug/plug USB cable, then re-upgrade\r\n升级出错，错误"
                                      "号：%d，请重新拔插USB并重新启动本软件，然后再次运行升级",
                                      error, 0));
        return kExitFailed;
    }
    ctx.out << Lines(kDoneText);
    if (controller && plan.bigChange) {
        ctx.out << Lines(kBigChangeText);
    }
    return kExitOk;
}

}  // namespace

void AddUpgradeCommands(std::vector<CommandDef>& table) {
    table.push_back(
        {"upgrade",
         "controller|keys FILE [--yes]",
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

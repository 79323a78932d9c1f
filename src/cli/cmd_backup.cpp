// backup and restore: a keyboard's key assignments, colours, macros and controller modes
// in a file, put back module by module wherever the modules sit by then. The work is done
// in src/backup; this is the command line around it.
#include <algorithm>
#include <chrono>
#include <memory>

#include <nlohmann/json.hpp>

#include "backup/backup_device.h"
#include "backup/backup_file.h"
#include "backup/profiles.h"
#include "cli/backup_run.h"
#include "cli/format.h"
#include "cli/job_wait.h"
#include "cli/keyboards.h"

namespace tavrik::cli {

namespace {

using nlohmann::json;
using namespace tavrik::backup;

// A backup of 90 macro keys reads about 6000 macro entries.
constexpr auto kJobLimit = std::chrono::minutes(30);

// A job cancelled before it ran, or still running, has no outcome.
bool Ran(const JobStatus& job) {
    return job.Finished() && job.state != JobState::Cancelled;
}

// The job's message when it did not get as far as its outcome.
std::string JobFailure(const JobStatus& job) {
    return job.Finished() ? job.message : "the keyboard did not finish in time";
}

std::string Dump(const json& j) {
    return j.dump(1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

int BackupToFile(const Args& args, Context& ctx, const std::string& file) {
    int status = kExitOk;
    auto selected = OpenSelectedKeyboard(ctx, status, false);
    if (!selected) {
        return status;
    }
    Keyboards& keyboards = *selected->keyboards;
    const int i = selected->index;
    auto outcome = std::make_shared<BackupJobOutcome>();
    const JobStatus job =
        WaitForJob(ctx, selected->Dev(),
                   SubmitBackupJob(selected->Dev(), keyboards.Transport(i).m_szProduct,
                                   keyboards.Transport(i).m_szSerial, file, outcome),
                   JobProgress::Steps, kJobLimit);
    if (!Ran(job)) {
        ctx.err << "tavrikctl: " << JobFailure(job) << "; no backup was written\n";
        return kExitFailed;
    }
    switch (outcome->end) {
        case BackupEnd::Done:
            break;
        case BackupEnd::KeyboardUnread:
            ctx.err << "tavrikctl: " << outcome->error << "; no backup was written\n";
            return kExitFailed;
        case BackupEnd::NotWritten:
            ctx.err << "tavrikctl backup: " << outcome->error << "\n";
            return kExitFailed;
    }
    const KeyboardState& state = outcome->state;
    const auto count = [&](auto pred) {
        return static_cast<int>(std::count_if(state.modules.begin(), state.modules.end(), pred));
    };
    const int boot = count([](const ModuleState& m) { return m.stage == 'B'; });
    const int macros = count([](const ModuleState& m) { return m.macro.has_value(); });
    if (args.Has("json")) {
        ctx.out << Dump({{"file", file},
                         {"device", selected->index},
                         {"modules", state.modules.size()},
                         {"bootloader", boot},
                         {"macros", macros}})
                << "\n";
    } else {
        ctx.out << "Keyboard " << selected->index << " backed up to " << file << ": "
                << CountText(static_cast<long>(state.modules.size()), "module", "modules") << " ("
                << boot << " in bootloader, kept without settings), "
                << CountText(macros, "macro", "macros") << "\n";
    }
    return kExitOk;
}

namespace {

json PlanJson(const std::string& file, int device, bool dryRun, const Plan& plan) {
    json changes = json::array();
    for (const Change& c : plan.changes) {
        json j = {{"what", WhatName(c.what)}, {"from", c.from}, {"to", c.to}};
        if (!IsModeChange(c)) {
            j["uid"] = UidText(c.uid);
            j["slot"] = c.slot;
        }
        j["status"] = !c.failure.empty() ? "failed" : c.done ? "done" : "planned";
        if (!c.failure.empty()) {
            j["error"] = c.failure;
        }
        changes.push_back(std::move(j));
    }
    const auto list = [](const std::vector<Placement>& places, bool withReason) {
        json out = json::array();
        for (const Placement& p : places) {
            json j = {{"uid", UidText(p.uid)}, {"slot", p.slot}};
            if (withReason) {
                j["reason"] = p.reason;
            }
            out.push_back(std::move(j));
        }
        return out;
    };
    return {{"file", file},
            {"device", device},
            {"dryRun", dryRun},
            {"changes", changes},
            {"notPlaced", list(plan.notPlaced, true)},
            {"notInBackup", list(plan.unknown, false)}};
}

void PrintReport(Context& ctx, const std::string& file, int device, bool dryRun,
                 const KeyboardState& want, const KeyboardState& now, const Plan& plan,
                 bool asJson) {
    if (asJson) {
        ctx.out << Dump(PlanJson(file, device, dryRun, plan)) << "\n";
        return;
    }
    ctx.out << (dryRun ? "Dry run: restoring " : "Restoring ") << file << " to keyboard " << device
            << " (" << CountText(static_cast<long>(want.modules.size()), "module", "modules")
            << " in the backup)\n";
    if (!want.serial.empty() && want.serial != now.serial) {
        ctx.out << "Note: the backup was taken from keyboard " << want.serial
                << "; modules are placed by their UIDs wherever they sit now.\n";
    }
    for (const Change& c : plan.changes) {
        ctx.out << "  " << ChangeSubject(c) << ": " << SideText(c.what, c.from) << " -> "
                << SideText(c.what, c.to);
        if (!c.failure.empty()) {
            ctx.out << "  FAILED: " << c.failure;
        }
        ctx.out << "\n";
    }
    if (!plan.notPlaced.empty()) {
        ctx.out << "Could not place:\n";
        for (const Placement& p : plan.notPlaced) {
            ctx.out << "  " << UidText(p.uid) << ": " << p.reason << "\n";
        }
    }
    if (!plan.unknown.empty()) {
        ctx.out << "Not in the backup, left as they are:\n";
        for (const Placement& p : plan.unknown) {
            ctx.out << "  " << UidText(p.uid) << " slot " << p.slot << "\n";
        }
    }
    if (plan.changes.empty()) {
        ctx.out << "Nothing to change.\n";
    } else if (dryRun) {
        ctx.out << CountText(static_cast<long>(plan.changes.size()), "change", "changes")
                << " would be written (" << PlanSummary(plan) << ").\n";
    } else {
        ctx.out << DoneCount(plan) << " of "
                << CountText(static_cast<long>(plan.changes.size()), "change", "changes")
                << " written.\n";
    }
}

}  // namespace

int RestoreFromFile(const Args& args, Context& ctx, const std::string& file) {
    KeyboardState want;
    std::string error;
    switch (ReadBackupFile(file, want, error)) {
        case BackupFileStatus::Ok:
            break;
        case BackupFileStatus::CannotRead:
            ctx.err << "tavrikctl restore: " << error << "\n";
            return kExitFailed;
        case BackupFileStatus::Invalid:
            ctx.err << "tavrikctl restore: " << file << " is not a valid backup: " << error << "\n";
            return kExitBadData;
    }
    // The keyboard's own standard count is checked by the restore itself.
    if (const std::string modes = ModesProblem(want.modes, 0); !modes.empty()) {
        ctx.err << "tavrikctl restore: " << file << " is not a valid backup: " << modes << "\n";
        return kExitBadData;
    }
    int status = kExitOk;
    auto selected = OpenSelectedKeyboard(ctx, status, false);
    if (!selected) {
        return status;
    }
    Keyboards& keyboards = *selected->keyboards;
    const int i = selected->index;
    const bool dryRun = args.Has("dry-run");
    auto outcome = std::make_shared<RestoreOutcome>();
    const JobStatus job =
        WaitForJob(ctx, selected->Dev(),
                   SubmitRestoreJob(selected->Dev(), keyboards.Transport(i).m_szProduct,
                                    keyboards.Transport(i).m_szSerial, want, dryRun, outcome),
                   JobProgress::Steps, kJobLimit);
    if (!Ran(job)) {
        ctx.err << "tavrikctl restore: " << JobFailure(job) << "\n";
        return kExitFailed;
    }
    const RestoreOutcome& r = *outcome;
    if (!r.error.empty()) {
        ctx.err << "tavrikctl: " << r.error << "\n";
    }
    if (r.end == RestoreEnd::KeyboardUnread) {
        return kExitFailed;
    }
    if (r.end == RestoreEnd::ModesRefused) {
        ctx.err << "tavrikctl restore: " << file
                << " does not fit this keyboard; nothing was "
                   "written\n";
        return kExitBadData;
    }
    if (r.end == RestoreEnd::CheckUnread) {
        ctx.err << "tavrikctl restore: the keyboard could not be read again to check the "
                   "restore\n";
    }
    PrintReport(ctx, file, selected->index, dryRun, want, r.before, r.plan, args.Has("json"));
    if (r.end != RestoreEnd::Done) {
        return kExitFailed;
    }
    if (!Succeeded(r.plan)) {
        ctx.err << "tavrikctl restore: not everything in " << file << " could be placed\n";
        return kExitFailed;
    }
    return kExitOk;
}

namespace {

int RunBackup(const Args& args, Context& ctx) {
    return BackupToFile(args, ctx, args.Positional()[0]);
}

int RunRestore(const Args& args, Context& ctx) {
    return RestoreFromFile(args, ctx, args.Positional()[0]);
}

}  // namespace

void AddBackupCommands(std::vector<CommandDef>& table) {
    table.push_back(
        {"backup",
         "FILE [--json]",
         {1, 1},
         "Save the selected keyboard's keys, colours, macros and modes to a file",
         "Scans the keyboard chosen with --device and writes, for every key module by its\n"
         "UID, its four layers, flag byte, colour and macro, and the controller's modes\n"
         "(full-key rollover, overload and module count, USB rate). A module in its\n"
         "bootloader is listed without settings. A macro that cannot be read fails the\n"
         "backup; an existing FILE is replaced only by a complete one. Format:\n"
         "docs/backup.md.\n\n"
         "  --json  {\"file\", \"device\", \"modules\", \"bootloader\", \"macros\"}\n",
         {{"json"}},
         RunBackup});
    table.push_back(
        {"restore",
         "FILE [--dry-run] [--json]",
         {1, 1},
         "Put a backup back on the selected keyboard",
         "Places every module of the backup by its UID, wherever it sits now, and writes\n"
         "only what differs: layers and flag byte, colour, macro, and the controller's\n"
         "modes. Afterwards the keyboard is read again and anything it did not take is\n"
         "reported. Modules of the backup that are not attached or run their bootloader\n"
         "are reported; attached modules the backup does not know are left as they are.\n"
         "Exit status 1 when something could not be placed, 2 for a file that is not a\n"
         "backup.\n\n"
         "  --dry-run  show what would change, write nothing\n"
         "  --json     {\"file\", \"device\", \"dryRun\", \"changes\": [{\"what\", \"uid\",\n"
         "             \"slot\", \"from\", \"to\", \"status\", \"error\"}], \"notPlaced\",\n"
         "             \"notInBackup\"}\n",
         {{"json"}, {"dry-run"}},
         RunRestore});
}

}  // namespace tavrik::cli

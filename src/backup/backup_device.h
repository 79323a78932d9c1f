// Backup and restore on a keyboard: the only place where they reach into a session.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "backup/keyboard_state.h"
#include "backup/restore_plan.h"

namespace tavrik {
class CCCDev;
}

namespace tavrik::backup {

struct BackupTarget {
    CCCDev& dev;
    std::string product;
    std::string serial;
    // One scan pass over every slot; false, with the reason, when the keyboard did not
    // finish it.
    std::function<bool(std::string& error)> scan;
    // Called after each step of a restore: steps done, steps in all.
    std::function<void(int, int)> progress;
    // True once the caller wants the restore to stop; no key change starts after that.
    std::function<bool()> cancelled;
};

enum class MacroReads {
    Required,  // a macro that cannot be read fails the read
    Marked,    // the module is marked macroUnread and the read goes on
};

// Scans the keyboard and reads what a backup holds. False, with `error` saying why (empty
// when the scan has said it), when the controller runs its bootloader, a present module
// did not answer the scan, or a required macro could not be read.
bool ReadKeyboardState(BackupTarget& kb, MacroReads macros, KeyboardState& out, std::string& error);

enum class BackupEnd { Done, KeyboardUnread, NotWritten };
// Reads the keyboard with every macro and writes the backup file, replacing an earlier one
// only by a complete one.
BackupEnd TakeBackup(BackupTarget& kb, const std::filesystem::path& file, KeyboardState& state,
                     std::string& error);

enum class RestoreEnd {
    Done,            // the plan was carried out (or is only planned) and checked
    KeyboardUnread,  // the keyboard could not be read: nothing was written
    ModesRefused,    // the backup's modes do not fit the keyboard: nothing was written
    RescanFailed,    // modes were written, then the keyboard could not be read again
    CheckUnread,     // everything was written, but the keyboard could not be read to check
};

struct RestoreOutcome {
    RestoreEnd end = RestoreEnd::Done;
    std::string error;
    KeyboardState before;  // the keyboard as the restore found it
    Plan plan;
};

// Writes what differs between `want` and the keyboard, modes first, and checks the result.
// With `dryRun` only the plan is made.
RestoreOutcome RestoreKeyboard(BackupTarget& kb, const KeyboardState& want, bool dryRun);

// Backup and restore as jobs on the keyboard's session (device/job_runner.h), so that a
// window can offer them with progress. `out` is filled in before the job ends; the job's
// result is 0 when it ended Done (and, for a restore, everything was placed).
struct BackupJobOutcome {
    BackupEnd end = BackupEnd::KeyboardUnread;
    KeyboardState state;
    std::string error;
};
uint32_t SubmitBackupJob(CCCDev& dev, std::string product, std::string serial,
                         std::filesystem::path file, std::shared_ptr<BackupJobOutcome> out);
// Scans and reads the keyboard (macros that cannot be read are marked) without writing
// anything: what a printed layout shows. The result is 0 when `out->end` is Done.
uint32_t SubmitReadStateJob(CCCDev& dev, std::string product, std::string serial,
                            std::shared_ptr<BackupJobOutcome> out);
uint32_t SubmitRestoreJob(CCCDev& dev, std::string product, std::string serial, KeyboardState want,
                          bool dryRun, std::shared_ptr<RestoreOutcome> out);

// A restore from a backup file, read on the job's thread (a window does not wait for the
// file). `fileError` is set, and nothing else done, when the file cannot be read or is not
// a backup; `want` is what it holds, for a restore after a dry run.
struct FileRestoreOutcome {
    std::string fileError;
    KeyboardState want;
    RestoreOutcome restore;
};
uint32_t SubmitRestoreFileJob(CCCDev& dev, std::string product, std::string serial,
                              std::filesystem::path file, bool dryRun,
                              std::shared_ptr<FileRestoreOutcome> out);

}  // namespace tavrik::backup

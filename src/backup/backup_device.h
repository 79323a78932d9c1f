// Backup and restore on a keyboard: the only place where they reach into a session.
#pragma once

#include <filesystem>
#include <functional>
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
    // One scan pass over every slot. False when the keyboard did not finish it; the
    // function has told the user why.
    std::function<bool()> scan;
    // Called after each step of a restore: steps done, steps in all.
    std::function<void(int, int)> progress;
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

}  // namespace tavrik::backup

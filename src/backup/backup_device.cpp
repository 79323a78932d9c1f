#include "backup/backup_device.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "backup/backup_file.h"
#include "device/job_runner.h"
#include "device/mode_rules.h"
#include "device/session.h"
#include "device/session_jobs.h"
#include "device/session_result.h"
#include "keys/keycodes.h"
#include "platform/atomic_file.h"

namespace tavrik::backup {

namespace {

// ---- The session operations backup and restore use; nothing else here touches one ----

// One slot as the last scan pass left it, and whether the pass got an answer from it.
KeySlot ReadSlot(const CCCDev& dev, int slot) {
    return dev.GetKeySlot(slot);
}

// The session tries a slow or lost reply again before a macro counts as unreadable.
int ReadMacro(CCCDev& dev, int slot, Macro& out) {
    const CCCDev::MarcoReadResult read = dev.ReadMacro(slot);
    if (read.error == 0) {
        out = MacroOfEntries(read.record.entries);
    }
    return read.error;
}

// Rewrites the whole key. The session keeps the key's macro or, when it cannot read it
// back, writes nothing and keeps the key table as it was.
int WriteKeyLayers(CCCDev& dev, int slot, const std::array<uint8_t, 4>& hid, uint8_t flag) {
    return dev.WriteKeyLayers(slot, hid, flag);
}

// Stores the macro on the layer that plays it: as the key now stands, else the first
// layer the wanted values give it.
int WriteMacro(CCCDev& dev, int slot, const std::array<uint8_t, 4>& hid, const Macro& macro) {
    MarcoRecord record{};
    record.flag = 1;
    std::copy_n(macro.begin(), std::min<size_t>(macro.size(), record.entries.size()),
                record.entries.begin());
    const KeySlot k = ReadSlot(dev, slot);
    int layer = 0;
    for (int l = 3; l >= 0; --l) {
        const auto i = static_cast<size_t>(l);
        if (k.vk[i] == VK_MARCO || (!k.HasMacro() && hid[i] == HID_MARCO)) {
            layer = l;
        }
    }
    return dev.WriteMacro(slot, layer, record);
}

Modes ReadModes(const SessionSnapshot& s) {
    return {s.nkro, s.overload, s.keyMax, static_cast<int>(s.usbRate)};
}

int MarcoMax(const CCCDev& dev) {
    return dev.Snapshot().marcoMax;
}

void ApplyMode(CCCDev& dev, const Modes& want, Change& c) {
    if (c.what == What::Nkro) {
        if (dev.SetNkro(want.nkro ? 1 : 0) == 0 && want.nkro) {
            c.failure = "the controller firmware is too old for full-key rollover";
            return;
        }
    } else if (c.what == What::UsbRate) {
        // The controller does not answer a rate change; the check after the restore does.
        dev.SetUsbRate(want.usbRate);
    } else {
        dev.SetOverload(want.overload ? 1 : 0, want.overload ? want.modules : 0);
    }
    c.done = true;
}

void ApplyToKey(CCCDev& dev, Change& c) {
    const ModuleState& w = c.want;
    if (c.what == What::Layers) {
        if (const int r = WriteKeyLayers(dev, c.slot, w.hid, w.flag); r != 0) {
            c.failure = SessionResultText(r);
            return;
        }
    } else if (c.what == What::Colour) {
        if (const int r = dev.SetKeyColor(c.slot, *w.colour); r != 0) {
            c.failure = SessionResultText(r);
            return;
        }
    } else if (const int r = WriteMacro(dev, c.slot, w.hid, *w.macro); r != 0) {
        c.failure = SessionResultText(r);
        return;
    }
    c.done = true;
}

// ---- Reading and restoring, on top of those ----

std::string SlotText(int slot, uint32_t uid) {
    return "slot " + std::to_string(slot) + " (" + UidText(uid) + ")";
}

void Progress(BackupTarget& kb, int done, int total) {
    if (kb.progress) {
        kb.progress(done, total);
    }
}

}  // namespace

bool ReadKeyboardState(BackupTarget& kb, MacroReads macros, KeyboardState& out,
                       std::string& error) {
    error.clear();
    if (!kb.scan(error)) {
        return false;
    }
    CCCDev& dev = kb.dev;
    // No further passes while the table is read and written: a pass would put the
    // keyboard's values back into slots the caller is about to write.
    dev.StopScanThread();

    KeyboardState s;
    s.product = kb.product;
    s.serial = kb.serial;
    const SessionSnapshot snap = dev.Snapshot();
    s.kind = snap.kind;
    s.stage = snap.kbmcStage;
    s.verHi = snap.kbmcVerHi;
    s.verLo = snap.kbmcVerLo;
    if (s.stage != 'A') {
        error = "the controller of keyboard " + std::to_string(dev.DevIdx()) +
                " runs its bootloader; upgrade its firmware first";
        return false;
    }
    s.modes = ReadModes(snap);
    // Stored as they stood before, unanswered slots would restore as settings the modules
    // never had, or as no modules at all.
    if (const std::vector<int> silent = snap.UnansweredSlots(); !silent.empty()) {
        error =
            "keyboard " + std::to_string(dev.DevIdx()) +
            (silent.size() == kKeySlots ? " does not answer the scan: no slot answered"
                                        : ": " + SlotListText(silent) + " did not answer the scan");
        return false;
    }

    for (int slot = 0; slot < static_cast<int>(kKeySlots); ++slot) {
        const KeySlot& k = snap.slots[static_cast<size_t>(slot)];
        if (!k.Present()) {
            continue;
        }
        ModuleState m;
        m.uid = k.uid;
        m.slot = slot;
        m.stage = k.stage == 'B' ? 'B' : 'A';
        if (m.stage == 'A') {
            m.hid = k.hid;
            m.flag = k.flag;
            if (k.vk[0] != 0 && k.vk[0] != VK_WAIT_UPGRADE && k.vk[0] != VK_WAIT_SET) {
                m.colour = k.colour & kColourBits;
            }
            if (k.HasMacro()) {
                Macro macro;
                if (const int r = ReadMacro(dev, slot, macro); r != 0) {
                    if (macros == MacroReads::Required) {
                        error = "the macro of the key in " + SlotText(slot, k.uid) +
                                " could not be read (" + std::to_string(r) + ")";
                        return false;
                    }
                    m.macroUnread = true;
                } else {
                    m.macro = std::move(macro);
                }
            }
        }
        s.modules.push_back(std::move(m));
    }
    out = std::move(s);
    return true;
}

BackupEnd TakeBackup(BackupTarget& kb, const std::filesystem::path& file, KeyboardState& state,
                     std::string& error) {
    if (!ReadKeyboardState(kb, MacroReads::Required, state, error)) {
        return BackupEnd::KeyboardUnread;
    }
    return WriteFileAtomically(file, FormatBackup(state), &error) ? BackupEnd::Done
                                                                  : BackupEnd::NotWritten;
}

RestoreOutcome RestoreKeyboard(BackupTarget& kb, const KeyboardState& want, bool dryRun) {
    RestoreOutcome out;
    CCCDev& dev = kb.dev;
    if (!ReadKeyboardState(kb, MacroReads::Marked, out.before, out.error)) {
        out.end = RestoreEnd::KeyboardUnread;
        return out;
    }
    out.error = ModesProblem(want.modes, StandardModuleCount(dev.Snapshot()));
    if (!out.error.empty()) {
        out.end = RestoreEnd::ModesRefused;
        return out;
    }
    Plan& plan = out.plan;
    plan = MakePlan(want, out.before, MarcoMax(dev));
    if (dryRun || plan.changes.empty()) {
        return out;
    }
    int done = 0;
    bool countChanged = false;
    for (Change& c : plan.changes) {
        if (IsModeChange(c)) {
            ApplyMode(dev, want.modes, c);
            countChanged |= c.what == What::Overload;
            Progress(kb, ++done, static_cast<int>(plan.changes.size()));
        }
    }
    if (countChanged) {
        // The module count decides which modules the controller serves: look again
        // before placing them.
        KeyboardState now;
        if (!ReadKeyboardState(kb, MacroReads::Marked, now, out.error)) {
            // What was written: the modes.
            std::erase_if(plan.changes, [](const Change& c) { return !IsModeChange(c); });
            plan.notPlaced.clear();
            plan.unknown.clear();
            out.end = RestoreEnd::RescanFailed;
            return out;
        }
        plan = ReplanModules(plan, want, now, MarcoMax(dev));
    }
    std::set<uint32_t> failedKeys;
    for (Change& c : plan.changes) {
        if (IsModeChange(c)) {
            continue;
        }
        if (kb.cancelled && kb.cancelled()) {
            c.failure = "not written: the restore was cancelled";
        } else if (failedKeys.count(c.uid)) {
            c.failure = "skipped after the key's earlier change failed";
        } else {
            ApplyToKey(dev, c);
            if (!c.failure.empty()) {
                failedKeys.insert(c.uid);
            }
        }
        Progress(kb, ++done, static_cast<int>(plan.changes.size()));
    }
    KeyboardState after;
    if (!ReadKeyboardState(kb, MacroReads::Marked, after, out.error)) {
        out.end = RestoreEnd::CheckUnread;
        return out;
    }
    CheckResult(want, after, MarcoMax(dev), plan);
    return out;
}

namespace {

BackupTarget JobTarget(JobContext& ctx, std::string product, std::string serial) {
    return {ctx.Dev(),
            std::move(product),
            std::move(serial),
            [&ctx](std::string& error) { return ScanOnePass(ctx, error); },
            [&ctx](int done, int total) { ctx.Progress(done, total); },
            [&ctx] { return ctx.Cancelled(); }};
}

}  // namespace

uint32_t SubmitBackupJob(CCCDev& dev, std::string product, std::string serial,
                         std::filesystem::path file, std::shared_ptr<BackupJobOutcome> out) {
    return dev.Jobs().Submit(
        "backup", [product = std::move(product), serial = std::move(serial), file = std::move(file),
                   out = std::move(out)](JobContext& ctx) {
            BackupTarget kb = JobTarget(ctx, product, serial);
            out->end = TakeBackup(kb, file, out->state, out->error);
            return out->end == BackupEnd::Done ? JobResult::Ok() : JobResult::Error(-1, out->error);
        });
}

uint32_t SubmitReadStateJob(CCCDev& dev, std::string product, std::string serial,
                            std::shared_ptr<BackupJobOutcome> out) {
    return dev.Jobs().Submit(
        "read keyboard", [product = std::move(product), serial = std::move(serial),
                          out = std::move(out)](JobContext& ctx) {
            BackupTarget kb = JobTarget(ctx, product, serial);
            const bool read = ReadKeyboardState(kb, MacroReads::Marked, out->state, out->error);
            out->end = read ? BackupEnd::Done : BackupEnd::KeyboardUnread;
            return read ? JobResult::Ok() : JobResult::Error(-1, out->error);
        });
}

uint32_t SubmitRestoreJob(CCCDev& dev, std::string product, std::string serial, KeyboardState want,
                          bool dryRun, std::shared_ptr<RestoreOutcome> out) {
    return dev.Jobs().Submit(
        dryRun ? "restore plan" : "restore",
        [product = std::move(product), serial = std::move(serial), want = std::move(want), dryRun,
         out = std::move(out)](JobContext& ctx) {
            BackupTarget kb = JobTarget(ctx, product, serial);
            *out = RestoreKeyboard(kb, want, dryRun);
            if (out->end != RestoreEnd::Done || !Succeeded(out->plan)) {
                return JobResult::Error(
                    -1, out->error.empty() ? "not everything could be placed" : out->error);
            }
            return JobResult::Ok();
        });
}

uint32_t SubmitRestoreFileJob(CCCDev& dev, std::string product, std::string serial,
                              std::filesystem::path file, bool dryRun,
                              std::shared_ptr<FileRestoreOutcome> out) {
    return dev.Jobs().Submit(
        dryRun ? "restore plan" : "restore",
        [product = std::move(product), serial = std::move(serial), file = std::move(file), dryRun,
         out = std::move(out)](JobContext& ctx) {
            std::string error;
            if (ReadBackupFile(file, out->want, error) != BackupFileStatus::Ok) {
                out->fileError = error;
                return JobResult::Error(-1, error);
            }
            BackupTarget kb = JobTarget(ctx, product, serial);
            out->restore = RestoreKeyboard(kb, out->want, dryRun);
            const RestoreOutcome& r = out->restore;
            if (r.end != RestoreEnd::Done || !Succeeded(r.plan)) {
                return JobResult::Error(
                    -1, r.error.empty() ? "not everything could be placed" : r.error);
            }
            return JobResult::Ok();
        });
}

}  // namespace tavrik::backup

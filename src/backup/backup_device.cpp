#include "backup/backup_device.h"

#include <algorithm>
#include <set>

#include "backup/backup_file.h"
#include "device/session.h"
#include "keys/keycodes.h"
#include "platform/atomic_file.h"

namespace tavrik::backup {

namespace {

// ---- The session operations backup and restore use; nothing else here touches one ----

// One slot as the last scan pass left it. The session does not yet say whether a slot
// answered that pass, so a present slot counts as answered.
struct SlotReading {
    KeySlot key;
    bool answered = true;
};

SlotReading ReadSlot(const CCCDev& dev, int slot) {
    return {dev.GetKeySlot(slot), true};
}

// A slow or lost reply is worth two more tries before a macro counts as unreadable. A
// reply that comes after its read gave up would be taken for the answer to the next
// request, so the late ones are let in and dropped before trying again.
int ReadMacro(CCCDev& dev, int slot, Macro& out) {
    int result = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) {
            dev.Pause(250);
        }
        {
            std::lock_guard lock(dev.m_TableLock);
            dev.m_Marco = {};
        }
        result = dev.ReadMarco(slot);
        if (result == 0) {
            std::lock_guard lock(dev.m_TableLock);
            out = MacroOfEntries(dev.m_Marco);
            return 0;
        }
    }
    return result;
}

// Rewrites the whole key. The session keeps the key's macro or, when it cannot read it
// back, writes nothing; the key table is then put back as it was.
int WriteKeyLayers(CCCDev& dev, int slot, const std::array<uint8_t, 4>& hid, uint8_t flag) {
    std::array<uint8_t, 4> oldHid{}, oldVk{};
    uint8_t oldFlag = 0;
    {
        std::lock_guard lock(dev.m_TableLock);
        oldHid = dev.m_KeyHid[slot];
        oldVk = dev.m_KeyVk[slot];
        oldFlag = dev.m_KeyFlag[slot];
        dev.m_KeyHid[slot] = hid;
        for (size_t l = 0; l < 4; ++l) {
            dev.m_KeyVk[slot][l] = KeyCodeOfReportedHid(hid[l]);
        }
        dev.m_KeyFlag[slot] = flag;
    }
    const int r = dev.WriteKeyConfig(slot, hid[0]);
    if (r != 0) {
        std::lock_guard lock(dev.m_TableLock);
        dev.m_KeyHid[slot] = oldHid;
        dev.m_KeyVk[slot] = oldVk;
        dev.m_KeyFlag[slot] = oldFlag;
    }
    return r;
}

int WriteMacro(CCCDev& dev, int slot, const Macro& macro) {
    MarcoRecord record{};
    record.flag = 1;
    std::copy_n(macro.begin(), std::min<size_t>(macro.size(), record.entries.size()),
                record.entries.begin());
    dev.SetMarcoContent(record);
    return dev.WriteMarco(slot);
}

Modes ReadModes(const CCCDev& dev) {
    return {dev.m_bNkro != 0, dev.m_bOverload != 0, dev.m_nKeyMax.load(),
            static_cast<int>(dev.m_nUsbRate.load())};
}

int MarcoMax(const CCCDev& dev) {
    return dev.m_nMarcoMax.load();
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
            c.failure = "the key's macro could not be read back (" + std::to_string(r) +
                        "), so the key was left unchanged";
            return;
        }
    } else if (c.what == What::Colour) {
        if (const int r = dev.SetKeyColor(c.slot, *w.colour); r != 0) {
            c.failure = "the key's macro could not be read back (" + std::to_string(r) +
                        "), so the colour was left unchanged";
            return;
        }
    } else {
        WriteMacro(dev, c.slot, *w.macro);
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
    if (!kb.scan()) {
        return false;
    }
    CCCDev& dev = kb.dev;
    // No further passes while the table is read and written: a pass would put the
    // keyboard's values back into slots the caller is about to write.
    dev.StopScanThread();

    KeyboardState s;
    s.product = kb.product;
    s.serial = kb.serial;
    s.kind = dev.m_nKbdKind;
    uint8_t hi = 0, lo = 0;
    dev.GetKbmcVer(s.stage, hi, lo);
    s.verHi = hi;
    s.verLo = lo;
    if (s.stage != 'A') {
        error = "the controller of keyboard " + std::to_string(dev.m_nDevIdx) +
                " runs its bootloader; upgrade its firmware first";
        return false;
    }
    s.modes = ReadModes(dev);

    for (int slot = 0; slot < static_cast<int>(kKeySlots); ++slot) {
        const SlotReading reading = ReadSlot(dev, slot);
        const KeySlot& k = reading.key;
        if (!k.Present()) {
            continue;
        }
        // Stored as it stood before, it would restore as settings the module never had.
        if (!reading.answered) {
            error = "the key module in " + SlotText(slot, k.uid) + " did not answer the scan";
            return false;
        }
        ModuleState m;
        m.uid = k.uid;
        m.slot = slot;
        m.stage = k.type == 'B' ? 'B' : 'A';
        if (m.stage == 'A') {
            m.hid = k.hid;
            m.flag = k.flag;
            if (k.vk[0] != 0 && k.vk[0] != VK_WAIT_UPGRADE && k.vk[0] != VK_WAIT_SET) {
                m.colour = k.color & kColourBits;
            }
            if (std::find(k.vk.begin(), k.vk.end(), VK_MARCO) != k.vk.end()) {
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
        if (failedKeys.count(c.uid)) {
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

}  // namespace tavrik::backup

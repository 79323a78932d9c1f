#include "device/key_programmer.h"

#include <algorithm>
#include <optional>

#include "device/key_assign.h"
#include "device/notify.h"
#include "device/notify_payload.h"
#include "device/report_steps.h"
#include "device/scanner.h"
#include "keys/keycodes.h"
#include "macro/marco_validate.h"
#include "protocol/commands.h"
#include "protocol/firmware_features.h"

namespace tavrik {

#define DEV_LOG(...) PORT_LOG(port_, __VA_ARGS__)
#define DEV_LOG_V(...) PORT_LOG_V(port_, __VA_ARGS__)

namespace {

bool ValidSlot(int slot) {
    return IsKeySlot(static_cast<unsigned>(slot));
}

}  // namespace

bool KeyProgrammer::HasMarcoLayer(int slot) const {
    if (!ValidSlot(slot)) {
        return false;
    }
    return port_.ReadTable([slot](const KeyTable& t) { return t.slots[slot].HasMacro(); });
}

int KeyProgrammer::CheckUsableSlot(int slot) const {
    if (!ValidSlot(slot)) {
        return kErrBadSlot;
    }
    return port_.ReadTable([slot](const KeyTable& t) {
        if (t.kbmcStage == 'B') {
            return kErrControllerBootloader;
        }
        const KeySlot& k = t.slots[slot];
        if (!k.Present()) {
            return kErrNoModule;
        }
        if (k.stage == 'B' || k.vk[0] == VK_WAIT_UPGRADE) {
            return kErrModuleBootloader;
        }
        return kSessionOk;
    });
}

// If the macro cannot be read whole the caller must not go on, or the partial entries
// would be written back as if they were the whole macro.
int KeyProgrammer::KeepMarcoBeforeRewrite(int slot, MarcoEntries& kept) {
    const int result = marco_.ReadWithRetry(slot, kept);
    if (result != 0) {
        DEV_LOG("Key idx %d: its macro could not be read back (%d), key left unchanged", slot,
                result);
    }
    return result;
}

int KeyProgrammer::WriteKeyConfig(int slot, uint8_t hid) {
    DEV_LOG_V("Focus on key idx %d", slot);
    if (!ValidSlot(slot)) {
        return kErrBadSlot;
    }
    if (port_.Slot(slot).uid == 0) {
        return 0;
    }
    const bool marco = HasMarcoLayer(slot);
    MarcoEntries kept{};
    if (marco) {
        if (const int r = KeepMarcoBeforeRewrite(slot, kept); r != 0) {
            return r;
        }
    } else {
        DEV_LOG_V("No marco to keep");
    }
    SendKeyConfig(slot);
    DEV_LOG_V("Set KV %d", hid);
    if (marco) {
        DEV_LOG_V("Write Marco content start");
        marco_.Write(slot, kept);
    } else {
        DEV_LOG_V("No marco to keep");
    }
    return 0;
}

int KeyProgrammer::RewriteKey(int slot, const std::array<uint8_t, 4>& hid,
                              const std::array<uint8_t, 4>& vk, uint8_t flag, uint8_t chosenHid) {
    const KeySlot old = port_.EditTable([&](KeyTable& t) {
        KeySlot& k = t.slots[slot];
        const KeySlot was = k;
        k.hid = hid;
        k.vk = vk;
        k.flag = flag;
        return was;
    });
    // The macro tests of the write see the new values: a macro whose layer is being
    // replaced is not kept.
    const int r = WriteKeyConfig(slot, chosenHid);
    if (r != 0) {
        // Nothing was written, so the keyboard still holds the old values.
        port_.EditTable([&](KeyTable& t) {
            KeySlot& k = t.slots[slot];
            k.hid = old.hid;
            k.vk = old.vk;
            k.flag = old.flag;
        });
    }
    return r;
}

int KeyProgrammer::OnUsableSlot(int slot, const std::function<int()>& op) {
    if (!ValidSlot(slot)) {
        return kErrBadSlot;
    }
    const OpLock lock = port_.LockOps();
    if (!lock.owns_lock()) {
        return kErrBusy;
    }
    if (const int r = CheckUsableSlot(slot); r != 0) {
        return r;
    }
    if (const int r = ConfirmShortMacLocked(slot); r != 0) {
        return r;
    }
    return op();
}

// Key configurations are addressed by short mac. An insert report gives the slot number
// in its place, so a key written before the next scan asked the slot would reach whichever
// module uses that number as its address; the slot is asked first.
int KeyProgrammer::ConfirmShortMacLocked(int slot) {
    if (!port_.Slot(slot).macGuessed) {
        return kSessionOk;
    }
    DEV_LOG_V("Key idx %d: asking its short mac before writing", slot);
    if (!port_.AskScanReply(CmdScanKey(static_cast<uint8_t>(slot)), slot, kScanReplyKeyInfo,
                            kScanSlowReplyMs)) {
        return kErrNoAnswer;
    }
    if (const int r = CheckUsableSlot(slot); r != 0) {
        return r;
    }
    return port_.Slot(slot).macGuessed ? kErrNoAnswer : kSessionOk;
}

int KeyProgrammer::AssignKey(int slot, int layer, uint8_t keyCode, bool replaceMacro) {
    if (!ValidSlot(slot)) {
        return kErrBadSlot;
    }
    if (const int r = KeyCodeRefusal(layer, keyCode); r != 0) {
        return r;
    }
    return OnUsableSlot(slot, [&] {
        const uint8_t hid = HidOfKeyCode(keyCode);
        const KeySlot k = port_.Slot(slot);
        std::array<uint8_t, 4> hids = k.hid;
        std::array<uint8_t, 4> vks = k.vk;
        const uint8_t flag = UpdatedKeyFlag(k.flag, hid, layer);
        if (const int r = KeyAssignRefusal(vks, layer, keyCode, replaceMacro); r != 0) {
            return r;
        }
        hids[static_cast<size_t>(layer)] = hid;
        vks[static_cast<size_t>(layer)] = keyCode;
        return RewriteKey(slot, hids, vks, flag, hid);
    });
}

int KeyProgrammer::WriteKeyLayers(int slot, std::array<uint8_t, 4> hid, uint8_t flag) {
    return OnUsableSlot(slot, [&] {
        std::array<uint8_t, 4> vk{};
        for (size_t l = 0; l < 4; ++l) {
            vk[l] = KeyCodeOfReportedHid(hid[l]);
        }
        return RewriteKey(slot, hid, vk, flag, hid[0]);
    });
}

void KeyProgrammer::SendKeyConfig(int slot) {
    const KeySlot k = port_.Slot(slot);
    port_.SendCmd(CmdWriteKeyConfig(k.shortMac, k.hid, k.flag));
}

void KeyProgrammer::SaveMarcoTo(int slot, int layer, const MarcoEntries& entries) {
    DEV_LOG_V("Save Marco start");
    port_.EditTable([&](KeyTable& t) {
        t.slots[slot].hid[layer] = HidOfKeyCode(VK_MARCO);
        t.slots[slot].vk[layer] = VK_MARCO;
    });
    SendKeyConfig(slot);
    port_.Notify(UM_INFO_DLG_VK_CHANGE, PackSlotDev(slot, port_.DevIdx()), VK_MARCO);
    port_.Pause(50);
    marco_.Write(slot, entries);
}

int KeyProgrammer::WriteMacro(int slot, int layer, const MarcoRecord& record) {
    if (!ValidSlot(slot)) {
        return kErrBadSlot;
    }
    if (layer < 0 || layer > 3) {
        return kErrBadLayer;
    }
    int length = 0;
    while (length < kMarcoEntryCount && !IsMarcoListEnd(record.entries[length].flag)) {
        ++length;
    }
    if (length == 0) {
        return kErrMacroEmpty;
    }
    return OnUsableSlot(slot, [&] {
        const int refusal = port_.ReadTable([&](const KeyTable& t) {
            if (length > t.marcoMax) {
                return kErrMacroTooLong;
            }
            // Every front end checks first; this is the last guard before a key plays it.
            if (!CheckMarcoEntries(record.entries, t.marcoMax).Ok()) {
                return kErrMacroInvalid;
            }
            for (int l = 0; l < 4; ++l) {
                if (l != layer && t.slots[slot].vk[l] == VK_MARCO) {
                    return kErrMacroOnOtherLayer;
                }
            }
            return kSessionOk;
        });
        if (refusal != kSessionOk) {
            return refusal;
        }
        SaveMarcoTo(slot, layer, record.entries);
        return kSessionOk;
    });
}

MarcoReadResult KeyProgrammer::ReadMacro(int slot) {
    MarcoReadResult out;
    out.error = OnUsableSlot(slot, [&] {
        if (!HasMarcoLayer(slot)) {
            return kErrNoMacro;
        }
        const int r = marco_.ReadWithRetry(slot, out.record.entries);
        if (r == 0) {
            out.record.flag = 1;
        } else {
            out.record.entries = {};
        }
        return r;
    });
    return out;
}

int KeyProgrammer::SetKeyColor(int slot, uint32_t colour) {
    return OnUsableSlot(slot, [&] { return SetKeyColorLocked(slot, colour); });
}

int KeyProgrammer::SetKeyColorLocked(int slot, uint32_t colour) {
    const uint8_t k = port_.Slot(slot).vk[0];
    // A missing key, a module in its bootloader, a key waiting for its assignment.
    if (k == 0 || k == VK_WAIT_UPGRADE || k == VK_WAIT_SET) {
        return kErrKeyUnassigned;
    }
    DEV_LOG_V("Change idx %d color to %d %d %d", slot, (colour >> 16) & 0xFF, (colour >> 8) & 0xFF,
              colour & 0xFF);
    const bool marco = HasMarcoLayer(slot);
    MarcoEntries kept{};
    if (marco) {
        if (const int r = KeepMarcoBeforeRewrite(slot, kept); r != 0) {
            return r;
        }
        port_.Pause(50);
    } else {
        DEV_LOG_V("No marco to keep");
    }
    ReplyMail& mail = port_.Mail();
    mail.m_bRspScan = 0;
    const Rgb4 rgb = ToRgb4(colour);
    port_.SendCmd(CmdSetKeyColor(static_cast<uint8_t>(slot), rgb));
    DEV_LOG_V("Set idx %d color to %d %d %d", slot, rgb.red << 4, rgb.green << 4, rgb.blue << 4);
    port_.EditTable([&](KeyTable& t) { t.slots[slot].colour = colour; });
    // The controller does not answer 0x2E: in effect a 50 ms pause between colours.
    port_.WaitFlag(mail.m_bRspScan, 10, 5);
    if (marco) {
        DEV_LOG_V("Write Marco content start");
        marco_.Write(slot, kept);
        port_.Pause(50);
    } else {
        DEV_LOG_V("No marco to keep");
    }
    return 0;
}

int KeyProgrammer::SetAllKeyColor(uint32_t colour) {
    int result = 0;
    for (int slot = 0; slot < static_cast<int>(kKeySlots); ++slot) {
        // One key at a time, so a scan pass may go on between keys.
        const OpLock op = port_.LockOps();
        if (!op.owns_lock()) {
            return kErrBusy;
        }
        if (CheckUsableSlot(slot) != 0) {
            continue;
        }
        const int r = SetKeyColorLocked(slot, colour);
        if (r != 0 && r != kErrKeyUnassigned) {
            result = r;
        }
    }
    return result;
}

void KeyProgrammer::BlinkKey(int slot, uint32_t colour) {
    if (!ValidSlot(slot)) {
        return;
    }
    const uint8_t k = port_.Slot(slot).vk[0];
    if (k == 0 || k == VK_WAIT_UPGRADE) {
        return;
    }
    const Command cmd = CmdBlinkKey(static_cast<uint8_t>(slot), BlinkMode::Blink, ToRgb4(colour));
    port_.SendCmd(cmd);
    const auto b = cmd.Payload();
    DEV_LOG_V("Idx %d Blink LED to user, %02X %02X %02X 0%2X %02X %02X", slot, b[0], b[1], b[2],
              b[3], b[4], b[5]);
}

void KeyProgrammer::StopBlinkKey(int slot, uint32_t colour) {
    if (!ValidSlot(slot)) {
        return;
    }
    const uint8_t k = port_.Slot(slot).vk[0];
    if (k == 0 || k == VK_WAIT_UPGRADE) {
        return;
    }
    const bool waiting = k == VK_WAIT_SET;
    // A key waiting for its assignment goes back to steady red.
    const Command cmd =
        waiting
            ? CmdBlinkKey(static_cast<uint8_t>(slot), BlinkMode::SteadyWaiting, Rgb4{0x0F, 0, 0})
            : CmdBlinkKey(static_cast<uint8_t>(slot), BlinkMode::RestoreColour, ToRgb4(colour));
    port_.SendCmd(cmd);
    const auto b = cmd.Payload();
    if (waiting) {
        DEV_LOG_V("Idx %d Stop (VK_WAIT_SET) Blink LED to user, %02X %02X %02X 0%2X %02X %02X",
                  slot, b[0], b[1], b[2], b[3], b[4], b[5]);
    } else {
        DEV_LOG_V("Idx %d Stop (   Other   ) Blink LED to user, %02X %02X %02X 0%2X %02X %02X",
                  slot, b[0], b[1], b[2], b[3], b[4], b[5]);
    }
}

int KeyProgrammer::SetUsbRate(int rate) {
    const OpLock op = port_.LockOps();
    if (!op.owns_lock()) {
        return kErrBusy;
    }
    port_.EditTable([rate](KeyTable& t) { t.usbRate = static_cast<uint8_t>(rate); });
    // The controller never answers a rate change, so nothing is waited for here; a read of
    // the rate (ReadUsbRate) is what answers. Only a command that could not go is a failure.
    if (port_.SendCmd(CmdSetUsbRate(static_cast<uint8_t>(rate))) == 0 || port_.TransportGone()) {
        return -1;
    }
    return 0;
}

// `send` sends the change and gives nothing, or a result that ends the change at once.
int KeyProgrammer::ChangeMode(const std::function<std::optional<int>()>& send, int on) {
    {
        const OpLock op = port_.LockOps();
        if (!op.owns_lock()) {
            return kErrBusy;
        }
        if (const std::optional<int> early = send()) {
            return *early;
        }
    }
    // The controller restarts its bus; nothing waits on a mailbox meanwhile. It does not
    // answer the change either: the state query after the pause tells what it runs.
    port_.Pause(1800);
    port_.RequestScan();
    return on;
}

int KeyProgrammer::SetOverload(int on, int count) {
    return ChangeMode(
        [&]() -> std::optional<int> {
            port_.EditTable([&](KeyTable& t) {
                if (count == 0) {
                    count = on != 0 ? t.keyMaxOver : t.keyMaxStd;
                }
                t.overload = on != 0;
            });
            port_.SendCmd(CmdSetMode(ModeSetting::KeyMax, static_cast<uint8_t>(count & 0xFF)));
            return std::nullopt;
        },
        on);
}

int KeyProgrammer::SetNkro(int on) {
    return ChangeMode(
        [&]() -> std::optional<int> {
            const bool offered = port_.EditTable([on](KeyTable& t) {
                if (!ReportsFullKeyRollover(t.KbmcWord())) {
                    return false;
                }
                t.nkro = on != 0;
                return true;
            });
            if (!offered) {
                return 0;
            }
            port_.SendCmd(CmdSetMode(ModeSetting::FullKeyRollover, on != 0 ? 1 : 0));
            return std::nullopt;
        },
        on);
}

int KeyProgrammer::RelayLayerSwitch(uint32_t event) {
    const LayerEvent e = UnpackLayerEvent(event);
    const auto kind = e.Release() ? LayerSwitchKind::ReturnToPrevious : LayerSwitchKind::SwitchTo;
    return port_.SendCmd(CmdLayerSwitch(kind, static_cast<uint8_t>(e.dev),
                                        static_cast<uint8_t>(e.slot), e.layerKey, e.layerByte));
}

}  // namespace tavrik

// Changing a keyboard: key configurations, colours, blinking, macros on the device,
// controller modes and the layer relay. These run on the caller's thread.
#include <algorithm>

#include "device/key_assign.h"
#include "device/session.h"
#include "keys/keycodes.h"
#include "log/log.h"
#include "macro/marco_validate.h"
#include "protocol/commands.h"
#include "protocol/firmware_features.h"

namespace tavrik {

#define DEV_LOG(...) TV_DEVLOG("CCDev", m_nDevIdx, __VA_ARGS__)
#define DEV_LOG_V(...) TV_DEVLOG_V(m_bLogOn.load() != 0, "CCDev", m_nDevIdx, __VA_ARGS__)

namespace {

bool ValidSlot(int slot) {
    return IsKeySlot(static_cast<unsigned>(slot));
}

}  // namespace

bool CCCDev::HasMarcoLayer(int slot) const {
    if (!ValidSlot(slot)) {
        return false;
    }
    return ReadTable([slot](const KeyTable& t) { return t.slots[slot].HasMacro(); });
}

int CCCDev::CheckUsableSlot(int slot) const {
    if (!ValidSlot(slot)) {
        return kErrBadSlot;
    }
    std::lock_guard lock(m_TableLock);
    if (table_.kbmcStage == 'B') {
        return kErrControllerBootloader;
    }
    const KeySlot& k = table_.slots[slot];
    if (!k.Present()) {
        return kErrNoModule;
    }
    if (k.stage == 'B' || k.vk[0] == VK_WAIT_UPGRADE) {
        return kErrModuleBootloader;
    }
    return kSessionOk;
}

// A late reply of a failed read would be taken for the answer to the next request, so
// the late ones are let in before asking again.
int CCCDev::ReadMarcoWithRetry(int slot) {
    constexpr int kAttempts = 3;
    int result = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) {
            WaitUntil([] { return false; }, std::chrono::milliseconds(250));
        }
        {
            std::lock_guard lock(m_TableLock);
            m_Marco = {};
        }
        DEV_LOG_V("Get Marco content start");
        result = ReadMarco(slot);
        if (result == 0) {
            return 0;
        }
    }
    return result;
}

// Reads the key's macro into the buffer before a rewrite. If it cannot be read whole the
// caller must not go on, or the partial buffer would be written back as if it were the
// whole macro.
int CCCDev::KeepMarcoBeforeRewrite(int slot) {
    const int result = ReadMarcoWithRetry(slot);
    if (result == 0) {
        std::lock_guard lock(m_TableLock);
        m_bMarcoPending = 1;
        return 0;
    }
    DEV_LOG("Key idx %d: its macro could not be read back (%d), key left unchanged", slot, result);
    return result;
}

int CCCDev::WriteKeyConfig(int slot, uint8_t hid) {
    DEV_LOG_V("Focus on key idx %d", slot);
    if (!ValidSlot(slot)) {
        return kErrBadSlot;
    }
    if (ReadTable([slot](const KeyTable& t) { return t.slots[slot].uid; }) == 0) {
        return 0;
    }
    const bool marco = HasMarcoLayer(slot);
    if (marco) {
        if (const int r = KeepMarcoBeforeRewrite(slot); r != 0) {
            return r;
        }
    } else {
        DEV_LOG_V("No marco to keep");
    }
    SendKeyConfig(slot);
    DEV_LOG_V("Set KV %d", hid);
    if (marco) {
        DEV_LOG_V("Write Marco content start");
        WriteMarco(slot);
    } else {
        DEV_LOG_V("No marco to keep");
    }
    return 0;
}

int CCCDev::RewriteKey(int slot, const std::array<uint8_t, 4>& hid,
                       const std::array<uint8_t, 4>& vk, uint8_t flag, uint8_t chosenHid) {
    const KeySlot old = EditTable([&](KeyTable& t) {
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
        EditTable([&](KeyTable& t) {
            KeySlot& k = t.slots[slot];
            k.hid = old.hid;
            k.vk = old.vk;
            k.flag = old.flag;
        });
    }
    return r;
}

int CCCDev::OnUsableSlot(int slot, const std::function<int()>& op) {
    if (!ValidSlot(slot)) {
        return kErrBadSlot;
    }
    const OpLock lock = LockOps();
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
int CCCDev::ConfirmShortMacLocked(int slot) {
    if (!ReadTable([slot](const KeyTable& t) { return t.slots[slot].macGuessed; })) {
        return kSessionOk;
    }
    DEV_LOG_V("Key idx %d: asking its short mac before writing", slot);
    if (!AskScanReply(CmdScanKey(static_cast<uint8_t>(slot)), slot, kScanReplyKeyInfo,
                      kScanSlowReplyMs)) {
        return kErrNoAnswer;
    }
    if (const int r = CheckUsableSlot(slot); r != 0) {
        return r;
    }
    return ReadTable([slot](const KeyTable& t) { return t.slots[slot].macGuessed; }) ? kErrNoAnswer
                                                                                     : kSessionOk;
}

int CCCDev::AssignKey(int slot, int layer, uint8_t keyCode, bool replaceMacro) {
    if (!ValidSlot(slot)) {
        return kErrBadSlot;
    }
    if (const int r = KeyCodeRefusal(layer, keyCode); r != 0) {
        return r;
    }
    return OnUsableSlot(slot, [&] {
        const uint8_t hid = HidOfKeyCode(keyCode);
        std::array<uint8_t, 4> hids{};
        std::array<uint8_t, 4> vks{};
        uint8_t flag = 0;
        {
            std::lock_guard lock(m_TableLock);
            const KeySlot& k = table_.slots[slot];
            hids = k.hid;
            vks = k.vk;
            flag = UpdatedKeyFlag(k.flag, hid, layer);
        }
        if (const int r = KeyAssignRefusal(vks, layer, keyCode, replaceMacro); r != 0) {
            return r;
        }
        hids[static_cast<size_t>(layer)] = hid;
        vks[static_cast<size_t>(layer)] = keyCode;
        return RewriteKey(slot, hids, vks, flag, hid);
    });
}

int CCCDev::WriteKeyLayers(int slot, std::array<uint8_t, 4> hid, uint8_t flag) {
    return OnUsableSlot(slot, [&] {
        std::array<uint8_t, 4> vk{};
        for (size_t l = 0; l < 4; ++l) {
            vk[l] = KeyCodeOfReportedHid(hid[l]);
        }
        return RewriteKey(slot, hid, vk, flag, hid[0]);
    });
}

void CCCDev::SendKeyConfig(int slot) {
    const KeySlot k = GetKeySlot(slot);
    SendCmd(CmdWriteKeyConfig(k.shortMac, k.hid, k.flag));
}

void CCCDev::SetMarcoContent(const MarcoRecord& record) {
    std::lock_guard lock(m_TableLock);
    m_bMarcoPending = record.flag;
    m_Marco = record.entries;
}

int CCCDev::SaveMarco() {
    int slot = 0;
    {
        std::lock_guard lock(m_TableLock);
        if (m_bMarcoPending == 0) {
            return -1;
        }
        slot = m_nMarcoKey;
    }
    return SaveMarcoTo(slot, ReadTable([](const KeyTable& t) { return t.curLayer & 3; }));
}

int CCCDev::SaveMarcoTo(int slot, int layer) {
    if (!ValidSlot(slot)) {
        DEV_LOG("Save Marco, exceed key max number, return -1");
        return -1;
    }
    DEV_LOG_V("Save Marco start");
    {
        std::lock_guard lock(m_TableLock);
        table_.slots[slot].hid[layer] = HidOfKeyCode(VK_MARCO);
        table_.slots[slot].vk[layer] = VK_MARCO;
    }
    SendKeyConfig(slot);
    Notify(UM_INFO_DLG_VK_CHANGE, PackSlotDev(slot, m_nDevIdx), VK_MARCO);
    Pause(50);
    WriteMarco(slot);
    return 0;
}

int CCCDev::WriteMacro(int slot, int layer, const MarcoRecord& record) {
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
        {
            std::lock_guard lock(m_TableLock);
            if (length > table_.marcoMax) {
                return kErrMacroTooLong;
            }
            // Every front end checks first; this is the last guard before a key plays it.
            if (!CheckMarcoEntries(record.entries, table_.marcoMax).Ok()) {
                return kErrMacroInvalid;
            }
            for (int l = 0; l < 4; ++l) {
                if (l != layer && table_.slots[slot].vk[l] == VK_MARCO) {
                    return kErrMacroOnOtherLayer;
                }
            }
            m_nMarcoKey = slot;
        }
        MarcoRecord pending = record;
        pending.flag = 1;
        SetMarcoContent(pending);
        return SaveMarcoTo(slot, layer);
    });
}

CCCDev::MarcoReadResult CCCDev::ReadMacro(int slot) {
    MarcoReadResult out;
    out.error = OnUsableSlot(slot, [&] {
        if (!HasMarcoLayer(slot)) {
            return kErrNoMacro;
        }
        const int r = ReadMarcoWithRetry(slot);
        if (r == 0) {
            std::lock_guard lock(m_TableLock);
            out.record.flag = 1;
            out.record.entries = m_Marco;
        }
        return r;
    });
    return out;
}

int CCCDev::GetMarcoContent(MarcoRecord& record) {
    int slot = 0;
    {
        std::lock_guard lock(m_TableLock);
        slot = m_nMarcoKey;
    }
    if (!ValidSlot(slot)) {
        return -1;
    }
    if (!HasMarcoLayer(slot)) {
        return -2;
    }
    {
        std::lock_guard lock(m_TableLock);
        m_Marco = {};
    }
    DEV_LOG_V("Get Marco content start");
    const int result = ReadMarco(slot);
    std::lock_guard lock(m_TableLock);
    record.flag = m_bMarcoPending;
    record.entries = m_Marco;
    const int max = std::min<int>(table_.marcoMax, kMarcoEntryCount);
    for (int i = 0; i < max && !IsMarcoListEnd(m_Marco[i].flag); ++i) {
        DEV_LOG_V("Read Marco: %d: Flag %02x kv %02x delay %d ms", i, m_Marco[i].flag,
                  m_Marco[i].kv, m_Marco[i].delay);
    }
    DEV_LOG_V("Read Marco Done");
    // The editor must not take a partial read for the whole macro.
    return result == 0 ? 0 : result;
}

int CCCDev::WriteMarco(int slot) {
    if (!ValidSlot(slot)) {
        return -1;
    }
    MarcoEntries entries{};
    {
        std::lock_guard lock(m_TableLock);
        entries = m_Marco;
    }
    const int last = std::min<int>(MarcoMax(), kMarcoEntryCount - 1);
    for (int i = 0; i <= last; ++i) {
        const MarcoEntry& e = entries[i];
        SendCmd(CmdWriteMarco(static_cast<uint8_t>(slot), static_cast<uint8_t>(i), e.flag, e.kv,
                              e.delay));
        DEV_LOG_V("Write Marco: %d: Flag %02x kv %02x delay %d ms", i, e.flag, e.kv, e.delay);
        if (e.flag == MarcoFlag::End) {
            break;
        }
        Pause(30);
    }
    DEV_LOG_V("Save Marco Done");
    std::lock_guard lock(m_TableLock);
    m_bMarcoPending = 0;
    return 0;
}

int CCCDev::ReadMarco(int slot) {
    if (!ValidSlot(slot)) {
        return -1;
    }
    const int max = std::min<int>(MarcoMax(), kMarcoEntryCount);
    for (int i = 0; i < max; ++i) {
        mail_.m_bRspMarco = 0;
        SendCmd(CmdReadMarco(static_cast<uint8_t>(slot), static_cast<uint8_t>(i)));
        if (!WaitFlag(mail_.m_bRspMarco, 40, 3)) {
            DEV_LOG("Get Marco timeout happen");
            return kErrMacroNoAnswer;
        }
        const std::array<uint8_t, 8> r = mail_.MarcoReply();
        if (r[0] != CodeByte(ReportCode::RspMarco) || r[1] != slot || r[2] != i + 5) {
            DEV_LOG_V("Get Marco, response data is incorrect");
            return kErrMacroWrongAnswer;
        }
        if (r[3] == MarcoFlag::End || r[3] == MarcoFlag::ListEnd) {
            break;
        }
        std::lock_guard lock(m_TableLock);
        m_Marco[i] = {r[3], r[4], static_cast<uint16_t>(r[5] << 8 | r[6])};
    }
    return 0;
}

int CCCDev::SetKeyColor(int slot, uint32_t colour) {
    return OnUsableSlot(slot, [&] { return SetKeyColorLocked(slot, colour); });
}

int CCCDev::SetKeyColorLocked(int slot, uint32_t colour) {
    const uint8_t k = GetKeySlot(slot).vk[0];
    // A missing key, a module in its bootloader, a key waiting for its assignment.
    if (k == 0 || k == VK_WAIT_UPGRADE || k == VK_WAIT_SET) {
        return kErrKeyUnassigned;
    }
    DEV_LOG_V("Change idx %d color to %d %d %d", slot, (colour >> 16) & 0xFF, (colour >> 8) & 0xFF,
              colour & 0xFF);
    const bool marco = HasMarcoLayer(slot);
    if (marco) {
        if (const int r = KeepMarcoBeforeRewrite(slot); r != 0) {
            return r;
        }
        Pause(50);
    } else {
        DEV_LOG_V("No marco to keep");
    }
    mail_.m_bRspScan = 0;
    const Rgb4 rgb = ToRgb4(colour);
    SendCmd(CmdSetKeyColor(static_cast<uint8_t>(slot), rgb));
    DEV_LOG_V("Set idx %d color to %d %d %d", slot, rgb.red << 4, rgb.green << 4, rgb.blue << 4);
    {
        std::lock_guard lock(m_TableLock);
        table_.slots[slot].colour = colour;
    }
    // The controller does not answer 0x2E: in effect a 50 ms pause between colours.
    WaitFlag(mail_.m_bRspScan, 10, 5);
    if (marco) {
        DEV_LOG_V("Write Marco content start");
        WriteMarco(slot);
        Pause(50);
    } else {
        DEV_LOG_V("No marco to keep");
    }
    return 0;
}

int CCCDev::SetAllKeyColor(uint32_t colour) {
    int result = 0;
    for (int slot = 0; slot < static_cast<int>(kKeySlots); ++slot) {
        // One key at a time, so a scan pass may go on between keys.
        const OpLock op = LockOps();
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

void CCCDev::BlinkKey(int slot, uint32_t colour) {
    if (!ValidSlot(slot)) {
        return;
    }
    const uint8_t k = GetKeySlot(slot).vk[0];
    if (k == 0 || k == VK_WAIT_UPGRADE) {
        return;
    }
    const Command cmd = CmdBlinkKey(static_cast<uint8_t>(slot), BlinkMode::Blink, ToRgb4(colour));
    SendCmd(cmd);
    const auto b = cmd.Payload();
    DEV_LOG_V("Idx %d Blink LED to user, %02X %02X %02X 0%2X %02X %02X", slot, b[0], b[1], b[2],
              b[3], b[4], b[5]);
}

void CCCDev::StopBlinkKey(int slot, uint32_t colour) {
    if (!ValidSlot(slot)) {
        return;
    }
    const uint8_t k = GetKeySlot(slot).vk[0];
    if (k == 0 || k == VK_WAIT_UPGRADE) {
        return;
    }
    const bool waiting = k == VK_WAIT_SET;
    // A key waiting for its assignment goes back to steady red.
    const Command cmd =
        waiting
            ? CmdBlinkKey(static_cast<uint8_t>(slot), BlinkMode::SteadyWaiting, Rgb4{0x0F, 0, 0})
            : CmdBlinkKey(static_cast<uint8_t>(slot), BlinkMode::RestoreColour, ToRgb4(colour));
    SendCmd(cmd);
    const auto b = cmd.Payload();
    if (waiting) {
        DEV_LOG_V("Idx %d Stop (VK_WAIT_SET) Blink LED to user, %02X %02X %02X 0%2X %02X %02X",
                  slot, b[0], b[1], b[2], b[3], b[4], b[5]);
    } else {
        DEV_LOG_V("Idx %d Stop (   Other   ) Blink LED to user, %02X %02X %02X 0%2X %02X %02X",
                  slot, b[0], b[1], b[2], b[3], b[4], b[5]);
    }
}

int CCCDev::SetHostActive(int on) {
    SendCmd(CmdHostActive(on != 0));
    return 0;
}

int CCCDev::SetUsbRate(int rate) {
    const OpLock op = LockOps();
    if (!op.owns_lock()) {
        return kErrBusy;
    }
    {
        std::lock_guard lock(m_TableLock);
        table_.usbRate = static_cast<uint8_t>(rate);
    }
    // The controller never answers a rate change, so nothing is waited for here; a read of
    // the rate (ReadUsbRate) is what answers. Only a command that could not go is a failure.
    if (SendCmd(CmdSetUsbRate(static_cast<uint8_t>(rate))) == 0 || TransportGone()) {
        return -1;
    }
    return 0;
}

int CCCDev::SetOverload(int on, int count) {
    {
        OpLock op = LockOps();
        if (!op.owns_lock()) {
            return kErrBusy;
        }
        {
            std::lock_guard lock(m_TableLock);
            if (count == 0) {
                count = on != 0 ? table_.keyMaxOver : table_.keyMaxStd;
            }
            table_.overload = on != 0;
        }
        // Not answered either: the state query after the pause tells what the controller runs.
        SendCmd(CmdSetMode(ModeSetting::KeyMax, static_cast<uint8_t>(count & 0xFF)));
    }
    // The controller restarts its bus; nothing waits on a mailbox meanwhile.
    Pause(1800);
    RequestScan();
    return on;
}

int CCCDev::SetNkro(int on) {
    {
        OpLock op = LockOps();
        if (!op.owns_lock()) {
            return kErrBusy;
        }
        {
            std::lock_guard lock(m_TableLock);
            if (!ReportsFullKeyRollover(table_.KbmcWord())) {
                return 0;
            }
            table_.nkro = on != 0;
        }
        SendCmd(CmdSetMode(ModeSetting::FullKeyRollover, on != 0 ? 1 : 0));
    }
    Pause(1800);
    RequestScan();
    return on;
}

int CCCDev::RelayLayerSwitch(uint32_t event) {
    const LayerEvent e = UnpackLayerEvent(event);
    const auto kind = e.Release() ? LayerSwitchKind::ReturnToPrevious : LayerSwitchKind::SwitchTo;
    return SendCmd(CmdLayerSwitch(kind, static_cast<uint8_t>(e.dev), static_cast<uint8_t>(e.slot),
                                  e.layerKey, e.layerByte));
}

}  // namespace tavrik

// Changing a keyboard: key configurations, colours, blinking, macros on the device,
// controller modes and the layer relay. These run on the caller's thread.
#include <algorithm>

#include "device/session.h"
#include "keys/keycodes.h"
#include "log/log.h"
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
    std::lock_guard lock(m_TableLock);
    const auto& vk = m_KeyVk[slot];
    return std::find(vk.begin(), vk.end(), VK_MARCO) != vk.end();
}

// Reads the key's macro into the buffer before a rewrite. A read that fails is tried
// once more; if it fails again the caller must not go on, or the partial buffer would be
// written back as if it were the whole macro.
int CCCDev::KeepMarcoBeforeRewrite(int slot) {
    int result = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0) {
            // Let a late reply of the first attempt arrive before asking again, so it
            // cannot be taken for an answer to the second.
            WaitUntil([] { return false; }, std::chrono::milliseconds(250));
        }
        {
            std::lock_guard lock(m_TableLock);
            m_Marco = {};
        }
        DEV_LOG_V("Get Marco content start");
        result = ReadMarco(slot);
        if (result == 0) {
            std::lock_guard lock(m_TableLock);
            m_bMarcoPending = 1;
            return 0;
        }
    }
    DEV_LOG("Key idx %d: its macro could not be read back (%d), key left unchanged", slot, result);
    return result;
}

int CCCDev::WriteKeyConfig(int slot, uint8_t hid) {
    DEV_LOG_V("Focus on key idx %d", slot);
    if (!ValidSlot(slot)) {
        return -1;
    }
    {
        std::lock_guard lock(m_TableLock);
        if (m_KeyUid[slot] == 0) {
            return 0;
        }
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

void CCCDev::SendKeyConfig(int slot) {
    std::array<uint8_t, 4> hid{};
    uint8_t mac = 0;
    uint8_t flag = 0;
    {
        std::lock_guard lock(m_TableLock);
        hid = m_KeyHid[slot];
        mac = m_KeyShortMac[slot];
        flag = m_KeyFlag[slot];
    }
    SendCmd(CmdWriteKeyConfig(mac, hid, flag));
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
    if (!ValidSlot(slot)) {
        DEV_LOG("Save Marco, exceed key max number, return -1");
        return -1;
    }
    DEV_LOG_V("Save Marco start");
    const int layer = m_nCurLayer & 3;
    {
        std::lock_guard lock(m_TableLock);
        m_KeyHid[slot][layer] = HidOfKeyCode(VK_MARCO);
        m_KeyVk[slot][layer] = VK_MARCO;
    }
    SendKeyConfig(slot);
    Notify(UM_INFO_DLG_VK_CHANGE, PackSlotDev(slot, m_nDevIdx), VK_MARCO);
    Pause(50);
    WriteMarco(slot);
    return 0;
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
    const int max = std::min<int>(m_nMarcoMax, kMarcoEntryCount);
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
    const int last = std::min<int>(m_nMarcoMax, kMarcoEntryCount - 1);
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
    const int max = std::min<int>(m_nMarcoMax, kMarcoEntryCount);
    for (int i = 0; i < max; ++i) {
        m_bRspMarco = 0;
        SendCmd(CmdReadMarco(static_cast<uint8_t>(slot), static_cast<uint8_t>(i)));
        if (!WaitFlag(m_bRspMarco, 40, 3)) {
            DEV_LOG("Get Marco timeout happen");
            return -3;
        }
        std::array<uint8_t, 8> r{};
        {
            std::lock_guard lock(m_TableLock);
            r = m_MarcoRsp;
        }
        if (r[0] != CodeByte(ReportCode::RspMarco) || r[1] != slot || r[2] != i + 5) {
            DEV_LOG_V("Get Marco, response data is incorrect");
            return -4;
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
    if (!ValidSlot(slot)) {
        return -1;
    }
    uint8_t k = 0;
    {
        std::lock_guard lock(m_TableLock);
        k = m_KeyVk[slot][0];
    }
    if (k == 0 || k == VK_WAIT_UPGRADE || k == VK_WAIT_SET) {
        return 0;
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
    m_bRspScan = 0;
    const Rgb4 rgb = ToRgb4(colour);
    SendCmd(CmdSetKeyColor(static_cast<uint8_t>(slot), rgb));
    DEV_LOG_V("Set idx %d color to %d %d %d", slot, rgb.red << 4, rgb.green << 4, rgb.blue << 4);
    {
        std::lock_guard lock(m_TableLock);
        m_KeyColor[slot] = colour;
    }
    // The controller does not answer 0x2E: in effect a 50 ms pause between colours.
    WaitFlag(m_bRspScan, 10, 5);
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
        if (const int r = SetKeyColor(slot, colour); r != 0) {
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
    m_nUsbRate = static_cast<uint8_t>(rate);
    m_bRsp = 0;
    SendCmd(CmdSetUsbRate(static_cast<uint8_t>(rate)));
    return WaitFlag(m_bRsp, 10, 10) ? 0 : -1;
}

int CCCDev::SetOverload(int on, int count) {
    if (count == 0) {
        count = on != 0 ? m_nKeyMaxOver : m_nKeyMaxStd;
    }
    m_bOverload = on != 0 ? 1 : 0;
    m_bRsp = 0;
    SendCmd(CmdSetMode(ModeSetting::KeyMax, static_cast<uint8_t>(count & 0xFF)));
    WaitFlag(m_bRsp, 10, 10);
    Pause(1800);
    RequestScan();
    return on;
}

int CCCDev::SetNkro(int on) {
    const int word = m_nKbmcVerHi << 8 | m_nKbmcVerLo;
    if (!ReportsFullKeyRollover(word)) {
        return 0;
    }
    m_bNkro = on != 0 ? 1 : 0;
    m_bRsp = 0;
    SendCmd(CmdSetMode(ModeSetting::FullKeyRollover, on != 0 ? 1 : 0));
    WaitFlag(m_bRsp, 10, 10);
    Pause(1800);
    RequestScan();
    return on;
}

int CCCDev::RelayLayerSwitch(uint32_t event) {
    const uint8_t layerByte = static_cast<uint8_t>(event >> 8);
    const auto kind =
        (layerByte & 0x40) != 0 ? LayerSwitchKind::ReturnToPrevious : LayerSwitchKind::SwitchTo;
    // The event carries slot + 1 already; the command adds the one itself.
    return SendCmd(CmdLayerSwitch(kind, static_cast<uint8_t>(event & 0xFF),
                                  static_cast<uint8_t>((event >> 24) - 1),
                                  static_cast<uint8_t>(event >> 16), layerByte));
}

}  // namespace tavrik

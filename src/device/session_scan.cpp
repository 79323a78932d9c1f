// Scanning: the controller's stage and version, the keyboard kind, then every key slot's
// module data, colour and firmware version; the counts go to the window.
#include <algorithm>

#include "device/session.h"
#include "hid/ccusb.h"
#include "hid/device_table.h"
#include "keys/keycodes.h"
#include "log/log.h"
#include "protocol/commands.h"
#include "protocol/enable_report.h"
#include "protocol/firmware_features.h"

namespace tavrik {

#define DEV_LOG(...) TV_DEVLOG("CCDev", m_nDevIdx, __VA_ARGS__)
#define DEV_LOG_V(...) TV_DEVLOG_V(m_bLogOn.load() != 0, "CCDev", m_nDevIdx, __VA_ARGS__)

int CCCDev::RequestScan() {
    m_nScanState = kScanRequested;
    Poke();
    return 0;
}

void CCCDev::PauseScan() {
    m_nScanState = kScanIdle;
    Poke();
    Pause(100);
}

// Counts passes since a request. Stops at idle: a pause during a pass already made the
// state idle, and one more step must not leave a value that reads as busy.
int CCCDev::AdvanceScanState() {
    int state = m_nScanState.load();
    while (!m_nScanState.compare_exchange_weak(state, std::min(state + 1, kScanIdle))) {
    }
    return std::min(state + 1, kScanIdle);
}

void CCCDev::SendSummary(int state) {
    const uint32_t counts =
        state == 3 ? PackCounts(m_nKeyTotal, m_nKeyAssigned, m_nKeyBoot, m_nKeyBlank) : 0;
    Notify(UM_INFO_DLG_SUMMARY_CHANGE, static_cast<uint32_t>(state << 8 | (m_nDevIdx & 0xFF)),
           counts);
}

void CCCDev::RefreshSummary() {
    if (m_nScanState == kScanIdle) {
        SendSummary(m_nKeyTotal != 0 ? 3 : 2);
    } else {
        SendSummary(0);
    }
}

int CCCDev::GetKbmcStageVer() {
    DEV_LOG_V("Get Kbmc stage and version");
    m_bRsp = 0;
    SendCmd(CmdGetKbmcVer());
    if (!WaitFlag(m_bRsp, 10, 10)) {
        return -1;
    }
    const char stage = m_cKbmcStage;
    if (stage == 'B') {
        m_nKbmcVerHi = 0;
        m_nKbmcVerLo = 0;
        m_nUsbRate = 10;
    }
    return static_cast<uint8_t>(stage) << 16 | m_nKbmcVerHi << 8 | m_nKbmcVerLo;
}

int CCCDev::GetKbmcVer(char& stage, uint8_t& hi, uint8_t& lo) const {
    stage = m_cKbmcStage;
    hi = m_nKbmcVerHi;
    lo = m_nKbmcVerLo;
    return 0;
}

int CCCDev::ReadUsbRate() {
    m_bRsp = 0;
    SendCmd(CmdGetUsbRate());
    return WaitFlag(m_bRsp, 10, 10) ? 0 : -1;
}

int CCCDev::EnableKbmc(int on) {
    m_bRspEnable = 0;
    m_bEnableOk = 0;
    DEV_LOG_V(on != 0 ? "Enable KBMC" : "Disable KBMC");
    std::array<uint8_t, 8> key{};
    {
        std::lock_guard lock(m_TableLock);
        key = m_CipherKey;
    }
    SendCmd(BuildEnableKbmc(on != 0, key));
    // A keyboard that is gone cannot answer; don't hold a closing session for a second.
    if (TransportGone()) {
        return -1;
    }
    return WaitFlag(m_bRspEnable, 100, 10) ? 0 : -1;
}

int CCCDev::CalcKeyVerRange() {
    int lo = 0xFFFF;
    int hi = 0;
    std::lock_guard lock(m_TableLock);
    for (size_t s = 0; s < kKeySlots; ++s) {
        const uint8_t k = m_KeyVk[s][0];
        if (k == VK_WAIT_UPGRADE) {
            lo = 0;
        } else if (k != 0) {
            const int v = m_KeyVerHi[s] << 8 | m_KeyVerLo[s];
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    if (lo == 0xFFFF && hi == 0) {
        return -1;
    }
    m_KeyVerRange = {static_cast<uint8_t>(lo >> 8), static_cast<uint8_t>(lo & 0xFF),
                     static_cast<uint8_t>(hi >> 8), static_cast<uint8_t>(hi & 0xFF)};
    return 0;
}

int CCCDev::GetKeyVerRange(uint8_t& total, uint8_t& minHi, uint8_t& minLo, uint8_t& maxHi,
                           uint8_t& maxLo) {
    const int result = CalcKeyVerRange();
    total = static_cast<uint8_t>(m_nKeyTotal);
    std::lock_guard lock(m_TableLock);
    minHi = m_KeyVerRange[0];
    minLo = m_KeyVerRange[1];
    maxHi = m_KeyVerRange[2];
    maxLo = m_KeyVerRange[3];
    return result;
}

void CCCDev::ApplyKindAndViewFlags(uint16_t version) {
    const DeviceTableRow& row = KindRowFor(m_pUsb->m_nVid, m_pUsb->m_nPid, m_pUsb->m_nVer);
    m_nKbdKind = row.kind;
    m_nMarcoMax = row.marcoMaxSteps;
    m_nMarcoDelay = kMarcoDefaultDelay;
    m_bAutoLoop = AutoLoopAllowed(row, version) ? 1 : 0;
    m_bKbmcUpdatable = row.kbmcUpdatable ? 1 : 0;
    m_bHideLayerBtn = row.hideLayerBtn ? 1 : 0;
    m_bHideAllColorBtn = row.hideAllColorBtn ? 1 : 0;
    m_bHidePageBtn = HidePageButtons(row, m_nKeyMax) ? 1 : 0;
    if (row.announcesKind) {
        Notify(UM_KBD_KIND_CHANGE, 0, 0);
    }
    if (row.needsEnableReport) {
        EnableKbmc(1);
    }
}

void CCCDev::ScanSlot(int slot) {
    m_bRspScan = 0;
    DEV_LOG_V("Scan idx %d", slot);
    SendCmd(CmdScanKey(static_cast<uint8_t>(slot)));
    WaitFlag(m_bRspScan, 10, 5);  // a slot that does not answer keeps what it had
    std::array<uint8_t, 4> vk{};
    {
        std::lock_guard lock(m_TableLock);
        vk = m_KeyVk[slot];
    }
    DEV_LOG_V("Scan idx %d responsed %02x %02x %02x %02x", slot, vk[0], vk[1], vk[2], vk[3]);
    const uint8_t k = vk[0];
    if (k == VK_WAIT_UPGRADE) {
        ++m_nKeyBoot;
    } else if (k == VK_WAIT_SET) {
        ++m_nKeyBlank;
    } else if (k != 0) {
        ++m_nKeyAssigned;
        m_bRspScan = 0;
        DEV_LOG_V("Scan key color, idx %d", slot);
        SendCmd(CmdGetKeyColor(static_cast<uint8_t>(slot)));
        if (WaitFlag(m_bRspScan, 10, 5)) {
            DEV_LOG_V("Scan key color, idx %d Done", slot);
        } else {
            DEV_LOG("Scan key color, idx %d Response Timeout", slot);
        }
    }
    if (k != 0 && k != VK_WAIT_UPGRADE) {
        m_bRspScan = 0;
        DEV_LOG_V("Get key stage");
        SendCmd(CmdGetKeyVer(static_cast<uint8_t>(slot)));
        if (WaitFlag(m_bRspScan, 10, 5)) {
            DEV_LOG_V("Get key stage done");
        } else {
            DEV_LOG("Get key stage response timeout");
        }
    }
}

// One pass; false when the controller did not answer its version query.
bool CCCDev::ScanPass(Worker& self) {
    SendSummary(0);
    const int stageVer = GetKbmcStageVer();
    if (stageVer < 0) {
        m_bVerFail = 1;
        DEV_LOG("Fail to get VL7 version");
        AdvanceScanState();
        return false;
    }
    m_bVerFail = 0;
    const char stage = static_cast<char>(stageVer >> 16);
    const uint16_t version = static_cast<uint16_t>(stageVer & 0xFFFF);
    if (stage == 'B') {
        m_nUsbRate = 10;
    }
    if (stage == 'A' && PredatesKeyboardKinds(version)) {
        ReadUsbRate();
        if (m_nUsbRate == 0) {
            m_nUsbRate = 1;
        }
    } else {
        ApplyKindAndViewFlags(version);
    }

    m_nKeyTotal = 0;
    m_nKeyAssigned = 0;
    m_nKeyBoot = 0;
    m_nKeyBlank = 0;
    m_bChainEnd = 0;
    for (int slot = 0; slot < static_cast<int>(kKeySlots); ++slot) {
        if (m_bChainEnd != 0) {
            std::lock_guard lock(m_TableLock);
            for (int s = slot; s < static_cast<int>(kKeySlots); ++s) {
                ClearSlotLocked(s, false, true);
            }
            break;
        }
        if (m_nScanState >= kScanIdle || self.stop) {
            break;
        }
        // A keyboard pulled out mid-pass answers nothing more; end the pass at once
        // instead of timing out on every remaining slot.
        if (TransportGone()) {
            m_nScanState = kScanIdle;
            break;
        }
        ScanSlot(slot);
    }
    m_nKeyTotal = m_nKeyAssigned + m_nKeyBoot + m_nKeyBlank;
    if (m_nKeyTotal != 0) {
        SendSummary(3);
    } else if (m_nScanState >= kScanOnePassDone) {
        SendSummary(2);
    }
    Notify(UM_INFO_DLG_UPDATE_ALL_KEY_DISPLAY, static_cast<uint32_t>(m_nDevIdx & 0xFF), 0);
    SendCmd(CmdHostActive(m_bHostView == 1));
    DEV_LOG_V("Compute key version range");
    CalcKeyVerRange();
    ++m_nScanPasses;
    if (AdvanceScanState() >= kScanIdle) {
        Notify(UM_INFO_UPDATE_CHECK, static_cast<uint32_t>(m_nDevIdx & 0xFF), 0);
    }
    return true;
}

void CCCDev::ScanThread(Worker& self) {
    DEV_LOG_V("Key state scan thread start");
    DEV_LOG_V("Scan Key UID start ... ");
    m_nIdleMs = 5;
    while (!self.stop) {
        if (m_bRunning == 0) {
            m_nScanState = kScanIdle;
        }
        if (m_nScanState >= kScanIdle) {
            // Idle: woken early by a scan request or a stop.
            WaitUntil([&] { return self.stop.load() || m_nScanState < kScanIdle; },
                      std::chrono::milliseconds(100));
            continue;
        }
        if (ScanPass(self)) {
            Pause(2500, &self.stop);
        }
    }
}

}  // namespace tavrik

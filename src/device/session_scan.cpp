// Scanning: the controller's stage and version, the keyboard kind, then every key slot's
// module data, colour and firmware version; the counts go to the window.
#include <algorithm>
#include <optional>

#include "device/key_counts.h"
#include "device/kind_features.h"
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

struct CCCDev::PassTally {
    KeyCounts counts;
    std::array<bool, kKeySlots> visited{};
    std::array<bool, kKeySlots> answered{};
    std::array<bool, kKeySlots> asked{};   // a scan query went out for the slot
    std::array<uint8_t, kKeySlots> vk0{};  // layer 0's key code after the slot's last query
};

int CCCDev::RequestScan() {
    m_nScanState = kScanRequested;
    Poke();
    return 0;
}

void CCCDev::PauseScan() {
    m_nScanState = kScanIdle;
    Poke();
    // The scan thread itself (a notification handled on it) cannot wait for its own pass.
    if (scan_.IsCurrent()) {
        return;
    }
    // A pass ends at its next slot; the owner thread delivers the pass's notifications
    // while it waits here, so a pass blocked on one of them goes on.
    if (!WaitUntil([this] { return !m_bScanPass.load(); }, std::chrono::seconds(10))) {
        DEV_LOG("Scan pass still running after a pause request");
    }
}

// Counts passes since a request. Stops at idle: a pause during a pass already made the
// state idle, and one more step must not leave a value that reads as busy.
int CCCDev::AdvanceScanState() {
    int state = m_nScanState.load();
    while (!m_nScanState.compare_exchange_weak(state, std::min(state + 1, kScanIdle))) {
    }
    return std::min(state + 1, kScanIdle);
}

void CCCDev::SendSummary(int state, const KeyCounts& counts) {
    const uint32_t packed = state == kSummaryKeysFound ? PackCounts(counts) : 0;
    Notify(UM_INFO_DLG_SUMMARY_CHANGE, PackSummaryState(state, m_nDevIdx), packed);
}

void CCCDev::RefreshSummary() {
    if (m_nScanState == kScanIdle) {
        const KeyCounts counts = Snapshot().counts;
        SendSummary(counts.total != 0 ? kSummaryKeysFound : kSummaryNoKeys, counts);
    } else {
        SendSummary(kSummaryScanning, {});
    }
}

int CCCDev::GetKbmcStageVer() {
    const OpLock op = LockOps();
    if (!op.owns_lock()) {
        return kErrBusy;
    }
    return GetKbmcStageVerLocked();
}

int CCCDev::GetKbmcStageVerLocked() {
    DEV_LOG_V("Get Kbmc stage and version");
    m_bRsp = 0;
    SendCmd(CmdGetKbmcVer());
    if (!WaitFlag(m_bRsp, 10, 10)) {
        // A busy host misses a prompt reply now and then; like a slot's, the question is
        // asked once more with the longer wait before the keyboard counts as silent. A late
        // reply to the first one carries the same version.
        // A keyboard that was pulled out is not asked again, nor waited for.
        if (TransportGone()) {
            return -1;
        }
        m_bRsp = 0;
        SendCmd(CmdGetKbmcVer());
        WaitUntil([this] { return m_bRsp.load() != 0 || TransportGone(); },
                  std::chrono::milliseconds(kScanSlowReplyMs));
        if (m_bRsp.load() == 0) {
            return -1;
        }
    }
    return EditTable([](KeyTable& t) {
        if (t.kbmcStage == 'B') {
            t.kbmcVerHi = 0;
            t.kbmcVerLo = 0;
            t.usbRate = 10;
        }
        return static_cast<uint8_t>(t.kbmcStage) << 16 | t.KbmcWord();
    });
}

int CCCDev::ReadUsbRate() {
    const OpLock op = LockOps();
    return op.owns_lock() ? ReadUsbRateLocked() : kErrBusy;
}

int CCCDev::ReadUsbRateLocked() {
    m_bRsp = 0;
    SendCmd(CmdGetUsbRate());
    return WaitFlag(m_bRsp, 10, 10) ? 0 : -1;
}

int CCCDev::EnableKbmc(int on) {
    const OpLock op = LockOps();
    return op.owns_lock() ? EnableKbmcLocked(on) : kErrBusy;
}

int CCCDev::EnableKbmcLocked(int on) {
    m_bRspEnable = 0;
    m_bEnableOk = 0;
    DEV_LOG_V(on != 0 ? "Enable KBMC" : "Disable KBMC");
    const auto key = ReadTable([](const KeyTable& t) { return t.cipherKey; });
    SendCmd(BuildEnableKbmc(on != 0, key));
    // A keyboard that is gone cannot answer; don't hold a closing session for a second.
    if (TransportGone()) {
        return -1;
    }
    return WaitFlag(m_bRspEnable, 100, 10) ? 0 : -1;
}

int CCCDev::GetKeyVerRange(uint8_t& total, uint8_t& minHi, uint8_t& minLo, uint8_t& maxHi,
                           uint8_t& maxLo) {
    std::lock_guard lock(m_TableLock);
    const int result = StoreKeyVerRange(table_) ? 0 : -1;
    total = static_cast<uint8_t>(table_.counts.total);
    minHi = table_.keyVerRange[0];
    minLo = table_.keyVerRange[1];
    maxHi = table_.keyVerRange[2];
    maxLo = table_.keyVerRange[3];
    return result;
}

bool CCCDev::ApplyKindAndViewFlags(uint16_t version) {
    const DeviceTableRow& row = KindRowFor(m_pUsb->m_nVid, m_pUsb->m_nPid, m_pUsb->m_nVer);
    {
        // One group, so a snapshot never shows half of a kind.
        std::lock_guard lock(m_TableLock);
        table_.kind = row.kind;
        table_.marcoMax = row.marcoMaxSteps;
        table_.marcoDelay = kMarcoDefaultDelay;
        table_.autoLoop = AutoLoopAllowed(row, version);
        table_.kbmcUpdatable = row.kbmcUpdatable;
        table_.hideLayerBtn = row.hideLayerBtn;
        table_.hideAllColorBtn = row.hideAllColorBtn;
        table_.hidePageBtn = HidePageButtons(row, table_.keyMax);
    }
    if (row.needsEnableReport) {
        EnableKbmcLocked(1);
    }
    return row.announcesKind;
}

bool CCCDev::AskScanReply(const Command& command, int slot, uint8_t bit, int waitMs) {
    m_ScanReplies[static_cast<size_t>(slot)].fetch_and(static_cast<uint8_t>(~bit));
    m_bRspScan = 0;
    SendCmd(command);
    return WaitUntil(
        [this, slot, bit] { return (m_ScanReplies[static_cast<size_t>(slot)].load() & bit) != 0; },
        std::chrono::milliseconds(waitMs));
}

// Caller holds the operation lock.
void CCCDev::ScanSlot(int slot, PassTally& tally, int waitMs) {
    DEV_LOG_V("Scan idx %d", slot);
    const auto at = static_cast<uint8_t>(slot);
    // A slot that does not answer keeps what it had.
    tally.visited[slot] = true;
    tally.asked[slot] = true;
    bool answered = AskScanReply(CmdScanKey(at), slot, kScanReplyKeyInfo, waitMs);
    const auto vk = ReadTable([slot](const KeyTable& t) { return t.slots[slot].vk; });
    DEV_LOG_V("Scan idx %d responsed %02x %02x %02x %02x", slot, vk[0], vk[1], vk[2], vk[3]);
    const uint8_t k = vk[0];
    tally.vk0[slot] = k;
    if (answered && k != 0 && k != VK_WAIT_UPGRADE && k != VK_WAIT_SET) {
        DEV_LOG_V("Scan key color, idx %d", slot);
        if (AskScanReply(CmdGetKeyColor(at), slot, kScanReplyColour, waitMs)) {
            DEV_LOG_V("Scan key color, idx %d Done", slot);
        } else {
            DEV_LOG("Scan key color, idx %d Response Timeout", slot);
            answered = false;
        }
    }
    if (answered && k != 0 && k != VK_WAIT_UPGRADE) {
        DEV_LOG_V("Get key stage");
        if (AskScanReply(CmdGetKeyVer(at), slot, kScanReplyVersion, waitMs)) {
            DEV_LOG_V("Get key stage done");
        } else {
            DEV_LOG("Get key stage response timeout");
            answered = false;
        }
    }
    // Only a slot whose every reply came counts as answered: a lost colour or version
    // would otherwise show as black or V0.0.
    tally.answered[slot] = answered;
}

// One pass; false when the controller did not answer its version query or the pass was
// cut short, so that the next one may follow at once. Each exchange
// with the controller holds the operation lock, so user operations wait between slots
// rather than share a mailbox with the pass. Counts, answers and the version range are
// gathered here and published together at the end.
bool CCCDev::ScanPass(Worker& self) {
    SendSummary(kSummaryScanning, {});
    int stageVer = -1;
    {
        const OpLock op = LockOps();
        if (op.owns_lock()) {
            stageVer = GetKbmcStageVerLocked();
        }
    }
    if (stageVer < 0) {
        EditTable([](KeyTable& t) { t.verFail = true; });
        DEV_LOG("Fail to get VL7 version");
        AdvanceScanState();
        return false;
    }
    const char stage = static_cast<char>(stageVer >> 16);
    const uint16_t version = static_cast<uint16_t>(stageVer & 0xFFFF);
    bool kindChanged = false;
    {
        const OpLock op = LockOps();
        EditTable([stage](KeyTable& t) {
            t.verFail = false;
            if (stage == 'B') {
                t.usbRate = 10;
            }
        });
        if (stage == 'A' && PredatesKeyboardKinds(version)) {
            if (op.owns_lock()) {
                ReadUsbRateLocked();
            }
            EditTable([](KeyTable& t) {
                if (t.usbRate == 0) {
                    t.usbRate = 1;
                }
            });
        } else if (op.owns_lock()) {
            kindChanged = ApplyKindAndViewFlags(version);
        }
    }
    if (kindChanged) {
        Notify(UM_KBD_KIND_CHANGE, 0, 0);
    }

    PassTally tally;
    // A pass stopped before every slot was asked (a pause, a stop, a pulled cable) knows too
    // little to count the modules: it publishes nothing and does not count as a pass.
    bool cut = false;
    m_bChainEnd = 0;
    for (int slot = 0; slot < static_cast<int>(kKeySlots); ++slot) {
        if (m_bChainEnd != 0) {
            std::lock_guard lock(m_TableLock);
            for (int s = slot; s < static_cast<int>(kKeySlots); ++s) {
                ClearSlot(table_.slots[s], false, true);
                tally.visited[s] = true;
                tally.answered[s] = true;  // the chain's end says they are empty
            }
            break;
        }
        if (m_nScanState >= kScanIdle || self.stop) {
            cut = true;
            break;
        }
        // A keyboard pulled out mid-pass answers nothing more; end the pass at once
        // instead of timing out on every remaining slot.
        if (TransportGone()) {
            m_nScanState = kScanIdle;
            cut = true;
            break;
        }
        const OpLock op = LockOps();
        if (!op.owns_lock()) {
            cut = true;
            break;
        }
        ScanSlot(slot, tally, kScanReplyWaitMs);
    }
    // A keyboard slower than the reply limit gets one more, longer try at the slots it did
    // not answer, so a slow or busy keyboard is not reported as missing modules. One that
    // stays silent for several slots in a row answers nothing: the rest is not asked.
    int silentInARow = 0;
    for (int slot = 0; slot < static_cast<int>(kKeySlots); ++slot) {
        if (!tally.asked[slot] || tally.answered[slot]) {
            continue;
        }
        if (m_nScanState >= kScanIdle || self.stop || TransportGone() ||
            silentInARow >= kScanSilentSlotsToGiveUp) {
            break;
        }
        const OpLock op = LockOps();
        if (!op.owns_lock()) {
            break;
        }
        DEV_LOG("Scan idx %d: no answer, asking again", slot);
        ScanSlot(slot, tally, kScanSlowReplyMs);
        silentInARow = tally.answered[slot] ? 0 : silentInARow + 1;
    }
    if (cut) {
        EndCutPass(tally);
        return false;
    }
    KeyCounts& counts = tally.counts;
    for (size_t s = 0; s < kKeySlots; ++s) {
        if (tally.asked[s]) {
            CountModule(counts, tally.vk0[s]);
        }
    }
    DEV_LOG_V("Compute key version range");
    bool hostView = false;
    {
        std::lock_guard lock(m_TableLock);
        table_.counts = counts;
        for (size_t s = 0; s < kKeySlots; ++s) {
            if (tally.visited[s]) {
                table_.slots[s].answered = tally.answered[s];
            }
        }
        StoreKeyVerRange(table_);
        hostView = table_.hostView;
    }
    if (counts.total != 0) {
        SendSummary(kSummaryKeysFound, counts);
    } else if (m_nScanState >= kScanOnePassDone) {
        SendSummary(kSummaryNoKeys, counts);
    }
    Notify(UM_INFO_DLG_UPDATE_ALL_KEY_DISPLAY, static_cast<uint32_t>(m_nDevIdx & 0xFF), 0);
    SendCmd(CmdHostActive(hostView));
    ++m_nScanPasses;
    if (AdvanceScanState() >= kScanIdle) {
        Notify(UM_INFO_UPDATE_CHECK, static_cast<uint32_t>(m_nDevIdx & 0xFF), 0);
    }
    return true;
}

// The slots the pass did ask keep what they answered; the counts stay those of the last
// whole pass, and the window gets them back in place of "scanning".
void CCCDev::EndCutPass(const PassTally& tally) {
    KeyCounts counts;
    bool hostView = false;
    {
        std::lock_guard lock(m_TableLock);
        for (size_t s = 0; s < kKeySlots; ++s) {
            if (tally.visited[s]) {
                table_.slots[s].answered = tally.answered[s];
            }
        }
        counts = table_.counts;
        hostView = table_.hostView;
    }
    if (counts.total != 0) {
        SendSummary(kSummaryKeysFound, counts);
    } else if (m_nScanPasses != 0) {
        SendSummary(kSummaryNoKeys, counts);
    }
    Notify(UM_INFO_DLG_UPDATE_ALL_KEY_DISPLAY, static_cast<uint32_t>(m_nDevIdx & 0xFF), 0);
    SendCmd(CmdHostActive(hostView));
    // No AdvanceScanState: the pass did not happen, and a request made meanwhile must keep
    // both of its passes.
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
        // Marked before the state is looked at again, so that PauseScan either sees the
        // pass running and waits for it, or this thread sees the pause and runs none.
        m_bScanPass = true;
        if (m_nScanState >= kScanIdle) {
            m_bScanPass = false;
            Poke();
            continue;
        }
        const bool ran = ScanPass(self);
        m_bScanPass = false;
        Poke();
        if (ran) {
            Pause(2500, &self.stop);
        }
    }
}

}  // namespace tavrik

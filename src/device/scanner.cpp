#include "device/scanner.h"

#include <algorithm>

#include "device/key_counts.h"
#include "device/kind_features.h"
#include "device/notify.h"
#include "device/notify_payload.h"
#include "device/report_steps.h"
#include "device/session_result.h"
#include "hid/device_table.h"
#include "keys/keycodes.h"
#include "macro/marco.h"
#include "protocol/commands.h"
#include "protocol/enable_report.h"
#include "protocol/firmware_features.h"

namespace tavrik {

#define DEV_LOG(...) PORT_LOG(port_, __VA_ARGS__)
#define DEV_LOG_V(...) PORT_LOG_V(port_, __VA_ARGS__)

int Scanner::RequestScan() {
    m_nScanState = kScanRequested;
    port_.Poke();
    return 0;
}

void Scanner::PauseScan() {
    m_nScanState = kScanIdle;
    port_.Poke();
    // The scan thread itself (a notification handled on it) cannot wait for its own pass.
    if (scanThread_.load() == std::this_thread::get_id()) {
        return;
    }
    // A pass ends at its next slot; the owner thread delivers the pass's notifications
    // while it waits here, so a pass blocked on one of them goes on.
    if (!port_.WaitUntil([this] { return !m_bScanPass.load(); }, std::chrono::seconds(10))) {
        DEV_LOG("Scan pass still running after a pause request");
    }
}

// Counts passes since a request. Stops at idle: a pause during a pass already made the
// state idle, and one more step must not leave a value that reads as busy.
int Scanner::AdvanceScanState() {
    int state = m_nScanState.load();
    while (!m_nScanState.compare_exchange_weak(state, std::min(state + 1, kScanIdle))) {
    }
    return std::min(state + 1, kScanIdle);
}

void Scanner::SendSummary(int state, const KeyCounts& counts) {
    const uint32_t packed = state == kSummaryKeysFound ? PackCounts(counts) : 0;
    port_.Notify(UM_INFO_DLG_SUMMARY_CHANGE, PackSummaryState(state, port_.DevIdx()), packed);
}

void Scanner::RefreshSummary() {
    if (m_nScanState == kScanIdle) {
        const KeyCounts counts = port_.ReadTable([](const KeyTable& t) { return t.counts; });
        SendSummary(counts.total != 0 ? kSummaryKeysFound : kSummaryNoKeys, counts);
    } else {
        SendSummary(kSummaryScanning, {});
    }
}

int Scanner::GetKbmcStageVer() {
    const OpLock op = port_.LockOps();
    if (!op.owns_lock()) {
        return kErrBusy;
    }
    return GetKbmcStageVerLocked();
}

int Scanner::GetKbmcStageVerLocked() {
    DEV_LOG_V("Get Kbmc stage and version");
    ReplyMail& mail = port_.Mail();
    if (!port_.Ask(CmdGetKbmcVer(), mail.m_bRsp, 10, 10)) {
        // A busy host misses a prompt reply now and then; like a slot's, the question is
        // asked once more with the longer wait before the keyboard counts as silent. A late
        // reply to the first one carries the same version.
        // A keyboard that was pulled out is not asked again, nor waited for.
        if (port_.TransportGone()) {
            return -1;
        }
        mail.m_bRsp = 0;
        port_.SendCmd(CmdGetKbmcVer());
        port_.WaitUntil([&] { return mail.m_bRsp.load() != 0 || port_.TransportGone(); },
                        std::chrono::milliseconds(kScanSlowReplyMs));
        if (mail.m_bRsp.load() == 0) {
            return -1;
        }
    }
    return port_.EditTable([](KeyTable& t) {
        if (t.kbmcStage == 'B') {
            t.kbmcVerHi = 0;
            t.kbmcVerLo = 0;
            t.usbRate = 10;
        }
        return static_cast<uint8_t>(t.kbmcStage) << 16 | t.KbmcWord();
    });
}

int Scanner::ReadUsbRate() {
    const OpLock op = port_.LockOps();
    return op.owns_lock() ? ReadUsbRateLocked() : kErrBusy;
}

int Scanner::ReadUsbRateLocked() {
    return port_.Ask(CmdGetUsbRate(), port_.Mail().m_bRsp, 10, 10) ? 0 : -1;
}

int Scanner::EnableKbmc(int on) {
    const OpLock op = port_.LockOps();
    return op.owns_lock() ? EnableKbmcLocked(on) : kErrBusy;
}

int Scanner::EnableKbmcLocked(int on) {
    ReplyMail& mail = port_.Mail();
    mail.m_bRspEnable = 0;
    mail.m_bEnableOk = 0;
    DEV_LOG_V(on != 0 ? "Enable KBMC" : "Disable KBMC");
    const auto key = port_.ReadTable([](const KeyTable& t) { return t.cipherKey; });
    port_.SendCmd(BuildEnableKbmc(on != 0, key));
    // A keyboard that is gone cannot answer; don't hold a closing session for a second.
    if (port_.TransportGone()) {
        return -1;
    }
    return port_.WaitFlag(mail.m_bRspEnable, 100, 10) ? 0 : -1;
}

bool Scanner::ApplyKindAndViewFlags(uint16_t version) {
    const DeviceTableRow& row = port_.KindRow();
    // One group, so a snapshot never shows half of a kind.
    port_.EditTable([&](KeyTable& t) {
        t.kind = row.kind;
        t.marcoMax = row.marcoMaxSteps;
        t.marcoDelay = kMarcoDefaultDelay;
        t.autoLoop = AutoLoopAllowed(row, version);
        t.kbmcUpdatable = row.kbmcUpdatable;
        t.hideLayerBtn = row.hideLayerBtn;
        t.hideAllColorBtn = row.hideAllColorBtn;
        t.hidePageBtn = HidePageButtons(row, t.keyMax);
    });
    if (row.needsEnableReport) {
        EnableKbmcLocked(1);
    }
    return row.announcesKind;
}

// Caller holds the operation lock.
void Scanner::ScanSlot(int slot, PassTally& tally, int waitMs) {
    DEV_LOG_V("Scan idx %d", slot);
    const auto at = static_cast<uint8_t>(slot);
    // A slot that does not answer keeps what it had.
    tally.visited[slot] = true;
    tally.asked[slot] = true;
    bool answered = port_.AskScanReply(CmdScanKey(at), slot, kScanReplyKeyInfo, waitMs);
    const auto vk = port_.Slot(slot).vk;
    DEV_LOG_V("Scan idx %d responsed %02x %02x %02x %02x", slot, vk[0], vk[1], vk[2], vk[3]);
    const uint8_t k = vk[0];
    tally.vk0[slot] = k;
    if (answered && k != 0 && k != VK_WAIT_UPGRADE && k != VK_WAIT_SET) {
        DEV_LOG_V("Scan key color, idx %d", slot);
        if (port_.AskScanReply(CmdGetKeyColor(at), slot, kScanReplyColour, waitMs)) {
            DEV_LOG_V("Scan key color, idx %d Done", slot);
        } else {
            DEV_LOG("Scan key color, idx %d Response Timeout", slot);
            answered = false;
        }
    }
    if (answered && k != 0 && k != VK_WAIT_UPGRADE) {
        DEV_LOG_V("Get key stage");
        if (port_.AskScanReply(CmdGetKeyVer(at), slot, kScanReplyVersion, waitMs)) {
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

bool Scanner::ScanController() {
    int stageVer = -1;
    {
        const OpLock op = port_.LockOps();
        if (op.owns_lock()) {
            stageVer = GetKbmcStageVerLocked();
        }
    }
    if (stageVer < 0) {
        port_.EditTable([](KeyTable& t) { t.verFail = true; });
        DEV_LOG("Fail to get VL7 version");
        return false;
    }
    const char stage = static_cast<char>(stageVer >> 16);
    const uint16_t version = static_cast<uint16_t>(stageVer & 0xFFFF);
    bool kindChanged = false;
    {
        const OpLock op = port_.LockOps();
        port_.EditTable([stage](KeyTable& t) {
            t.verFail = false;
            if (stage == 'B') {
                t.usbRate = 10;
            }
        });
        if (stage == 'A' && PredatesKeyboardKinds(version)) {
            if (op.owns_lock()) {
                ReadUsbRateLocked();
            }
            port_.EditTable([](KeyTable& t) {
                if (t.usbRate == 0) {
                    t.usbRate = 1;
                }
            });
        } else if (op.owns_lock()) {
            kindChanged = ApplyKindAndViewFlags(version);
        }
    }
    if (kindChanged) {
        port_.Notify(UM_KBD_KIND_CHANGE, 0, 0);
    }
    return true;
}

bool Scanner::AskEverySlot(const std::atomic<bool>& stop, PassTally& tally) {
    ReplyMail& mail = port_.Mail();
    mail.m_bChainEnd = 0;
    for (int slot = 0; slot < static_cast<int>(kKeySlots); ++slot) {
        if (mail.m_bChainEnd != 0) {
            port_.EditTable([&](KeyTable& t) {
                for (int s = slot; s < static_cast<int>(kKeySlots); ++s) {
                    ClearSlot(t.slots[s], false, true);
                    tally.visited[s] = true;
                    tally.answered[s] = true;  // the chain's end says they are empty
                }
            });
            return true;
        }
        if (m_nScanState >= kScanIdle || stop) {
            return false;
        }
        // A keyboard pulled out mid-pass answers nothing more; end the pass at once
        // instead of timing out on every remaining slot.
        if (port_.TransportGone()) {
            m_nScanState = kScanIdle;
            return false;
        }
        const OpLock op = port_.LockOps();
        if (!op.owns_lock()) {
            return false;
        }
        ScanSlot(slot, tally, kScanReplyWaitMs);
    }
    return true;
}

// A keyboard slower than the reply limit gets one more, longer try at the slots it did not
// answer, so a slow or busy keyboard is not reported as missing modules. One that stays
// silent for several slots in a row answers nothing: the rest is not asked.
void Scanner::AskSilentSlotsAgain(const std::atomic<bool>& stop, PassTally& tally) {
    int silentInARow = 0;
    for (int slot = 0; slot < static_cast<int>(kKeySlots); ++slot) {
        if (!tally.asked[slot] || tally.answered[slot]) {
            continue;
        }
        if (m_nScanState >= kScanIdle || stop || port_.TransportGone() ||
            silentInARow >= kScanSilentSlotsToGiveUp) {
            return;
        }
        const OpLock op = port_.LockOps();
        if (!op.owns_lock()) {
            return;
        }
        DEV_LOG("Scan idx %d: no answer, asking again", slot);
        ScanSlot(slot, tally, kScanSlowReplyMs);
        silentInARow = tally.answered[slot] ? 0 : silentInARow + 1;
    }
}

// One pass; false when the controller did not answer its version query or the pass was
// cut short, so that the next one may follow at once. Each exchange with the controller
// holds the operation lock, so user operations wait between slots rather than share a
// mailbox with the pass. Counts, answers and the version range are gathered here and
// published together at the end.
bool Scanner::ScanPass(const std::atomic<bool>& stop) {
    SendSummary(kSummaryScanning, {});
    if (!ScanController()) {
        AdvanceScanState();
        return false;
    }
    PassTally tally;
    // A pass stopped before every slot was asked (a pause, a stop, a pulled cable) knows too
    // little to count the modules: it publishes nothing and does not count as a pass.
    const bool whole = AskEverySlot(stop, tally);
    AskSilentSlotsAgain(stop, tally);
    if (!whole) {
        EndCutPass(tally);
        return false;
    }
    PublishPass(tally);
    return true;
}

void Scanner::MarkAnswered(KeyTable& t, const PassTally& tally) {
    for (size_t s = 0; s < kKeySlots; ++s) {
        if (tally.visited[s]) {
            t.slots[s].answered = tally.answered[s];
        }
    }
}

void Scanner::TellPassEnd(const KeyCounts& counts, bool noKeysToo, bool hostView) {
    if (counts.total != 0) {
        SendSummary(kSummaryKeysFound, counts);
    } else if (noKeysToo) {
        SendSummary(kSummaryNoKeys, counts);
    }
    port_.Notify(UM_INFO_DLG_UPDATE_ALL_KEY_DISPLAY, static_cast<uint32_t>(port_.DevIdx() & 0xFF),
                 0);
    port_.SendCmd(CmdHostActive(hostView));
}

void Scanner::PublishPass(PassTally& tally) {
    KeyCounts& counts = tally.counts;
    for (size_t s = 0; s < kKeySlots; ++s) {
        if (tally.asked[s]) {
            CountModule(counts, tally.vk0[s]);
        }
    }
    DEV_LOG_V("Compute key version range");
    const bool hostView = port_.EditTable([&](KeyTable& t) {
        t.counts = counts;
        MarkAnswered(t, tally);
        StoreKeyVerRange(t);
        return t.hostView;
    });
    TellPassEnd(counts, m_nScanState >= kScanOnePassDone, hostView);
    ++m_nScanPasses;
    if (AdvanceScanState() >= kScanIdle) {
        port_.Notify(UM_INFO_UPDATE_CHECK, static_cast<uint32_t>(port_.DevIdx() & 0xFF), 0);
    }
}

// The slots the pass did ask keep what they answered; the counts stay those of the last
// whole pass, and the window gets them back in place of "scanning".
void Scanner::EndCutPass(const PassTally& tally) {
    KeyCounts counts;
    const bool hostView = port_.EditTable([&](KeyTable& t) {
        MarkAnswered(t, tally);
        counts = t.counts;
        return t.hostView;
    });
    TellPassEnd(counts, m_nScanPasses != 0, hostView);
    // No AdvanceScanState: the pass did not happen, and a request made meanwhile must keep
    // both of its passes.
}

void Scanner::Run(const std::atomic<bool>& stop) {
    scanThread_ = std::this_thread::get_id();
    DEV_LOG_V("Key state scan thread start");
    DEV_LOG_V("Scan Key UID start ... ");
    port_.SetIdleMs(5);
    while (!stop) {
        if (!port_.Running()) {
            m_nScanState = kScanIdle;
        }
        if (m_nScanState >= kScanIdle) {
            // Idle: woken early by a scan request or a stop.
            port_.WaitUntil([&] { return stop.load() || m_nScanState < kScanIdle; },
                            std::chrono::milliseconds(100));
            continue;
        }
        // Marked before the state is looked at again, so that PauseScan either sees the
        // pass running and waits for it, or this thread sees the pause and runs none.
        m_bScanPass = true;
        if (m_nScanState >= kScanIdle) {
            m_bScanPass = false;
            port_.Poke();
            continue;
        }
        const bool ran = ScanPass(stop);
        m_bScanPass = false;
        port_.Poke();
        if (ran) {
            port_.Pause(2500, &stop);
        }
    }
}

}  // namespace tavrik

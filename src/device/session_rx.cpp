// The receive thread: the only place where reports from the controller are interpreted.
#include <algorithm>
#include <variant>
#include <vector>

#include "device/session.h"
#include "hid/ccusb.h"
#include "hid/device_table.h"
#include "keys/keycodes.h"
#include "log/log.h"
#include "protocol/reports.h"

namespace tavrik {

#define DEV_LOG_V(...) TV_DEVLOG_V(m_bLogOn.load() != 0, "CCDev", m_nDevIdx, __VA_ARGS__)

namespace {

struct PendingNotify {
    uint32_t code;
    uint32_t wParam;
    uint32_t lParam;
};

}  // namespace

void CCCDev::RxThread(Worker& self) {
    DEV_LOG_V("Config read thread start");
    DEV_LOG_V("Run Config read start");
    std::array<uint8_t, kPayloadSize> payload{};
    while (!self.stop) {
        if (m_bRunning == 0) {
            IdleWait(m_nIdleMs, self.stop);
            continue;
        }
        if (m_pUsb == nullptr || !m_pUsb->IsDevFound()) {
            DEV_LOG_V("pUsb-DevFound=false, continue");
            IdleWait(m_nIdleMs, self.stop);
            continue;
        }
        // Bounded, so a stop request is seen within one read.
        const int n = m_pUsb->ReadReport(payload.data(), payload.size(), 100);
        if (n > 0) {
            Dispatch({payload.data(), std::min<size_t>(static_cast<size_t>(n), payload.size())});
        } else if (n < 0) {
            // The keyboard is gone or the transport closed: don't spin until detach.
            IdleWait(m_nIdleMs, self.stop);
        }
    }
}

void CCCDev::ClearSlotLocked(int slot, bool keepUidAndMac, bool keepFlag) {
    if (!keepUidAndMac) {
        m_KeyUid[slot] = 0;
        m_KeyShortMac[slot] = 0;
        m_KeyMacGuessed[slot] = false;
    }
    m_KeyHid[slot] = {};
    m_KeyVk[slot] = {};
    if (!keepFlag) {
        m_KeyFlag[slot] = 0;
    }
    m_KeyColor[slot] = 0;
    m_KeyType[slot] = 0;
    m_KeyVerHi[slot] = 0;
    m_KeyVerLo[slot] = 0;
}

void CCCDev::Dispatch(std::span<const uint8_t> payload) {
    const bool verbose = m_bLogOn.load() != 0;
    const int dev = m_nDevIdx;
    // Notifications are sent after the table lock is released: their handlers read the
    // table.
    std::vector<PendingNotify> notes;
    bool requestScan = false;
    auto raise = [this](std::atomic<int>& flag) {
        flag = 1;
        PokeWaiters();
    };

    const Report report = DecodeReport(payload);
    std::visit(
        [&](const auto& r) {
            using T = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<T, KeyInfoReport>) {
                DEV_LOG_V("RS Report MAC");
                {
                    std::lock_guard lock(m_TableLock);
                    const int s = r.slot;
                    m_KeyHid[s] = r.hid;
                    m_KeyFlag[s] = r.flag;
                    m_KeyShortMac[s] = r.shortMac;
                    m_KeyMacGuessed[s] = false;
                    m_KeyUid[s] = r.uid;
                    m_KeyType[s] = r.bootloader ? 'B' : 'A';
                    if (r.chainEnd) {
                        m_bChainEnd = 1;
                    } else if (r.uid != 0 && r.shortMac != 0) {
                        if (r.bootloader) {
                            m_KeyVk[s].fill(VK_WAIT_UPGRADE);
                            m_KeyFlag[s] = 0;
                        } else {
                            for (int l = 0; l < 4; ++l) {
                                m_KeyVk[s][l] = KeyCodeOfReportedHid(r.hid[l]);
                            }
                        }
                    } else {
                        ClearSlotLocked(s, true, false);
                    }
                }
                m_ScanReplies[r.slot].fetch_or(kScanReplyKeyInfo);
                raise(m_bRspScan);
            } else if constexpr (std::is_same_v<T, KeyVerReport>) {
                if (r.HasVersion()) {
                    std::lock_guard lock(m_TableLock);
                    m_KeyVerHi[r.slot] = r.verHi;
                    m_KeyVerLo[r.slot] = r.verLo;
                }
                DEV_LOG_V("Key Ver response, idx=%d, data=%x %x %x", r.slot, r.marker, r.verHi,
                          r.verLo);
                m_ScanReplies[r.slot].fetch_or(kScanReplyVersion);
                raise(m_bRspScan);
            } else if constexpr (std::is_same_v<T, KeyRequestEvent>) {
                DEV_LOG_V("Key %08x request set key value", r.uid);
                int slot = -1;
                uint8_t mac = 0;
                {
                    std::lock_guard lock(m_TableLock);
                    auto it = std::find(m_KeyUid.begin(), m_KeyUid.end(), r.uid);
                    if (it == m_KeyUid.end()) {
                        it = std::find(m_KeyUid.begin(), m_KeyUid.end(), 0u);
                        if (it != m_KeyUid.end()) {
                            const auto s = it - m_KeyUid.begin();
                            m_KeyUid[s] = r.uid;
                            m_KeyShortMac[s] = r.shortMac;
                            m_KeyMacGuessed[s] = false;
                        }
                    }
                    if (it != m_KeyUid.end()) {
                        slot = static_cast<int>(it - m_KeyUid.begin());
                        mac = m_KeyShortMac[slot];
                    }
                }
                if (slot >= 0) {
                    DEV_LOG_V("Key %08x idx is %d, short mac %d", r.uid, slot, mac);
                    notes.push_back({UM_KEY_PRESSED, PackSlotDev(slot, dev), 0});
                }
            } else if constexpr (std::is_same_v<T, ReadyReport>) {
                if (r.Ready()) {
                    DEV_LOG_V("VL7 is ready to download, ret data=0x%02x", r.value);
                    raise(m_bRspReady);
                }
            } else if constexpr (std::is_same_v<T, ChunkAckReport>) {
                if (r.accepted) {
                    raise(m_bRspAck);
                }
            } else if constexpr (std::is_same_v<T, KeyUpgradeStateReport>) {
                m_nKeyProgress = r.progress;
                raise(m_bRspState);
                DEV_LOG_V("Key upgrade state reply, progress %d", r.progress);
            } else if constexpr (std::is_same_v<T, KeyInsertEvent>) {
                // While an upgrade runs, modules restarting into new firmware announce
                // themselves; the upgrade owns the bus then.
                if (m_bUpgrading != 0) {
                    return;
                }
                const int s = r.slot;
                std::array<uint8_t, 4> vk{};
                {
                    std::lock_guard lock(m_TableLock);
                    m_KeyHid[s] = r.hid;
                    m_KeyFlag[s] = r.flag;
                    m_KeyShortMac[s] = r.slotNumber;
                    m_KeyMacGuessed[s] = true;
                    m_KeyUid[s] = r.uid;
                    if (r.uid != 0) {
                        for (int l = 0; l < 4; ++l) {
                            const uint8_t v = r.hid[l];
                            if (v != 0x00 && v != 0xFF) {
                                m_KeyVk[s][l] = KeyCodeOfReportedHid(v);
                            }
                        }
                    }
                    vk = m_KeyVk[s];
                }
                DEV_LOG_V("Key Insert, bIdx=%d UID=%08X, HID=%d", s, r.uid, r.hid[0]);
                if (r.uid != 0) {
                    for (int l = 0; l < 4; ++l) {
                        const uint8_t v = r.hid[l];
                        if (v != 0x00 && v != 0xFF) {
                            notes.push_back({UM_INFO_DLG_VK_CHANGE, PackSlotDev(s, dev), vk[l]});
                            if (verbose) {
                                const std::string name(HidKeyName(v));
                                DEV_LOG_V("New Key, UID=%08X, HID=%d, name=%s, layer=%d", r.uid, v,
                                          name.c_str(), l);
                            }
                        } else {
                            DEV_LOG_V("New Key, UID=%08X, HID=%d, layer=%d", r.uid, v, l);
                        }
                    }
                }
                notes.push_back({UM_INFO_DLG_VK_CHANGE, PackSlotDev(s, dev), vk[0]});
                requestScan = true;
            } else if constexpr (std::is_same_v<T, KeyLostEvent>) {
                const int s = r.slot;
                uint32_t uid = 0;
                uint8_t hid0 = 0;
                {
                    std::lock_guard lock(m_TableLock);
                    uid = m_KeyUid[s];
                    hid0 = m_KeyHid[s][0];
                    m_KeyHid[s] = {};
                    m_KeyVk[s] = {};
                    m_KeyShortMac[s] = 0;
                    m_KeyMacGuessed[s] = false;
                    m_KeyUid[s] = 0;
                }
                DEV_LOG_V("Key lost, UID=%08X, HID=%d", uid, hid0);
                notes.push_back({UM_INFO_DLG_VK_CHANGE, PackSlotDev(s, dev), 0});
                requestScan = true;
            } else if constexpr (std::is_same_v<T, BackupChecksumReport>) {
                if (r.correct) {
                    DEV_LOG_V("KBMC backup bank checksum is Correct %d", m_nKbmcProgress.load());
                } else {
                    DEV_LOG_V("KBMC backup bank checksum is Incorrect%d", m_nKbmcProgress.load());
                }
            } else if constexpr (std::is_same_v<T, KbmcUpgradeStateReport>) {
                m_nKbmcProgress = r.progress;
                raise(m_bRspState);
                DEV_LOG_V("KBMC update state reply, progress %d", r.progress);
            } else if constexpr (std::is_same_v<T, KeyColorReport>) {
                const uint32_t colour = r.Colour();
                {
                    std::lock_guard lock(m_TableLock);
                    m_KeyColor[r.slot] = colour;
                }
                DEV_LOG_V("Key color reponse, idx=%d, color=%d %d %d", r.slot, colour & 0xFF,
                          (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
                m_ScanReplies[r.slot].fetch_or(kScanReplyColour);
                raise(m_bRspScan);
            } else if constexpr (std::is_same_v<T, KbmcVerReport>) {
                DEV_LOG_V("KBMC Version %c %d %d", r.stage, r.verHi, r.verLo);
                const KbmcVersionUpdate u = InterpretKbmcVer(r);
                {
                    // One group, so a snapshot never shows half of a version reply.
                    std::lock_guard lock(m_TableLock);
                    if (u.stage) {
                        m_cKbmcStage = static_cast<char>(*u.stage);
                    }
                    if (u.verHi) {
                        m_nKbmcVerHi = *u.verHi;
                        m_nKbmcVerLo = u.verLo.value_or(0);
                    }
                    if (u.usbRate) {
                        m_nUsbRate = *u.usbRate;
                    }
                    if (u.keyMaxStd) {
                        m_nKeyMaxStd = *u.keyMaxStd;
                    }
                    if (u.keyMaxOver) {
                        m_nKeyMaxOver = *u.keyMaxOver;
                    }
                    if (u.keyMax) {
                        m_nKeyMax = *u.keyMax;
                    }
                    if (u.nkro) {
                        m_bNkro = *u.nkro ? 1 : 0;
                    }
                    if (u.hwVariant) {
                        m_nHwVariant = *u.hwVariant;
                    }
                    if (u.overload) {
                        m_bOverload = *u.overload ? 1 : 0;
                    }
                    m_CipherKey = u.cipherKey;
                }
                raise(m_bRsp);
            } else if constexpr (std::is_same_v<T, UsbRateReport>) {
                DEV_LOG_V("KBMC USB parameter reply %d %d", r.status, r.rate);
                if (r.Valid()) {
                    std::lock_guard lock(m_TableLock);
                    m_nUsbRate = r.rate;
                }
                raise(m_bRsp);
            } else if constexpr (std::is_same_v<T, BusShortEvent>) {
                DEV_LOG_V("KBMC Bus short");
                {
                    std::lock_guard lock(m_TableLock);
                    for (size_t s = 0; s < kKeySlots; ++s) {
                        m_KeyHid[s] = {};
                        m_KeyVk[s] = {};
                        m_KeyShortMac[s] = 0;
                        m_KeyMacGuessed[s] = false;
                        m_KeyUid[s] = 0;
                    }
                }
                for (size_t s = 0; s < kKeySlots; ++s) {
                    notes.push_back(
                        {UM_INFO_DLG_VK_CHANGE, PackSlotDev(static_cast<int>(s), dev), 0});
                }
            } else if constexpr (std::is_same_v<T, BusShortGoneEvent>) {
                DEV_LOG_V("KBMC Bus short dismissed");
                // A pause and a new request: the request alone restarts the count. This
                // thread must not wait for the pass, which waits for its replies.
                requestScan = true;
            } else if constexpr (std::is_same_v<T, KeyDownEvent>) {
                DEV_LOG_V("Key %d is report pressed", r.slot);
                notes.push_back({UM_KEY_PRESSED, PackSlotDev(r.slot, dev), 0});
                if (r.LayerKeyPressed()) {
                    DEV_LOG_V("Fn Key %d is report pressed", r.slot);
                    if (IsLayerKeyHid(r.layerKey)) {
                        DEV_LOG_V("Info other keyboard switch to layer %d", r.layerKey & 3);
                        if (KindRelaysLayers(m_nKbdKind)) {
                            notes.push_back({UM_OTHER_KEYBOARD_SWITCH_LAYER,
                                             PackLayerEvent(LayerPressEvent(r.slot, r.layerKey,
                                                                            r.ExtraFlag(), dev)),
                                             0});
                        }
                    }
                }
            } else if constexpr (std::is_same_v<T, KeyUpEvent>) {
                DEV_LOG_V("Key %d is report released", r.slot);
                notes.push_back({UM_KEY_RELEASED, PackSlotDev(r.slot, dev), r.slot});
                if (r.LayerKeyReleased()) {
                    DEV_LOG_V("Fn Key %d is report released", r.slot);
                    if (IsLayerKeyHid(r.layerKey)) {
                        DEV_LOG_V("Info other keyboard switch to previous layer %d", r.returnLayer);
                        if (KindRelaysLayers(m_nKbdKind)) {
                            notes.push_back({UM_OTHER_KEYBOARD_SWITCH_LAYER,
                                             PackLayerEvent(LayerReleaseEvent(r.slot, r.layerKey,
                                                                              r.returnLayer, dev)),
                                             0});
                        }
                    }
                }
            } else if constexpr (std::is_same_v<T, MarcoReport>) {
                DEV_LOG_V("Get marco responsed");
                {
                    std::lock_guard lock(m_TableLock);
                    m_MarcoRsp = r.raw;
                }
                raise(m_bRspMarco);
            } else if constexpr (std::is_same_v<T, EnableKbmcReport>) {
                if (r.accepted) {
                    m_bEnableOk = 1;
                }
                raise(m_bRspEnable);
            } else if constexpr (std::is_same_v<T, IgnoredReport>) {
                // Carries nothing the host uses.
            } else if constexpr (std::is_same_v<T, MalformedReport>) {
                DEV_LOG_V(
                    "Recv report 0x%02x with a slot outside the key table or too short, "
                    "dropped",
                    r.code);
            } else {
                DEV_LOG_V("Recv undefined commands");
            }
        },
        report);

    for (const auto& n : notes) {
        Notify(n.code, n.wParam, n.lParam);
    }
    if (requestScan) {
        RequestScan();
    }
}

}  // namespace tavrik

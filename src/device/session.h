// CCCDev: the session of one keyboard slot. It holds what the tool knows about the
// keyboard (controller, 90-slot key table, macro buffer), owns the command ring through
// which every report to the keyboard passes, and runs the sending, receive and scan
// threads. It reports to the windows through numbered notifications.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

#include "device/clock.h"
#include "device/notify_channel.h"
#include "macro/marco.h"
#include "protocol/protocol.h"

namespace tavrik {

class CCUSB;
class JobRunner;

inline constexpr int kTxRingSlots = 128;
inline constexpr int kTxRingEmpty = 130;

// Scan states.
inline constexpr int kScanRequested = 0;
inline constexpr int kScanOnePassDone = 1;
inline constexpr int kScanIdle = 2;

// A copy of one slot of the key table.
struct KeySlot {
    uint32_t uid = 0;
    uint8_t shortMac = 0;
    std::array<uint8_t, 4> hid{};
    std::array<uint8_t, 4> vk{};
    uint8_t flag = 0;
    uint32_t color = 0;
    char type = 0;
    uint8_t verHi = 0;
    uint8_t verLo = 0;
    bool Present() const { return uid != 0 && shortMac != 0; }
};

class CCCDev {
public:
    CCCDev(int devIdx, NotifyTarget* target);
    ~CCCDev();
    CCCDev(const CCCDev&) = delete;
    CCCDev& operator=(const CCCDev&) = delete;

    // ---- Links and identity ----
    const int m_nDevIdx;
    CCUSB* m_pUsb = nullptr;  // set by the attach code before any thread starts
    std::atomic<int> m_bLogOn{0};
    SessionClock& Clock() { return clock_; }
    NotifyChannel& Channel() { return channel_; }
    // Long operations as jobs on the session's own worker (device/session_jobs.h).
    JobRunner& Jobs() { return *jobs_; }

    // ---- Controller information ----
    std::atomic<char> m_cKbmcStage{0};
    std::atomic<uint8_t> m_nKbmcVerHi{0};
    std::atomic<uint8_t> m_nKbmcVerLo{0};
    std::atomic<uint8_t> m_nUsbRate{1};
    std::atomic<uint8_t> m_nHwVariant{0xFF};
    std::atomic<int> m_nKeyMaxStd{44};
    std::atomic<int> m_nKeyMaxOver{44};
    std::atomic<int> m_nKeyMax{44};
    std::atomic<int> m_bOverload{0};
    std::atomic<int> m_bNkro{0};
    std::atomic<int> m_nKbdKind{0};
    std::atomic<int> m_bVerFail{0};

    // ---- Capabilities and view flags ----
    std::atomic<int> m_bKbmcUpdatable{1};
    std::atomic<int> m_bHideLayerBtn{0};
    std::atomic<int> m_bHideAllColorBtn{0};
    std::atomic<int> m_bHidePageBtn{0};
    std::atomic<int> m_bAutoLoop{0};
    std::atomic<int> m_nMarcoMax{64};
    std::atomic<int> m_nMarcoDelay{10};
    std::atomic<int> m_bKbmcNewVer{0};
    std::atomic<int> m_bKeyNewVer{0};
    std::atomic<int> m_nKeyTotal{0};
    std::atomic<int> m_nKeyBoot{0};
    std::atomic<int> m_nKeyBlank{0};
    std::atomic<int> m_nKeyAssigned{0};
    std::atomic<int> m_bHostView{0};
    std::atomic<uint8_t> m_nCurLayer{0};

    // ---- Key table: guarded by m_TableLock ----
    mutable std::mutex m_TableLock;
    std::array<uint32_t, kKeySlots> m_KeyUid{};
    std::array<uint8_t, kKeySlots> m_KeyShortMac{};
    std::array<std::array<uint8_t, 4>, kKeySlots> m_KeyHid{};
    std::array<std::array<uint8_t, 4>, kKeySlots> m_KeyVk{};
    std::array<uint8_t, kKeySlots> m_KeyFlag{};
    std::array<uint32_t, kKeySlots> m_KeyColor{};
    std::array<char, kKeySlots> m_KeyType{};
    std::array<uint8_t, kKeySlots> m_KeyVerHi{};
    std::array<uint8_t, kKeySlots> m_KeyVerLo{};
    std::array<uint8_t, 4> m_KeyVerRange{};  // min hi, min lo, max hi, max lo
    std::array<uint8_t, 8> m_CipherKey{};

    KeySlot GetKeySlot(int slot) const;

    // ---- Macro buffer: guarded by m_TableLock ----
    MarcoEntries m_Marco{};
    int m_nMarcoKey = 0;
    int m_bMarcoPending = 0;

    // ---- Reply mailboxes ----
    std::atomic<int> m_bRsp{0};
    std::atomic<int> m_bRspScan{0};
    std::atomic<int> m_bChainEnd{0};
    std::atomic<int> m_bRspReady{0};
    std::atomic<int> m_bRspAck{0};
    std::atomic<int> m_bRspState{0};
    std::atomic<int> m_bRspMarco{0};
    std::array<uint8_t, 8> m_MarcoRsp{};  // written before m_bRspMarco rises
    std::atomic<int> m_bRspEnable{0};
    std::atomic<int> m_bEnableOk{0};

    // ---- Upgrade state ----
    std::atomic<int> m_bUpgrading{0};
    std::atomic<int> m_nKbmcProgress{0};
    std::atomic<uint16_t> m_nKeyProgress{0};
    std::atomic<int> m_nKbmcPercent{0};
    std::atomic<int16_t> m_nKeyPercent{0};
    std::atomic<int> m_nKbmcErr{0};
    std::atomic<int> m_nKeyErr{0};
    std::atomic<uint16_t> m_nBlockAddr{0};

    // ---- Firmware upgrade ----
    // Starts the controller or the key-module upgrade on a thread of its own: 1 started,
    // -1 not started (an upgrade runs already, or no thread). One upgrade at a time.
    int StartKbmcUpgrade();
    int StartKeyUpgrade();
    // Polled by the window: percent (reported as the keyboard's progress word gives it)
    // and error code, 0 while none occurred.
    int GetKbmcUpgradePercent() const;
    int GetKbmcUpgradeError() const;
    int GetKeyUpgradePercent() const;
    int GetKeyUpgradeError() const;
    int IsUpgrading() const;

    // ---- Threads and control ----
    std::atomic<int> m_bRunning{0};
    std::atomic<int> m_nScanState{kScanIdle};
    std::atomic<int> m_nIdleMs{10};

    // ---- Lifecycle ----
    int Reset();
    int StartRx();
    int StopRx();
    int StartTx();
    int StopTx();
    int StartScanThread();
    int StopScanThread();
    int Close();

    // ---- Command ring ----
    int SendCmd(std::span<const uint8_t> bytes);
    int SendCmd(const Command& command) { return SendCmd(command.Payload()); }
    int TakeCmd(std::array<uint8_t, kReportSize>& out);
    static constexpr int TxRingSize() { return kTxRingSlots; }

    // ---- Scanning ----
    int RequestScan();
    void PauseScan();
    int IsScanBusy() const { return m_nScanState.load() != kScanIdle ? 1 : 0; }
    void RefreshSummary();
    int GetKbmcStageVer();
    int GetKbmcVer(char& stage, uint8_t& hi, uint8_t& lo) const;
    int ReadUsbRate();
    int EnableKbmc(int on);
    int CalcKeyVerRange();
    int GetKeyVerRange(uint8_t& total, uint8_t& minHi, uint8_t& minLo, uint8_t& maxHi,
                       uint8_t& maxLo);

    // ---- Key programming, colours and device macros (caller's thread) ----
    // Writes the slot's four layers and flag byte as the key table holds them. A macro on
    // the key is read back first and written again after, so it survives. Returns 0, or
    // the ReadMarco error when the macro could not be read whole: then nothing is
    // written, since the rewrite would cost the key its macro.
    int WriteKeyConfig(int slot, uint8_t hid);
    int SetKeyColor(int slot, uint32_t colour);
    int SetAllKeyColor(uint32_t colour);
    void BlinkKey(int slot, uint32_t colour);
    void StopBlinkKey(int slot, uint32_t colour);
    void SetMarcoContent(const MarcoRecord& record);
    int SaveMarco();
    int GetMarcoContent(MarcoRecord& record);
    int WriteMarco(int slot);
    int ReadMarco(int slot);
    int SetHostActive(int on);
    int GetUsbRate() const { return m_nUsbRate; }
    int SetUsbRate(int rate);
    int SetOverload(int on, int count);
    int SetNkro(int on);
    int RelayLayerSwitch(uint32_t event);
    bool HasMarcoLayer(int slot) const;

    // The receive thread's decoder, exposed so tests and the fuzzer can feed reports.
    void Dispatch(std::span<const uint8_t> payload);

    // ---- Waiting ----
    // Waits until `flag` is 1, at most count x intervalMs, returning as soon as it rises.
    bool WaitFlag(const std::atomic<int>& flag, int count, int intervalMs);
    // A fixed pause through the session clock. Returns early, false, when `stop` rises.
    bool Pause(int ms, const std::atomic<bool>* stop = nullptr);
    // An idle worker's sleep: real time, never shortened by the clock, so a worker on a
    // fast test clock does not spin.
    void IdleWait(int ms, const std::atomic<bool>& stop);
    // Wakes every wait of the session (a mailbox rose, a stop was asked).
    void Poke();

    // The keyboard is not there (any more): no reply can come.
    bool TransportGone() const;

    // Sends a notification; a closing session drops it.
    void Notify(uint32_t code, uint32_t wParam, uint32_t lParam);

    // Counters for tests and benchmarks.
    std::atomic<int> m_nScanPasses{0};

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> stop{false};
        std::atomic<bool> done{true};
        std::atomic<bool> started{false};  // readable from any thread, unlike `thread`
        bool Running() const { return started.load(); }
    };

    void Start(Worker& worker, void (CCCDev::*body)(Worker&));
    void Stop(Worker& worker);
    void TxThread(Worker& self);
    void RxThread(Worker& self);
    void ScanThread(Worker& self);
    // Firmware upgrade (session_upgrade.cpp).
    int StartUpgrade(Worker& worker, void (CCCDev::*body)(Worker&));
    void KbmcUpgradeThread(Worker& self);
    void KeyUpgradeThread(Worker& self);
    bool UpgradeWait(const std::atomic<int>& flag, int count, int intervalMs, const Worker& self);
    bool ScanPass(Worker& self);
    void ScanSlot(int slot);
    void ApplyKindAndViewFlags(uint16_t version);
    void ClearSlotLocked(int slot, bool keepUidAndMac, bool keepFlag);
    void SendSummary(int state);
    int AdvanceScanState();
    int KeepMarcoBeforeRewrite(int slot);
    void SendKeyConfig(int slot);
    bool WaitUntil(const std::function<bool()>& pred, std::chrono::microseconds limit);

    SessionClock clock_;
    NotifyChannel channel_;

    std::mutex ringLock_;
    std::array<std::array<uint8_t, kReportSize>, kTxRingSlots> m_TxRing{};
    uint8_t m_nTxHead = 0;
    uint8_t m_nTxTail = 0;

    std::mutex waitLock_;
    std::condition_variable waitCv_;

    Worker rx_;
    Worker tx_;
    Worker scan_;
    Worker kbmcUpgrade_;
    Worker keyUpgrade_;
    std::unique_ptr<JobRunner> jobs_;
};

// Notification parameter packing.
constexpr uint32_t PackSlotDev(int slot, int dev) {
    return static_cast<uint32_t>((slot & 0xFF) << 8 | (dev & 0xFF));
}
constexpr uint32_t PackCounts(int total, int assigned, int boot, int blank) {
    return static_cast<uint32_t>((total & 0xFF) << 24 | (assigned & 0xFF) << 16 |
                                 (boot & 0xFF) << 8 | (blank & 0xFF));
}

}  // namespace tavrik

// Scanning: the controller's stage and version, the keyboard kind, then every key slot's
// module data, colour and firmware version; the counts go to the window. The scan thread
// of a session runs Scanner::Run; the other questions to the controller (its version, the
// report rate, the enable report) are here too, since a pass asks them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

#include "device/key_table.h"
#include "device/session_port.h"

namespace tavrik {

// Scan states.
inline constexpr int kScanRequested = 0;
inline constexpr int kScanOnePassDone = 1;
inline constexpr int kScanIdle = 2;

// The reply wait of a scan query; the longer one of the second try at slots that did not
// answer in time, so a slow keyboard is still counted right; and how many slots in a row
// may stay silent on that try before the rest is not asked again.
inline constexpr int kScanReplyWaitMs = 50;
inline constexpr int kScanSlowReplyMs = 400;
inline constexpr int kScanSilentSlotsToGiveUp = 6;

class Scanner {
public:
    explicit Scanner(SessionPort& port) : port_(port) {}
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // The scan thread's body, until `stop` rises.
    void Run(const std::atomic<bool>& stop);
    int RequestScan();
    // Stops scanning and returns once a running pass has ended (or after a limit of a
    // few seconds). The owner thread delivers notifications meanwhile.
    void PauseScan();
    void SetIdle() { m_nScanState = kScanIdle; }
    bool Busy() const { return m_nScanState.load() != kScanIdle; }
    int State() const { return m_nScanState.load(); }
    bool PassRunning() const { return m_bScanPass.load(); }
    int Passes() const { return m_nScanPasses.load(); }
    // The counts of the last pass while idle, "scanning" while not.
    void RefreshSummary();

    // The controller's questions; the *Locked ones for callers holding the operation lock.
    // Stage and version packed as stage << 16 | word, or -1 without an answer.
    int GetKbmcStageVer();
    int GetKbmcStageVerLocked();
    int ReadUsbRate();
    int ReadUsbRateLocked();
    // Sends the enable or disable report and waits for its answer.
    int EnableKbmc(int on);
    int EnableKbmcLocked(int on);

private:
    friend struct SessionTestAccess;
    struct PassTally {
        KeyCounts counts;
        std::array<bool, kKeySlots> visited{};
        std::array<bool, kKeySlots> answered{};
        std::array<bool, kKeySlots> asked{};   // a scan query went out for the slot
        std::array<uint8_t, kKeySlots> vk0{};  // layer 0's key code after the slot's last query
    };

    bool ScanPass(const std::atomic<bool>& stop);
    // The controller's part of a pass; false when it did not answer its version query.
    bool ScanController();
    // The kind and view flags; true when the window must hear of a kind change.
    bool ApplyKindAndViewFlags(uint16_t version);
    // Asks every slot once; false when the pass was cut short.
    bool AskEverySlot(const std::atomic<bool>& stop, PassTally& tally);
    void AskSilentSlotsAgain(const std::atomic<bool>& stop, PassTally& tally);
    // Asks one slot's key info, then its colour and version as the answer calls for;
    // `waitMs` for each reply.
    void ScanSlot(int slot, PassTally& tally, int waitMs);
    void PublishPass(PassTally& tally);
    void EndCutPass(const PassTally& tally);
    // The slots the pass visited keep whether they answered; the table lock is held.
    static void MarkAnswered(KeyTable& t, const PassTally& tally);
    // The counts to the window, a repaint of every key, and the host-active value.
    void TellPassEnd(const KeyCounts& counts, bool noKeysToo, bool hostView);
    void SendSummary(int state, const KeyCounts& counts);
    int AdvanceScanState();

    SessionPort& port_;
    std::atomic<int> m_nScanState{kScanIdle};
    std::atomic<bool> m_bScanPass{false};  // a scan pass runs
    std::atomic<int> m_nScanPasses{0};     // passes completed, for tests and benchmarks
    std::atomic<std::thread::id> scanThread_{};
};

}  // namespace tavrik

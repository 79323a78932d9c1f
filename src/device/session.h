// CCCDev: the session of one keyboard slot. It holds what the tool knows about the
// keyboard (controller and 90-slot key table), owns the command ring through
// which every report to the keyboard passes, and runs the sending, receive and scan
// threads. It reports to the windows through numbered notifications. Scanning, key
// programming and the upgrades are classes of their own over its SessionPort.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <type_traits>
#include <utility>

#include "device/clock.h"
#include "device/command_ring.h"
#include "device/firmware_upgrader.h"
#include "device/key_programmer.h"
#include "device/notify_channel.h"
#include "device/notify_payload.h"
#include "device/report_steps.h"
#include "device/scanner.h"
#include "device/session_port.h"
#include "device/session_result.h"
#include "device/snapshot.h"
#include "macro/marco.h"
#include "protocol/fwimage.h"
#include "protocol/protocol.h"

namespace tavrik {

class CCUSB;
class JobRunner;

// The conversations (Scanner, ...) talk to the keyboard through the session's SessionPort.
class CCCDev : private SessionPort {
public:
    CCCDev(int devIdx, NotifyTarget* target);
    ~CCCDev();
    CCCDev(const CCCDev&) = delete;
    CCCDev& operator=(const CCCDev&) = delete;

    // ---- Links and identity ----
    int DevIdx() const override { return m_nDevIdx; }
    // Set by the attach code before any thread starts.
    void SetTransport(CCUSB* usb) { m_pUsb = usb; }
    CCUSB* Transport() const { return m_pUsb; }
    void SetVerbose(bool on) { m_bLogOn = on ? 1 : 0; }
    SessionClock& Clock() override { return clock_; }
    NotifyChannel& Channel() { return channel_; }
    // Long operations as jobs on the session's own worker (device/session_jobs.h).
    JobRunner& Jobs() { return *jobs_; }

    // ---- What the session knows, as one consistent copy ----
    SessionSnapshot Snapshot() const;
    KeySlot GetKeySlot(int slot) const;

    // ---- Values the windows set ----
    // The layer the keyboard view edits: 0, or kErrBadLayer.
    int SetLayer(int layer);
    // Written by the online update check; both ways, so a keyboard brought up to date
    // loses its flags.
    void SetNewVersionFlags(bool kbmc, bool keys);
    // The keyboard view shows this keyboard's keys; chooses the host-active value sent
    // at the end of each scan pass.
    void SetHostView(bool on) {
        EditTable([on](KeyTable& t) { t.hostView = on; });
    }

    // ---- User operations (device/key_programmer.h) ----
    int AssignKey(int slot, int layer, uint8_t keyCode, bool replaceMacro = false) {
        return program_.AssignKey(slot, layer, keyCode, replaceMacro);
    }
    int WriteKeyLayers(int slot, std::array<uint8_t, 4> hid, uint8_t flag) {
        return program_.WriteKeyLayers(slot, hid, flag);
    }
    int WriteMacro(int slot, int layer, const MarcoRecord& record) {
        return program_.WriteMacro(slot, layer, record);
    }
    using MarcoReadResult = tavrik::MarcoReadResult;
    MarcoReadResult ReadMacro(int slot) { return program_.ReadMacro(slot); }
    int SetKeyColor(int slot, uint32_t colour) { return program_.SetKeyColor(slot, colour); }
    int SetAllKeyColor(uint32_t colour) { return program_.SetAllKeyColor(colour); }
    void BlinkKey(int slot, uint32_t colour) { program_.BlinkKey(slot, colour); }
    void StopBlinkKey(int slot, uint32_t colour) { program_.StopBlinkKey(slot, colour); }
    int SetHostActive(int on) {
        SendCmd(CmdHostActive(on != 0));
        return 0;
    }
    int GetUsbRate() const {
        return ReadTable([](const KeyTable& t) { return t.usbRate; });
    }
    int SetUsbRate(int rate) { return program_.SetUsbRate(rate); }
    int SetOverload(int on, int count) { return program_.SetOverload(on, count); }
    int SetNkro(int on) { return program_.SetNkro(on); }
    int RelayLayerSwitch(uint32_t event) { return program_.RelayLayerSwitch(event); }
    bool HasMarcoLayer(int slot) const { return program_.HasMarcoLayer(slot); }

    // ---- Firmware upgrade (device/firmware_upgrader.h) ----
    // Starts the controller or the key-module upgrade on a thread of its own, sending
    // `image` (checked beforehand): 1 started, -1 not started (no image, an upgrade runs
    // already, or no thread). One upgrade at a time per session.
    int StartKbmcUpgrade(FirmwareImagePtr image);
    int StartKeyUpgrade(FirmwareImagePtr image);
    // Polled by the window: percent (reported as the keyboard's progress word gives it)
    // and error code, 0 while none occurred.
    int GetKbmcUpgradePercent() const { return upgrade_.KbmcPercent(); }
    int GetKbmcUpgradeError() const { return upgrade_.KbmcError(); }
    int GetKeyUpgradePercent() const { return upgrade_.KeyPercent(); }
    int GetKeyUpgradeError() const { return upgrade_.KeyError(); }
    int IsUpgrading() const { return upgrade_.Upgrading() ? 1 : 0; }

    // ---- Lifecycle ----
    int StartRx();
    int StartTx();
    int StartScanThread();
    int StopScanThread();
    int Close();

    // ---- Command ring ----
    // Waits until the sending thread has written every command queued before the call
    // (not only taken it off the ring). False when the keyboard went, the sending thread
    // is not running, or `limit` passed first.
    bool WaitTxWritten(std::chrono::milliseconds limit);

    // ---- Scanning (device/scanner.h) ----
    int RequestScan() override { return scanner_.RequestScan(); }
    void PauseScan() { scanner_.PauseScan(); }
    int IsScanBusy() const { return scanner_.Busy() ? 1 : 0; }
    void RefreshSummary() { scanner_.RefreshSummary(); }
    int GetKbmcStageVer() { return scanner_.GetKbmcStageVer(); }
    int ReadUsbRate() { return scanner_.ReadUsbRate(); }

    // Sends a notification; a closing session drops it.
    void Notify(uint32_t code, uint32_t wParam, uint32_t lParam) override;

    // The keyboard is not there (any more): no reply can come.
    bool TransportGone() const override;

    // A fixed pause through the session clock. Returns early, false, when `stop` rises or
    // the session closes under a job.
    bool Pause(int ms, const std::atomic<bool>* stop = nullptr) override;

    // What the conversations use of the session; tests reach the mailboxes and the key
    // table through it.
    SessionPort& Port() { return *this; }

private:
    friend struct SessionTestAccess;
    // Jobs wait with the session's own waits.
    friend class JobRunner;
    friend class JobContext;

    struct Worker {
        std::thread thread;
        std::atomic<bool> stop{false};
        std::atomic<bool> done{true};
        std::atomic<bool> started{false};  // readable from any thread, unlike `thread`
        bool Running() const { return started.load(); }
        std::atomic<std::thread::id> id{};
        bool IsCurrent() const { return id.load() == std::this_thread::get_id(); }
    };

    // ---- Links and identity ----
    const int m_nDevIdx;
    CCUSB* m_pUsb = nullptr;
    std::atomic<int> m_bLogOn{0};

    // ---- What the session knows: the key table, guarded by m_TableLock ----
    // Snapshot copies it whole, so each change made under one hold of the lock is seen
    // whole or not at all.
    mutable std::mutex m_TableLock;
    KeyTable table_;
    // Reads or changes the table under its lock.
    template <class F>
    auto ReadTable(F&& f) const -> std::invoke_result_t<F, const KeyTable&> {
        std::lock_guard lock(m_TableLock);
        return f(static_cast<const KeyTable&>(table_));
    }
    template <class F>
    auto EditTable(F&& f) -> std::invoke_result_t<F, KeyTable&> {
        std::lock_guard lock(m_TableLock);
        return f(table_);
    }

    // ---- Reply mailboxes, raised by the receive thread ----
    ReplyMail mail_;

    // ---- Threads and control ----
    std::atomic<int> m_bRunning{0};
    std::atomic<int> m_nIdleMs{10};

    // ---- Command ring: commands go in through the port ----
    int SendCmd(std::span<const uint8_t> bytes);
    int SendCmd(const Command& command) override { return SendCmd(command.Payload()); }

    // The receive thread's decoder.
    void Dispatch(std::span<const uint8_t> payload);

    // ---- Lifecycle steps of Close and the constructor ----
    int Reset();
    int StopRx();
    int StopTx();

    // ---- The port's rest (device/session_port.h) ----
    bool Verbose() const override { return m_bLogOn.load() != 0; }
    ReplyMail& Mail() override { return mail_; }
    bool ScanBusy() const override { return scanner_.Busy(); }
    const DeviceTableRow& KindRow() const override;
    bool Running() const override { return m_bRunning.load() != 0; }
    int IdleMs() const override { return m_nIdleMs.load(); }
    void SetIdleMs(int ms) override { m_nIdleMs = ms; }
    void VisitTable(const std::function<void(const KeyTable&)>& f) const override { ReadTable(f); }
    void ChangeTable(const std::function<void(KeyTable&)>& f) override { EditTable(f); }

    // ---- Waiting ----
    // An idle worker's sleep: real time, never shortened by the clock, so a worker on a
    // fast test clock does not spin.
    void IdleWait(int ms, const std::atomic<bool>& stop);
    // Wakes every wait of the session (a mailbox rose, a stop was asked).
    void Poke() override;
    bool WaitUntil(const std::function<bool()>& pred, std::chrono::microseconds limit) override;
    // Wakes the waiters of WaitUntil only (a reply mailbox was raised).
    void PokeWaiters();
    // Wakes the sending thread only (a command was queued).
    void WakeTx();
    // The operation lock: a scan step or a user operation that uses a mailbox. Empty
    // (not owned) when it could not be had within the limit.
    OpLock LockOps() override;
    void ReleaseOps() override;

    void Start(Worker& worker, void (CCCDev::*body)(Worker&));
    void Stop(Worker& worker);
    void DrainTx();
    void TxThread(Worker& self);
    void RxThread(Worker& self);
    // Raises the mailboxes, sends the notifications and asks for the scan a report's step
    // gave; the table lock is not held.
    void ApplyEffects(const ReportEffects& effects);
    void ScanThread(Worker& self) { scanner_.Run(self.stop); }
    // Starts an upgrade thread once the last one has ended.
    int StartUpgrade(Worker& worker, void (CCCDev::*body)(Worker&), FirmwareImagePtr image);
    void KbmcUpgradeThread(Worker& self) { upgrade_.RunKbmc(self.stop); }
    void KeyUpgradeThread(Worker& self) { upgrade_.RunKey(self.stop); }

    SessionClock clock_;
    NotifyChannel channel_;

    // The operation lock: a flag under a mutex, so that a waiting owner thread can
    // deliver notifications between its looks.
    std::mutex opMutex_;
    std::condition_variable opCv_;
    bool opBusy_ = false;

    CommandRing ring_;

    std::mutex waitLock_;
    std::condition_variable waitCv_;
    // The sending thread's own wake-up, so that replies raised for the scan do not wake
    // it and new commands do not wake every waiter.
    std::condition_variable txCv_;

    Worker rx_;
    Worker tx_;
    Worker scan_;
    Worker kbmcUpgrade_;
    Worker keyUpgrade_;
    Scanner scanner_{*this};
    KeyProgrammer program_{*this};
    FirmwareUpgrader upgrade_{*this};
    std::unique_ptr<JobRunner> jobs_;
};

}  // namespace tavrik

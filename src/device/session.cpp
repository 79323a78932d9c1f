#include "device/session.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>

#include "device/job_runner.h"
#include "hid/ccusb.h"
#include "hid/device_table.h"
#include "keys/keycodes.h"
#include "log/log.h"
#include "protocol/commands.h"
#include "protocol/enable_report.h"

namespace tavrik {

#define DEV_LOG(...) TV_DEVLOG("CCDev", m_nDevIdx, __VA_ARGS__)
#define DEV_LOG_V(...) TV_DEVLOG_V(m_bLogOn.load() != 0, "CCDev", m_nDevIdx, __VA_ARGS__)

// A table reset to its defaults offers the macro limits of a keyboard not yet known.
static_assert(KeyTable{}.marcoMax == kMarcoMaxSteps);
static_assert(KeyTable{}.marcoDelay == kMarcoDefaultDelay);

CCCDev::CCCDev(int devIdx, NotifyTarget* target)
    : m_nDevIdx(devIdx), jobs_(std::make_unique<JobRunner>(*this)) {
    channel_.SetTarget(target);
    channel_.SetPoke([this] { Poke(); });
    Reset();
}

CCCDev::~CCCDev() {
    channel_.Release();
    jobs_->Shutdown();
    Stop(kbmcUpgrade_);
    Stop(keyUpgrade_);
    Stop(scan_);
    Stop(tx_);
    Stop(rx_);
    // A session that was closed (or never opened) said its goodbye already: only one
    // dropped while running gives its keyboard the settling pause. Four idle sessions
    // would otherwise hold the program's end for most of a second.
    if (m_bRunning != 0) {
        Pause(200);
    }
}

SessionSnapshot CCCDev::Snapshot() const {
    SessionSnapshot s;
    {
        std::lock_guard lock(m_TableLock);
        static_cast<KeyTable&>(s) = table_;
    }
    s.devIdx = m_nDevIdx;
    const auto range = KeyVerRangeOf(s);
    s.keyVerRange = range.value_or(s.keyVerRange);
    s.keyVerRangeKnown = range.has_value();
    s.scanState = scanner_.State();
    s.scanPassRunning = scanner_.PassRunning();
    s.scanPasses = scanner_.Passes();
    s.upgrading = upgrade_.Upgrading();
    s.kbmcPercent = upgrade_.KbmcPercent();
    s.keyPercent = upgrade_.KeyPercent();
    s.kbmcErr = upgrade_.KbmcError();
    s.keyErr = upgrade_.KeyError();
    s.running = m_bRunning != 0;
    return s;
}

int CCCDev::SetLayer(int layer) {
    if (layer < 0 || layer > 3) {
        return kErrBadLayer;
    }
    EditTable([layer](KeyTable& t) { t.curLayer = static_cast<uint8_t>(layer); });
    return kSessionOk;
}

void CCCDev::SetNewVersionFlags(bool kbmc, bool keys) {
    EditTable([&](KeyTable& t) {
        t.kbmcNewVer = kbmc;
        t.keyNewVer = keys;
    });
}

KeySlot CCCDev::GetKeySlot(int slot) const {
    if (!IsKeySlot(static_cast<unsigned>(slot))) {
        return {};
    }
    return ReadTable([slot](const KeyTable& t) { return t.slots[static_cast<size_t>(slot)]; });
}

int CCCDev::Reset() {
    ring_.Clear();
    m_bLogOn = 0;
    {
        std::lock_guard lock(m_TableLock);
        table_ = KeyTable{};
    }
    m_nIdleMs = 10;
    upgrade_.Reset();
    mail_.Clear();
    m_bRunning = 0;
    scanner_.SetIdle();
    return 0;
}

// ---------------------------------------------------------------- command ring

int CCCDev::SendCmd(std::span<const uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > kPayloadSize) {
        return 0;
    }
    if (!ring_.Push(bytes)) {
        DEV_LOG_V("Tx Command Buffer is full, discard");
        return 0;
    }
    if (tx_.Running()) {
        DEV_LOG_V("Wakeup Tx thead");
        WakeTx();
    }
    return 1;
}

// ---------------------------------------------------------------- waiting

void CCCDev::Poke() {
    { std::lock_guard lock(waitLock_); }
    waitCv_.notify_all();
    txCv_.notify_one();
}

void CCCDev::PokeWaiters() {
    { std::lock_guard lock(waitLock_); }
    waitCv_.notify_all();
}

void CCCDev::WakeTx() {
    { std::lock_guard lock(waitLock_); }
    txCv_.notify_one();
}

bool CCCDev::WaitUntil(const std::function<bool()>& pred, std::chrono::microseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const bool owner = channel_.IsOwnerThread();
    std::unique_lock lock(waitLock_);
    while (!pred()) {
        if (owner) {
            // The owner delivers what the workers queued for it, so that a worker
            // blocked on a notification can go on and raise the flag we wait for.
            lock.unlock();
            channel_.DeliverPending();
            lock.lock();
            if (pred()) {
                break;
            }
            // Queued after the delivery but poked before this thread waits: the poke
            // was lost, so deliver again rather than sleep to the deadline.
            if (channel_.HasPending()) {
                continue;
            }
        }
        if (waitCv_.wait_until(lock, deadline) == std::cv_status::timeout) {
            return pred();
        }
    }
    return true;
}

OpLock CCCDev::LockOps() {
    const bool owner = channel_.IsOwnerThread();
    // Holders keep the lock for a few seconds at most (a mode change, a long macro).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::unique_lock lock(opMutex_);
    while (opBusy_) {
        if (owner) {
            // A scan step may wait for a reply that the receive thread can only raise
            // once we have taken its notification.
            lock.unlock();
            channel_.DeliverPending();
            lock.lock();
            if (!opBusy_) {
                break;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return OpLock();
        }
        opCv_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(owner ? 5 : 50)));
    }
    opBusy_ = true;
    return OpLock(this);
}

void CCCDev::ReleaseOps() {
    {
        std::lock_guard lock(opMutex_);
        opBusy_ = false;
    }
    opCv_.notify_all();
}

bool CCCDev::Pause(int ms, const std::atomic<bool>* stop) {
    // A job's pauses inside an operation end early too when its session closes.
    const bool stopped = WaitUntil(
        [stop] { return (stop != nullptr && stop->load()) || JobStopRequestedOnThisThread(); },
        clock_.Pause(ms));
    return !stopped;
}

void CCCDev::IdleWait(int ms, const std::atomic<bool>& stop) {
    WaitUntil([&stop] { return stop.load(); }, std::chrono::milliseconds(std::max(ms, 1)));
}

void CCCDev::Notify(uint32_t code, uint32_t wParam, uint32_t lParam) {
    channel_.Send(code, wParam, lParam);
}

// ---------------------------------------------------------------- threads

void CCCDev::Start(Worker& worker, void (CCCDev::*body)(Worker&)) {
    if (worker.thread.joinable()) {
        return;
    }
    worker.stop = false;
    worker.done = false;
    worker.started = true;
    worker.thread = std::thread([this, &worker, body] {
        worker.id = std::this_thread::get_id();
        (this->*body)(worker);
        worker.done = true;
        Poke();
    });
}

void CCCDev::Stop(Worker& worker) {
    if (!worker.thread.joinable()) {
        return;
    }
    worker.stop = true;
    Poke();
    // Every wait of a worker is bounded and watches its stop flag, so this ends; the
    // owner thread keeps delivering notifications meanwhile.
    WaitUntil([&worker] { return worker.done.load(); }, std::chrono::hours(1));
    worker.thread.join();
    worker.started = false;
}

int CCCDev::StartRx() {
    m_bRunning = 1;
    Start(rx_, &CCCDev::RxThread);
    return 0;
}

int CCCDev::StopRx() {
    Stop(rx_);
    Pause(100);
    return 0;
}

int CCCDev::StartTx() {
    Start(tx_, &CCCDev::TxThread);
    Pause(30);
    return 0;
}

int CCCDev::StopTx() {
    Stop(tx_);
    Pause(100);
    return 0;
}

int CCCDev::StartScanThread() {
    Start(scan_, &CCCDev::ScanThread);
    return 0;
}

int CCCDev::StopScanThread() {
    Stop(scan_);
    Pause(50);
    return 0;
}

bool CCCDev::TransportGone() const {
    return m_pUsb == nullptr || !m_pUsb->IsDevFound() || m_pUsb->IsGone();
}

const DeviceTableRow& CCCDev::KindRow() const {
    return KindRowFor(m_pUsb->m_nVid, m_pUsb->m_nPid, m_pUsb->m_nVer);
}

void CCCDev::TxThread(Worker& self) {
    DEV_LOG_V("Config Write thread start ...");
    std::array<uint8_t, kReportSize> slot{};
    while (!self.stop) {
        if (m_bRunning == 0 || m_pUsb == nullptr || !m_pUsb->IsDevFound()) {
            WaitUntil([&] { return self.stop.load() || m_bRunning != 0; },
                      std::chrono::milliseconds(100));
            continue;
        }
        if (ring_.Take(slot) < kTxRingSlots) {
            // A failed write loses that command; nothing retries it.
            m_pUsb->WriteReport(slot.data() + 1, slot[0]);
            ring_.MarkWritten();
            continue;
        }
        // Re-checks the ring under the wait lock, so a command queued just now is not
        // left waiting for the next wake-up.
        std::unique_lock lock(waitLock_);
        txCv_.wait_for(lock, std::chrono::milliseconds(100),
                       [&] { return self.stop.load() || !ring_.Empty(); });
    }
}

bool CCCDev::WaitTxWritten(std::chrono::milliseconds limit) {
    return ring_.WaitWritten(limit, [this] { return tx_.Running() && !TransportGone(); }) &&
           !TransportGone();
}

// Lets the sending thread write what is queued before it is stopped; a keyboard that is
// gone or a loaded machine gets a bounded wait.
void CCCDev::DrainTx() {
    ring_.WaitEmpty(std::chrono::milliseconds(500),
                    [this] { return tx_.Running() && !TransportGone(); });
}

int CCCDev::StartKbmcUpgrade(FirmwareImagePtr image) {
    if (!upgrade_.PrepareKbmc(image)) {
        return -1;
    }
    return StartUpgrade(kbmcUpgrade_, &CCCDev::KbmcUpgradeThread, std::move(image));
}

int CCCDev::StartKeyUpgrade(FirmwareImagePtr image) {
    if (!upgrade_.PrepareKey(image)) {
        return -1;
    }
    return StartUpgrade(keyUpgrade_, &CCCDev::KeyUpgradeThread, std::move(image));
}

int CCCDev::StartUpgrade(Worker& worker, void (CCCDev::*body)(Worker&), FirmwareImagePtr image) {
    // A thread that has marked the upgrade ended is on its way out; join it so that its
    // worker can start again.
    for (Worker* w : {&kbmcUpgrade_, &keyUpgrade_}) {
        if (w->thread.joinable()) {
            WaitUntil([w] { return w->done.load(); }, std::chrono::seconds(5));
            if (!w->done) {
                return -1;
            }
            Stop(*w);
        }
    }
    upgrade_.Claim(std::move(image));
    try {
        Start(worker, body);
    } catch (const std::system_error&) {
        upgrade_.Abandon();
        return -1;
    }
    return 1;
}

int CCCDev::Close() {
    channel_.Release();
    jobs_->Shutdown();
    // An upgrade must not go on talking to a keyboard that is being let go.
    Stop(kbmcUpgrade_);
    Stop(keyUpgrade_);
    // A keyboard that was pulled out hears no goodbye, and its threads end without the
    // settling pauses: they would only hold up the window that closes it.
    const bool gone = TransportGone();
    // The scan goes first: a pass ending later would tell the keyboard again that the
    // host shows it, after the goodbye below.
    PauseScan();
    if (gone) {
        Stop(scan_);
        DrainTx();
        Stop(rx_);
        Stop(tx_);
    } else {
        Pause(30);
        StopScanThread();
        SendCmd(CmdHostActive(false));
        Pause(50);
        const int kind = ReadTable([](const KeyTable& t) { return t.kind; });
        if (const DeviceTableRow* row = RowOfKind(kind); row && row->needsEnableReport) {
            scanner_.EnableKbmc(0);
            Pause(50);
        }
        DrainTx();
        StopRx();
        StopTx();
    }
    Reset();
    m_bRunning = 0;
    channel_.Reopen();
    return 0;
}

}  // namespace tavrik

// Firmware upgrade: the controller through its bootloader, block by block, and the key
// modules through the controller. One worker thread per upgrade; the window polls
// percent and error code.
#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

#include "device/session.h"
#include "log/log.h"
#include "protocol/commands.h"
#include "protocol/firmware_features.h"
#include "protocol/fwimage.h"

namespace tavrik {

#define DEV_LOG(...) TV_DEVLOG("CCDev", m_nDevIdx, __VA_ARGS__)
#define DEV_LOG_V(...) TV_DEVLOG_V(m_bLogOn.load() != 0, "CCDev", m_nDevIdx, __VA_ARGS__)

namespace {

constexpr int kKbmcBlocks = 28;
constexpr int kKbmcBlockSize = 2048;
constexpr int kKbmcImageSize = kKbmcBlocks * kKbmcBlockSize;  // 0xE000
static_assert(kKbmcImageSize == static_cast<int>(kFwKbmcSize));
constexpr int kChunk = static_cast<int>(kChunkSize);
constexpr int kKeyImageSize = static_cast<int>(kFwKeySize);
constexpr int kKeyProgressFirst = 2560;  // the modules' application area, 0 %
constexpr int kKeyProgressSpan = 4608;   // up to 7168, 100 %
constexpr int kStateQueries = 90;
constexpr int kUpgradeIdleMs = 10;
constexpr int kReadyWaitSeconds = 8;  // for the controller's bootloader
// Nobody wakes a mailbox wait when the keyboard is pulled out; look this often.
constexpr int kGoneCheckMs = 10;

std::span<const uint8_t, kChunkSize> ChunkAt(const FirmwareBuffer& image, size_t offset) {
    return std::span<const uint8_t, kChunkSize>(image.data() + offset, kChunkSize);
}

// Puts the session back however an upgrade thread leaves. A failure also asks for a
// scan, so the tool shows the keyboard as it now is without a re-plug; a stop (the
// session is closing) does not.
class UpgradeExit {
public:
    UpgradeExit(CCCDev& dev, std::atomic<int>& idleMs, std::atomic<int>& upgrading,
                const std::atomic<bool>& stop)
        : dev_(dev),
          idleMsField_(idleMs),
          upgrading_(upgrading),
          stop_(stop),
          idleMs_(idleMs.load()) {}
    ~UpgradeExit() {
        idleMsField_ = idleMs_;
        if (!finished_ && !stop_.load()) {
            dev_.RequestScan();
        }
        upgrading_ = 0;
    }
    UpgradeExit(const UpgradeExit&) = delete;
    UpgradeExit& operator=(const UpgradeExit&) = delete;

    void Finished() { finished_ = true; }

private:
    CCCDev& dev_;
    std::atomic<int>& idleMsField_;
    std::atomic<int>& upgrading_;
    const std::atomic<bool>& stop_;
    const int idleMs_;
    bool finished_ = false;
};

}  // namespace

int CCCDev::GetKbmcUpgradePercent() const {
    return m_nKbmcPercent.load();
}

int CCCDev::GetKbmcUpgradeError() const {
    return m_nKbmcErr.load();
}

int CCCDev::GetKeyUpgradePercent() const {
    return m_nKeyPercent.load();
}

int CCCDev::GetKeyUpgradeError() const {
    return m_nKeyErr.load();
}

int CCCDev::IsUpgrading() const {
    return m_bUpgrading.load() != 0 ? 1 : 0;
}

int CCCDev::StartKbmcUpgrade(FirmwareImagePtr image) {
    if (m_bUpgrading != 0 || !image) {
        return -1;
    }
    // Cleared here, not on the thread: the window polls right after the start and must
    // not take the last upgrade's result for this one's.
    m_nKbmcErr = 0;
    m_nKbmcPercent = 0;
    return StartUpgrade(kbmcUpgrade_, &CCCDev::KbmcUpgradeThread, std::move(image));
}

int CCCDev::StartKeyUpgrade(FirmwareImagePtr image) {
    if (m_bUpgrading != 0 || !image) {
        return -1;
    }
    m_nKeyErr = 0;
    m_nKeyPercent = 0;
    return StartUpgrade(keyUpgrade_, &CCCDev::KeyUpgradeThread, std::move(image));
}

int CCCDev::StartUpgrade(Worker& worker, void (CCCDev::*body)(Worker&), FirmwareImagePtr image) {
    // A thread that has cleared m_bUpgrading is on its way out; join it so that its
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
    m_bUpgrading = 1;
    upgradeImage_ = std::move(image);
    try {
        Start(worker, body);
    } catch (const std::system_error&) {
        m_bUpgrading = 0;
        return -1;
    }
    return 1;
}

bool CCCDev::UpgradeWait(const std::atomic<int>& flag, int count, int intervalMs,
                         const Worker& self) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long long>(count) * intervalMs) +
                          clock_.ReplySlack();
    while (flag.load() == 0) {
        if (self.stop || TransportGone()) {
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        WaitFlag(flag, 1, static_cast<int>(std::min<long long>(left.count(), kGoneCheckMs)));
    }
    return true;
}

CCCDev::PollEnd CCCDev::PollUpgradeState(const Worker& self, const Command& query,
                                         const std::function<int()>& progress,
                                         const std::function<bool(int)>& step,
                                         const std::function<void()>& noAnswer) {
    for (int asked = 1; asked <= kStateQueries; ++asked) {
        mail_.m_bRspState = 0;
        SendCmd(query);
        if (!UpgradeWait(mail_.m_bRspState, 10, 10, self)) {
            if (!self.stop) {
                noAnswer();
            }
            return PollEnd::Ended;
        }
        if (step(progress())) {
            return PollEnd::Done;
        }
        if (asked < kStateQueries && !Pause(1000, &self.stop)) {
            return PollEnd::Ended;
        }
    }
    return PollEnd::TooLong;
}

void CCCDev::KbmcUpgradeThread(Worker& self) {
    DEV_LOG_V("KBMC UPgrade thread start ...");
    DEV_LOG("KBMC UPgrade start ...");
    UpgradeExit exit(*this, m_nIdleMs, m_bUpgrading, self.stop);
    const auto fail = [this](int code, const char* text) {
        if (TransportGone()) {
            DEV_LOG("Keyboard gone during the upgrade");
        }
        m_nKbmcErr = code;
        DEV_LOG("%s", text);
    };

    // The bootloader reports no version, so the application's is noted now.
    const int version = ReadTable([](const KeyTable& t) { return t.KbmcWord(); });
    m_nKbmcErr = 0;
    m_nKbmcPercent = 0;
    m_nIdleMs = kUpgradeIdleMs;

    DEV_LOG("Switch kbmc");
    if (!Pause(300, &self.stop)) {
        return;
    }
    SendCmd(CmdEnterBootloader());
    if (!Pause(200, &self.stop) || !Pause(2000, &self.stop)) {
        return;
    }

    DEV_LOG("Wait bootloader init");
    for (int look = 1; IsScanBusy() != 0; ++look) {
        if (look == 30) {
            fail(1, "Wait bootloader init Ready fail");
            return;
        }
        if (!Pause(1000, &self.stop)) {
            return;
        }
    }

    DEV_LOG_V("check if controller is ready to recv data");
    mail_.m_bRspReady = 0;
    SendCmd(CmdQueryReady(UpgradeTarget::Kbmc));
    SendCmd(CmdQueryReady(UpgradeTarget::Kbmc));
    // A controller still restarting hears nothing, and the fixed wait above leaves its
    // restart little room: ask again every second of the wait, not just at its start.
    bool ready = false;
    for (int second = 0; second < kReadyWaitSeconds && !ready; ++second) {
        if (second > 0) {
            SendCmd(CmdQueryReady(UpgradeTarget::Kbmc));
        }
        ready = UpgradeWait(mail_.m_bRspReady, 10, 100, self);
        if (self.stop || TransportGone()) {
            break;
        }
    }
    if (!ready) {
        if (!self.stop) {
            fail(1, "Wait Ready fail");
        }
        return;
    }
    mail_.m_bRspReady = 0;
    DEV_LOG("KBMC is ready");

    SendCmd(CmdErase());
    if (!Pause(2000, &self.stop)) {
        return;
    }
    DEV_LOG_V("KBMC Erase done");
    SendCmd(CmdProgramStart());
    if (!Pause(500, &self.stop)) {
        return;
    }

    const uint8_t hwVariant = ReadTable([](const KeyTable& t) { return t.hwVariant; });
    const bool variant = hwVariant == 1 && ReportsFlashLayout(version);
    const size_t base = variant ? kFwKbmcVariantOffset : kFwKbmcOffset;
    const FirmwareImagePtr held = upgradeImage_;
    const FirmwareImage& image = *held;

    int percent = 0;
    for (int block = 0; block < kKbmcBlocks; ++block) {
        DEV_LOG_V("Program Block %d", block);
        // The address word counts within the block; the controller moves on by itself.
        m_nBlockAddr = 0;
        for (int offset = 0; offset < kKbmcBlockSize; offset += kChunk) {
            mail_.m_bRspAck = 0;
            const uint16_t address = m_nBlockAddr;
            SendCmd(CmdWriteChunk(
                address,
                ChunkAt(image, base + static_cast<size_t>(block * kKbmcBlockSize + offset))));
            m_nBlockAddr = static_cast<uint16_t>(address + kChunk);
            if (!UpgradeWait(mail_.m_bRspAck, 100, 1, self)) {
                if (!self.stop) {
                    fail(2, "Download fail");
                }
                return;
            }
        }

        if (!Pause(1000, &self.stop)) {
            return;
        }
        const PollEnd end = PollUpgradeState(
            self, CmdKbmcUpgradeState(), [this] { return mail_.m_nKbmcProgress.load(); },
            [&](int progress) {
                percent = progress * 100 / kKbmcImageSize;
                m_nKbmcPercent = percent;
                DEV_LOG("%x  %d%%", progress, percent);
                return progress % kKbmcBlockSize == 0;
            },
            [&] { fail(3, "state check fail"); });
        if (end == PollEnd::Ended) {
            return;
        }
        if (end == PollEnd::TooLong) {
            // Not fatal: the controller may still finish it, so the next block goes on.
            DEV_LOG("Upgrade time too long");
            m_nKbmcErr = 4;
        }
        if (percent == 100) {
            DEV_LOG("Upgrade done");
            if (!Pause(1000, &self.stop)) {
                return;
            }
            m_nKbmcPercent = 100;
        }
    }

    DEV_LOG("Upgrade end, wait reset");
    SendCmd(CmdUpgradeEnd());
    if (!Pause(2000, &self.stop) || !Pause(2000, &self.stop)) {
        return;
    }
    RequestScan();
    if (!Pause(3000, &self.stop)) {
        return;
    }
    DEV_LOG("KBMC upgrade finish, exit");
    exit.Finished();
}

void CCCDev::KeyUpgradeThread(Worker& self) {
    DEV_LOG_V("Key UPgrade thread start ...");
    DEV_LOG("start to run key upgrade ...");
    UpgradeExit exit(*this, m_nIdleMs, m_bUpgrading, self.stop);
    const auto fail = [this](int code, const char* text) {
        if (TransportGone()) {
            DEV_LOG("Keyboard gone during the upgrade");
        }
        m_nKeyErr = code;
        DEV_LOG("%s", text);
    };

    mail_.m_bRspReady = 0;
    SendCmd(CmdQueryReady(UpgradeTarget::KeyModule));
    if (!UpgradeWait(mail_.m_bRspReady, 20, 100, self)) {
        if (!self.stop) {
            fail(1, "wait ready fail");
        }
        return;
    }
    mail_.m_bRspReady = 0;
    m_nIdleMs = kUpgradeIdleMs;

    const FirmwareImagePtr held = upgradeImage_;
    const FirmwareImage& image = *held;
    // Unlike the controller's, the address runs on through the whole image.
    m_nBlockAddr = 0;
    for (int offset = 0; offset < kKeyImageSize; offset += kChunk) {
        DEV_LOG_V("Upgrade block %d", offset);
        mail_.m_bRspAck = 0;
        const uint16_t address = m_nBlockAddr;
        SendCmd(CmdWriteChunk(address, ChunkAt(image, kFwKeyOffset + static_cast<size_t>(offset))));
        m_nBlockAddr = static_cast<uint16_t>(address + kChunk);
        if (!UpgradeWait(mail_.m_bRspAck, 100, 5, self)) {
            if (!self.stop) {
                fail(2, "Download fail");
            }
            return;
        }
    }

    DEV_LOG("Start ugprade key");
    SendCmd(CmdKeyUpgradeStart());
    if (!Pause(500, &self.stop)) {
        return;
    }

    int percent = 0;
    const PollEnd end = PollUpgradeState(
        self, CmdKeyUpgradeState(),
        [this] { return static_cast<int>(mail_.m_nKeyProgress.load()); },
        [&](int progress) {
            percent = (progress - kKeyProgressFirst) * 100 / kKeyProgressSpan;
            m_nKeyPercent = static_cast<int16_t>(percent);
            DEV_LOG("%x  %d%%", progress, percent);
            return percent == 100;
        },
        [&] { fail(3, "State check fail"); });
    if (end == PollEnd::Ended) {
        return;
    }
    if (end == PollEnd::TooLong) {
        m_nKeyErr = 4;
        DEV_LOG("Upgrade time too long");
    }
    if (percent == 100) {
        m_nKeyPercent = 100;
        DEV_LOG("Upgrade done, wait some time");
    }
    exit.Finished();
}

}  // namespace tavrik

#include "device/firmware_upgrader.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "protocol/commands.h"
#include "protocol/firmware_features.h"

namespace tavrik {

#define DEV_LOG(...) PORT_LOG(port_, __VA_ARGS__)
#define DEV_LOG_V(...) PORT_LOG_V(port_, __VA_ARGS__)

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
    UpgradeExit(SessionPort& port, std::atomic<int>& upgrading, const std::atomic<bool>& stop)
        : port_(port), upgrading_(upgrading), stop_(stop), idleMs_(port.IdleMs()) {}
    ~UpgradeExit() {
        port_.SetIdleMs(idleMs_);
        if (!finished_ && !stop_.load()) {
            port_.RequestScan();
        }
        upgrading_ = 0;
    }
    UpgradeExit(const UpgradeExit&) = delete;
    UpgradeExit& operator=(const UpgradeExit&) = delete;

    void Finished() { finished_ = true; }

private:
    SessionPort& port_;
    std::atomic<int>& upgrading_;
    const std::atomic<bool>& stop_;
    const int idleMs_;
    bool finished_ = false;
};

}  // namespace

bool FirmwareUpgrader::PrepareKbmc(const FirmwareImagePtr& image) {
    if (m_bUpgrading != 0 || !image) {
        return false;
    }
    m_nKbmcErr = 0;
    m_nKbmcPercent = 0;
    return true;
}

bool FirmwareUpgrader::PrepareKey(const FirmwareImagePtr& image) {
    if (m_bUpgrading != 0 || !image) {
        return false;
    }
    m_nKeyErr = 0;
    m_nKeyPercent = 0;
    return true;
}

void FirmwareUpgrader::Claim(FirmwareImagePtr image) {
    m_bUpgrading = 1;
    image_ = std::move(image);
}

void FirmwareUpgrader::Reset() {
    m_bUpgrading = 0;
    m_nKbmcPercent = 0;
    m_nKeyPercent = 0;
    m_nKbmcErr = 0;
    m_nKeyErr = 0;
    m_nBlockAddr = 0;
}

void FirmwareUpgrader::Fail(std::atomic<int>& err, int code, const char* text) {
    if (port_.TransportGone()) {
        DEV_LOG("Keyboard gone during the upgrade");
    }
    err = code;
    DEV_LOG("%s", text);
}

bool FirmwareUpgrader::Wait(const std::atomic<int>& flag, int count, int intervalMs,
                            const std::atomic<bool>& stop) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long long>(count) * intervalMs) +
                          port_.Clock().ReplySlack();
    while (flag.load() == 0) {
        if (stop || port_.TransportGone()) {
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        port_.WaitFlag(flag, 1, static_cast<int>(std::min<long long>(left.count(), kGoneCheckMs)));
    }
    return true;
}

FirmwareUpgrader::PollEnd FirmwareUpgrader::PollState(const std::atomic<bool>& stop,
                                                      const Command& query,
                                                      const std::function<int()>& progress,
                                                      const std::function<bool(int)>& step,
                                                      const std::function<void()>& noAnswer) {
    std::atomic<int>& answered = port_.Mail().m_bRspState;
    for (int asked = 1; asked <= kStateQueries; ++asked) {
        answered = 0;
        port_.SendCmd(query);
        if (!Wait(answered, 10, 10, stop)) {
            if (!stop) {
                noAnswer();
            }
            return PollEnd::Ended;
        }
        if (step(progress())) {
            return PollEnd::Done;
        }
        if (asked < kStateQueries && !port_.Pause(1000, &stop)) {
            return PollEnd::Ended;
        }
    }
    return PollEnd::TooLong;
}

bool FirmwareUpgrader::SendChunks(const std::atomic<bool>& stop, const FirmwareImage& image,
                                  size_t from, int length, int ackCount, int ackMs,
                                  std::atomic<int>& err, bool logChunks) {
    std::atomic<int>& ack = port_.Mail().m_bRspAck;
    m_nBlockAddr = 0;
    for (int offset = 0; offset < length; offset += kChunk) {
        if (logChunks) {
            DEV_LOG_V("Upgrade block %d", offset);
        }
        ack = 0;
        const uint16_t address = m_nBlockAddr;
        port_.SendCmd(CmdWriteChunk(address, ChunkAt(image, from + static_cast<size_t>(offset))));
        m_nBlockAddr = static_cast<uint16_t>(address + kChunk);
        if (!Wait(ack, ackCount, ackMs, stop)) {
            if (!stop) {
                Fail(err, 2, "Download fail");
            }
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------- the controller

void FirmwareUpgrader::RunKbmc(const std::atomic<bool>& stop) {
    DEV_LOG_V("KBMC UPgrade thread start ...");
    DEV_LOG("KBMC UPgrade start ...");
    UpgradeExit exit(port_, m_bUpgrading, stop);
    // The bootloader reports no version, so the application's is noted now.
    const uint16_t version = port_.ReadTable([](const KeyTable& t) { return t.KbmcWord(); });
    m_nKbmcErr = 0;
    m_nKbmcPercent = 0;
    port_.SetIdleMs(kUpgradeIdleMs);
    if (!EnterKbmcBootloader(stop) || !AwaitKbmcReady(stop) || !EraseKbmc(stop) ||
        !ProgramKbmc(stop, version) || !EndKbmc(stop)) {
        return;
    }
    DEV_LOG("KBMC upgrade finish, exit");
    exit.Finished();
}

bool FirmwareUpgrader::EnterKbmcBootloader(const std::atomic<bool>& stop) {
    DEV_LOG("Switch kbmc");
    if (!port_.Pause(300, &stop)) {
        return false;
    }
    port_.SendCmd(CmdEnterBootloader());
    if (!port_.Pause(200, &stop) || !port_.Pause(2000, &stop)) {
        return false;
    }
    DEV_LOG("Wait bootloader init");
    for (int look = 1; port_.ScanBusy(); ++look) {
        if (look == 30) {
            Fail(m_nKbmcErr, 1, "Wait bootloader init Ready fail");
            return false;
        }
        if (!port_.Pause(1000, &stop)) {
            return false;
        }
    }
    return true;
}

bool FirmwareUpgrader::AwaitKbmcReady(const std::atomic<bool>& stop) {
    DEV_LOG_V("check if controller is ready to recv data");
    std::atomic<int>& ready = port_.Mail().m_bRspReady;
    ready = 0;
    port_.SendCmd(CmdQueryReady(UpgradeTarget::Kbmc));
    port_.SendCmd(CmdQueryReady(UpgradeTarget::Kbmc));
    // A controller still restarting hears nothing, and the fixed wait before leaves its
    // restart little room: ask again every second of the wait, not just at its start.
    bool answered = false;
    for (int second = 0; second < kReadyWaitSeconds && !answered; ++second) {
        if (second > 0) {
            port_.SendCmd(CmdQueryReady(UpgradeTarget::Kbmc));
        }
        answered = Wait(ready, 10, 100, stop);
        if (stop || port_.TransportGone()) {
            break;
        }
    }
    if (!answered) {
        if (!stop) {
            Fail(m_nKbmcErr, 1, "Wait Ready fail");
        }
        return false;
    }
    ready = 0;
    DEV_LOG("KBMC is ready");
    return true;
}

bool FirmwareUpgrader::EraseKbmc(const std::atomic<bool>& stop) {
    port_.SendCmd(CmdErase());
    if (!port_.Pause(2000, &stop)) {
        return false;
    }
    DEV_LOG_V("KBMC Erase done");
    port_.SendCmd(CmdProgramStart());
    return port_.Pause(500, &stop);
}

bool FirmwareUpgrader::ProgramKbmc(const std::atomic<bool>& stop, uint16_t version) {
    const uint8_t hwVariant = port_.ReadTable([](const KeyTable& t) { return t.hwVariant; });
    const bool variant = hwVariant == 1 && ReportsFlashLayout(version);
    const size_t base = variant ? kFwKbmcVariantOffset : kFwKbmcOffset;
    const FirmwareImagePtr held = image_;
    int percent = 0;
    for (int block = 0; block < kKbmcBlocks; ++block) {
        DEV_LOG_V("Program Block %d", block);
        // The address word counts within the block; the controller moves on by itself.
        if (!SendChunks(stop, *held, base + static_cast<size_t>(block * kKbmcBlockSize),
                        kKbmcBlockSize, 100, 1, m_nKbmcErr, false) ||
            !port_.Pause(1000, &stop)) {
            return false;
        }
        const PollEnd end = PollState(
            stop, CmdKbmcUpgradeState(), [this] { return port_.Mail().m_nKbmcProgress.load(); },
            [&](int progress) {
                percent = progress * 100 / kKbmcImageSize;
                m_nKbmcPercent = percent;
                DEV_LOG("%x  %d%%", progress, percent);
                return progress % kKbmcBlockSize == 0;
            },
            [&] { Fail(m_nKbmcErr, 3, "state check fail"); });
        if (end == PollEnd::Ended) {
            return false;
        }
        if (end == PollEnd::TooLong) {
            // Not fatal: the controller may still finish it, so the next block goes on.
            DEV_LOG("Upgrade time too long");
            m_nKbmcErr = 4;
        }
        if (percent == 100) {
            DEV_LOG("Upgrade done");
            if (!port_.Pause(1000, &stop)) {
                return false;
            }
            m_nKbmcPercent = 100;
        }
    }
    return true;
}

bool FirmwareUpgrader::EndKbmc(const std::atomic<bool>& stop) {
    DEV_LOG("Upgrade end, wait reset");
    port_.SendCmd(CmdUpgradeEnd());
    if (!port_.Pause(2000, &stop) || !port_.Pause(2000, &stop)) {
        return false;
    }
    port_.RequestScan();
    return port_.Pause(3000, &stop);
}

// ---------------------------------------------------------------- the key modules

void FirmwareUpgrader::RunKey(const std::atomic<bool>& stop) {
    DEV_LOG_V("Key UPgrade thread start ...");
    DEV_LOG("start to run key upgrade ...");
    UpgradeExit exit(port_, m_bUpgrading, stop);
    std::atomic<int>& ready = port_.Mail().m_bRspReady;
    ready = 0;
    port_.SendCmd(CmdQueryReady(UpgradeTarget::KeyModule));
    if (!Wait(ready, 20, 100, stop)) {
        if (!stop) {
            Fail(m_nKeyErr, 1, "wait ready fail");
        }
        return;
    }
    ready = 0;
    port_.SetIdleMs(kUpgradeIdleMs);

    // Unlike the controller's, the address runs on through the whole image.
    const FirmwareImagePtr held = image_;
    if (!SendChunks(stop, *held, kFwKeyOffset, kKeyImageSize, 100, 5, m_nKeyErr, true)) {
        return;
    }
    DEV_LOG("Start ugprade key");
    port_.SendCmd(CmdKeyUpgradeStart());
    if (!port_.Pause(500, &stop)) {
        return;
    }
    int percent = 0;
    const PollEnd end = PollState(
        stop, CmdKeyUpgradeState(),
        [this] { return static_cast<int>(port_.Mail().m_nKeyProgress.load()); },
        [&](int progress) {
            percent = (progress - kKeyProgressFirst) * 100 / kKeyProgressSpan;
            m_nKeyPercent = static_cast<int16_t>(percent);
            DEV_LOG("%x  %d%%", progress, percent);
            return percent == 100;
        },
        [&] { Fail(m_nKeyErr, 3, "State check fail"); });
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

// Firmware upgrade: the controller through its bootloader, block by block, and the key
// modules through the controller. The session runs one at a time, each on a thread of its
// own (RunKbmc, RunKey); the window polls percent and error code.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "device/session_port.h"
#include "protocol/fwimage.h"

namespace tavrik {

class FirmwareUpgrader {
public:
    explicit FirmwareUpgrader(SessionPort& port) : port_(port) {}
    FirmwareUpgrader(const FirmwareUpgrader&) = delete;
    FirmwareUpgrader& operator=(const FirmwareUpgrader&) = delete;

    // Before a start: false when an upgrade runs or there is no image; else the last
    // result is cleared, so the window polling right after the start does not take it
    // for this one's.
    bool PrepareKbmc(const FirmwareImagePtr& image);
    bool PrepareKey(const FirmwareImagePtr& image);
    // Marks the upgrade running with `image`, before its thread starts; Abandon when the
    // thread could not start.
    void Claim(FirmwareImagePtr image);
    void Abandon() { m_bUpgrading = 0; }
    // The threads' bodies, until done, failed or `stop`.
    void RunKbmc(const std::atomic<bool>& stop);
    void RunKey(const std::atomic<bool>& stop);
    void Reset();

    bool Upgrading() const { return m_bUpgrading.load() != 0; }
    int KbmcPercent() const { return m_nKbmcPercent.load(); }
    int KbmcError() const { return m_nKbmcErr.load(); }
    int KeyPercent() const { return m_nKeyPercent.load(); }
    int KeyError() const { return m_nKeyErr.load(); }

private:
    friend struct SessionTestAccess;
    enum class PollEnd { Done, TooLong, Ended };

    // Waits for `flag` count x intervalMs (and the clock's slack); false on a stop or a
    // keyboard gone.
    bool Wait(const std::atomic<int>& flag, int count, int intervalMs,
              const std::atomic<bool>& stop);
    // Asks an upgrade's state with `query` once a second until `step` (given the progress
    // word) says it is done: Ended when the thread must stop (no answer: `noAnswer` was
    // called), TooLong when the queries ran out.
    PollEnd PollState(const std::atomic<bool>& stop, const Command& query,
                      const std::function<int()>& progress, const std::function<bool(int)>& step,
                      const std::function<void()>& noAnswer);
    // Sends `length` bytes of `image` from `from`, chunk by chunk with the address word
    // from 0, each acknowledged within `ackCount` x `ackMs`; false, without `err` set, on a
    // stop, else with error 2. `logChunks`: a verbose line per chunk.
    bool SendChunks(const std::atomic<bool>& stop, const FirmwareImage& image, size_t from,
                    int length, int ackCount, int ackMs, std::atomic<int>& err, bool logChunks);
    void Fail(std::atomic<int>& err, int code, const char* text);

    bool EnterKbmcBootloader(const std::atomic<bool>& stop);
    bool AwaitKbmcReady(const std::atomic<bool>& stop);
    bool EraseKbmc(const std::atomic<bool>& stop);
    bool ProgramKbmc(const std::atomic<bool>& stop, uint16_t version);
    bool EndKbmc(const std::atomic<bool>& stop);

    SessionPort& port_;
    std::atomic<int> m_bUpgrading{0};
    std::atomic<int> m_nKbmcPercent{0};
    std::atomic<int16_t> m_nKeyPercent{0};
    std::atomic<int> m_nKbmcErr{0};
    std::atomic<int> m_nKeyErr{0};
    std::atomic<uint16_t> m_nBlockAddr{0};
    // The image of the upgrade last started; set before its thread starts and only read by it.
    FirmwareImagePtr image_;
};

}  // namespace tavrik

// The session's command ring: any thread queues a command, the sending thread takes them
// one at a time and writes each as one 65-byte report. A slot holds the payload's length
// and the payload.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>

#include "protocol/protocol.h"

namespace tavrik {

inline constexpr int kTxRingSlots = 128;
inline constexpr int kTxRingEmpty = 130;

class CommandRing {
public:
    // False when the ring is full: the command is dropped.
    bool Push(std::span<const uint8_t> bytes);
    // The index of the slot taken into `out`, or kTxRingEmpty.
    int Take(std::array<uint8_t, kReportSize>& out);
    bool Empty() const;
    // Drops what is queued; nobody waits for it, so it counts as written.
    void Clear();
    // The sending thread has written a command it took.
    void MarkWritten() { ++written_; }
    // Waits until every command queued before the call is written: false when
    // `goingOn` says no or `limit` passed first.
    bool WaitWritten(std::chrono::milliseconds limit, const std::function<bool()>& goingOn) const;
    // Waits until the ring is empty, while `goingOn` says yes, at most `limit`.
    void WaitEmpty(std::chrono::milliseconds limit, const std::function<bool()>& goingOn) const;

private:
    mutable std::mutex lock_;
    std::array<std::array<uint8_t, kReportSize>, kTxRingSlots> m_TxRing{};
    uint64_t queued_ = 0;               // commands queued so far (under lock_)
    std::atomic<uint64_t> written_{0};  // commands the sending thread has written
    uint8_t m_nTxHead = 0;
    uint8_t m_nTxTail = 0;
};

}  // namespace tavrik

#include "device/command_ring.h"

#include <algorithm>
#include <thread>

namespace tavrik {

bool CommandRing::Push(std::span<const uint8_t> bytes) {
    std::lock_guard lock(lock_);
    if ((m_nTxTail + 1) % kTxRingSlots == m_nTxHead) {
        return false;
    }
    auto& slot = m_TxRing[m_nTxTail];
    slot[0] = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), slot.begin() + 1);
    m_nTxTail = static_cast<uint8_t>((m_nTxTail + 1) % kTxRingSlots);
    ++queued_;
    return true;
}

int CommandRing::Take(std::array<uint8_t, kReportSize>& out) {
    std::lock_guard lock(lock_);
    if (m_nTxHead == m_nTxTail || m_TxRing[m_nTxHead][0] == 0) {
        return kTxRingEmpty;
    }
    const int index = m_nTxHead;
    out = m_TxRing[index];
    m_nTxHead = static_cast<uint8_t>((m_nTxHead + 1) % kTxRingSlots);
    return index;
}

bool CommandRing::Empty() const {
    std::lock_guard lock(lock_);
    return m_nTxHead == m_nTxTail;
}

void CommandRing::Clear() {
    std::lock_guard lock(lock_);
    for (auto& slot : m_TxRing) {
        slot.fill(0);
    }
    written_ = queued_;
    m_nTxHead = 0;
    m_nTxTail = 0;
}

bool CommandRing::WaitWritten(std::chrono::milliseconds limit,
                              const std::function<bool()>& goingOn) const {
    uint64_t target = 0;
    {
        std::lock_guard lock(lock_);
        target = queued_;
    }
    const auto until = std::chrono::steady_clock::now() + limit;
    while (written_.load() < target) {
        if (!goingOn() || std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void CommandRing::WaitEmpty(std::chrono::milliseconds limit,
                            const std::function<bool()>& goingOn) const {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (goingOn() && std::chrono::steady_clock::now() < until) {
        if (Empty()) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace tavrik

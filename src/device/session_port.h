// What a conversation with the keyboard (scanning, key programming and macro transfer, the
// upgrades) needs of its session, and nothing more: send a command, wait for a reply with a
// limit, the operation lock, ask for a scan, notify, and read or change the key table. The
// session (CCCDev) is the one implementation; the conversations hold a SessionPort& only.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

#include "device/clock.h"
#include "device/key_table.h"
#include "log/log.h"
#include "protocol/commands.h"
#include "protocol/protocol.h"

namespace tavrik {

struct DeviceTableRow;
class SessionPort;

// The reply mailboxes: raised by the receive thread when a report's step asks for it,
// cleared and waited on by the conversation that asked.
struct ReplyMail {
    std::atomic<int> m_bRsp{0};
    std::atomic<int> m_bRspScan{0};
    // Which of a slot's scan replies arrived since it was last asked (kScanReply* bits).
    // Key info, colour and version replies all raise m_bRspScan, so a late reply of one
    // slot would otherwise pass for the next slot's answer.
    std::array<std::atomic<uint8_t>, kKeySlots> m_ScanReplies{};
    std::atomic<int> m_bChainEnd{0};
    std::atomic<int> m_bRspReady{0};
    std::atomic<int> m_bRspAck{0};
    std::atomic<int> m_bRspState{0};
    std::atomic<int> m_bRspMarco{0};
    std::atomic<int> m_bRspEnable{0};
    std::atomic<int> m_bEnableOk{0};
    // The upgrade progress words of the state replies.
    std::atomic<int> m_nKbmcProgress{0};
    std::atomic<uint16_t> m_nKeyProgress{0};

    // The macro entry read back; stored before m_bRspMarco rises.
    void SetMarcoReply(const std::array<uint8_t, 8>& reply) {
        std::lock_guard lock(marcoLock_);
        m_MarcoRsp = reply;
    }
    std::array<uint8_t, 8> MarcoReply() const {
        std::lock_guard lock(marcoLock_);
        return m_MarcoRsp;
    }
    // What a session reset empties.
    void Clear() {
        for (auto* flag : {&m_bRspReady, &m_bRspAck, &m_bRspState, &m_bRspScan, &m_bChainEnd,
                           &m_bRspMarco, &m_bRsp, &m_nKbmcProgress}) {
            flag->store(0);
        }
        m_nKeyProgress = 0;
    }

private:
    mutable std::mutex marcoLock_;
    std::array<uint8_t, 8> m_MarcoRsp{};
};

// Holds the session's operation lock (SessionPort::LockOps) until it goes out of scope.
class OpLock {
public:
    OpLock() = default;
    explicit OpLock(SessionPort* port) : port_(port) {}
    OpLock(OpLock&& other) noexcept : port_(std::exchange(other.port_, nullptr)) {}
    OpLock(const OpLock&) = delete;
    OpLock& operator=(const OpLock&) = delete;
    OpLock& operator=(OpLock&&) = delete;
    inline ~OpLock();
    bool owns_lock() const { return port_ != nullptr; }

private:
    SessionPort* port_ = nullptr;
};

class SessionPort {
public:
    virtual int DevIdx() const = 0;
    virtual bool Verbose() const = 0;
    virtual SessionClock& Clock() = 0;

    // Queues a command for the sending thread: 1, or 0 when the ring is full.
    virtual int SendCmd(const Command& command) = 0;
    virtual ReplyMail& Mail() = 0;
    // Waits until `pred` holds, at most `limit`, waking as soon as a mailbox rises; the
    // owner thread delivers notifications meanwhile.
    virtual bool WaitUntil(const std::function<bool()>& pred, std::chrono::microseconds limit) = 0;
    // Wakes every wait of the session (a state changed, a stop was asked).
    virtual void Poke() = 0;
    // A fixed pause through the session clock; false when `stop` rose or the session
    // closes under a job.
    virtual bool Pause(int ms, const std::atomic<bool>* stop = nullptr) = 0;
    // The keyboard is not there (any more): no reply can come.
    virtual bool TransportGone() const = 0;
    // The operation lock: a scan step or a user operation that uses a mailbox. Empty (not
    // owned) when it could not be had within the limit.
    virtual OpLock LockOps() = 0;

    virtual int RequestScan() = 0;
    virtual bool ScanBusy() const = 0;
    virtual void Notify(uint32_t code, uint32_t wParam, uint32_t lParam) = 0;

    // The device table's row for the keyboard's IDs.
    virtual const DeviceTableRow& KindRow() const = 0;
    // Whether the session runs, and the receive thread's idle sleep (an upgrade shortens it).
    virtual bool Running() const = 0;
    virtual int IdleMs() const = 0;
    virtual void SetIdleMs(int ms) = 0;

    // Reads or changes the key table under the table lock; never wait or notify in `f`.
    template <class F>
    auto ReadTable(F&& f) const -> std::invoke_result_t<F, const KeyTable&> {
        using R = std::invoke_result_t<F, const KeyTable&>;
        if constexpr (std::is_void_v<R>) {
            VisitTable(f);
        } else {
            std::optional<R> r;
            VisitTable([&](const KeyTable& t) { r.emplace(f(t)); });
            return std::move(*r);
        }
    }
    template <class F>
    auto EditTable(F&& f) -> std::invoke_result_t<F, KeyTable&> {
        using R = std::invoke_result_t<F, KeyTable&>;
        if constexpr (std::is_void_v<R>) {
            ChangeTable(f);
        } else {
            std::optional<R> r;
            ChangeTable([&](KeyTable& t) { r.emplace(f(t)); });
            return std::move(*r);
        }
    }
    KeySlot Slot(int slot) const {
        return ReadTable([slot](const KeyTable& t) { return t.slots[static_cast<size_t>(slot)]; });
    }

    // Waits until `flag` is 1, at most count x intervalMs, returning as soon as it rises.
    bool WaitFlag(const std::atomic<int>& flag, int count, int intervalMs) {
        return WaitUntil([&flag] { return flag.load() != 0; },
                         std::chrono::milliseconds(static_cast<long long>(count) * intervalMs));
    }
    // Clears `box`, sends `command` and waits for the box as WaitFlag does.
    bool Ask(const Command& command, std::atomic<int>& box, int count, int intervalMs) {
        box = 0;
        SendCmd(command);
        return WaitFlag(box, count, intervalMs);
    }
    // Sends a scan query and waits up to `waitMs` for the reply `bit` of `slot`.
    bool AskScanReply(const Command& command, int slot, uint8_t bit, int waitMs) {
        ReplyMail& mail = Mail();
        auto& replies = mail.m_ScanReplies[static_cast<size_t>(slot)];
        replies.fetch_and(static_cast<uint8_t>(~bit));
        mail.m_bRspScan = 0;
        SendCmd(command);
        return WaitUntil([&replies, bit] { return (replies.load() & bit) != 0; },
                         std::chrono::milliseconds(waitMs));
    }

protected:
    ~SessionPort() = default;
    virtual void VisitTable(const std::function<void(const KeyTable&)>& f) const = 0;
    virtual void ChangeTable(const std::function<void(KeyTable&)>& f) = 0;

private:
    friend class OpLock;
    virtual void ReleaseOps() = 0;
};

inline OpLock::~OpLock() {
    if (port_ != nullptr) {
        port_->ReleaseOps();
    }
}

}  // namespace tavrik

// The session's log lines, for the conversations over a port.
#define PORT_LOG(port, ...) TV_DEVLOG("CCDev", (port).DevIdx(), __VA_ARGS__)
#define PORT_LOG_V(port, ...) TV_DEVLOG_V((port).Verbose(), "CCDev", (port).DevIdx(), __VA_ARGS__)

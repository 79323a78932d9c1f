// The receive thread: reads reports, takes each through its step (device/report_steps.h)
// and carries out what the step asks.
#include <algorithm>
#include <utility>

#include "device/report_steps.h"
#include "device/session.h"
#include "hid/ccusb.h"
#include "log/log.h"
#include "protocol/reports.h"

namespace tavrik {

#define DEV_LOG(...) TV_DEVLOG("CCDev", m_nDevIdx, __VA_ARGS__)
#define DEV_LOG_V(...) TV_DEVLOG_V(m_bLogOn.load() != 0, "CCDev", m_nDevIdx, __VA_ARGS__)

void CCCDev::RxThread(Worker& self) {
    DEV_LOG_V("Config read thread start");
    DEV_LOG_V("Run Config read start");
    std::array<uint8_t, kPayloadSize> payload{};
    while (!self.stop) {
        if (m_bRunning == 0) {
            IdleWait(m_nIdleMs, self.stop);
            continue;
        }
        if (m_pUsb == nullptr || !m_pUsb->IsDevFound()) {
            DEV_LOG_V("pUsb-DevFound=false, continue");
            IdleWait(m_nIdleMs, self.stop);
            continue;
        }
        // Bounded, so a stop request is seen within one read.
        const int n = m_pUsb->ReadReport(payload.data(), payload.size(), 100);
        if (n > 0) {
            Dispatch({payload.data(), std::min<size_t>(static_cast<size_t>(n), payload.size())});
        } else if (n < 0) {
            // The keyboard is gone or the transport closed: don't spin until detach.
            IdleWait(m_nIdleMs, self.stop);
        }
    }
}

void CCCDev::Dispatch(std::span<const uint8_t> payload) {
    const Report report = DecodeReport(payload);
    const ReportContext ctx{m_nDevIdx, m_bLogOn.load() != 0, upgrade_.Upgrading(),
                            mail_.m_nKbmcProgress.load()};
    ReportEffects fx;
    {
        std::lock_guard lock(m_TableLock);
        ReportStep step = StepReport(report, table_, ctx);
        table_ = step.table;
        fx = std::move(step.effects);
    }
    if (fx.marcoReply) {
        mail_.SetMarcoReply(*fx.marcoReply);
    }
    ApplyEffects(fx);
}

void CCCDev::ApplyEffects(const ReportEffects& fx) {
    for (const std::string& line : fx.log) {
        DEV_LOG("%s", line.c_str());
    }
    ReplyMail& m = mail_;
    if (fx.chainEnd) {
        m.m_bChainEnd = 1;
    }
    if (fx.scanSlot >= 0) {
        m.m_ScanReplies[static_cast<size_t>(fx.scanSlot)].fetch_or(fx.scanReply);
    }
    if (fx.keyProgress) {
        m.m_nKeyProgress = *fx.keyProgress;
    }
    if (fx.kbmcProgress) {
        m.m_nKbmcProgress = *fx.kbmcProgress;
    }
    if (fx.enableOk) {
        m.m_bEnableOk = 1;
    }
    if (fx.mailboxes != 0) {
        const std::pair<uint32_t, std::atomic<int>*> boxes[] = {
            {kMailboxRsp, &m.m_bRsp},          {kMailboxScan, &m.m_bRspScan},
            {kMailboxReady, &m.m_bRspReady},   {kMailboxAck, &m.m_bRspAck},
            {kMailboxState, &m.m_bRspState},   {kMailboxMarco, &m.m_bRspMarco},
            {kMailboxEnable, &m.m_bRspEnable},
        };
        for (const auto& [bit, flag] : boxes) {
            if ((fx.mailboxes & bit) != 0) {
                *flag = 1;
            }
        }
        PokeWaiters();
    }
    // Sent after the table lock was released: their handlers read the table.
    for (const Notification& n : fx.notes) {
        Notify(n.code, n.wParam, n.lParam);
    }
    if (fx.requestScan) {
        RequestScan();
    }
}

}  // namespace tavrik

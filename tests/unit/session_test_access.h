// Reaches into a session for what tests must set up or look at directly: reply mailboxes,
// the key table and states a test puts in place.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "device/session.h"

namespace tavrik {

struct SessionTestAccess {
    // A fixed pause of the session, as its operations take them.
    static bool Pause(CCCDev& d, int ms) { return d.Port().Pause(ms); }

    // Mailboxes and the key table, through the session's port.
    static int Rsp(CCCDev& d) { return d.Port().Mail().m_bRsp; }
    static int RspScan(CCCDev& d) { return d.Port().Mail().m_bRspScan; }
    static int ChainEnd(CCCDev& d) { return d.Port().Mail().m_bChainEnd; }
    static int EnableOk(CCCDev& d) { return d.Port().Mail().m_bEnableOk; }
    static std::array<uint8_t, 8> CipherKey(CCCDev& d) {
        return d.Port().ReadTable([](const KeyTable& t) { return t.cipherKey; });
    }
    static void SetKind(CCCDev& d, int kind) {
        d.Port().EditTable([kind](KeyTable& t) { t.kind = kind; });
    }
    static void SetVersion(CCCDev& d, char stage, uint8_t hi, uint8_t lo) {
        d.Port().EditTable([=](KeyTable& t) {
            t.kbmcStage = stage;
            t.kbmcVerHi = hi;
            t.kbmcVerLo = lo;
        });
    }
    static void SetKeyTotal(CCCDev& d, int total) {
        d.Port().EditTable([total](KeyTable& t) { t.counts.total = total; });
    }
    static int IdleMs(CCCDev& d) { return d.Port().IdleMs(); }
    static int RspAck(CCCDev& d) { return d.Port().Mail().m_bRspAck; }

    // The modules' version range (0), or -1 when no module reported one.
    static int GetKeyVerRange(CCCDev& d, uint8_t& total, uint8_t& minHi, uint8_t& minLo,
                              uint8_t& maxHi, uint8_t& maxLo) {
        return d.Port().EditTable([&](KeyTable& t) {
            const int result = StoreKeyVerRange(t) ? 0 : -1;
            total = static_cast<uint8_t>(t.counts.total);
            minHi = t.keyVerRange[0];
            minLo = t.keyVerRange[1];
            maxHi = t.keyVerRange[2];
            maxLo = t.keyVerRange[3];
            return result;
        });
    }

    // The command ring and the receive thread's decoder, without the threads.
    static int SendCmd(CCCDev& d, std::span<const uint8_t> bytes) { return d.SendCmd(bytes); }
    static int TakeCmd(CCCDev& d, std::array<uint8_t, kReportSize>& out) {
        return d.ring_.Take(out);
    }
    static void Dispatch(CCCDev& d, std::span<const uint8_t> payload) { d.Dispatch(payload); }

    // States the port does not set.
    static void SetScanState(CCCDev& d, int state) { d.scanner_.m_nScanState = state; }
    static void SetUpgrading(CCCDev& d, bool on) { d.upgrade_.m_bUpgrading = on ? 1 : 0; }
    static void SetBlockAddr(CCCDev& d, uint16_t addr) { d.upgrade_.m_nBlockAddr = addr; }
    static uint16_t BlockAddr(const CCCDev& d) { return d.upgrade_.m_nBlockAddr; }
};

}  // namespace tavrik

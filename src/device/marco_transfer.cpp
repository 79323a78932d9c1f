#include "device/marco_transfer.h"

#include <algorithm>

#include "device/session_result.h"
#include "protocol/commands.h"

namespace tavrik {

#define DEV_LOG(...) PORT_LOG(port_, __VA_ARGS__)
#define DEV_LOG_V(...) PORT_LOG_V(port_, __VA_ARGS__)

int MarcoTransfer::MarcoMax() const {
    return port_.ReadTable([](const KeyTable& t) { return t.marcoMax; });
}

int MarcoTransfer::Read(int slot, MarcoEntries& entries) {
    if (!IsKeySlot(static_cast<unsigned>(slot))) {
        return -1;
    }
    ReplyMail& mail = port_.Mail();
    const int max = std::min<int>(MarcoMax(), kMarcoEntryCount);
    for (int i = 0; i < max; ++i) {
        if (!port_.Ask(CmdReadMarco(static_cast<uint8_t>(slot), static_cast<uint8_t>(i)),
                       mail.m_bRspMarco, 40, 3)) {
            DEV_LOG("Get Marco timeout happen");
            return kErrMacroNoAnswer;
        }
        const std::array<uint8_t, 8> r = mail.MarcoReply();
        if (r[0] != CodeByte(ReportCode::RspMarco) || r[1] != slot || r[2] != i + 5) {
            DEV_LOG_V("Get Marco, response data is incorrect");
            return kErrMacroWrongAnswer;
        }
        if (r[3] == MarcoFlag::End || r[3] == MarcoFlag::ListEnd) {
            break;
        }
        entries[i] = {r[3], r[4], static_cast<uint16_t>(r[5] << 8 | r[6])};
    }
    return 0;
}

// A late reply of a failed read would be taken for the answer to the next request, so
// the late ones are let in before asking again.
int MarcoTransfer::ReadWithRetry(int slot, MarcoEntries& entries) {
    constexpr int kAttempts = 3;
    int result = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) {
            port_.WaitUntil([] { return false; }, std::chrono::milliseconds(250));
        }
        entries = {};
        DEV_LOG_V("Get Marco content start");
        result = Read(slot, entries);
        if (result == 0) {
            return 0;
        }
    }
    return result;
}

void MarcoTransfer::Write(int slot, const MarcoEntries& entries) {
    if (!IsKeySlot(static_cast<unsigned>(slot))) {
        return;
    }
    const int last = std::min<int>(MarcoMax(), kMarcoEntryCount - 1);
    for (int i = 0; i <= last; ++i) {
        const MarcoEntry& e = entries[i];
        port_.SendCmd(CmdWriteMarco(static_cast<uint8_t>(slot), static_cast<uint8_t>(i), e.flag,
                                    e.kv, e.delay));
        DEV_LOG_V("Write Marco: %d: Flag %02x kv %02x delay %d ms", i, e.flag, e.kv, e.delay);
        if (e.flag == MarcoFlag::End) {
            break;
        }
        port_.Pause(30);
    }
    DEV_LOG_V("Save Marco Done");
}

}  // namespace tavrik

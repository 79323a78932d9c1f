#include "protocol/reports.h"

#include <algorithm>

#include "protocol/firmware_features.h"

namespace tavrik {
namespace {

// The payload carries `code` and at least `bytes` bytes.
bool Fits(ReportPayload p, ReportCode code, size_t bytes) {
    return p.size() >= bytes && p[0] == CodeByte(code);
}

uint16_t U16(ReportPayload p, size_t at) {
    return static_cast<uint16_t>(p[at] | (p[at + 1] << 8));
}

uint32_t U32(ReportPayload p, size_t at) {
    return static_cast<uint32_t>(p[at]) | (static_cast<uint32_t>(p[at + 1]) << 8) |
           (static_cast<uint32_t>(p[at + 2]) << 16) | (static_cast<uint32_t>(p[at + 3]) << 24);
}

std::array<uint8_t, 4> Hid4(ReportPayload p, size_t at) {
    return {p[at], p[at + 1], p[at + 2], p[at + 3]};
}

// Slot numbers (slot + 1) of insert and lost events.
std::optional<uint8_t> SlotOfNumber(uint8_t number) {
    if (number == 0 || number > kKeySlots) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(number - 1);
}

}  // namespace

std::optional<KeyInfoReport> DecodeKeyInfo(ReportPayload p) {
    if (!Fits(p, ReportCode::RspKeyInfo, 12) || !IsKeySlot(p[1] & 0x7F)) {
        return std::nullopt;
    }
    KeyInfoReport r;
    r.slot = p[1] & 0x7F;
    r.chainEnd = (p[1] & 0x80) != 0;
    r.uid = U32(p, 2);
    r.shortMac = p[6] & 0x7F;
    r.bootloader = (p[6] & 0x80) != 0;
    r.hid = Hid4(p, 7);
    r.flag = p[11];
    return r;
}

std::optional<KeyVerReport> DecodeKeyVer(ReportPayload p) {
    if (!Fits(p, ReportCode::RspKeyVer, 5) || !IsKeySlot(p[1] & 0x7F)) {
        return std::nullopt;
    }
    return KeyVerReport{static_cast<uint8_t>(p[1] & 0x7F), p[2], p[3], p[4]};
}

std::optional<KeyRequestEvent> DecodeKeyRequest(ReportPayload p) {
    if (!Fits(p, ReportCode::EvtKeyRequest, 6)) {
        return std::nullopt;
    }
    return KeyRequestEvent{p[1], U32(p, 2)};
}

std::optional<ReadyReport> DecodeReady(ReportPayload p) {
    if (!Fits(p, ReportCode::RspReady, 2)) {
        return std::nullopt;
    }
    return ReadyReport{p[1]};
}

std::optional<ChunkAckReport> DecodeChunkAck(ReportPayload p) {
    if (!Fits(p, ReportCode::RspChunkAck, 2)) {
        return std::nullopt;
    }
    return ChunkAckReport{p[1] != 0};
}

std::optional<IgnoredReport> DecodeIgnored(ReportPayload p) {
    if (!Fits(p, ReportCode::RspIgnored, 1)) {
        return std::nullopt;
    }
    return IgnoredReport{};
}

std::optional<KeyUpgradeStateReport> DecodeKeyUpgradeState(ReportPayload p) {
    if (!Fits(p, ReportCode::RspKeyUpgradeState, 4)) {
        return std::nullopt;
    }
    return KeyUpgradeStateReport{U16(p, 2)};
}

std::optional<KeyInsertEvent> DecodeKeyInsert(ReportPayload p) {
    if (!Fits(p, ReportCode::EvtKeyInsert, 12)) {
        return std::nullopt;
    }
    const auto slot = SlotOfNumber(p[6]);
    if (!slot) {
        return std::nullopt;
    }
    return KeyInsertEvent{U32(p, 2), p[6], *slot, Hid4(p, 7), p[11]};
}

std::optional<KeyLostEvent> DecodeKeyLost(ReportPayload p) {
    if (!Fits(p, ReportCode::EvtKeyLost, 7)) {
        return std::nullopt;
    }
    const auto slot = SlotOfNumber(p[6]);
    if (!slot) {
        return std::nullopt;
    }
    return KeyLostEvent{p[6], *slot};
}

std::optional<BackupChecksumReport> DecodeBackupChecksum(ReportPayload p) {
    if (!Fits(p, ReportCode::RspBackupChecksum, 3)) {
        return std::nullopt;
    }
    return BackupChecksumReport{p[1] == 0 && p[2] == 1};
}

std::optional<KbmcUpgradeStateReport> DecodeKbmcUpgradeState(ReportPayload p) {
    if (!Fits(p, ReportCode::RspKbmcUpgradeState, 4)) {
        return std::nullopt;
    }
    return KbmcUpgradeStateReport{U16(p, 2)};
}

std::optional<KeyColorReport> DecodeKeyColor(ReportPayload p) {
    // The slot byte is a full byte here; anything past the table is refused.
    if (!Fits(p, ReportCode::RspKeyColor, 6) || !IsKeySlot(p[1])) {
        return std::nullopt;
    }
    return KeyColorReport{p[1], Rgb4{p[3], p[4], p[5]}};
}

std::optional<KbmcVerReport> DecodeKbmcVer(ReportPayload p) {
    if (!Fits(p, ReportCode::RspKbmcVer, 16)) {
        return std::nullopt;
    }
    KbmcVerReport r;
    r.secondary = p[1];
    r.stage = p[2];
    r.verHi = p[3];
    r.verLo = p[4];
    r.usbRate = p[5];
    r.stdCount = p[6];
    r.modeBits = p[7];
    r.configuredCount = p[8];
    std::copy_n(p.begin() + 8, r.cipherKey.size(), r.cipherKey.begin());
    return r;
}

std::optional<UsbRateReport> DecodeUsbRate(ReportPayload p) {
    if (!Fits(p, ReportCode::RspUsbRate, 3)) {
        return std::nullopt;
    }
    return UsbRateReport{p[1], p[2]};
}

std::optional<BusShortEvent> DecodeBusShort(ReportPayload p) {
    if (!Fits(p, ReportCode::EvtBusShort, 1)) {
        return std::nullopt;
    }
    return BusShortEvent{};
}

std::optional<BusShortGoneEvent> DecodeBusShortGone(ReportPayload p) {
    if (!Fits(p, ReportCode::EvtBusShortGone, 1)) {
        return std::nullopt;
    }
    return BusShortGoneEvent{};
}

std::optional<KeyDownEvent> DecodeKeyDown(ReportPayload p) {
    if (!Fits(p, ReportCode::EvtKeyDown, 4) || !IsKeySlot(p[1])) {
        return std::nullopt;
    }
    return KeyDownEvent{p[1], p[2], p[3]};
}

std::optional<KeyUpEvent> DecodeKeyUp(ReportPayload p) {
    if (!Fits(p, ReportCode::EvtKeyUp, 5) || !IsKeySlot(p[1])) {
        return std::nullopt;
    }
    return KeyUpEvent{p[1], p[2], p[3], p[4]};
}

std::optional<MarcoReport> DecodeMarco(ReportPayload p) {
    if (!Fits(p, ReportCode::RspMarco, 8) || !IsKeySlot(p[1])) {
        return std::nullopt;
    }
    MarcoReport r;
    std::copy_n(p.begin(), r.raw.size(), r.raw.begin());
    r.slot = p[1];
    r.entryByte = p[2];
    r.flag = p[3];
    r.keyValue = p[4];
    r.delay = static_cast<uint16_t>(p[5] << 8 | p[6]);
    return r;
}

std::optional<EnableKbmcReport> DecodeEnableKbmc(ReportPayload p) {
    if (!Fits(p, ReportCode::RspEnableKbmc, 3)) {
        return std::nullopt;
    }
    return EnableKbmcReport{p[1] == 0 && p[2] == 1};
}

namespace {

template <typename T>
Report OrMalformed(const std::optional<T>& decoded, uint8_t code) {
    if (decoded) {
        return *decoded;
    }
    return MalformedReport{code};
}

}  // namespace

Report DecodeReport(ReportPayload p) {
    if (p.empty()) {
        return UndefinedReport{0};
    }
    const uint8_t code = p[0];
    switch (static_cast<ReportCode>(code)) {
        case ReportCode::RspKeyInfo:
            return OrMalformed(DecodeKeyInfo(p), code);
        case ReportCode::RspKeyVer:
            return OrMalformed(DecodeKeyVer(p), code);
        case ReportCode::EvtKeyRequest:
            return OrMalformed(DecodeKeyRequest(p), code);
        case ReportCode::RspReady:
            return OrMalformed(DecodeReady(p), code);
        case ReportCode::RspChunkAck:
            return OrMalformed(DecodeChunkAck(p), code);
        case ReportCode::RspIgnored:
            return OrMalformed(DecodeIgnored(p), code);
        case ReportCode::RspKeyUpgradeState:
            return OrMalformed(DecodeKeyUpgradeState(p), code);
        case ReportCode::EvtKeyInsert:
            return OrMalformed(DecodeKeyInsert(p), code);
        case ReportCode::EvtKeyLost:
            return OrMalformed(DecodeKeyLost(p), code);
        case ReportCode::RspBackupChecksum:
            return OrMalformed(DecodeBackupChecksum(p), code);
        case ReportCode::RspKbmcUpgradeState:
            return OrMalformed(DecodeKbmcUpgradeState(p), code);
        case ReportCode::RspKeyColor:
            return OrMalformed(DecodeKeyColor(p), code);
        case ReportCode::RspKbmcVer:
            return OrMalformed(DecodeKbmcVer(p), code);
        case ReportCode::RspUsbRate:
            return OrMalformed(DecodeUsbRate(p), code);
        case ReportCode::EvtBusShort:
            return OrMalformed(DecodeBusShort(p), code);
        case ReportCode::EvtBusShortGone:
            return OrMalformed(DecodeBusShortGone(p), code);
        case ReportCode::EvtKeyDown:
            return OrMalformed(DecodeKeyDown(p), code);
        case ReportCode::EvtKeyUp:
            return OrMalformed(DecodeKeyUp(p), code);
        case ReportCode::RspMarco:
            return OrMalformed(DecodeMarco(p), code);
        case ReportCode::RspEnableKbmc:
            return OrMalformed(DecodeEnableKbmc(p), code);
        default:
            // Includes the host's own command codes echoed back.
            return UndefinedReport{code};
    }
}

KbmcVersionUpdate InterpretKbmcVer(const KbmcVerReport& r) {
    KbmcVersionUpdate u;
    u.cipherKey = r.cipherKey;
    if (r.secondary == 1) {
        return u;
    }
    if (r.stage != 'A') {
        u.stage = 'B';
        return u;
    }
    u.stage = 'A';
    u.verHi = r.verHi;
    u.verLo = r.verLo;
    const unsigned w = r.Word();
    if (ReportsUsbRateInVersion(w)) {
        u.usbRate = r.usbRate;
        u.keyMaxStd = r.stdCount;
        u.keyMax = r.stdCount;
        u.keyMaxOver = r.stdCount + 16;
    }
    if (ReportsFullKeyRollover(w)) {
        u.nkro = (r.modeBits & 0x04) != 0;
    }
    if (ReportsFlashLayout(w)) {
        u.hwVariant = static_cast<uint8_t>((r.modeBits >> 3) & 0x03);
    }
    if (ReportsModuleCount(w)) {
        u.overload = r.stdCount < r.configuredCount;
        u.keyMax = *u.overload ? r.configuredCount : r.stdCount;
    }
    return u;
}

}  // namespace tavrik

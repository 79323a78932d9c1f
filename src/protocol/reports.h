// Decoders for every report the controller sends. Each takes the 64-byte payload (report
// ID already dropped), checks the code and that every byte it reads is present, and
// refuses any slot outside the 90-slot key table, so a caller can index that table with
// what it gets without further checks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>

#include "protocol/protocol.h"

namespace tavrik {

using ReportPayload = std::span<const uint8_t>;

// 0x05: one slot's module data.
struct KeyInfoReport {
    uint8_t slot = 0;
    bool chainEnd = false;  // no module at this or any later slot
    uint32_t uid = 0;
    uint8_t shortMac = 0;
    bool bootloader = false;  // the module runs its bootloader
    std::array<uint8_t, 4> hid{};
    uint8_t flag = 0;
};

// 0x07
struct KeyVerReport {
    uint8_t slot = 0;
    uint8_t marker = 0;  // 'A' when a version follows
    uint8_t verHi = 0;
    uint8_t verLo = 0;
    bool HasVersion() const { return marker == 'A'; }
};

// 0x08: a module asks to be given a key value.
struct KeyRequestEvent {
    uint8_t shortMac = 0;
    uint32_t uid = 0;
};

// 0x0B
struct ReadyReport {
    uint8_t value = 0;
    bool Ready() const { return value != 0; }
};

// 0x0D
struct ChunkAckReport {
    bool accepted = false;
};

// 0x0F
struct IgnoredReport {};

// 0x13 and 0x27: progress words of a key module and of a controller upgrade.
struct KeyUpgradeStateReport {
    uint16_t progress = 0;
};
struct KbmcUpgradeStateReport {
    uint16_t progress = 0;
};

// 0x18: the report carries a slot number 1..90.
struct KeyInsertEvent {
    uint32_t uid = 0;
    uint8_t slotNumber = 0;
    uint8_t slot = 0;  // slotNumber - 1
    std::array<uint8_t, 4> hid{};
    uint8_t flag = 0;
};

// 0x1A
struct KeyLostEvent {
    uint8_t slotNumber = 0;
    uint8_t slot = 0;
};

// 0x25: only ever logged.
struct BackupChecksumReport {
    bool correct = false;
};

// 0x2D
struct KeyColorReport {
    uint8_t slot = 0;
    Rgb4 rgb;
    uint32_t Colour() const { return FromRgb4(rgb); }
};

// 0x31, raw. InterpretKbmcVer decides which fields count.
struct KbmcVerReport {
    uint8_t secondary = 0;  // 1: describes a secondary image
    uint8_t stage = 0;      // 'A' application, anything else bootloader
    uint8_t verHi = 0;
    uint8_t verLo = 0;
    uint8_t usbRate = 0;
    uint8_t stdCount = 0;  // key modules in standard mode
    uint8_t modeBits = 0;
    uint8_t configuredCount = 0;  // shares its byte with the first key byte
    std::array<uint8_t, 8> cipherKey{};
    uint16_t Word() const { return static_cast<uint16_t>(verHi << 8 | verLo); }
};

// 0x33
struct UsbRateReport {
    uint8_t status = 0;
    uint8_t rate = 0;
    bool Valid() const { return status == 0; }
};

// 0x36 and 0x38
struct BusShortEvent {};
struct BusShortGoneEvent {};

// 0x3C
struct KeyDownEvent {
    uint8_t slot = 0;
    uint8_t flags = 0;
    uint8_t layerKey = 0;
    bool LayerKeyPressed() const { return (flags & 0x01) != 0; }
    bool ExtraFlag() const { return (flags & 0x02) != 0; }
};

// 0x3E
struct KeyUpEvent {
    uint8_t slot = 0;
    uint8_t flags = 0;
    uint8_t layerKey = 0;
    uint8_t returnLayer = 0;
    bool LayerKeyReleased() const { return flags == 1; }
};

// 0x43: one macro entry read back. `raw` is payload bytes 0..7 as received.
struct MarcoReport {
    std::array<uint8_t, 8> raw{};
    uint8_t slot = 0;
    uint8_t entryByte = 0;  // entry number + 5
    uint8_t flag = 0;
    uint8_t keyValue = 0;
    uint16_t delay = 0;
    int EntryNumber() const { return entryByte - 5; }
};

// 0x49
struct EnableKbmcReport {
    bool accepted = false;
};

// A code the table does not know (an empty payload reads as code 0).
struct UndefinedReport {
    uint8_t code = 0;
};

// A known code whose payload is too short or names a slot outside the key table.
struct MalformedReport {
    uint8_t code = 0;
};

std::optional<KeyInfoReport> DecodeKeyInfo(ReportPayload payload);
std::optional<KeyVerReport> DecodeKeyVer(ReportPayload payload);
std::optional<KeyRequestEvent> DecodeKeyRequest(ReportPayload payload);
std::optional<ReadyReport> DecodeReady(ReportPayload payload);
std::optional<ChunkAckReport> DecodeChunkAck(ReportPayload payload);
std::optional<IgnoredReport> DecodeIgnored(ReportPayload payload);
std::optional<KeyUpgradeStateReport> DecodeKeyUpgradeState(ReportPayload payload);
std::optional<KeyInsertEvent> DecodeKeyInsert(ReportPayload payload);
std::optional<KeyLostEvent> DecodeKeyLost(ReportPayload payload);
std::optional<BackupChecksumReport> DecodeBackupChecksum(ReportPayload payload);
std::optional<KbmcUpgradeStateReport> DecodeKbmcUpgradeState(ReportPayload payload);
std::optional<KeyColorReport> DecodeKeyColor(ReportPayload payload);
std::optional<KbmcVerReport> DecodeKbmcVer(ReportPayload payload);
std::optional<UsbRateReport> DecodeUsbRate(ReportPayload payload);
std::optional<BusShortEvent> DecodeBusShort(ReportPayload payload);
std::optional<BusShortGoneEvent> DecodeBusShortGone(ReportPayload payload);
std::optional<KeyDownEvent> DecodeKeyDown(ReportPayload payload);
std::optional<KeyUpEvent> DecodeKeyUp(ReportPayload payload);
std::optional<MarcoReport> DecodeMarco(ReportPayload payload);
std::optional<EnableKbmcReport> DecodeEnableKbmc(ReportPayload payload);

using Report =
    std::variant<UndefinedReport, MalformedReport, KeyInfoReport, KeyVerReport, KeyRequestEvent,
                 ReadyReport, ChunkAckReport, IgnoredReport, KeyUpgradeStateReport, KeyInsertEvent,
                 KeyLostEvent, BackupChecksumReport, KbmcUpgradeStateReport, KeyColorReport,
                 KbmcVerReport, UsbRateReport, BusShortEvent, BusShortGoneEvent, KeyDownEvent,
                 KeyUpEvent, MarcoReport, EnableKbmcReport>;

// Dispatches on payload byte 0.
Report DecodeReport(ReportPayload payload);

// What a session takes from a version reply. Empty fields leave the session's value as
// it is; the cipher key is always taken.
struct KbmcVersionUpdate {
    std::array<uint8_t, 8> cipherKey{};
    std::optional<uint8_t> stage;  // 'A' or 'B'
    std::optional<uint8_t> verHi;
    std::optional<uint8_t> verLo;
    std::optional<uint8_t> usbRate;
    std::optional<uint8_t> keyMaxStd;
    std::optional<int> keyMaxOver;  // standard count + 16, may exceed a byte
    std::optional<uint8_t> keyMax;  // modules currently configured
    std::optional<bool> nkro;
    std::optional<uint8_t> hwVariant;
    std::optional<bool> overload;
};

// Older controller firmware leaves the later bytes undefined, hence the version gates.
KbmcVersionUpdate InterpretKbmcVer(const KbmcVerReport& report);

}  // namespace tavrik

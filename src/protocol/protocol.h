// Framing and codes of the reports exchanged with the keyboard's controller.
// Every report is 65 bytes: report ID 0, then 64 payload bytes whose first byte is the
// command or report code. A reply carries its request's code plus one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tavrik {

inline constexpr size_t kReportSize = 65;
inline constexpr size_t kPayloadSize = 64;
inline constexpr size_t kKeySlots = 90;

constexpr bool IsKeySlot(unsigned slot) {
    return slot < kKeySlots;
}

enum class ReportCode : uint8_t {
    // Host to controller.
    CmdScanKey = 0x04,
    CmdGetKeyVer = 0x06,
    CmdWriteKeyConfig = 0x09,
    CmdQueryReady = 0x0A,
    CmdWriteChunk = 0x0C,
    CmdKeyUpgradeStart = 0x10,
    CmdKeyUpgradeState = 0x12,
    CmdEnterBootloader = 0x1C,
    CmdErase = 0x1E,
    CmdProgramStart = 0x20,
    CmdUpgradeEnd = 0x22,
    CmdKbmcUpgradeState = 0x26,
    CmdBlinkKey = 0x2A,
    CmdGetKeyColor = 0x2C,
    CmdSetKeyColor = 0x2E,
    CmdGetKbmcVer = 0x30,
    CmdGetUsbRate = 0x32,
    CmdSetUsbRate = 0x34,
    CmdHostActive = 0x3A,
    CmdWriteMarco = 0x40,
    CmdReadMarco = 0x42,
    CmdSetMode = 0x44,
    CmdLayerSwitch = 0x46,
    CmdEnableKbmc = 0x48,

    // Controller to host.
    RspKeyInfo = 0x05,
    RspKeyVer = 0x07,
    EvtKeyRequest = 0x08,
    RspReady = 0x0B,
    RspChunkAck = 0x0D,
    RspIgnored = 0x0F,  // carries nothing the host uses
    RspKeyUpgradeState = 0x13,
    EvtKeyInsert = 0x18,
    EvtKeyLost = 0x1A,
    RspBackupChecksum = 0x25,
    RspKbmcUpgradeState = 0x27,
    RspKeyColor = 0x2D,
    RspKbmcVer = 0x31,
    RspUsbRate = 0x33,
    EvtBusShort = 0x36,
    EvtBusShortGone = 0x38,
    EvtKeyDown = 0x3C,
    EvtKeyUp = 0x3E,
    RspMarco = 0x43,
    RspEnableKbmc = 0x49,
};

constexpr uint8_t CodeByte(ReportCode code) {
    return static_cast<uint8_t>(code);
}

// One command as queued: its payload bytes and their number (1..64). Bytes past the
// length are always zero.
class Command {
public:
    Command() = default;
    // A zero-filled command of `length` bytes (clamped to 1..64) starting with `code`.
    Command(ReportCode code, size_t length);

    // Refuses an empty payload or one longer than 64 bytes.
    static std::optional<Command> FromBytes(std::span<const uint8_t> payload);

    size_t Size() const { return size_; }
    std::span<const uint8_t> Payload() const { return {bytes_.data(), size_}; }
    std::span<uint8_t> MutablePayload() { return {bytes_.data(), size_}; }
    uint8_t Code() const { return bytes_[0]; }

    bool operator==(const Command&) const = default;

private:
    std::array<uint8_t, kPayloadSize> bytes_{};
    size_t size_ = 0;
};

using OutputReport = std::array<uint8_t, kReportSize>;

// Report ID 0, the payload from byte 1, zeros behind it.
OutputReport ToOutputReport(const Command& command);

// LED colours travel as three 4-bit intensities; the host keeps 0x00BBGGRR.
struct Rgb4 {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const Rgb4&) const = default;
};

// Keeps the top four bits of each channel.
constexpr Rgb4 ToRgb4(uint32_t colour) {
    return {static_cast<uint8_t>((colour >> 4) & 0x0F), static_cast<uint8_t>((colour >> 12) & 0x0F),
            static_cast<uint8_t>((colour >> 20) & 0x0F)};
}

// Each intensity shifted left by four, modulo 256, as the controller's bytes arrive.
constexpr uint32_t FromRgb4(Rgb4 rgb) {
    const auto widen = [](uint8_t v) { return static_cast<uint32_t>((v << 4) & 0xFF); };
    return widen(rgb.red) | (widen(rgb.green) << 8) | (widen(rgb.blue) << 16);
}

}  // namespace tavrik

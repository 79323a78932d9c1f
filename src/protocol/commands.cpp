#include "protocol/commands.h"

#include <algorithm>

namespace tavrik {
namespace {

// A command whose bytes after the code are all zero.
Command Bare(ReportCode code, size_t length) {
    return Command(code, length);
}

Command WithSlot(ReportCode code, size_t length, uint8_t slot) {
    Command c(code, length);
    c.MutablePayload()[1] = slot;
    return c;
}

Command WithColour(ReportCode code, uint8_t slot, uint8_t mode, Rgb4 colour) {
    Command c(code, 6);
    auto p = c.MutablePayload();
    p[1] = slot;
    p[2] = mode;
    p[3] = colour.red;
    p[4] = colour.green;
    p[5] = colour.blue;
    return c;
}

Command MarcoCommand(ReportCode code, uint8_t slot, uint8_t entryNumber) {
    Command c(code, kPayloadSize);
    auto p = c.MutablePayload();
    p[1] = slot;
    p[2] = static_cast<uint8_t>(entryNumber + 5);
    return c;
}

}  // namespace

Command CmdScanKey(uint8_t slot) {
    return WithSlot(ReportCode::CmdScanKey, 2, slot);
}

Command CmdGetKeyVer(uint8_t slot) {
    return WithSlot(ReportCode::CmdGetKeyVer, 2, slot);
}

Command CmdWriteKeyConfig(uint8_t shortMac, const std::array<uint8_t, 4>& hid, uint8_t flag) {
    Command c(ReportCode::CmdWriteKeyConfig, 7);
    auto p = c.MutablePayload();
    p[1] = shortMac;
    p[2] = hid[1];
    p[3] = hid[2];
    p[4] = hid[3];
    p[5] = flag;
    p[6] = hid[0];
    return c;
}

Command CmdQueryReady(UpgradeTarget target) {
    return Bare(ReportCode::CmdQueryReady, target == UpgradeTarget::Kbmc ? 8 : 1);
}

Command CmdWriteChunk(uint16_t address, std::span<const uint8_t, kChunkSize> data) {
    Command c(ReportCode::CmdWriteChunk, 4 + kChunkSize);
    auto p = c.MutablePayload();
    p[2] = static_cast<uint8_t>(address & 0xFF);
    p[3] = static_cast<uint8_t>(address >> 8);
    std::copy(data.begin(), data.end(), p.begin() + 4);
    return c;
}

Command CmdKeyUpgradeStart() {
    return Bare(ReportCode::CmdKeyUpgradeStart, 2);
}

Command CmdKeyUpgradeState() {
    return Bare(ReportCode::CmdKeyUpgradeState, 2);
}

Command CmdEnterBootloader() {
    return Bare(ReportCode::CmdEnterBootloader, 8);
}

Command CmdErase() {
    return Bare(ReportCode::CmdErase, 8);
}

Command CmdProgramStart() {
    return Bare(ReportCode::CmdProgramStart, 8);
}

Command CmdUpgradeEnd() {
    return Bare(ReportCode::CmdUpgradeEnd, 8);
}

Command CmdKbmcUpgradeState() {
    return Bare(ReportCode::CmdKbmcUpgradeState, 2);
}

Command CmdBlinkKey(uint8_t slot, BlinkMode mode, Rgb4 colour) {
    return WithColour(ReportCode::CmdBlinkKey, slot, static_cast<uint8_t>(mode), colour);
}

Command CmdGetKeyColor(uint8_t slot) {
    return WithSlot(ReportCode::CmdGetKeyColor, 2, slot);
}

Command CmdSetKeyColor(uint8_t slot, Rgb4 colour) {
    return WithColour(ReportCode::CmdSetKeyColor, slot, 0, colour);
}

Command CmdGetKbmcVer() {
    return Bare(ReportCode::CmdGetKbmcVer, 6);
}

Command CmdGetUsbRate() {
    return Bare(ReportCode::CmdGetUsbRate, 6);
}

Command CmdSetUsbRate(uint8_t rate) {
    Command c(ReportCode::CmdSetUsbRate, 6);
    c.MutablePayload()[2] = rate;
    return c;
}

Command CmdHostActive(bool shown) {
    return WithSlot(ReportCode::CmdHostActive, 2, shown ? 1 : 0);
}

Command CmdWriteMarco(uint8_t slot, uint8_t entryNumber, uint8_t flag, uint8_t keyValue,
                      uint16_t delay) {
    Command c = MarcoCommand(ReportCode::CmdWriteMarco, slot, entryNumber);
    auto p = c.MutablePayload();
    p[3] = flag;
    p[4] = keyValue;
    p[5] = static_cast<uint8_t>(delay >> 8);
    p[6] = static_cast<uint8_t>(delay & 0xFF);
    return c;
}

Command CmdReadMarco(uint8_t slot, uint8_t entryNumber) {
    return MarcoCommand(ReportCode::CmdReadMarco, slot, entryNumber);
}

Command CmdSetMode(ModeSetting setting, uint8_t value) {
    Command c(ReportCode::CmdSetMode, 6);
    auto p = c.MutablePayload();
    p[1] = 1;
    p[2] = static_cast<uint8_t>(setting);
    p[3] = value;
    // The controller only takes a setting with its own fixed pair behind it.
    const bool keyMax = setting == ModeSetting::KeyMax;
    p[4] = keyMax ? 0x16 : 0x17;
    p[5] = keyMax ? 0x25 : 0x20;
    return c;
}

Command CmdLayerSwitch(LayerSwitchKind kind, uint8_t devIdx, uint8_t slot, uint8_t layerKey,
                       uint8_t layerByte) {
    Command c(ReportCode::CmdLayerSwitch, 8);
    auto p = c.MutablePayload();
    p[1] = 1;
    p[2] = static_cast<uint8_t>(kind);
    p[3] = static_cast<uint8_t>(devIdx + 1);
    p[4] = static_cast<uint8_t>(slot + 1);
    p[5] = layerKey;
    p[6] = static_cast<uint8_t>(layerByte & 0x83);
    return c;
}

}  // namespace tavrik

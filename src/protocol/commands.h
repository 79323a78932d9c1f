// One builder per host command, each with the length and byte layout the controller
// expects. Builders encode what they are given; refusing a bad slot or count is the
// calling operation's job.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/protocol.h"

namespace tavrik {

inline constexpr size_t kChunkSize = 32;

enum class UpgradeTarget { KeyModule, Kbmc };

enum class BlinkMode : uint8_t {
    SteadyWaiting = 1,  // the steady "waiting" colour
    RestoreColour = 2,  // back to the given colour
    Blink = 3,          // blink in the given colour
};

enum class ModeSetting : uint8_t {
    KeyMax = 3,           // maximum number of key modules
    FullKeyRollover = 4,  // 1 on, 0 off
};

enum class LayerSwitchKind : uint8_t {
    SwitchTo = 2,
    ReturnToPrevious = 3,
};

Command CmdScanKey(uint8_t slot);
Command CmdGetKeyVer(uint8_t slot);

// hid[L] is the HID value of layer L; the controller wants layers 1..3 first and
// layer 0 last.
Command CmdWriteKeyConfig(uint8_t shortMac, const std::array<uint8_t, 4>& hid, uint8_t flag);

// One byte for a key module upgrade, eight for a controller upgrade.
Command CmdQueryReady(UpgradeTarget target);

Command CmdWriteChunk(uint16_t address, std::span<const uint8_t, kChunkSize> data);
Command CmdKeyUpgradeStart();
Command CmdKeyUpgradeState();
Command CmdEnterBootloader();
Command CmdErase();
Command CmdProgramStart();
Command CmdUpgradeEnd();
Command CmdKbmcUpgradeState();

Command CmdBlinkKey(uint8_t slot, BlinkMode mode, Rgb4 colour);
Command CmdGetKeyColor(uint8_t slot);
Command CmdSetKeyColor(uint8_t slot, Rgb4 colour);

Command CmdGetKbmcVer();
Command CmdGetUsbRate();
Command CmdSetUsbRate(uint8_t rate);

// Tells the controller whether the host currently shows this keyboard.
Command CmdHostActive(bool shown);

// Entry numbers travel offset by five; the delay travels high byte first.
Command CmdWriteMarco(uint8_t slot, uint8_t entryNumber, uint8_t flag, uint8_t keyValue,
                      uint16_t delay);
Command CmdReadMarco(uint8_t slot, uint8_t entryNumber);

Command CmdSetMode(ModeSetting setting, uint8_t value);

// devIdx and slot are where the layer key was pressed; both travel plus one. Only the
// layer (bits 0..1) and bit 7 of layerByte are passed on.
Command CmdLayerSwitch(LayerSwitchKind kind, uint8_t devIdx, uint8_t slot, uint8_t layerKey,
                       uint8_t layerByte);

}  // namespace tavrik

// The parameters of notifications that carry several values, packed and unpacked in
// one place. The bit layouts are what windows and other sessions expect.
#pragma once

#include <cstdint>

#include "device/snapshot.h"

namespace tavrik {

// (slot << 8) | device: 0x417, 0x41B, 0x41C.
struct SlotDev {
    int slot = 0;
    int dev = 0;
    friend bool operator==(const SlotDev&, const SlotDev&) = default;
};
constexpr uint32_t PackSlotDev(int slot, int dev) {
    return static_cast<uint32_t>((slot & 0xFF) << 8 | (dev & 0xFF));
}
constexpr SlotDev UnpackSlotDev(uint32_t w) {
    return {static_cast<int>(w >> 8 & 0xFF), static_cast<int>(w & 0xFF)};
}

// Scan summary 0x419, first parameter: (state << 8) | device.
inline constexpr int kSummaryScanning = 0;
inline constexpr int kSummaryNoKeys = 2;
inline constexpr int kSummaryKeysFound = 3;
struct SummaryState {
    int state = 0;
    int dev = 0;
    friend bool operator==(const SummaryState&, const SummaryState&) = default;
};
constexpr uint32_t PackSummaryState(int state, int dev) {
    return static_cast<uint32_t>((state & 0xFF) << 8 | (dev & 0xFF));
}
constexpr SummaryState UnpackSummaryState(uint32_t w) {
    return {static_cast<int>(w >> 8 & 0xFF), static_cast<int>(w & 0xFF)};
}

// Scan summary 0x419, second parameter with keys found: one byte per count, total
// highest, then assigned, bootloader, unassigned.
constexpr uint32_t PackCounts(const KeyCounts& c) {
    return static_cast<uint32_t>((c.total & 0xFF) << 24 | (c.assigned & 0xFF) << 16 |
                                 (c.boot & 0xFF) << 8 | (c.blank & 0xFF));
}
constexpr uint32_t PackCounts(int total, int assigned, int boot, int blank) {
    return PackCounts(KeyCounts{total, assigned, boot, blank});
}
constexpr KeyCounts UnpackCounts(uint32_t w) {
    return {static_cast<int>(w >> 24), static_cast<int>(w >> 16 & 0xFF),
            static_cast<int>(w >> 8 & 0xFF), static_cast<int>(w & 0xFF)};
}

// A layer key pressed or released on one keyboard (0x428), relayed to the others.
// Bits 24..31 slot + 1, 16..23 the layer key's HID value, 8..15 the layer byte, 0..7
// the device. Layer byte on press: the layer (0..3), plus 0x80 when the key report asks
// for it; on release: the layer to return to, plus 0x40.
inline constexpr uint8_t kLayerByteRelease = 0x40;
inline constexpr uint8_t kLayerByteExtra = 0x80;
struct LayerEvent {
    int slot = 0;  // 0..89
    uint8_t layerKey = 0;
    uint8_t layerByte = 0;
    int dev = 0;
    bool Release() const { return (layerByte & kLayerByteRelease) != 0; }
    friend bool operator==(const LayerEvent&, const LayerEvent&) = default;
};
constexpr LayerEvent LayerPressEvent(int slot, uint8_t layerKey, bool extra, int dev) {
    return {slot, layerKey, static_cast<uint8_t>((layerKey & 3) | (extra ? kLayerByteExtra : 0)),
            dev};
}
constexpr LayerEvent LayerReleaseEvent(int slot, uint8_t layerKey, uint8_t returnLayer, int dev) {
    return {slot, layerKey, static_cast<uint8_t>(returnLayer | kLayerByteRelease), dev};
}
constexpr uint32_t PackLayerEvent(const LayerEvent& e) {
    return static_cast<uint32_t>(e.slot + 1) << 24 | static_cast<uint32_t>(e.layerKey) << 16 |
           static_cast<uint32_t>(e.layerByte) << 8 | static_cast<uint32_t>(e.dev & 0xFF);
}
constexpr LayerEvent UnpackLayerEvent(uint32_t w) {
    return {static_cast<int>(w >> 24) - 1, static_cast<uint8_t>(w >> 16),
            static_cast<uint8_t>(w >> 8), static_cast<int>(w & 0xFF)};
}

}  // namespace tavrik

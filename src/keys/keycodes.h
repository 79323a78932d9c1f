// Key assignments travel in two one-byte encodings: the key code the windows hold
// (Windows virtual-key numbering plus the keyboard's own functions) and the HID value
// the keyboard stores. These tables convert between them and name every HID value.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

// Key codes that mark the state of a module rather than a key.
inline constexpr uint8_t VK_WAIT_UPGRADE = 0x3A;  // module runs its bootloader
inline constexpr uint8_t VK_WAIT_SET = 0x3B;      // present, never assigned
inline constexpr uint8_t VK_MARCO = 0x3C;         // this layer plays the key's macro

inline constexpr uint8_t HID_WAIT_UPGRADE = 0x01;
inline constexpr uint8_t HID_WAIT_SET = 0x02;
inline constexpr uint8_t HID_MARCO = 0x03;

// Every HID value in 0xD0..0xDF is treated as a layer key.
inline constexpr uint8_t HID_LAYER_FIRST = 0xD0;
inline constexpr uint8_t HID_LAYER_LAST = 0xDF;
inline constexpr bool IsLayerKeyHid(uint8_t hid) {
    return hid >= HID_LAYER_FIRST && hid <= HID_LAYER_LAST;
}

// Indexed by key code; 0 means the code has no HID value.
extern const std::array<uint8_t, 256> KeyCodeToHid;

uint8_t HidOfKeyCode(unsigned keyCode);

// Smallest key code 0..254 whose HID value is `hid`; 0 when there is none.
uint8_t KeyCodeOfHid(uint8_t hid);

// The key code the key table keeps for a HID value reported for a layer:
// unassigned values and values without a key code read as VK_WAIT_SET.
uint8_t KeyCodeOfReportedHid(uint8_t hid);

// Display name of a HID value (UTF-8, the same in every language).
std::string_view HidKeyName(uint8_t hid);
// The Chinese word the Chinese pictures show for a HID value instead of its name (the
// media keys, Space); empty for the others.
std::string_view HidKeyNameChinese(uint8_t hid);

// Pictures of a key, relative to the resource root: "b" while focused, "s" otherwise.
std::string KeyPicturePath(uint8_t hid, bool focused);

// Numbers as users type them: decimal or 0x hex, within [lo, hi].
std::optional<long> ParseNumber(std::string_view text, long lo, long hi);

// Parses a key given by the user: a HID name ("A", "L Shift", "F5"), a friendly alias
// ("LShift", "Enter", "a"), or a number ("0x04", "4") taken as a HID value.
// Returns false when nothing matches.
bool ParseHidValue(std::string_view text, uint8_t& hid);

}  // namespace tavrik

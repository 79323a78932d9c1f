// The key code picker's keyboard: where each key of the drawn keyboard lies in the
// 1060 x 560 picker window and which key code it picks. The keyboard pictures and the
// picker's buttons both come from this one table, so they cannot drift apart.
#pragma once

#include <array>
#include <cstdint>

namespace tavrik {

struct PickerKey {
    int x, y, width, height;  // pixels of the 1060 x 560 client area
    uint8_t keyCode;
    bool enabled;  // a disabled key is drawn greyed and gets no button
};

inline constexpr int kPickerKeyCount = 144;

// Entry i becomes the button with control id 15000 + i.
const std::array<PickerKey, kPickerKeyCount>& PickerKeyTable();

// K/LT0..K/LT3 (entries 128..131) are offered only on layer 0.
inline constexpr int kPickerLayerOnlyFirst = 128;
inline constexpr int kPickerLayerOnlyLast = 131;
inline constexpr bool IsLayerOnlyKey(int index) {
    return index >= kPickerLayerOnlyFirst && index <= kPickerLayerOnlyLast;
}

// Whether entry `index` gets a button while the picker edits `layer`.
bool PickerKeyOffered(int index, int layer);

}  // namespace tavrik

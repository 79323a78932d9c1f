// Key codes of the keys the computer's own keyboards report. X11 and Wayland both hand
// out the kernel's input code plus 8 as the native scan code; it names the physical key,
// so the two sides of Shift, Ctrl and Alt and the keypad Enter stay apart, and a key
// keeps its code whatever keyboard layout is active.
#pragma once

#include <cstdint>

namespace tavrik {

// Key code (keycodes.h) of a kernel input code; 0 for a key without one.
uint8_t KeyCodeOfInputCode(unsigned inputCode);

// The same for an X11 / Wayland key code (input code + 8).
inline uint8_t KeyCodeOfXkbKeycode(unsigned keycode) {
    return keycode < 8 ? 0 : KeyCodeOfInputCode(keycode - 8);
}

}  // namespace tavrik

// The key code of a key pressed on the computer's keyboard, by the physical key (the
// native scan code: kernel input code + 8 on X11 and Wayland), so the two sides of Shift,
// Ctrl and Alt and the keypad keys stay apart. The macro editor records with it and the
// picker picks with it.
#pragma once

#include <cstdint>

class QKeyEvent;

namespace tavrik::ui {

struct KeyEventCode {
    uint8_t keyCode = 0;    // 0: no key code for this key
    bool extended = false;  // the keypad Enter, where only Qt's key told it apart
    bool physical = false;  // found by the physical key (else from Qt's key)
};

KeyEventCode KeyCodeOfEvent(const QKeyEvent& event);

}  // namespace tavrik::ui

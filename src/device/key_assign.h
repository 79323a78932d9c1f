// Giving a key a new key code on a layer, as the window does after the key picker and
// the command line does for `set-key`: the flag byte follows the new value, the key
// table takes it, and the key's configuration goes to the keyboard.
#pragma once

#include <cstdint>

namespace tavrik {

class CCCDev;

// The flag byte after giving `layer` the HID value `hid`: a layer key sets bit 0 unless
// it is a K/LT key (bit 3 of the value), any other key on layer 0 sets it; layers 1..3
// then set their own bit.
uint8_t UpdatedKeyFlag(uint8_t flag, uint8_t hid, int layer);

// Assigns `keyCode` to `slot` on the session's current layer (m_nCurLayer). Returns -1
// for a slot outside the table, 0 when done (a key code without HID value only updates
// the flag byte), or the refusal of WriteKeyConfig.
int AssignKeyCode(CCCDev& dev, int slot, uint8_t keyCode);

}  // namespace tavrik

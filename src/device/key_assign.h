// The rules of giving a key a new key code on a layer, shared by every front end
// through CCCDev::AssignKey.
#pragma once

#include <cstdint>

namespace tavrik {

// The flag byte after giving `layer` the HID value `hid`: a layer key sets bit 0 unless
// it is a K/LT key (bit 3 of the value), any other key on layer 0 sets it; layers 1..3
// then set their own bit.
uint8_t UpdatedKeyFlag(uint8_t flag, uint8_t hid, int layer);

// Why `keyCode` cannot go on `layer` of any key (a result code of session_result.h), or
// 0: a bad layer, a code that marks a key's state, a code without HID value, a K/LT
// layer key off layer 0.
int KeyCodeRefusal(int layer, uint8_t keyCode);

}  // namespace tavrik

// The rules of giving a key a new key code on a layer, shared by every front end
// through CCCDev::AssignKey.
#pragma once

#include <array>
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

// Why `keyCode` cannot go on `layer` of a key that holds the key codes `vk` now: the
// refusals of KeyCodeRefusal, and a layer that plays the key's macro, since a key code
// there removes the macro, unless `replaceMacro` says that is wanted.
int KeyAssignRefusal(const std::array<uint8_t, 4>& vk, int layer, uint8_t keyCode,
                     bool replaceMacro);

}  // namespace tavrik

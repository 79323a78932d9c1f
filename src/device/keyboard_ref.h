// One attached keyboard by identity: its slot and the attach serial the hub gave that
// attach. Another keyboard plugged into the same slot, or the same one plugged in again,
// gets a new serial, so a dialog that kept the ref no longer finds its keyboard
// (KeyboardHub::Resolve) instead of writing to the newcomer.
#pragma once

#include <cstdint>

namespace tavrik {

struct KeyboardRef {
    int slot = -1;
    uint64_t serial = 0;  // 0: no keyboard
    bool Empty() const { return serial == 0; }
    friend bool operator==(const KeyboardRef&, const KeyboardRef&) = default;
};

}  // namespace tavrik

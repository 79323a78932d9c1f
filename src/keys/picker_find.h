// Finding a key of the picker's keyboard: by the key code a key pressed on the computer's
// keyboard gives, or by its name as the picker's pictures show it, in either language
// ("vol" and "音量" both find Vol- and Vol+).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tavrik {

// The picker entry offered on `layer` for `keyCode`; -1 when the picker offers none.
int PickerEntryOfKeyCode(uint8_t keyCode, int layer);

struct PickerMatches {
    std::vector<int> entries;  // table indices, in table order
    int exact = -1;            // the entry whose whole name is the query, if any
    // What Enter takes: the only match, else the exact one; -1 for none.
    int Pick() const { return entries.size() == 1 ? entries.front() : exact; }
};

// The entries offered on `layer` whose name holds `query`, ignoring case and blanks. An
// empty query finds nothing.
PickerMatches FindPickerKeys(std::string_view query, int layer);

}  // namespace tavrik

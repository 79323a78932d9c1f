// The counts the status line shows (modules in total, assigned, in their bootloader,
// unassigned), by one rule: the scan pass counts with it, and a window recounts the key
// table with it after a key got its code, without waiting for the next pass.
#pragma once

#include <cstdint>

#include "device/snapshot.h"
#include "keys/keycodes.h"

namespace tavrik {

// Counts one module by its layer-0 key code; 0 is no module.
inline void CountModule(KeyCounts& counts, uint8_t vk0) {
    if (vk0 == 0) {
        return;
    }
    if (vk0 == VK_WAIT_UPGRADE) {
        ++counts.boot;
    } else if (vk0 == VK_WAIT_SET) {
        ++counts.blank;
    } else {
        ++counts.assigned;
    }
    ++counts.total;
}

// The counts of the key table as the snapshot holds it now.
inline KeyCounts CountsOfTable(const SessionSnapshot& snap) {
    KeyCounts counts;
    for (const KeySlot& slot : snap.slots) {
        if (slot.Present()) {
            CountModule(counts, slot.vk[0]);
        }
    }
    return counts;
}

}  // namespace tavrik

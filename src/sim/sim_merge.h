// Two programs keep the same sim file. Each remembers the file as it last read or wrote
// it (the base); when it saves, it merges its own keyboards with what the file holds now
// so that neither loses the other's changes.
#pragma once

#include <optional>
#include <vector>

#include "sim/sim_file.h"

namespace tavrik::sim {

// One index of the file: a keyboard or none.
using SimFileSlot = std::optional<SimFileKeyboard>;
using SimFileSlots = std::array<SimFileSlot, kSimMaxKeyboards>;

SimFileSlots ToSlots(const std::vector<SimFileKeyboard>& keyboards);
std::vector<SimFileKeyboard> FromSlots(const SimFileSlots& slots);

// Three-way merge of one index. What only one side changed since `base` is taken from
// that side. Where both changed a keyboard, it is merged field by field: plugged in or
// not, each field of the controller (versions, stage, each mode, ...), and of each key
// module that is the same module on every side (UID) each layer's HID value, flag,
// colour, UID, short address, versions, stage and macro. A field both changed takes
// this program's (`ours`) value: its write is the later one, and the other program
// reads the result on its next sync. Presses only ever come from the file (`theirs`).
SimFileSlot MergeSimKeyboard(const SimFileSlot& base, const SimFileSlot& ours,
                             const SimFileSlot& theirs);

}  // namespace tavrik::sim

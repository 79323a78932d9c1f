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
// that side. Where both changed a keyboard, the parts are merged one by one (plugged in
// or not, the controller, each key module): this program's (`ours`) wins a part both
// changed. Presses only ever come from the file (`theirs`).
SimFileSlot MergeSimKeyboard(const SimFileSlot& base, const SimFileSlot& ours,
                             const SimFileSlot& theirs);

}  // namespace tavrik::sim

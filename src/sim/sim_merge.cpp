#include "sim/sim_merge.h"

namespace tavrik::sim {
namespace {

// Everything of a keyboard but its key modules.
SimKeyboardState Controller(SimKeyboardState s) {
    s.modules = {};
    return s;
}

template <typename T>
const T& Pick(const T& base, const T& ours, const T& theirs) {
    return ours == base ? theirs : ours;
}

}  // namespace

SimFileSlots ToSlots(const std::vector<SimFileKeyboard>& keyboards) {
    SimFileSlots slots;
    for (const auto& k : keyboards) {
        if (k.index >= 0 && k.index < kSimMaxKeyboards) {
            slots[static_cast<size_t>(k.index)] = k;
        }
    }
    return slots;
}

std::vector<SimFileKeyboard> FromSlots(const SimFileSlots& slots) {
    std::vector<SimFileKeyboard> out;
    for (const auto& s : slots) {
        if (s) {
            out.push_back(*s);
        }
    }
    return out;
}

SimFileSlot MergeSimKeyboard(const SimFileSlot& base, const SimFileSlot& ours,
                             const SimFileSlot& theirs) {
    if (ours == base) {
        return theirs;
    }
    if (theirs == base || !base || !ours || !theirs) {
        // Only we changed it, or one side made or dropped the whole keyboard: ours stands.
        SimFileSlot merged = ours;
        if (merged && theirs) {
            merged->presses = theirs->presses;
        }
        return merged;
    }
    SimFileKeyboard merged = *theirs;
    merged.attached = Pick(base->attached, ours->attached, theirs->attached);
    const SimKeyboardState controller =
        Pick(Controller(base->state), Controller(ours->state), Controller(theirs->state));
    const auto modules = theirs->state.modules;
    merged.state = controller;
    for (size_t slot = 0; slot < modules.size(); ++slot) {
        merged.state.modules[slot] =
            Pick(base->state.modules[slot], ours->state.modules[slot], modules[slot]);
    }
    // Modules merged from both sides could clash (one UID or bus address in two slots);
    // a file that would not load again is never written, so ours stands then.
    if (!ParseSimKeyboardState(SimKeyboardStateToJson(merged.state))) {
        merged.state = ours->state;
        merged.attached = ours->attached;
    }
    return merged;
}

}  // namespace tavrik::sim

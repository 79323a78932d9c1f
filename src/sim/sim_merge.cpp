#include "sim/sim_merge.h"

namespace tavrik::sim {
namespace {

// What one side changed since the base is taken from that side; where both changed it,
// ours: this program writes now, so its change is the later one.
template <typename T>
void Merge(T& out, const T& base, const T& ours, const T& theirs) {
    out = ours == base ? theirs : ours;
}

// A module present on all three sides and the same module (UID) on each is merged field
// by field, each layer's value on its own, so that two programs that changed different
// things of one key both keep theirs. Otherwise the slot is taken whole.
std::optional<SimModule> MergeModule(const std::optional<SimModule>& base,
                                     const std::optional<SimModule>& ours,
                                     const std::optional<SimModule>& theirs) {
    if (!base || !ours || !theirs || base->uid != ours->uid || base->uid != theirs->uid) {
        return ours == base ? theirs : ours;
    }
    SimModule m = *theirs;
    Merge(m.shortMac, base->shortMac, ours->shortMac, theirs->shortMac);
    for (size_t l = 0; l < m.hid.size(); ++l) {
        Merge(m.hid[l], base->hid[l], ours->hid[l], theirs->hid[l]);
    }
    Merge(m.flag, base->flag, ours->flag, theirs->flag);
    Merge(m.colour, base->colour, ours->colour, theirs->colour);
    Merge(m.stage, base->stage, ours->stage, theirs->stage);
    Merge(m.verHi, base->verHi, ours->verHi, theirs->verHi);
    Merge(m.verLo, base->verLo, ours->verLo, theirs->verLo);
    Merge(m.marco, base->marco, ours->marco, theirs->marco);
    return m;
}

// Everything of a keyboard but its key modules, field by field. A field added to
// SimKeyboardState is added here too.
void MergeController(SimKeyboardState& out, const SimKeyboardState& base,
                     const SimKeyboardState& ours, const SimKeyboardState& theirs) {
#define TAVRIK_MERGE_FIELD(f) Merge(out.f, base.f, ours.f, theirs.f)
    TAVRIK_MERGE_FIELD(row);
    TAVRIK_MERGE_FIELD(vendorId);
    TAVRIK_MERGE_FIELD(productId);
    TAVRIK_MERGE_FIELD(release);
    TAVRIK_MERGE_FIELD(interfaceNumber);
    TAVRIK_MERGE_FIELD(product);
    TAVRIK_MERGE_FIELD(serial);
    TAVRIK_MERGE_FIELD(stage);
    TAVRIK_MERGE_FIELD(verHi);
    TAVRIK_MERGE_FIELD(verLo);
    TAVRIK_MERGE_FIELD(usbRate);
    TAVRIK_MERGE_FIELD(standardModules);
    TAVRIK_MERGE_FIELD(configuredModules);
    TAVRIK_MERGE_FIELD(nkro);
    TAVRIK_MERGE_FIELD(hwVariant);
    TAVRIK_MERGE_FIELD(latencyMs);
    TAVRIK_MERGE_FIELD(faults);
    TAVRIK_MERGE_FIELD(restartMs);
    TAVRIK_MERGE_FIELD(programQueries);
    TAVRIK_MERGE_FIELD(upgradeToVersion);
    TAVRIK_MERGE_FIELD(keyUpgradeToVersion);
#undef TAVRIK_MERGE_FIELD
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
    Merge(merged.attached, base->attached, ours->attached, theirs->attached);
    MergeController(merged.state, base->state, ours->state, theirs->state);
    for (size_t slot = 0; slot < merged.state.modules.size(); ++slot) {
        merged.state.modules[slot] = MergeModule(
            base->state.modules[slot], ours->state.modules[slot], theirs->state.modules[slot]);
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

// The step list the macro editor works on, with the counters its checks need. The
// counters are always derived from the steps, so they cannot drift from the list.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "macro/marco.h"

namespace tavrik {

class MarcoSteps {
public:
    MarcoSteps() = default;

    // Takes steps up to the first end mark (End or 0xFF), at most kMarcoMaxSteps.
    static MarcoSteps FromEntries(std::span<const MarcoEntry> steps);

    int Size() const { return n_; }
    bool Empty() const { return n_ == 0; }
    bool Full() const { return n_ >= kMarcoMaxSteps; }
    std::span<const MarcoEntry> Steps() const { return {entries_.data(), size_t(n_)}; }
    // The steps followed by End entries; entry Size() is always End.
    const MarcoEntries& Entries() const { return entries_; }
    // An index outside the steps reads as an End entry.
    const MarcoEntry& operator[](int i) const;

    // LoopStart steps with a count (kv != 0); an endless start is not counted.
    int LoopStarts() const { return loopStarts_; }
    int LoopEnds() const { return loopEnds_; }
    // The list holds a DualSec switch step (WaitKeyUp, kv 0).
    bool SwitchPresent() const { return switchPresent_; }

    // Appends as given; false when the list is full or `e` is an end mark.
    bool Append(MarcoEntry e);
    // Inserts before step `pos` (Size() appends). Refused when full rather than dropping
    // the last step. Moving steps keeps every LoopEnd pointing at its LoopStart.
    bool Insert(int pos, MarcoEntry e);
    bool Erase(int pos);
    bool SetDelay(int pos, uint16_t delay);
    void Clear() { *this = MarcoSteps{}; }

    friend bool operator==(const MarcoSteps&, const MarcoSteps&) = default;

private:
    void CountIn(const MarcoEntry& e);
    void Recount();
    void RefreshLoopDistances();

    MarcoEntries entries_{};
    int n_ = 0;
    int loopStarts_ = 0;
    int loopEnds_ = 0;
    bool switchPresent_ = false;
};

// Whether a LoopStart may go before step `pos`: no loop is left open anywhere in the
// list and `pos` does not lie inside a loop (loops do not nest).
bool MarcoCanInsertLoopStart(const MarcoSteps& steps, int pos);

// The kv of a LoopEnd inserted before step `pos`: pos - s, s being the open LoopStart
// before it. Empty when no loop is open there, when a LoopEnd lies between, when the
// loop's own LoopEnd follows later, or when the body would be empty.
std::optional<uint8_t> MarcoLoopEndDistance(const MarcoSteps& steps, int pos);

// The AutoLoop tail points back to the head's WaitKeyUp entry.
inline constexpr int MarcoAutoLoopTailDistance(int stepCount) {
    return stepCount + 1;
}

}  // namespace tavrik

#include "macro/marco_steps.h"

#include <algorithm>

namespace tavrik {
namespace {

bool IsLoopMarker(const MarcoEntry& e) {
    return e.flag == MarcoFlag::LoopStart || e.flag == MarcoFlag::LoopEnd;
}

// Index of the nearest loop marker before `pos`, or -1.
int LoopMarkerBefore(std::span<const MarcoEntry> steps, int pos) {
    for (int i = pos - 1; i >= 0; --i) {
        if (IsLoopMarker(steps[size_t(i)])) {
            return i;
        }
    }
    return -1;
}

// Index of the nearest loop marker at or after `pos`, or -1.
int LoopMarkerFrom(std::span<const MarcoEntry> steps, int pos) {
    for (int i = std::max(pos, 0); i < int(steps.size()); ++i) {
        if (IsLoopMarker(steps[size_t(i)])) {
            return i;
        }
    }
    return -1;
}

}  // namespace

MarcoSteps MarcoSteps::FromEntries(std::span<const MarcoEntry> steps) {
    MarcoSteps s;
    for (const MarcoEntry& e : steps) {
        if (!s.Append(e)) {
            break;
        }
    }
    return s;
}

const MarcoEntry& MarcoSteps::operator[](int i) const {
    static constexpr MarcoEntry kEnd{};
    return i >= 0 && i < n_ ? entries_[size_t(i)] : kEnd;
}

bool MarcoSteps::Append(MarcoEntry e) {
    return Insert(n_, e);
}

bool MarcoSteps::Insert(int pos, MarcoEntry e) {
    if (Full() || IsMarcoListEnd(e.flag) || pos < 0 || pos > n_) {
        return false;
    }
    std::copy_backward(entries_.begin() + pos, entries_.begin() + n_, entries_.begin() + n_ + 1);
    entries_[size_t(pos)] = e;
    ++n_;
    if (pos == n_ - 1) {
        CountIn(e);  // appending moves nothing
    } else {
        RefreshLoopDistances();
        Recount();
    }
    return true;
}

bool MarcoSteps::Erase(int pos) {
    if (pos < 0 || pos >= n_) {
        return false;
    }
    std::copy(entries_.begin() + pos + 1, entries_.begin() + n_, entries_.begin() + pos);
    --n_;
    entries_[size_t(n_)] = MarcoEntry{};
    RefreshLoopDistances();
    Recount();
    return true;
}

bool MarcoSteps::SetDelay(int pos, uint16_t delay) {
    if (pos < 0 || pos >= n_) {
        return false;
    }
    entries_[size_t(pos)].delay = delay;
    return true;
}

void MarcoSteps::CountIn(const MarcoEntry& e) {
    if (e.flag == MarcoFlag::LoopStart && e.kv != 0) {
        ++loopStarts_;
    } else if (e.flag == MarcoFlag::LoopEnd) {
        ++loopEnds_;
    } else if (e.flag == MarcoFlag::WaitKeyUp && e.kv == kMarcoSwitchKv) {
        switchPresent_ = true;
    }
}

void MarcoSteps::Recount() {
    loopStarts_ = 0;
    loopEnds_ = 0;
    switchPresent_ = false;
    for (const MarcoEntry& e : Steps()) {
        CountIn(e);
    }
}

// A LoopEnd whose nearest earlier loop marker is a LoopStart belongs to it; any other
// LoopEnd is left alone so that a broken loop stays visibly broken.
void MarcoSteps::RefreshLoopDistances() {
    const auto steps = Steps();
    for (int i = 0; i < n_; ++i) {
        if (entries_[size_t(i)].flag != MarcoFlag::LoopEnd) {
            continue;
        }
        const int s = LoopMarkerBefore(steps, i);
        if (s >= 0 && entries_[size_t(s)].flag == MarcoFlag::LoopStart) {
            entries_[size_t(i)].kv = uint8_t(i - s);
        }
    }
}

bool MarcoCanInsertLoopStart(const MarcoSteps& steps, int pos) {
    if (pos < 0 || pos > steps.Size()) {
        return false;
    }
    const auto list = steps.Steps();
    // Every LoopStart must already be closed before the next loop marker.
    bool open = false;
    for (const MarcoEntry& e : list) {
        if (e.flag == MarcoFlag::LoopStart) {
            if (open) {
                return false;
            }
            open = true;
        } else if (e.flag == MarcoFlag::LoopEnd) {
            open = false;
        }
    }
    if (open) {
        return false;
    }
    const int before = LoopMarkerBefore(list, pos);
    return before < 0 || list[size_t(before)].flag != MarcoFlag::LoopStart;
}

std::optional<uint8_t> MarcoLoopEndDistance(const MarcoSteps& steps, int pos) {
    if (pos < 0 || pos > steps.Size()) {
        return std::nullopt;
    }
    const auto list = steps.Steps();
    const int s = LoopMarkerBefore(list, pos);
    if (s < 0 || list[size_t(s)].flag != MarcoFlag::LoopStart) {
        return std::nullopt;
    }
    const int after = LoopMarkerFrom(list, pos);
    if (after >= 0 && list[size_t(after)].flag == MarcoFlag::LoopEnd) {
        return std::nullopt;  // the loop is closed further on
    }
    const int distance = pos - s;
    if (distance < 2) {
        return std::nullopt;  // empty body
    }
    return uint8_t(distance);
}

}  // namespace tavrik

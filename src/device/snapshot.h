// One consistent copy of what a session knows about its keyboard, taken under one lock:
// what front ends read instead of the session's fields.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/key_table.h"

namespace tavrik {

// The key table as the session held it, with what its threads were doing at that moment.
struct SessionSnapshot : KeyTable {
    int devIdx = 0;

    // Whether keyVerRange was made by the slots as they are now.
    bool keyVerRangeKnown = false;
    int scanState = 2;
    bool scanPassRunning = false;
    int scanPasses = 0;

    // Firmware upgrade.
    bool upgrading = false;
    int kbmcPercent = 0;
    int keyPercent = 0;
    int kbmcErr = 0;
    int keyErr = 0;

    bool running = false;

    // Slots the last pass asked and got no full answer from; their rows are what they
    // were before. Slots past the end of the chain count as answered: empty.
    std::vector<int> UnansweredSlots() const {
        std::vector<int> out;
        for (int s = 0; s < static_cast<int>(kKeySlots); ++s) {
            if (!slots[static_cast<size_t>(s)].answered) {
                out.push_back(s);
            }
        }
        return out;
    }
};

// "slot 4", "slots 3, 7 and 9-12": runs of three or more as a range.
inline std::string SlotListText(const std::vector<int>& list) {
    std::vector<std::string> parts;
    for (size_t i = 0; i < list.size();) {
        size_t j = i;
        while (j + 1 < list.size() && list[j + 1] == list[j] + 1) {
            ++j;
        }
        if (j - i >= 2) {
            parts.push_back(std::to_string(list[i]) + "-" + std::to_string(list[j]));
        } else {
            for (size_t k = i; k <= j; ++k) {
                parts.push_back(std::to_string(list[k]));
            }
        }
        i = j + 1;
    }
    std::string text = list.size() == 1 ? "slot " : "slots ";
    for (size_t i = 0; i < parts.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    }
    return text;
}

}  // namespace tavrik

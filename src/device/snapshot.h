// One consistent copy of what a session knows about its keyboard, taken under one lock:
// what front ends read instead of the session's fields.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/protocol.h"

namespace tavrik {

struct SlotSnapshot {
    uint32_t uid = 0;
    uint8_t shortMac = 0;
    char stage = 0;  // 'A' application, 'B' bootloader, 0 unknown
    uint32_t colour = 0;
    uint8_t verHi = 0;
    uint8_t verLo = 0;
    std::array<uint8_t, 4> hid{};
    std::array<uint8_t, 4> vk{};
    uint8_t flag = 0;
    bool hasMacro = false;  // a layer plays a macro
    bool answered = false;  // the last scan got an answer for this slot

    bool Present() const { return uid != 0 && shortMac != 0; }
    uint16_t VersionWord() const { return static_cast<uint16_t>(verHi << 8 | verLo); }
};

struct KeyCounts {
    int total = 0;
    int assigned = 0;
    int boot = 0;
    int blank = 0;
    friend bool operator==(const KeyCounts&, const KeyCounts&) = default;
};

struct SessionSnapshot {
    int devIdx = 0;

    // Controller.
    char kbmcStage = 0;
    uint8_t kbmcVerHi = 0;
    uint8_t kbmcVerLo = 0;
    bool verFail = false;
    uint8_t hwVariant = 0xFF;
    uint16_t KbmcWord() const { return static_cast<uint16_t>(kbmcVerHi << 8 | kbmcVerLo); }

    // Kind and what the views show.
    int kind = 0;
    bool kbmcUpdatable = true;
    bool hideLayerBtn = false;
    bool hideAllColorBtn = false;
    bool hidePageBtn = false;
    bool autoLoop = false;
    int marcoMax = 64;
    int marcoDelay = 10;
    bool hostView = false;

    // Modes.
    bool nkro = false;
    bool overload = false;
    int keyMaxStd = 44;
    int keyMaxOver = 44;
    int keyMax = 44;
    uint8_t usbRate = 1;

    // The last scan pass.
    KeyCounts counts;
    // Lowest and highest key firmware (min hi, min lo, max hi, max lo); a module in its
    // bootloader makes the minimum 0. Not known without modules.
    std::array<uint8_t, 4> keyVerRange{};
    bool keyVerRangeKnown = false;
    int scanState = 2;
    bool scanPassRunning = false;
    int scanPasses = 0;

    // Online update.
    bool kbmcNewVer = false;
    bool keyNewVer = false;

    // Firmware upgrade.
    bool upgrading = false;
    int kbmcPercent = 0;
    int keyPercent = 0;
    int kbmcErr = 0;
    int keyErr = 0;

    uint8_t curLayer = 0;
    bool running = false;

    std::array<SlotSnapshot, kKeySlots> slots{};

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

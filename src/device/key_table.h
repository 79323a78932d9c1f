// What a session knows about its keyboard, as one value: the controller's fields and the
// 90 key slots. The session keeps one under its table lock; a snapshot is a copy of it,
// and the receive side's report steps take one and give back the next.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

#include "keys/keycodes.h"
#include "protocol/protocol.h"

namespace tavrik {

// One slot of the key table.
struct KeySlot {
    uint32_t uid = 0;
    uint8_t shortMac = 0;
    std::array<uint8_t, 4> hid{};  // per layer, as the module holds it
    std::array<uint8_t, 4> vk{};   // per layer, the key code shown for it
    uint8_t flag = 0;
    uint32_t colour = 0;
    char stage = 0;  // 'A' application, 'B' bootloader, 0 unknown
    uint8_t verHi = 0;
    uint8_t verLo = 0;
    bool answered = false;  // the last scan got an answer for this slot
    // The short mac is the slot number an insert report gave, not yet the module's own.
    bool macGuessed = false;

    bool Present() const { return uid != 0 && shortMac != 0; }
    bool HasMacro() const { return std::find(vk.begin(), vk.end(), VK_MARCO) != vk.end(); }
    uint16_t VersionWord() const { return static_cast<uint16_t>(verHi << 8 | verLo); }
    friend bool operator==(const KeySlot&, const KeySlot&) = default;
};

struct KeyCounts {
    int total = 0;
    int assigned = 0;
    int boot = 0;
    int blank = 0;
    friend bool operator==(const KeyCounts&, const KeyCounts&) = default;
};

struct KeyTable {
    // Controller.
    char kbmcStage = 0;
    uint8_t kbmcVerHi = 0;
    uint8_t kbmcVerLo = 0;
    bool verFail = false;
    uint8_t hwVariant = 0xFF;
    std::array<uint8_t, 8> cipherKey{};  // of the enable report, from the version reply
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
    // bootloader makes the minimum 0. The last range known; a snapshot gives the one the
    // slots make now when they make one.
    std::array<uint8_t, 4> keyVerRange{};

    // Online update.
    bool kbmcNewVer = false;
    bool keyNewVer = false;

    uint8_t curLayer = 0;

    std::array<KeySlot, kKeySlots> slots{};

    friend bool operator==(const KeyTable&, const KeyTable&) = default;
};

// Empties a slot's row. A key info reply about an empty slot keeps the UID and short mac
// it gave; the end of the chain keeps the flags.
inline void ClearSlot(KeySlot& k, bool keepUidAndMac, bool keepFlag) {
    if (!keepUidAndMac) {
        k.uid = 0;
        k.shortMac = 0;
        k.macGuessed = false;
    }
    k.hid = {};
    k.vk = {};
    if (!keepFlag) {
        k.flag = 0;
    }
    k.colour = 0;
    k.stage = 0;
    k.verHi = 0;
    k.verLo = 0;
}

// The key firmware range the slots make, or nothing without modules.
inline std::optional<std::array<uint8_t, 4>> KeyVerRangeOf(const KeyTable& table) {
    int lo = 0xFFFF;
    int hi = 0;
    for (const KeySlot& k : table.slots) {
        if (k.vk[0] == VK_WAIT_UPGRADE) {
            lo = 0;
        } else if (k.vk[0] != 0) {
            lo = std::min<int>(lo, k.VersionWord());
            hi = std::max<int>(hi, k.VersionWord());
        }
    }
    if (lo == 0xFFFF && hi == 0) {
        return std::nullopt;
    }
    return std::array<uint8_t, 4>{static_cast<uint8_t>(lo >> 8), static_cast<uint8_t>(lo & 0xFF),
                                  static_cast<uint8_t>(hi >> 8), static_cast<uint8_t>(hi & 0xFF)};
}

// Keeps the range the slots make as the table's; false, the last one kept, without modules.
inline bool StoreKeyVerRange(KeyTable& table) {
    const auto range = KeyVerRangeOf(table);
    if (range) {
        table.keyVerRange = *range;
    }
    return range.has_value();
}

}  // namespace tavrik

// A macro as the keyboard stores it: a flat list of timed entries with a few control
// flags. The playing mode is not stored; marker entries encode it (marco_codec.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tavrik {

// One step of a macro. In memory and in files the delay is little-endian; the device
// protocol sends it high byte first.
struct MarcoEntry {
    uint8_t flag = 0;    // one of MarcoFlag
    uint8_t kv = 0;      // HID value, loop count, loop distance or marker
    uint16_t delay = 0;  // pause in ms after this step

    friend bool operator==(const MarcoEntry&, const MarcoEntry&) = default;
};
static_assert(sizeof(MarcoEntry) == 4);

namespace MarcoFlag {
inline constexpr uint8_t End = 0x00;
inline constexpr uint8_t KeyDown = 0x01;
inline constexpr uint8_t KeyUp = 0x02;
inline constexpr uint8_t WaitKeyUp = 0x04;
inline constexpr uint8_t LoopStart = 0x05;
inline constexpr uint8_t LoopEnd = 0x06;
inline constexpr uint8_t LoopFromBegin = 0x07;
inline constexpr uint8_t ListEnd = 0xFF;  // the keyboard's end mark when a list is read back
}  // namespace MarcoFlag

// kv values of the marker entries.
inline constexpr uint8_t kMarcoSwitchKv = 0x00;          // WaitKeyUp: the DualSec switch
inline constexpr uint8_t kMarcoComboSeparatorKv = 0xFF;  // WaitKeyUp: Combination separator
inline constexpr uint8_t kMarcoEndlessLoopKv = 0x00;     // LoopStart: the AutoLoop head
inline constexpr uint8_t kMarcoLoopFromBeginKv = 4;

inline constexpr bool IsMarcoListEnd(uint8_t flag) {
    return flag == MarcoFlag::End || flag == MarcoFlag::ListEnd;
}

inline constexpr int kMarcoEntryCount = 65;  // 64 steps and the End entry
inline constexpr int kMarcoMaxSteps = 64;
inline constexpr int kMarcoLoopCountMin = 2;
inline constexpr int kMarcoLoopCountMax = 250;
inline constexpr int kMarcoDelayMin = 10;  // range of a delay typed by the user
inline constexpr int kMarcoDelayMax = 60000;
inline constexpr int kMarcoPauseMax = 60000;  // longest recorded pause between two keys
inline constexpr int kMarcoDefaultDelay = 10;

using MarcoEntries = std::array<MarcoEntry, kMarcoEntryCount>;

inline constexpr uint32_t kMarcoMagic = 0x434D4143;  // "CAMC" in file byte order
inline constexpr uint32_t kMarcoVersion = 1;
inline constexpr size_t kMarcoRecordSize = 280;

// The unit in which a macro travels between the editor, the device session and files.
// Only flag and entries matter to the session; magic and version matter to files.
// Files are written field by field (marco_file.h), never by copying this struct.
struct MarcoRecord {
    uint32_t magic = 0;
    uint32_t version = 0;
    std::array<uint8_t, 8> reserved{};
    int32_t flag = 0;  // 1: holds a macro waiting to be written to a key
    MarcoEntries entries{};

    friend bool operator==(const MarcoRecord&, const MarcoRecord&) = default;
};
static_assert(sizeof(MarcoRecord) == kMarcoRecordSize);

enum class MarcoMode : uint8_t {
    SingleShot = 1,
    DualSec = 2,
    ManualLoop = 3,
    AutoLoop = 4,
    Combination = 5,
};

// In the order the editor's mode list shows them.
inline constexpr std::array<MarcoMode, 5> kMarcoModes = {MarcoMode::SingleShot, MarcoMode::DualSec,
                                                         MarcoMode::ManualLoop, MarcoMode::AutoLoop,
                                                         MarcoMode::Combination};

bool IsValidMarcoMode(MarcoMode mode);

// Key of the mode's caption in the "ButtonStr" section of the text tables.
std::string_view MarcoModeTextKey(MarcoMode mode);

// Stable name for JSON and the command line ("SingleShot", ...); empty for a bad mode.
std::string_view MarcoModeName(MarcoMode mode);
// Accepts the names above, letter case ignored, and the numbers "1".."5".
std::optional<MarcoMode> ParseMarcoMode(std::string_view text);

// Entries the encoding adds around the steps of a mode.
int MarcoModeOverhead(MarcoMode mode);

// Steps the editor allows in `mode` on a keyboard that holds `baseLimit` steps.
int MarcoStepLimit(int baseLimit, MarcoMode mode);

}  // namespace tavrik

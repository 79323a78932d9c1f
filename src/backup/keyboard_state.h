// What a keyboard backup holds: the controller's modes and, for every key module by its
// UID, its layers, flag byte, colour and macro.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "macro/marco.h"

namespace tavrik::backup {

// A macro as far as its End entry, which is included.
using Macro = std::vector<MarcoEntry>;

struct ModuleState {
    uint32_t uid = 0;
    int slot = 0;
    char stage = 'A';  // 'B': runs its bootloader, nothing else is known of it
    std::array<uint8_t, 4> hid{};
    uint8_t flag = 0;
    // None when layer 0 has no assignment: the keyboard neither reports nor takes a colour
    // for such a key.
    std::optional<uint32_t> colour;
    std::optional<Macro> macro;  // none: no layer plays a macro
    bool macroUnread = false;    // a macro layer whose macro could not be read

    bool operator==(const ModuleState&) const = default;
};

struct Modes {
    bool nkro = false;
    bool overload = false;
    int modules = 0;
    int usbRate = 0;

    bool operator==(const Modes&) const = default;
};

struct KeyboardState {
    std::string product;
    std::string serial;
    int kind = 0;
    char stage = 0;
    int verHi = 0;
    int verLo = 0;
    Modes modes;
    std::vector<ModuleState> modules;  // in slot order

    bool operator==(const KeyboardState&) const = default;
};

// The keyboard keeps four bits per colour channel.
inline constexpr uint32_t kColourBits = 0x00F0F0F0;

// Layer 0 decides whether a key has a colour of its own.
bool TakesColour(uint8_t layer0Hid);
bool PlaysMacro(const std::array<uint8_t, 4>& hid);
int StepCount(const Macro& m);
// The entries of a key's macro buffer up to the End entry, which is added when missing.
Macro MacroOfEntries(const MarcoEntries& entries);

}  // namespace tavrik::backup

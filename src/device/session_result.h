// Results of the session's user operations. Every front end (window, command line,
// restore) refuses the same inputs with the same codes, and shows the same words for
// them through SessionResultText.
#pragma once

#include <string>
#include <string_view>

namespace tavrik {

inline constexpr int kSessionOk = 0;
// -1 .. -4 keep the values the macro steps have always returned.
inline constexpr int kErrBadSlot = -1;           // slot outside 0..89
inline constexpr int kErrNoMacro = -2;           // the key plays no macro
inline constexpr int kErrMacroNoAnswer = -3;     // a macro read got no reply
inline constexpr int kErrMacroWrongAnswer = -4;  // a macro read got a reply for another entry
inline constexpr int kErrNoModule = -10;         // no key module in the slot
inline constexpr int kErrModuleBootloader = -11;
inline constexpr int kErrBadLayer = -12;           // layer outside 0..3
inline constexpr int kErrStateKeyCode = -13;       // 0x3A, 0x3B, 0x3C mark a key's state
inline constexpr int kErrNoHidValue = -14;         // the keyboard cannot store the key code
inline constexpr int kErrLayerKeyOffLayer0 = -15;  // K/LT layer keys go on layer 0 only
inline constexpr int kErrMacroOnOtherLayer = -16;  // a key holds one macro, on one layer
inline constexpr int kErrMacroEmpty = -17;
inline constexpr int kErrMacroTooLong = -18;
inline constexpr int kErrControllerBootloader = -19;
inline constexpr int kErrKeyUnassigned = -20;  // a colour for a key waiting for its code
inline constexpr int kErrBusy = -21;           // the keyboard stayed busy past the limit
inline constexpr int kErrNoAnswer = -22;       // the controller did not answer
inline constexpr int kErrUsbRate = -23;        // not a USB report interval the controller takes
inline constexpr int kErrCountWithoutOverload = -24;   // a module count is an overload setting
inline constexpr int kErrOverloadCountRange = -25;     // outside 42..90
inline constexpr int kErrOverloadCountNotAbove = -26;  // not above the standard count
inline constexpr int kErrMacroOnLayer = -27;           // a key code would remove the layer's macro
inline constexpr int kErrMacroInvalid = -28;  // breaks a rule of its mode (CheckMarcoEntries)

// A short English sentence for a result, e.g. for "tavrikctl set-key: <text>".
const char* SessionResultText(int result);
// Its key in the text tables' "SessionResult" section (app/texts.h gives it in a language).
const char* SessionResultKey(int result);

// A refusal of the macro read-back before a rewrite: the key was left unchanged.
constexpr bool IsMacroReadFailure(int result) {
    return result == kErrMacroNoAnswer || result == kErrMacroWrongAnswer;
}

}  // namespace tavrik

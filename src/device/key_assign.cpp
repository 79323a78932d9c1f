#include "device/key_assign.h"

#include "device/session_result.h"
#include "keys/keycodes.h"

namespace tavrik {

uint8_t UpdatedKeyFlag(uint8_t flag, uint8_t hid, int layer) {
    if (IsLayerKeyHid(hid)) {
        if ((hid & 0x08) != 0) {
            flag = static_cast<uint8_t>(flag & ~0x01);
        } else {
            flag = static_cast<uint8_t>(flag | 0x01);
        }
    } else if (layer == 0) {
        flag = static_cast<uint8_t>(flag | 0x01);
    }
    if (layer >= 1 && layer <= 3) {
        flag = static_cast<uint8_t>(flag | (1u << layer));
    }
    return flag;
}

int KeyCodeRefusal(int layer, uint8_t keyCode) {
    if (layer < 0 || layer > 3) {
        return kErrBadLayer;
    }
    if (keyCode == VK_MARCO || keyCode == VK_WAIT_UPGRADE || keyCode == VK_WAIT_SET) {
        return kErrStateKeyCode;
    }
    const uint8_t hid = HidOfKeyCode(keyCode);
    if (hid == 0) {
        return kErrNoHidValue;
    }
    // K/LT keys (bit 3 of the value) only work from the base layer.
    if (layer != 0 && IsLayerKeyHid(hid) && (hid & 0x08) != 0) {
        return kErrLayerKeyOffLayer0;
    }
    return kSessionOk;
}

int KeyAssignRefusal(const std::array<uint8_t, 4>& vk, int layer, uint8_t keyCode,
                     bool replaceMacro) {
    if (const int r = KeyCodeRefusal(layer, keyCode); r != kSessionOk) {
        return r;
    }
    if (vk[static_cast<size_t>(layer)] == VK_MARCO && !replaceMacro) {
        return kErrMacroOnLayer;
    }
    return kSessionOk;
}

namespace {

struct ResultWords {
    int result;
    const char* key;  // in the text tables' "SessionResult" section
    const char* english;
};

constexpr ResultWords kResultWords[] = {
    {kSessionOk, "done", "done"},
    {kErrBadSlot, "badSlot", "the slot is outside 0..89"},
    {kErrNoMacro, "noMacro", "the key plays no macro"},
    {kErrMacroNoAnswer, "macroNoAnswer",
     "the key's macro could not be read back (no answer), so the key was left unchanged to "
     "keep it"},
    {kErrMacroWrongAnswer, "macroWrongAnswer",
     "the key's macro could not be read back (wrong answer), so the key was left unchanged to "
     "keep it"},
    {kErrNoModule, "noModule", "there is no key module in the slot"},
    {kErrModuleBootloader, "moduleBootloader",
     "the key module runs its bootloader; upgrade its firmware first"},
    {kErrBadLayer, "badLayer", "the layer is outside 0..3"},
    {kErrStateKeyCode, "stateKeyCode",
     "the key code marks a key's state and cannot be assigned; store a macro for a macro key"},
    {kErrNoHidValue, "noHidValue",
     "the key code has no HID value, so the keyboard cannot store it"},
    {kErrLayerKeyOffLayer0, "layerKeyOffLayer0", "K/LT layer keys go on layer 0 only"},
    {kErrMacroOnOtherLayer, "macroOnOtherLayer",
     "the key already plays a macro on another layer; a key holds one macro, on one layer"},
    {kErrMacroEmpty, "macroEmpty", "the macro holds no steps"},
    {kErrMacroTooLong, "macroTooLong", "the macro has more entries than this keyboard holds"},
    {kErrControllerBootloader, "controllerBootloader",
     "the controller runs its bootloader; upgrade its firmware first"},
    {kErrKeyUnassigned, "keyUnassigned",
     "the key has no assignment on layer 0; give it a key first"},
    {kErrBusy, "busy", "the keyboard stayed busy; try again"},
    {kErrNoAnswer, "noAnswer", "the keyboard did not answer"},
    {kErrUsbRate, "usbRate", "the USB report interval is 1, 2, 3, 4, 5, 8 or 10 ms"},
    {kErrCountWithoutOverload, "countWithoutOverload",
     "a module count is a setting of overload mode, which would be off"},
    {kErrOverloadCountRange, "overloadCountRange",
     "the module count of overload mode is 42..90, or 0 for the controller's own limits"},
    {kErrOverloadCountNotAbove, "overloadCountNotAbove",
     "the module count of overload mode must be above the controller's standard count, or the "
     "controller runs without overload"},
    {kErrMacroOnLayer, "macroOnLayer",
     "the layer plays the key's macro, which a key code there would remove"},
    {kErrMacroInvalid, "macroInvalid",
     "the macro breaks a rule of its mode (a loop, an entry, a delay or a marker); see "
     "'tavrikctl macro show'"},
};

constexpr ResultWords kRefused{0, "refused", "the keyboard refused the change"};

const ResultWords& WordsOf(int result) {
    for (const ResultWords& w : kResultWords) {
        if (w.result == result) {
            return w;
        }
    }
    return kRefused;
}

}  // namespace

const char* SessionResultText(int result) {
    return WordsOf(result).english;
}

const char* SessionResultKey(int result) {
    return WordsOf(result).key;
}

}  // namespace tavrik

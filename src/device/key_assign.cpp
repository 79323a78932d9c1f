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

const char* SessionResultText(int result) {
    switch (result) {
        case kSessionOk:
            return "done";
        case kErrBadSlot:
            return "the slot is outside 0..89";
        case kErrNoMacro:
            return "the key plays no macro";
        case kErrMacroNoAnswer:
            return "the key's macro could not be read back (no answer), so the key was left "
                   "unchanged to keep it";
        case kErrMacroWrongAnswer:
            return "the key's macro could not be read back (wrong answer), so the key was left "
                   "unchanged to keep it";
        case kErrNoModule:
            return "there is no key module in the slot";
        case kErrModuleBootloader:
            return "the key module runs its bootloader; upgrade its firmware first";
        case kErrBadLayer:
            return "the layer is outside 0..3";
        case kErrStateKeyCode:
            return "the key code marks a key's state and cannot be assigned; store a macro "
                   "for a macro key";
        case kErrNoHidValue:
            return "the key code has no HID value, so the keyboard cannot store it";
        case kErrLayerKeyOffLayer0:
            return "K/LT layer keys go on layer 0 only";
        case kErrMacroOnOtherLayer:
            return "the key already plays a macro on another layer; a key holds one macro, on "
                   "one layer";
        case kErrMacroEmpty:
            return "the macro holds no steps";
        case kErrMacroTooLong:
            return "the macro has more entries than this keyboard holds";
        case kErrControllerBootloader:
            return "the controller runs its bootloader; upgrade its firmware first";
        case kErrKeyUnassigned:
            return "the key has no assignment on layer 0; give it a key first";
        case kErrBusy:
            return "the keyboard stayed busy; try again";
        case kErrNoAnswer:
            return "the keyboard did not answer";
        case kErrUsbRate:
            return "the USB report interval is 1, 2, 3, 4, 5, 8 or 10 ms";
        case kErrCountWithoutOverload:
            return "a module count is a setting of overload mode, which would be off";
        case kErrOverloadCountRange:
            return "the module count of overload mode is 42..90, or 0 for the controller's "
                   "own limits";
        case kErrOverloadCountNotAbove:
            return "the module count of overload mode must be above the controller's "
                   "standard count, or the controller runs without overload";
        case kErrMacroOnLayer:
            return "the layer plays the key's macro, which a key code there would remove";
        default:
            return "the keyboard refused the change";
    }
}

}  // namespace tavrik

// Worker threads tell the windows about changes through numbered notifications.
// Delivery is synchronous: Notify returns once the receiver has handled it.
#pragma once

#include <cstdint>

namespace tavrik {

inline constexpr uint32_t kWmUser = 0x400;

// Notification codes the engine sends.
inline constexpr uint32_t UM_INFO_DLG_VK_CHANGE = kWmUser + 0x17;
inline constexpr uint32_t UM_INFO_DLG_SUMMARY_CHANGE = kWmUser + 0x19;
inline constexpr uint32_t UM_INFO_DLG_UPDATE_ALL_KEY_DISPLAY = kWmUser + 0x1A;
inline constexpr uint32_t UM_KEY_PRESSED = kWmUser + 0x1B;
inline constexpr uint32_t UM_KEY_RELEASED = kWmUser + 0x1C;
inline constexpr uint32_t UM_INFO_UPDATE_CHECK = kWmUser + 0x1E;
inline constexpr uint32_t UM_OTHER_KEYBOARD_SWITCH_LAYER = kWmUser + 0x28;
inline constexpr uint32_t UM_KBD_KIND_CHANGE = kWmUser + 0x2E;

class NotifyTarget {
public:
    virtual ~NotifyTarget() = default;
    virtual void Notify(uint32_t code, uint32_t wParam, uint32_t lParam) = 0;
};

}  // namespace tavrik

// Codes the windows' own controls send to their window, beside the engine's codes in
// device/notify.h. Same numbering: WM_USER + n.
#pragma once

#include <cstdint>

#include "device/notify.h"

namespace tavrik::ui {

inline constexpr uint32_t UM_TRAY_NOTIFY = kWmUser + 0x01;
inline constexpr uint32_t UM_HIDE_TO_TRAY = kWmUser + 0x02;
inline constexpr uint32_t UM_BACK = kWmUser + 0x03;
inline constexpr uint32_t UM_CHANGE_ONE_KEY_LIGHT_COLOR = kWmUser + 0x04;
inline constexpr uint32_t UM_CHANGE_ONE_KEY_VK = kWmUser + 0x05;
inline constexpr uint32_t UM_SHOW_VK = kWmUser + 0x06;
inline constexpr uint32_t UM_RESTORE_VK = kWmUser + 0x07;
inline constexpr uint32_t UM_START_UPGRADE = kWmUser + 0x08;
inline constexpr uint32_t UM_REFRESH_SCAN = kWmUser + 0x09;
inline constexpr uint32_t UM_CHECK_BUTTON = kWmUser + 0x0A;
inline constexpr uint32_t UM_USB_POLL_CHANGE = kWmUser + 0x0B;
inline constexpr uint32_t UM_MARCO_SET = kWmUser + 0x0D;
inline constexpr uint32_t UM_START_RECORD = kWmUser + 0x0E;
inline constexpr uint32_t UM_STOP_RECORD = kWmUser + 0x0F;
inline constexpr uint32_t UM_CLEAR_RECORD_MARCO = kWmUser + 0x10;
inline constexpr uint32_t UM_SAVE_RECORD_MARCO = kWmUser + 0x12;
inline constexpr uint32_t UM_START_RECORD_MARCO = kWmUser + 0x14;
inline constexpr uint32_t UM_READ_RECORD_MARCO = kWmUser + 0x15;
inline constexpr uint32_t UM_ONE_CLICK_PROGRAM_KEY = kWmUser + 0x16;
inline constexpr uint32_t UM_KEYBOARD_SELECT = kWmUser + 0x1D;
inline constexpr uint32_t UM_INSERT_KEY_UP_FLAG = kWmUser + 0x1F;
inline constexpr uint32_t UM_INSERT_GUI_DOWN = kWmUser + 0x20;
inline constexpr uint32_t UM_INSERT_GUI_UP = kWmUser + 0x21;
inline constexpr uint32_t UM_DEL_ONE_MARCO_ENTRY = kWmUser + 0x22;
inline constexpr uint32_t UM_CHANGE_MARCO_DELAY = kWmUser + 0x25;
inline constexpr uint32_t UM_LAYER_SELECT = kWmUser + 0x27;
inline constexpr uint32_t UM_INSERT_MARCO_LOOP_START_FLAG = kWmUser + 0x29;
inline constexpr uint32_t UM_INSERT_MARCO_LOOP_END_FLAG = kWmUser + 0x2A;
inline constexpr uint32_t UM_LANGUAGE_SELECT = kWmUser + 0x2B;
inline constexpr uint32_t UM_CHANGE_MAX_KEY_COUNT = kWmUser + 0x2C;
inline constexpr uint32_t UM_PAGE_SWITCH = kWmUser + 0x2D;
inline constexpr uint32_t UM_SAVE_RECORD_MARCO_TO_FILE = kWmUser + 0x2F;
inline constexpr uint32_t UM_READ_RECORD_MARCO_FROM_FILE = kWmUser + 0x30;
// Undo and redo of the last key change (main window) or step list edit (macro editor).
inline constexpr uint32_t UM_UNDO = kWmUser + 0x31;
inline constexpr uint32_t UM_REDO = kWmUser + 0x32;

// The tray icon's identifier in UM_TRAY_NOTIFY's wParam.
inline constexpr uint32_t kTrayIconId = 128;
// "All keys" in UM_CHANGE_ONE_KEY_LIGHT_COLOR's wParam.
inline constexpr uint32_t kAllKeys = 0xFF;

// Colours as the keyboard takes them: 0x00BBGGRR.
inline constexpr uint32_t kPanelGrey = 0x646464;
inline constexpr uint32_t kMagenta = 0xFF00FF;
inline constexpr uint32_t kMarkYellow = 0x00D7FF;
inline constexpr uint32_t kWhite = 0xFFFFFF;
inline constexpr uint32_t kSwitchPurple = 0x960096;
inline constexpr uint32_t kBadgeRed = 0x0000FF;

}  // namespace tavrik::ui

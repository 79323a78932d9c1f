// The keyboards the tool drives: which HID interface of which device is the vendor
// interface of a keyboard's controller, and how a device path is recognised as one.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "hid/hid_backend.h"

namespace tavrik {

struct DeviceTableRow {
    uint16_t vendorId;
    uint16_t productId;
    uint16_t version;  // selects the controller variant
    int interfaceNumber;
};

inline constexpr std::array<DeviceTableRow, 4> kDeviceTable = {{
    {0x0483, 0x5710, 0xCC00, 1},
    {0xBCD0, 0x1100, 0xCC01, 2},
    {0xBCD0, 0x1100, 0xCC02, 1},
    {0xBCD0, 0x1100, 0xCC03, 1},
}};

// First row whose vendor ID, product ID and version all equal the arguments, or -1.
int MatchDeviceTable(int vid, int pid, int ver);

// Windows-style device paths carry the IDs as text ("\\?\HID#VID_BCD0&PID_1100&MI_01#...");
// the path matches when it begins with the row's upper-case or lower-case pattern,
// compared case-sensitively.
bool MatchRowPath(int row, std::string_view path);

// Linux paths (/dev/hidrawN) carry nothing: compare the enumeration's vendor ID, product
// ID and interface number with the row. Without an interface number the path text is
// tried instead.
bool MatchRowPath(int row, const HidDeviceInfo& info);

// Whether any row's text pattern matches the path (version not considered).
bool IsOwnDevicePath(std::string_view path);

// For an arrival path: looks the device up in the backend's enumeration and compares
// its IDs and interface number with every row (version not considered). A path the
// enumeration does not list falls back to the text patterns.
bool IsOwnDevicePath(HidBackend& backend, std::string_view path);

}  // namespace tavrik

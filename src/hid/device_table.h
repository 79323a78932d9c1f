// The keyboards the tool drives: which HID interface of which device is the vendor
// interface of a keyboard's controller, and how a device path is recognised as one.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "hid/hid_backend.h"

namespace tavrik {

// Whether the window shows the buttons that switch between the two pages of 45 keys.
enum class PageButtons {
    Shown,
    Hidden,
    ShownOver45Modules,  // only when the keyboard takes more than 45 modules
};

// Whether a macro may repeat by itself.
enum class AutoLoop {
    Never,
    Always,
    WithNewFirmware,  // once the controller firmware loops macros (FirmwareLoopsMarco)
};

// One kind of keyboard: how its vendor interface shows on USB and what the tool may do
// with it.
struct DeviceTableRow {
    uint16_t vendorId;
    uint16_t productId;
    uint16_t version;  // bcdDevice; selects the controller variant
    int interfaceNumber;
    int kind;
    int marcoMaxSteps;       // macro steps the keyboard holds
    bool kbmcUpdatable;      // its controller firmware may be upgraded
    bool relaysLayers;       // its layer keys switch the other keyboards' layers too
    bool needsEnableReport;  // answers only after the enciphered enable report
    bool announcesKind;      // the window redraws its buttons when the kind is recognised
    bool hideLayerBtn;
    bool hideAllColorBtn;
    PageButtons pageButtons;
    AutoLoop autoLoop;
};

inline constexpr std::array<DeviceTableRow, 4> kDeviceTable = {{
    {.vendorId = 0x0483,
     .productId = 0x5710,
     .version = 0xCC00,
     .interfaceNumber = 1,
     .kind = 1,
     .marcoMaxSteps = 64,
     .kbmcUpdatable = true,
     .relaysLayers = true,
     .needsEnableReport = false,
     .announcesKind = false,
     .hideLayerBtn = false,
     .hideAllColorBtn = false,
     .pageButtons = PageButtons::ShownOver45Modules,
     .autoLoop = AutoLoop::Always},
    {.vendorId = 0xBCD0,
     .productId = 0x1100,
     .version = 0xCC01,
     .interfaceNumber = 2,
     .kind = 2,
     .marcoMaxSteps = 24,
     .kbmcUpdatable = false,
     .relaysLayers = false,
     .needsEnableReport = false,
     .announcesKind = true,
     .hideLayerBtn = true,
     .hideAllColorBtn = false,
     .pageButtons = PageButtons::Hidden,
     .autoLoop = AutoLoop::WithNewFirmware},
    {.vendorId = 0xBCD0,
     .productId = 0x1100,
     .version = 0xCC02,
     .interfaceNumber = 1,
     .kind = 3,
     .marcoMaxSteps = 64,
     .kbmcUpdatable = true,
     .relaysLayers = true,
     .needsEnableReport = true,
     .announcesKind = false,
     .hideLayerBtn = false,
     .hideAllColorBtn = false,
     .pageButtons = PageButtons::Shown,
     .autoLoop = AutoLoop::Never},
    {.vendorId = 0xBCD0,
     .productId = 0x1100,
     .version = 0xCC03,
     .interfaceNumber = 1,
     .kind = 4,
     .marcoMaxSteps = 64,
     .kbmcUpdatable = false,
     .relaysLayers = false,
     .needsEnableReport = false,
     .announcesKind = true,
     .hideLayerBtn = true,
     .hideAllColorBtn = false,
     .pageButtons = PageButtons::Hidden,
     .autoLoop = AutoLoop::Never},
}};

// The row of the device the session talks to: by vendor ID, product ID and version; a
// device no row names is taken for the standard keyboard (the first row).
const DeviceTableRow& KindRowFor(int vid, int pid, int ver);
// The row of a keyboard kind, or null for a kind no row has (0: not recognised yet).
const DeviceTableRow* RowOfKind(int kind);

// Layer keys of an unrecognised keyboard are relayed, as on the standard one.
bool KindRelaysLayers(int kind);
bool HidePageButtons(const DeviceTableRow& row, int keyMax);

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

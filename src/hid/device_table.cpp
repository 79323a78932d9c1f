#include "hid/device_table.h"

#include <cstdio>
#include <string>

namespace tavrik {

namespace {

bool ValidRow(int row) {
    return row >= 0 && row < static_cast<int>(kDeviceTable.size());
}

bool StartsWithPattern(std::string_view path, const char* fmt, const DeviceTableRow& r) {
    char pattern[64];
    const int n = std::snprintf(pattern, sizeof pattern, fmt, unsigned{r.vendorId},
                                unsigned{r.productId}, static_cast<unsigned>(r.interfaceNumber));
    if (n <= 0 || static_cast<size_t>(n) >= sizeof pattern) {
        return false;
    }
    return path.starts_with(std::string_view(pattern, static_cast<size_t>(n)));
}

}  // namespace

const DeviceTableRow& KindRowFor(int vid, int pid, int ver) {
    const int row = MatchDeviceTable(vid, pid, ver);
    return kDeviceTable[row < 0 ? 0 : static_cast<size_t>(row)];
}

const DeviceTableRow* RowOfKind(int kind) {
    for (const auto& r : kDeviceTable) {
        if (r.kind == kind) {
            return &r;
        }
    }
    return nullptr;
}

bool KindRelaysLayers(int kind) {
    const DeviceTableRow* row = RowOfKind(kind);
    return row == nullptr || row->relaysLayers;
}

bool HidePageButtons(const DeviceTableRow& row, int keyMax) {
    switch (row.pageButtons) {
        case PageButtons::Hidden:
            return true;
        case PageButtons::ShownOver45Modules:
            return keyMax <= 45;
        case PageButtons::Shown:
            break;
    }
    return false;
}

int MatchDeviceTable(int vid, int pid, int ver) {
    for (size_t i = 0; i < kDeviceTable.size(); ++i) {
        const auto& r = kDeviceTable[i];
        if (r.vendorId == vid && r.productId == pid && r.version == ver) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool MatchRowPath(int row, std::string_view path) {
    if (!ValidRow(row)) {
        return false;
    }
    const auto& r = kDeviceTable[static_cast<size_t>(row)];
    // The platform writes paths in either spelling; one of the two must match exactly.
    return StartsWithPattern(path, "\\\\?\\HID#VID_%04X&PID_%04X&MI_%02X", r) ||
           StartsWithPattern(path, "\\\\?\\hid#vid_%04x&pid_%04x&mi_%02x", r);
}

bool MatchRowPath(int row, const HidDeviceInfo& info) {
    if (!ValidRow(row)) {
        return false;
    }
    if (info.interfaceNumber < 0) {
        return MatchRowPath(row, std::string_view(info.path));
    }
    const auto& r = kDeviceTable[static_cast<size_t>(row)];
    return info.vendorId == r.vendorId && info.productId == r.productId &&
           info.interfaceNumber == r.interfaceNumber;
}

bool IsOwnDevicePath(std::string_view path) {
    for (int row = 0; row < static_cast<int>(kDeviceTable.size()); ++row) {
        if (MatchRowPath(row, path)) {
            return true;
        }
    }
    return false;
}

bool IsOwnDevicePath(HidBackend& backend, std::string_view path) {
    for (const HidDeviceInfo& info : backend.Enumerate()) {
        if (info.path != path) {
            continue;
        }
        for (int row = 0; row < static_cast<int>(kDeviceTable.size()); ++row) {
            if (MatchRowPath(row, info)) {
                return true;
            }
        }
        return false;
    }
    return IsOwnDevicePath(path);
}

}  // namespace tavrik

#include "hid/device_monitor.h"

#include <poll.h>

#include <cerrno>

#include "hid/device_table.h"

namespace tavrik {

std::vector<DeviceEvent> DeviceMonitor::Wait(int limitMs) {
    pollfd p{Fd(), POLLIN, 0};
    int n = 0;
    do {
        n = ::poll(&p, 1, limitMs);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? Process() : std::vector<DeviceEvent>{};
}

namespace {

std::optional<unsigned> ParseHex(std::string_view text, size_t digits) {
    // sysfs attributes end with a newline.
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.remove_suffix(1);
    }
    if (text.size() != digits) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : text) {
        int d = -1;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        value = value * 16 + static_cast<unsigned>(d);
    }
    return value;
}

}  // namespace

std::optional<UsbInterfaceIds> ParseUsbParentAttrs(const UsbParentAttrs& attrs) {
    const auto vid = ParseHex(attrs.idVendor, 4);
    const auto pid = ParseHex(attrs.idProduct, 4);
    const auto iface = ParseHex(attrs.bInterfaceNumber, 2);
    if (!vid || !pid || !iface) {
        return std::nullopt;
    }
    return UsbInterfaceIds{static_cast<uint16_t>(*vid), static_cast<uint16_t>(*pid),
                           static_cast<int>(*iface)};
}

bool IsTableKeyboardInterface(const UsbInterfaceIds& ids) {
    for (int row = 0; row < static_cast<int>(kDeviceTable.size()); ++row) {
        HidDeviceInfo info;
        info.vendorId = ids.vendorId;
        info.productId = ids.productId;
        info.interfaceNumber = ids.interfaceNumber;
        if (ids.interfaceNumber >= 0 && MatchRowPath(row, info)) {
            return true;
        }
    }
    return false;
}

}  // namespace tavrik

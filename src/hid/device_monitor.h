// Keyboards arriving and going while the program runs. A monitor offers a descriptor
// that becomes readable when something happened; the owner thread watches it in its
// event loop (or polls it) and then calls Process, on that thread only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

// Changed: what the keyboard holds was changed behind the host's back (another program on
// a shared simulator file) without a report of the keyboard's own.
enum class DeviceChange { Arrived, Removed, Changed };

struct DeviceEvent {
    DeviceChange change = DeviceChange::Arrived;
    std::string path;  // the interface's device path, as the HID backend names it

    friend bool operator==(const DeviceEvent&, const DeviceEvent&) = default;
};

class DeviceMonitor {
public:
    virtual ~DeviceMonitor() = default;
    // Readable when Process has work; never closed while the monitor lives.
    virtual int Fd() const = 0;
    // Takes what happened since the last call, in order, without blocking.
    virtual std::vector<DeviceEvent> Process() = 0;
    // For owners without an event loop: waits at most `limitMs` for the descriptor,
    // then processes.
    std::vector<DeviceEvent> Wait(int limitMs);
};

// Real keyboards: a udev monitor on subsystem hidraw that reports only interfaces of a
// device-table keyboard. Null, with `error` set, when udev cannot be reached.
std::unique_ptr<DeviceMonitor> MakeUdevMonitor(std::string* error = nullptr);

// What udev tells about a hidraw node's USB parents, as attribute texts.
struct UsbParentAttrs {
    std::string idVendor;          // of the usb_device parent, four hex digits
    std::string idProduct;         // of the usb_device parent
    std::string bInterfaceNumber;  // of the usb_interface parent, two hex digits
};

struct UsbInterfaceIds {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    int interfaceNumber = -1;

    friend bool operator==(const UsbInterfaceIds&, const UsbInterfaceIds&) = default;
};

// Nothing when an attribute is missing or not hex of its size.
std::optional<UsbInterfaceIds> ParseUsbParentAttrs(const UsbParentAttrs& attrs);
// Whether the interface is the vendor interface of a device-table row (the version is
// checked later, when a transport opens it).
bool IsTableKeyboardInterface(const UsbInterfaceIds& ids);

}  // namespace tavrik

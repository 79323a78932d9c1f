// Real hot-plug: udev's hidraw events, kept to the vendor interfaces of table keyboards.
#include <fcntl.h>
#include <libudev.h>

#include <set>

#include "hid/device_monitor.h"
#include "hid/hid_backend.h"

namespace tavrik {
namespace {

std::string Attr(udev_device* device, const char* name) {
    const char* value = device ? udev_device_get_sysattr_value(device, name) : nullptr;
    return value ? value : "";
}

// The vendor, product and interface number sit on the node's USB parents.
bool IsKeyboardNode(udev_device* node) {
    udev_device* iface =
        udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_interface");
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_device");
    if (!iface || !usb) {
        return false;
    }
    const auto ids = ParseUsbParentAttrs(
        {Attr(usb, "idVendor"), Attr(usb, "idProduct"), Attr(iface, "bInterfaceNumber")});
    return ids && IsTableKeyboardInterface(*ids);
}

class UdevMonitor final : public DeviceMonitor {
public:
    ~UdevMonitor() override {
        if (monitor_) {
            udev_monitor_unref(monitor_);
        }
        if (udev_) {
            udev_unref(udev_);
        }
    }

    bool Start(std::string* error) {
        udev_ = udev_new();
        monitor_ = udev_ ? udev_monitor_new_from_netlink(udev_, "udev") : nullptr;
        if (!monitor_ ||
            udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor_) < 0) {
            if (error) {
                *error = "cannot listen to udev for keyboards plugged in or out";
            }
            return false;
        }
        const int fd = udev_monitor_get_fd(monitor_);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        RememberPresent();
        return true;
    }

    int Fd() const override { return udev_monitor_get_fd(monitor_); }

    std::vector<DeviceEvent> Process() override {
        std::vector<DeviceEvent> events;
        while (udev_device* d = udev_monitor_receive_device(monitor_)) {
            const char* action = udev_device_get_action(d);
            const char* node = udev_device_get_devnode(d);
            if (action && node) {
                const std::string path = node;
                const std::string_view what = action;
                // At removal the parents are gone already: go by the nodes seen arriving.
                if (what == "add" && IsKeyboardNode(d)) {
                    keyboards_.insert(path);
                    events.push_back({DeviceChange::Arrived, path});
                } else if (what == "remove" && keyboards_.erase(path) > 0) {
                    events.push_back({DeviceChange::Removed, path});
                }
            }
            udev_device_unref(d);
        }
        return events;
    }

private:
    void RememberPresent() {
        udev_enumerate* e = udev_enumerate_new(udev_);
        if (!e) {
            return;
        }
        udev_enumerate_add_match_subsystem(e, "hidraw");
        udev_enumerate_scan_devices(e);
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
            udev_device* d = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
            if (!d) {
                continue;
            }
            if (const char* node = udev_device_get_devnode(d); node && IsKeyboardNode(d)) {
                keyboards_.insert(node);
            }
            udev_device_unref(d);
        }
        udev_enumerate_unref(e);
    }

    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::set<std::string> keyboards_;
};

}  // namespace

std::unique_ptr<DeviceMonitor> MakeUdevMonitor(std::string* error) {
    auto monitor = std::make_unique<UdevMonitor>();
    if (!monitor->Start(error)) {
        return nullptr;
    }
    return monitor;
}

std::unique_ptr<DeviceMonitor> HidBackend::MakeMonitor(std::string* error) {
    return MakeUdevMonitor(error);
}

}  // namespace tavrik

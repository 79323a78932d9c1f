// Real hot-plug: udev's hidraw events, kept to the vendor interfaces of table keyboards.
#include <fcntl.h>

#include <set>

#include "hid/device_monitor.h"
#include "hid/hid_backend.h"
#include "hid/native_libs.h"

namespace tavrik {
namespace {

std::string Attr(const UdevLib& lib, udev_device* device, const char* name) {
    const char* value = device ? lib.deviceAttr(device, name) : nullptr;
    return value ? value : "";
}

// The vendor, product and interface number sit on the node's USB parents.
bool IsKeyboardNode(const UdevLib& lib, udev_device* node) {
    udev_device* iface = lib.deviceParent(node, "usb", "usb_interface");
    udev_device* usb = lib.deviceParent(node, "usb", "usb_device");
    if (!iface || !usb) {
        return false;
    }
    const auto ids = ParseUsbParentAttrs({Attr(lib, usb, "idVendor"), Attr(lib, usb, "idProduct"),
                                          Attr(lib, iface, "bInterfaceNumber")});
    return ids && IsTableKeyboardInterface(*ids);
}

class UdevMonitor final : public DeviceMonitor {
public:
    explicit UdevMonitor(const UdevLib& lib) : lib_(lib) {}

    ~UdevMonitor() override {
        if (monitor_) {
            lib_.monitorUnref(monitor_);
        }
        if (udev_) {
            lib_.unref(udev_);
        }
    }

    bool Start(std::string* error) {
        udev_ = lib_.newContext();
        monitor_ = udev_ ? lib_.monitorNew(udev_, "udev") : nullptr;
        if (!monitor_ || lib_.monitorFilter(monitor_, "hidraw", nullptr) < 0 ||
            lib_.monitorEnable(monitor_) < 0) {
            if (error) {
                *error = "cannot listen to udev for keyboards plugged in or out";
            }
            return false;
        }
        const int fd = lib_.monitorFd(monitor_);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        RememberPresent();
        return true;
    }

    int Fd() const override { return lib_.monitorFd(monitor_); }

    std::vector<DeviceEvent> Process() override {
        std::vector<DeviceEvent> events;
        while (udev_device* d = lib_.monitorReceive(monitor_)) {
            const char* action = lib_.deviceAction(d);
            const char* node = lib_.deviceNode(d);
            if (action && node) {
                const std::string path = node;
                const std::string_view what = action;
                // At removal the parents are gone already: go by the nodes seen arriving.
                if (what == "add" && IsKeyboardNode(lib_, d)) {
                    keyboards_.insert(path);
                    events.push_back({DeviceChange::Arrived, path});
                } else if (what == "remove" && keyboards_.erase(path) > 0) {
                    events.push_back({DeviceChange::Removed, path});
                }
            }
            lib_.deviceUnref(d);
        }
        return events;
    }

private:
    void RememberPresent() {
        udev_enumerate* e = lib_.enumerateNew(udev_);
        if (!e) {
            return;
        }
        lib_.enumerateMatch(e, "hidraw");
        lib_.enumerateScan(e);
        for (udev_list_entry* entry = lib_.enumerateFirst(e); entry != nullptr;
             entry = lib_.entryNext(entry)) {
            udev_device* d = lib_.deviceFromSyspath(udev_, lib_.entryName(entry));
            if (!d) {
                continue;
            }
            if (const char* node = lib_.deviceNode(d); node && IsKeyboardNode(lib_, d)) {
                keyboards_.insert(node);
            }
            lib_.deviceUnref(d);
        }
        lib_.enumerateUnref(e);
    }

    const UdevLib& lib_;
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::set<std::string> keyboards_;
};

}  // namespace

std::unique_ptr<DeviceMonitor> MakeUdevMonitor(std::string* error) {
    const UdevLib* lib = LoadUdev(error);
    if (lib == nullptr) {
        return nullptr;
    }
    auto monitor = std::make_unique<UdevMonitor>(*lib);
    if (!monitor->Start(error)) {
        return nullptr;
    }
    return monitor;
}

std::unique_ptr<DeviceMonitor> HidBackend::MakeMonitor(std::string* error) {
    return MakeUdevMonitor(error);
}

}  // namespace tavrik

// hidapi and libudev, loaded at their first use instead of with the program: a simulated
// keyboard needs neither, and the window's first frame need not wait for the loader to map
// and bind them. Each table is loaded once, from any thread.
#pragma once

#include <hidapi/hidapi.h>
#include <libudev.h>

#include <string>

namespace tavrik {

struct HidapiLib {
    decltype(&::hid_init) init = nullptr;
    decltype(&::hid_enumerate) enumerate = nullptr;
    decltype(&::hid_free_enumeration) freeEnumeration = nullptr;
    decltype(&::hid_open_path) openPath = nullptr;
    decltype(&::hid_close) close = nullptr;
    decltype(&::hid_read_timeout) readTimeout = nullptr;
    decltype(&::hid_write) write = nullptr;
    decltype(&::hid_get_product_string) productString = nullptr;
    decltype(&::hid_get_serial_number_string) serialString = nullptr;
};

struct UdevLib {
    decltype(&::udev_new) newContext = nullptr;
    decltype(&::udev_unref) unref = nullptr;
    decltype(&::udev_monitor_new_from_netlink) monitorNew = nullptr;
    decltype(&::udev_monitor_filter_add_match_subsystem_devtype) monitorFilter = nullptr;
    decltype(&::udev_monitor_enable_receiving) monitorEnable = nullptr;
    decltype(&::udev_monitor_get_fd) monitorFd = nullptr;
    decltype(&::udev_monitor_receive_device) monitorReceive = nullptr;
    decltype(&::udev_monitor_unref) monitorUnref = nullptr;
    decltype(&::udev_device_get_action) deviceAction = nullptr;
    decltype(&::udev_device_get_devnode) deviceNode = nullptr;
    decltype(&::udev_device_get_parent_with_subsystem_devtype) deviceParent = nullptr;
    decltype(&::udev_device_get_sysattr_value) deviceAttr = nullptr;
    decltype(&::udev_device_new_from_syspath) deviceFromSyspath = nullptr;
    decltype(&::udev_device_unref) deviceUnref = nullptr;
    decltype(&::udev_enumerate_new) enumerateNew = nullptr;
    decltype(&::udev_enumerate_add_match_subsystem) enumerateMatch = nullptr;
    decltype(&::udev_enumerate_scan_devices) enumerateScan = nullptr;
    decltype(&::udev_enumerate_get_list_entry) enumerateFirst = nullptr;
    decltype(&::udev_enumerate_unref) enumerateUnref = nullptr;
    decltype(&::udev_list_entry_get_next) entryNext = nullptr;
    decltype(&::udev_list_entry_get_name) entryName = nullptr;
};

// The tables, or nullptr with what the loader said in `error` when the library or one of
// its functions is missing.
const HidapiLib* LoadHidapi(std::string* error = nullptr);
const UdevLib* LoadUdev(std::string* error = nullptr);

}  // namespace tavrik

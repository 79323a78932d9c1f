#include "hid/native_libs.h"

#include <dlfcn.h>

#include "platform/shared_library.h"

namespace tavrik {
namespace {

template <typename Table>
struct Loaded {
    Table table;
    std::string error;  // empty when the whole table is bound
};

// Binds one function; the first that is missing is the error.
class Binder {
public:
    Binder(const char* library, std::string& error)
        : library_(library), error_(error), handle_(OpenSharedLibrary(library, error)) {}

    template <typename Fn>
    void operator()(Fn& fn, const char* name) {
        if (!error_.empty()) {
            return;
        }
        fn = reinterpret_cast<Fn>(dlsym(handle_, name));
        if (fn == nullptr) {
            error_ = std::string("cannot load ") + library_ + ": " + name + " is missing";
        }
    }

private:
    const char* library_;
    std::string& error_;
    void* handle_;
};

// Loads `library` and fills its table once, whichever thread asks first.
template <typename Table, typename Fill>
const Table* LoadOnce(const char* library, Fill fill, std::string* error) {
    static const Loaded<Table> loaded = [&] {
        Loaded<Table> out;
        Binder bind(library, out.error);
        fill(bind, out.table);
        return out;
    }();
    if (!loaded.error.empty() && error != nullptr) {
        *error = loaded.error;
    }
    return loaded.error.empty() ? &loaded.table : nullptr;
}

}  // namespace

const HidapiLib* LoadHidapi(std::string* error) {
    return LoadOnce<HidapiLib>(
        "libhidapi-hidraw.so.0",
        [](Binder& bind, HidapiLib& t) {
            bind(t.init, "hid_init");
            bind(t.enumerate, "hid_enumerate");
            bind(t.freeEnumeration, "hid_free_enumeration");
            bind(t.openPath, "hid_open_path");
            bind(t.close, "hid_close");
            bind(t.readTimeout, "hid_read_timeout");
            bind(t.write, "hid_write");
            bind(t.productString, "hid_get_product_string");
            bind(t.serialString, "hid_get_serial_number_string");
        },
        error);
}

const UdevLib* LoadUdev(std::string* error) {
    return LoadOnce<UdevLib>(
        "libudev.so.1",
        [](Binder& bind, UdevLib& t) {
            bind(t.newContext, "udev_new");
            bind(t.unref, "udev_unref");
            bind(t.monitorNew, "udev_monitor_new_from_netlink");
            bind(t.monitorFilter, "udev_monitor_filter_add_match_subsystem_devtype");
            bind(t.monitorEnable, "udev_monitor_enable_receiving");
            bind(t.monitorFd, "udev_monitor_get_fd");
            bind(t.monitorReceive, "udev_monitor_receive_device");
            bind(t.monitorUnref, "udev_monitor_unref");
            bind(t.deviceAction, "udev_device_get_action");
            bind(t.deviceNode, "udev_device_get_devnode");
            bind(t.deviceParent, "udev_device_get_parent_with_subsystem_devtype");
            bind(t.deviceAttr, "udev_device_get_sysattr_value");
            bind(t.deviceFromSyspath, "udev_device_new_from_syspath");
            bind(t.deviceUnref, "udev_device_unref");
            bind(t.enumerateNew, "udev_enumerate_new");
            bind(t.enumerateMatch, "udev_enumerate_add_match_subsystem");
            bind(t.enumerateScan, "udev_enumerate_scan_devices");
            bind(t.enumerateFirst, "udev_enumerate_get_list_entry");
            bind(t.enumerateUnref, "udev_enumerate_unref");
            bind(t.entryNext, "udev_list_entry_get_next");
            bind(t.entryName, "udev_list_entry_get_name");
        },
        error);
}

}  // namespace tavrik

#include "hid/hidapi_backend.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <set>

#include "hid/native_libs.h"
#include "log/log.h"

namespace tavrik {

namespace {

struct Init {
    const HidapiLib* lib = nullptr;
    std::string error;
};

// hidapi, initialised once; without it the reason, said once in the log.
const Init& InitOnce() {
    static const Init init = [] {
        Init out;
        const HidapiLib* loaded = LoadHidapi(&out.error);
        if (loaded != nullptr && loaded->init() != 0) {
            out.error = "hidapi could not be initialised";
        } else {
            out.lib = loaded;
        }
        if (out.lib == nullptr) {
            LogLine("CCUSB", __LINE__, out.error);
        }
        return out;
    }();
    return init;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

struct DeviceCloser {
    const HidapiLib* lib = nullptr;
    void operator()(hid_device* d) const { lib->close(d); }
};

struct EnumerationFree {
    const HidapiLib* lib = nullptr;
    void operator()(hid_device_info* d) const { lib->freeEnumeration(d); }
};

class HidapiHandle final : public HidHandle {
public:
    using DevicePtr = std::unique_ptr<hid_device, DeviceCloser>;
    HidapiHandle(DevicePtr dev, std::string path) : dev_(std::move(dev)), path_(std::move(path)) {}

    // Runs on the receive thread alongside the other calls; hidapi allows exactly that.
    int Read(uint8_t* payload, size_t size, int timeoutMs) override {
        if (payload == nullptr || size == 0) {
            return 0;
        }
        // hidraw gives unnumbered reports without an ID byte: the bytes are the payload.
        const int n = Lib().readTimeout(dev_.get(), payload, size, std::max(timeoutMs, 0));
        return n < 0 ? -1 : n;
    }

    int Write(const uint8_t* report, size_t size) override {
        std::lock_guard lock(mutex_);
        const int n = Lib().write(dev_.get(), report, size);
        const int err = errno;
        if (n < 0) {
            lastWriteError_ = Classify(err);
        }
        return n < 0 ? -1 : n;
    }

    HidWriteError LastWriteError() const override {
        std::lock_guard lock(mutex_);
        return lastWriteError_;
    }

    std::string ProductString() override {
        std::lock_guard lock(mutex_);
        wchar_t buf[256] = {};
        if (Lib().productString(dev_.get(), buf, std::size(buf)) != 0) {
            return {};
        }
        buf[std::size(buf) - 1] = L'\0';
        return WideToUtf8(buf);
    }

    std::string SerialString() override {
        std::lock_guard lock(mutex_);
        wchar_t buf[256] = {};
        if (Lib().serialString(dev_.get(), buf, std::size(buf)) != 0) {
            return {};
        }
        buf[std::size(buf) - 1] = L'\0';
        return WideToUtf8(buf);
    }

private:
    HidWriteError Classify(int err) const {
        switch (err) {
            case ENODEV:
            case ENXIO:
            case ESHUTDOWN:
                return HidWriteError::Gone;
            case EPIPE:  // the control endpoint stalled: the report is refused
            case ENOSYS:
            case EOPNOTSUPP:
                return HidWriteError::NotSupported;
            default:
                // Other errors mean gone when the node has disappeared with the device.
                return access(path_.c_str(), F_OK) != 0 ? HidWriteError::Gone
                                                        : HidWriteError::Other;
        }
    }

    const HidapiLib& Lib() const { return *dev_.get_deleter().lib; }

    DevicePtr dev_;
    std::string path_;
    mutable std::mutex mutex_;  // every call but Read is serialised
    HidWriteError lastWriteError_ = HidWriteError::Other;
};

}  // namespace

std::string WideToUtf8(const wchar_t* text) {
    std::string out;
    if (text == nullptr) {
        return out;
    }
    for (; *text != L'\0'; ++text) {
        AppendUtf8(out, static_cast<uint32_t>(*text));
    }
    return out;
}

HidapiBackend::HidapiBackend() : lib_(InitOnce().lib) {}

std::string HidapiBackend::Unavailable() const {
    return InitOnce().error;
}

std::vector<HidDeviceInfo> HidapiBackend::Enumerate() {
    std::vector<HidDeviceInfo> out;
    if (lib_ == nullptr) {
        return out;
    }
    std::unique_ptr<hid_device_info, EnumerationFree> list(lib_->enumerate(0, 0),
                                                           EnumerationFree{lib_});
    std::set<std::string> seen;
    for (const hid_device_info* d = list.get(); d != nullptr; d = d->next) {
        if (d->path == nullptr || !seen.insert(d->path).second) {
            continue;
        }
        HidDeviceInfo info;
        info.path = d->path;
        info.vendorId = d->vendor_id;
        info.productId = d->product_id;
        info.release = d->release_number;
        info.interfaceNumber = d->interface_number;
        info.product = WideToUtf8(d->product_string);
        info.serial = WideToUtf8(d->serial_number);
        out.push_back(std::move(info));
    }
    return out;
}

std::unique_ptr<HidHandle> HidapiBackend::Open(const std::string& path, HidOpenError* error) {
    HidOpenError result = HidOpenError::Other;
    std::unique_ptr<HidHandle> handle;
    if (lib_ != nullptr && !path.empty()) {
        if (HidapiHandle::DevicePtr dev(lib_->openPath(path.c_str()), DeviceCloser{lib_}); dev) {
            handle = std::make_unique<HidapiHandle>(std::move(dev), path);
            result = HidOpenError::None;
        } else if (access(path.c_str(), F_OK) != 0) {
            result = HidOpenError::NotFound;
        } else if (access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
            result = HidOpenError::PermissionDenied;
        }
    } else if (path.empty()) {
        result = HidOpenError::NotFound;
    }
    if (error != nullptr) {
        *error = result;
    }
    return handle;
}

}  // namespace tavrik

// The seam between the transport and whatever moves HID reports: hidapi on real
// hardware, the simulated keyboards in tests, demos and `--simulate`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavrik {

struct HidDeviceInfo {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t release = 0;  // the device version number
    int interfaceNumber = -1;
    std::string product;
    std::string serial;
};

// Why a Write failed: the device went away, it refused the operation, or something else.
enum class HidWriteError { Gone, NotSupported, Other };

// One open handle. Read may run on its own thread while Write runs on another; every
// other call is made by one thread at a time, and never while a Read is running.
class HidHandle {
public:
    virtual ~HidHandle() = default;
    // Reads one input report's payload (the report ID, if the platform delivers one, is
    // already removed). Returns the byte count, 0 when `timeoutMs` passed without a
    // report, -1 when the device is gone or failed.
    virtual int Read(uint8_t* payload, size_t size, int timeoutMs) = 0;
    // Writes one output report: byte 0 is the report ID (0), then the payload.
    // Returns the number of bytes written, or -1.
    virtual int Write(const uint8_t* report, size_t size) = 0;
    // Why the last Write returned -1. A handle that cannot tell says Gone.
    virtual HidWriteError LastWriteError() const { return HidWriteError::Gone; }
    virtual std::string ProductString() = 0;
    virtual std::string SerialString() = 0;
};

enum class HidOpenError { None, NotFound, PermissionDenied, Other };

class DeviceMonitor;

class HidBackend {
public:
    virtual ~HidBackend() = default;
    // Every HID interface present now, in the platform's order.
    virtual std::vector<HidDeviceInfo> Enumerate() = 0;
    virtual std::unique_ptr<HidHandle> Open(const std::string& path, HidOpenError* error) = 0;
    // What tells of this backend's devices arriving and going; for real devices udev's.
    // Null, with `error` set, when nothing can be watched.
    virtual std::unique_ptr<DeviceMonitor> MakeMonitor(std::string* error);
    // Why no device can be reached through this backend at all (a library missing); empty
    // when it works. Not the same as no keyboard plugged in, and said differently.
    virtual std::string Unavailable() const { return {}; }
    // Simulated devices may run their fixed pauses faster (tests, demos).
    virtual bool Simulated() const { return false; }
    virtual void SetPauseScale(double /*scale*/) {}
};

}  // namespace tavrik

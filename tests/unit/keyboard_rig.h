// Simulated keyboards attached through the keyboard hub, as the program attaches them:
// what session, upgrade and hub tests start from.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "device/keyboard_hub.h"
#include "notify_recorder.h"
#include "sim/sim_backend.h"

namespace tavrik::test {

inline std::unique_ptr<sim::SimBackend> SimBackendWith(const sim::SimKeyboardState& state) {
    auto backend = std::make_unique<sim::SimBackend>();
    backend->Attach(0, state);
    return backend;
}

inline HubOptions FastHub(double pauseScale = 0.01) {
    HubOptions options;
    options.scanOnAttach = false;        // Attach(scan) starts it, so tests can choose
    options.simPauseScale = pauseScale;  // 2.5 s between scan passes becomes 25 ms
    options.simReplySlackMs = 500;       // upgrade replies on a loaded two-core machine
    return options;
}

// The keyboard plugged in at backend index 0 (more can be plugged in through `backend`),
// seen by slot 0 of a hub whose sessions all report to `rec`.
struct KeyboardRig {
    NotifyRecorder rec;  // outlives the hub, whose sessions notify it
    KeyboardHub hub;
    sim::SimBackend& backend;
    CCUSB& usb;
    CCCDev& dev;

    explicit KeyboardRig(const sim::SimKeyboardState& state, double pauseScale = 0.01)
        : hub(SimBackendWith(state), rec, FastHub(pauseScale)),
          backend(*sim::SimOf(hub.Backend())),
          usb(hub.Transport(0)),
          dev(hub.Session(0)) {}

    // Attaches what is plugged in; with `scan`, slot 0 starts scanning at once.
    void Attach(bool scan = true) {
        hub.AttachPresent();
        ASSERT_TRUE(hub.IsAttached(0));
        if (scan) {
            dev.RequestScan();
            dev.StartScanThread();
        }
    }
    // Closes slot 0 as a removal does.
    void Detach() { hub.Detach(0); }

    bool WaitIdle(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (dev.IsScanBusy() && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return !dev.IsScanBusy();
    }
};

// A fresh folder for a test's files, removed afterwards.
struct TempFolder {
    std::filesystem::path path;
    TempFolder() {
        static std::atomic<int> counter{0};
        path = std::filesystem::temp_directory_path() /
               ("tavrik-rig-" + std::to_string(std::random_device{}()) + "-" +
                std::to_string(counter++));
        std::filesystem::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// Polls `done` until it holds, for at most `limit` (generous: loaded machines).
inline bool Eventually(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A keyboard this user may not open, as a missing udev rule leaves it (path /dev/hidraw7).
class DeniedBackend final : public HidBackend {
public:
    std::vector<HidDeviceInfo> Enumerate() override {
        HidDeviceInfo info;
        info.path = "/dev/hidraw7";
        info.vendorId = 0xBCD0;
        info.productId = 0x1100;
        info.release = 0xCC02;
        info.interfaceNumber = 1;
        return {info};
    }
    std::unique_ptr<HidHandle> Open(const std::string&, HidOpenError* error) override {
        *error = HidOpenError::PermissionDenied;
        return nullptr;
    }
};

// hidapi missing: nothing can be seen, and the backend says why.
class UnreachableBackend final : public HidBackend {
public:
    std::vector<HidDeviceInfo> Enumerate() override { return {}; }
    std::unique_ptr<HidHandle> Open(const std::string&, HidOpenError* error) override {
        *error = HidOpenError::Other;
        return nullptr;
    }
    std::string Unavailable() const override {
        return "cannot load libhidapi-hidraw.so.0: file too short";
    }
};

}  // namespace tavrik::test

// The four keyboard slots of the program: one transport and one session each, created
// together and kept for the hub's life. The front end chooses the backend (hidapi or the
// simulated keyboards of a file; see app/keyboard_backend.h) and hands it in; the hub
// attaches the keyboards present at start in slot order,
// follows arrival and removal, and keeps which keyboard is selected. Front ends (window,
// command line, tests, benchmarks) build on it and only add their reactions.
//
// Threads: every call comes from the owner thread (the window's, the command's, the
// test's). Device events from a DeviceMonitor are handed in on that thread.
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/keyboard_ref.h"
#include "device/notify.h"
#include "device/session.h"
#include "hid/ccusb.h"
#include "hid/device_monitor.h"
#include "hid/hid_backend.h"
#include "hid/known_devices.h"

namespace tavrik {

inline constexpr int kHubSlots = 4;

struct HubOptions {
    bool verbose = false;        // verbose log lines of the transports and sessions
    bool scanOnAttach = true;    // the window scans at once; tavrikctl when a command asks
    double simPauseScale = 1.0;  // fixed pauses of sessions on simulated keyboards
    int simReplySlackMs = 0;     // added to upgrade reply limits on simulated keyboards
};

// A keyboard that was found but could not be opened.
struct HubOpenFailure {
    int slot = 0;
    std::string path;
};

class KeyboardHub {
public:
    // `targets` receive the notifications of the sessions of slots 0..3 (one may serve all).
    KeyboardHub(std::unique_ptr<HidBackend> backend, std::array<NotifyTarget*, kHubSlots> targets,
                HubOptions options = {});
    KeyboardHub(std::unique_ptr<HidBackend> backend, NotifyTarget& target, HubOptions options = {});
    // Closes every attached slot.
    ~KeyboardHub();
    KeyboardHub(const KeyboardHub&) = delete;
    KeyboardHub& operator=(const KeyboardHub&) = delete;

    // ---- The backend ----
    HidBackend& Backend() { return *backend_; }
    // The monitor that fits the backend: udev, or the sim file's.
    std::unique_ptr<DeviceMonitor> MakeMonitor(std::string* error = nullptr);

    // ---- Attach and detach ----
    // Attaches the keyboards present now, slot 0 upwards, until a search finds none; one
    // that is found but will not open leaves its slot free and the search goes on.
    // Returns how many are attached. DeniedPaths and OpenFailures tell what was left out.
    int AttachPresent();
    // A device arrived: attaches a table keyboard into its old slot or the first free
    // one. Returns the slot, or -1 when nothing was attached.
    int OnArrival(const std::string& path);
    // A device went: closes the slot that held it. Returns the slot, or -1.
    int OnRemoval(const std::string& path);
    // What a device holds changed without a report of its own: its session scans again.
    void OnChanged(const std::string& path);
    // All three, for a monitor's events.
    void Handle(const std::vector<DeviceEvent>& events);
    // Closes slot `slot` if attached (as at removal).
    void Detach(int slot);
    void DetachAll();

    bool IsAttached(int slot) const;
    int Count() const { return m_nDevCount; }
    // The selected keyboard's slot; meaningful while Count() > 0.
    int Selected() const { return m_nSelDev; }
    bool Select(int slot);

    // ---- Identity of an attach ----
    // The keyboard in `slot` now; empty when none is attached there.
    KeyboardRef Ref(int slot) const;
    // The session of `ref` while that very attach lasts; null once it went.
    CCCDev* Resolve(const KeyboardRef& ref);
    bool Holds(const KeyboardRef& ref) const;

    CCUSB& Transport(int slot) { return *usb_[Index(slot)]; }
    CCCDev& Session(int slot) { return *dev_[Index(slot)]; }

    // Table interfaces the last search could not open for lack of permission, for the
    // front end to explain (udev rule).
    const std::vector<std::string>& DeniedPaths() const { return denied_; }
    // Keyboards of the last AttachPresent or arrival that were found but not opened.
    const std::vector<HubOpenFailure>& OpenFailures() const { return openFailures_; }

private:
    static size_t Index(int slot);
    // FindDevice and OpenReadWrite on slot's transport, then the session's start. A
    // keyboard that would not open is recorded in OpenFailures and let go, unless
    // `holdFailure` keeps the transport's claim on it (the caller closes it).
    bool FindAndAttach(int slot, bool holdFailure = false);
    void StartSession(int slot);

    std::unique_ptr<HidBackend> backend_;
    HubOptions options_;
    KnownDevices known_;
    std::array<std::unique_ptr<CCUSB>, kHubSlots> usb_;
    std::array<std::unique_ptr<CCCDev>, kHubSlots> dev_;

    std::array<int, kHubSlots> m_bSlotUsed{};
    std::array<uint64_t, kHubSlots> attachSerial_{};
    uint64_t lastSerial_ = 0;
    int m_nDevCount = 0;
    int m_nSelDev = 0;
    std::vector<std::string> denied_;
    std::vector<HubOpenFailure> openFailures_;
};

}  // namespace tavrik

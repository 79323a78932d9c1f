// The inside of SimBackend, shared by its parts: the keyboards plugged in and their
// handles (sim_backend.cpp, sim_handle.cpp) and keeping the simulator file
// (sim_file_sync.cpp). Not for use outside src/sim.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "log/log.h"
#include "sim/sim_backend.h"
#include "sim/sim_file.h"
#include "sim/sim_keyboard.h"
#include "sim/sim_merge.h"

namespace tavrik::sim {

using SimClock = std::chrono::steady_clock;

// What the kernel buffers per open hidraw node before it drops the oldest report.
constexpr size_t kInboxCapacity = 64;

inline std::string NodePath(int number) {
    return "/dev/sim/hidraw" + std::to_string(number);
}

struct Pending {
    SimClock::time_point readyAt;
    SimPayload payload;
};

// Reports waiting for one open handle of a vendor interface. Like hidraw, every open
// handle receives its own copy of each report.
struct Inbox {
    std::deque<Pending> reports;
};

// One keyboard from plug-in to unplug. Handles keep it alive after a detach so that
// they can answer -1.
struct Device {
    Device(SimKeyboardState state, int plainNode, int vendorNode)
        : keyboard(std::move(state)),
          ids(keyboard.State().UsbIds()),
          product(keyboard.State().product),
          serial(keyboard.State().serial),
          plainNumber(plainNode),
          vendorNumber(vendorNode) {}

    // The other interface of the device, a plain keyboard one.
    int PlainInterface() const { return ids.interfaceNumber == 0 ? 1 : 0; }

    // Caller holds mu.
    void Deliver(const std::vector<SimPayload>& reports) {
        if (reports.empty()) {
            return;
        }
        const auto readyAt =
            SimClock::now() + std::chrono::milliseconds(keyboard.State().latencyMs);
        for (const auto& inbox : inboxes) {
            for (const auto& r : reports) {
                if (inbox->reports.size() >= kInboxCapacity) {
                    inbox->reports.pop_front();
                }
                inbox->reports.push_back({readyAt, r});
            }
        }
        cv.notify_all();
    }

    std::mutex mu;
    std::condition_variable cv;
    SimKeyboard keyboard;
    bool attached = true;
    int failReads = 0;       // reads still to fail although attached
    uint8_t unplugCode = 0;  // see SimBackend::UnplugAfter
    int unplugAfter = 0;
    std::vector<std::shared_ptr<Inbox>> inboxes;

    const SimUsbIds ids;
    const std::string product;
    const std::string serial;
    const int plainNumber;
    const int vendorNumber;
};

// Lock order: fileMu, then mu, then a device's mu. Listeners and file writes run with
// no mu held.
struct SimBackend::Core {
    struct Slot {
        std::shared_ptr<Device> device;
        std::optional<SimKeyboardState> kept;  // while unplugged
    };

    // ---- Keyboards plugged in (sim_backend.cpp) ----
    std::shared_ptr<Device> DeviceAt(int index) const;
    static bool ValidIndex(int index) { return index >= 0 && index < kSimMaxKeyboards; }
    // Caller holds mu.
    void Unplug(Slot& slot);
    // Caller holds mu.
    void Plug(Slot& slot, SimKeyboardState state);
    // Hands queued hot-plug changes to the listener, one thread at a time so that they
    // arrive in order. A listener that attaches or detaches only queues more.
    void DeliverHotplug();
    // A keyboard that pulls itself out: unplugged like Detach, if it is still plugged in.
    void Vanish(const std::shared_ptr<Device>& device);
    std::vector<SimFileKeyboard> Snapshot() const;

    // ---- The kept file (sim_file_sync.cpp) ----
    SimFileError Save(const std::filesystem::path& path, std::string* error);
    // A change to keep: the writer saves it shortly.
    void MarkDirty();
    // Merges this program's keyboards with the file (read under its lock): what another
    // program changed comes in (plugging, modules inserted or removed, key presses as the
    // keyboard's own reports, everything else quietly), what this one changed goes out.
    SimFileError Sync(std::string* error, int lockLimitMs = kSimFileLockLimitMs);
    // Caller holds fileMu and mu. Merges one index and makes the live keyboard what the
    // merge says.
    SimFileSlot MergeInto(Slot& slot, int index, const SimFileSlot& theirs);
    // Caller holds the device's mu. Says whether a module's colour or macro changed: the
    // keyboard has no report for either.
    static bool Apply(Device& device, const SimKeyboardState& ours, const SimFileKeyboard& merged,
                      uint32_t seenSeq);
    // Saves a little after the last change, until told to stop.
    void WriterLoop();
    bool TakeDirty();
    // Saves what is pending, after a save of the writer that is under way has ended, so
    // that a failure of either is told to the caller.
    SimFileError Flush(std::string* error);

    mutable std::mutex mu;
    std::array<Slot, kSimMaxKeyboards> slots;
    SimHotplugListener listener;
    std::deque<std::pair<SimHotplug, std::string>> hotplug;
    bool delivering = false;
    std::thread::id deliveringThread;
    std::condition_variable delivered;
    std::filesystem::path boundPath;

    std::mutex fileMu;
    double pauseScale = 1.0;  // guarded by mu

    SimFileSlots base;  // the file as this program last read or wrote it; under fileMu

    std::mutex writerMu;
    std::condition_variable writerCv;
    RepeatedWarning saveWarning;
    bool dirty = false;
    bool saving = false;   // the writer is saving
    bool unsaved = false;  // the writer's last save failed
    bool stopWriter = false;
};

// A handle of an open interface (sim_handle.cpp); `inbox` is null for the plain one.
std::unique_ptr<HidHandle> MakeSimHandle(std::shared_ptr<SimBackend::Core> core,
                                         std::shared_ptr<Device> device,
                                         std::shared_ptr<Inbox> inbox);

}  // namespace tavrik::sim

#include "sim/sim_backend.h"

#include <glog/logging.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace tavrik::sim {
namespace {

using Clock = std::chrono::steady_clock;

// What the kernel buffers per open hidraw node before it drops the oldest report.
constexpr size_t kInboxCapacity = 64;
constexpr auto kListenerWaitLimit = std::chrono::seconds(5);

std::string NodePath(int number) {
    return "/dev/sim/hidraw" + std::to_string(number);
}

struct Pending {
    Clock::time_point readyAt;
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
        const auto readyAt = Clock::now() + std::chrono::milliseconds(keyboard.State().latencyMs);
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
    int failReads = 0;  // reads still to fail although attached
    std::vector<std::shared_ptr<Inbox>> inboxes;

    const SimUsbIds ids;
    const std::string product;
    const std::string serial;
    const int plainNumber;
    const int vendorNumber;
};

}  // namespace

// Lock order: fileMu, then mu, then a device's mu. Listeners and file writes run with
// no mu held.
struct SimBackend::Core {
    struct Slot {
        std::shared_ptr<Device> device;
        std::optional<SimKeyboardState> kept;  // while unplugged
    };

    std::shared_ptr<Device> DeviceAt(int index) const {
        std::lock_guard lock(mu);
        return ValidIndex(index) ? slots[static_cast<size_t>(index)].device : nullptr;
    }

    static bool ValidIndex(int index) { return index >= 0 && index < kSimMaxKeyboards; }

    // Caller holds mu.
    void Unplug(Slot& slot) {
        if (!slot.device) {
            return;
        }
        auto device = std::move(slot.device);
        {
            std::lock_guard lock(device->mu);
            slot.kept = device->keyboard.State();
            device->attached = false;
            device->inboxes.clear();
        }
        device->cv.notify_all();
        hotplug.emplace_back(SimHotplug::Removed, NodePath(device->plainNumber));
        hotplug.emplace_back(SimHotplug::Removed, NodePath(device->vendorNumber));
    }

    // Caller holds mu.
    void Plug(Slot& slot, SimKeyboardState state) {
        std::vector<int> used;
        for (const auto& s : slots) {
            if (s.device) {
                used.push_back(s.device->plainNumber);
                used.push_back(s.device->vendorNumber);
            }
        }
        // Lowest free node numbers, as the kernel hands them out.
        std::array<int, 2> nodes{};
        int next = 0;
        for (auto& n : nodes) {
            while (std::find(used.begin(), used.end(), next) != used.end()) {
                ++next;
            }
            n = next++;
        }
        slot.device = std::make_shared<Device>(std::move(state), nodes[0], nodes[1]);
        slot.device->keyboard.SetPauseScale(pauseScale);
        slot.kept.reset();
        hotplug.emplace_back(SimHotplug::Arrived, NodePath(nodes[0]));
        hotplug.emplace_back(SimHotplug::Arrived, NodePath(nodes[1]));
    }

    // Hands queued hot-plug changes to the listener, one thread at a time so that they
    // arrive in order. A listener that attaches or detaches only queues more.
    void DeliverHotplug() {
        std::unique_lock lock(mu);
        if (delivering) {
            return;
        }
        delivering = true;
        deliveringThread = std::this_thread::get_id();
        while (!hotplug.empty()) {
            auto [kind, path] = std::move(hotplug.front());
            hotplug.pop_front();
            const auto call = listener;
            lock.unlock();
            if (call) {
                call(kind, path);
            }
            lock.lock();
        }
        delivering = false;
        deliveringThread = {};
        delivered.notify_all();
    }

    // A keyboard that pulls itself out: unplugged like Detach, if it is still plugged in.
    void Vanish(const std::shared_ptr<Device>& device) {
        {
            std::lock_guard lock(mu);
            for (auto& slot : slots) {
                if (slot.device == device) {
                    Unplug(slot);
                }
            }
        }
        DeliverHotplug();
        SaveBound();
    }

    std::vector<SimFileKeyboard> Snapshot() const {
        std::lock_guard lock(mu);
        std::vector<SimFileKeyboard> out;
        for (int i = 0; i < kSimMaxKeyboards; ++i) {
            const auto& slot = slots[static_cast<size_t>(i)];
            if (slot.device) {
                std::lock_guard deviceLock(slot.device->mu);
                out.push_back({i, true, slot.device->keyboard.State()});
            } else if (slot.kept) {
                out.push_back({i, false, *slot.kept});
            }
        }
        return out;
    }

    SimFileError Save(const std::filesystem::path& path, std::string* error) {
        std::lock_guard fileLock(fileMu);
        return WriteSimFile(path, Snapshot(), error);
    }

    void SaveBound() {
        std::filesystem::path path;
        {
            std::lock_guard lock(mu);
            path = boundPath;
        }
        if (path.empty()) {
            return;
        }
        std::string error;
        if (Save(path, &error) != SimFileError::None) {
            LOG(WARNING) << "Simulated keyboards not saved: " << error;
        }
    }

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
};

namespace {

class SimHandle final : public HidHandle {
public:
    SimHandle(std::shared_ptr<SimBackend::Core> core, std::shared_ptr<Device> device,
              std::shared_ptr<Inbox> inbox)
        : core_(std::move(core)), device_(std::move(device)), inbox_(std::move(inbox)) {}

    ~SimHandle() override {
        if (!inbox_) {
            return;
        }
        std::lock_guard lock(device_->mu);
        std::erase(device_->inboxes, inbox_);
    }

    int Read(uint8_t* payload, size_t size, int timeoutMs) override {
        std::unique_lock lock(device_->mu);
        const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        for (;;) {
            if (!device_->attached) {
                return -1;
            }
            if (device_->failReads > 0) {
                --device_->failReads;
                return -1;
            }
            const auto now = Clock::now();
            auto wakeAt = deadline;
            if (inbox_ && !inbox_->reports.empty()) {
                const auto& front = inbox_->reports.front();
                if (front.readyAt <= now) {
                    const size_t n = std::min(size, front.payload.size());
                    std::copy_n(front.payload.begin(), n, payload);
                    inbox_->reports.pop_front();
                    return static_cast<int>(n);
                }
                wakeAt = timeoutMs < 0 ? front.readyAt : std::min(deadline, front.readyAt);
            } else if (timeoutMs < 0) {
                // As hidapi: a negative timeout waits until a report comes or the device
                // goes away.
                device_->cv.wait(lock);
                continue;
            }
            if (timeoutMs >= 0 && now >= deadline) {
                return 0;
            }
            device_->cv.wait_until(lock, wakeAt);
        }
    }

    int Write(const uint8_t* report, size_t size) override {
        // As hidraw: fewer than two bytes are refused, and a report ID the interface does
        // not have is stalled by the device. The plain interface takes no report at all.
        if (!inbox_ || report == nullptr || size < 2 || report[0] != 0) {
            return -1;
        }
        bool changed = false;
        bool vanished = false;
        {
            std::lock_guard lock(device_->mu);
            if (!device_->attached) {
                return -1;
            }
            // A report of the wrong length goes out, but the controller drops it.
            device_->Deliver(device_->keyboard.HandleReport({report, size}));
            changed = device_->keyboard.TakeChanged();
            vanished = device_->keyboard.TakeVanished();
        }
        if (vanished) {
            // Unplugging takes the backend's lock before the device's, so not in there.
            core_->Vanish(device_);
        } else if (changed) {
            core_->SaveBound();
        }
        return static_cast<int>(size);
    }

    std::string ProductString() override { return device_->product; }
    std::string SerialString() override { return device_->serial; }

private:
    std::shared_ptr<SimBackend::Core> core_;
    std::shared_ptr<Device> device_;
    std::shared_ptr<Inbox> inbox_;  // null on the plain interface
};

}  // namespace

SimBackend::SimBackend() : core_(std::make_shared<Core>()) {}

SimBackend::~SimBackend() {
    SetHotplugListener(nullptr);
    std::lock_guard lock(core_->mu);
    for (auto& slot : core_->slots) {
        core_->Unplug(slot);
    }
    core_->hotplug.clear();
}

std::vector<HidDeviceInfo> SimBackend::Enumerate() {
    std::vector<HidDeviceInfo> out;
    std::lock_guard lock(core_->mu);
    for (const auto& slot : core_->slots) {
        if (const auto& d = slot.device) {
            HidDeviceInfo info;
            info.vendorId = d->ids.vendorId;
            info.productId = d->ids.productId;
            info.release = d->ids.release;
            info.product = d->product;
            info.serial = d->serial;
            info.path = NodePath(d->plainNumber);
            info.interfaceNumber = d->PlainInterface();
            out.push_back(info);
            info.path = NodePath(d->vendorNumber);
            info.interfaceNumber = d->ids.interfaceNumber;
            out.push_back(info);
        }
    }
    return out;
}

std::unique_ptr<HidHandle> SimBackend::Open(const std::string& path, HidOpenError* error) {
    std::shared_ptr<Device> device;
    bool vendor = false;
    {
        std::lock_guard lock(core_->mu);
        for (const auto& slot : core_->slots) {
            if (slot.device && (path == NodePath(slot.device->vendorNumber) ||
                                path == NodePath(slot.device->plainNumber))) {
                device = slot.device;
                vendor = path == NodePath(slot.device->vendorNumber);
            }
        }
    }
    if (!device) {
        if (error) {
            *error = HidOpenError::NotFound;
        }
        return nullptr;
    }
    std::shared_ptr<Inbox> inbox;
    if (vendor) {
        inbox = std::make_shared<Inbox>();
        std::lock_guard lock(device->mu);
        if (!device->attached) {
            if (error) {
                *error = HidOpenError::NotFound;
            }
            return nullptr;
        }
        device->inboxes.push_back(inbox);
    }
    if (error) {
        *error = HidOpenError::None;
    }
    return std::make_unique<SimHandle>(core_, std::move(device), std::move(inbox));
}

bool SimBackend::Attach(int index, SimKeyboardState state) {
    if (!Core::ValidIndex(index)) {
        return false;
    }
    {
        std::lock_guard lock(core_->mu);
        auto& slot = core_->slots[static_cast<size_t>(index)];
        core_->Unplug(slot);
        core_->Plug(slot, std::move(state));
    }
    core_->DeliverHotplug();
    core_->SaveBound();
    return true;
}

void SimBackend::SetPauseScale(double scale) {
    std::lock_guard lock(core_->mu);
    core_->pauseScale = scale;
    for (auto& slot : core_->slots) {
        if (slot.device) {
            std::lock_guard deviceLock(slot.device->mu);
            slot.device->keyboard.SetPauseScale(scale);
        }
    }
}

bool SimBackend::Attach(int index) {
    if (!Core::ValidIndex(index)) {
        return false;
    }
    {
        std::lock_guard lock(core_->mu);
        auto& slot = core_->slots[static_cast<size_t>(index)];
        if (slot.device || !slot.kept) {
            return false;
        }
        core_->Plug(slot, std::move(*slot.kept));
    }
    core_->DeliverHotplug();
    core_->SaveBound();
    return true;
}

bool SimBackend::Detach(int index) {
    if (!Core::ValidIndex(index)) {
        return false;
    }
    {
        std::lock_guard lock(core_->mu);
        auto& slot = core_->slots[static_cast<size_t>(index)];
        if (!slot.device) {
            return false;
        }
        core_->Unplug(slot);
    }
    core_->DeliverHotplug();
    core_->SaveBound();
    return true;
}

bool SimBackend::IsAttached(int index) const {
    return core_->DeviceAt(index) != nullptr;
}

std::optional<SimKeyboardState> SimBackend::StateOf(int index) const {
    if (!Core::ValidIndex(index)) {
        return std::nullopt;
    }
    std::lock_guard lock(core_->mu);
    const auto& slot = core_->slots[static_cast<size_t>(index)];
    if (slot.device) {
        std::lock_guard deviceLock(slot.device->mu);
        return slot.device->keyboard.State();
    }
    return slot.kept;
}

std::string SimBackend::VendorPath(int index) const {
    const auto device = core_->DeviceAt(index);
    return device ? NodePath(device->vendorNumber) : std::string();
}

bool SimBackend::WithKeyboard(int index, const std::function<void(SimKeyboard&)>& fn) {
    const auto device = core_->DeviceAt(index);
    if (!device) {
        return false;
    }
    bool changed = false;
    {
        std::lock_guard lock(device->mu);
        if (!device->attached) {
            return false;
        }
        fn(device->keyboard);
        changed = device->keyboard.TakeChanged();
    }
    if (changed) {
        core_->SaveBound();
    }
    return true;
}

bool SimBackend::Inject(int index,
                        const std::function<std::optional<SimPayload>(SimKeyboard&)>& event) {
    const auto device = core_->DeviceAt(index);
    if (!device) {
        return false;
    }
    bool sent = false;
    bool changed = false;
    {
        std::lock_guard lock(device->mu);
        if (!device->attached) {
            return false;
        }
        if (const auto report = event(device->keyboard)) {
            device->Deliver({*report});
            sent = true;
        }
        changed = device->keyboard.TakeChanged();
    }
    if (changed) {
        core_->SaveBound();
    }
    return sent;
}

bool SimBackend::InsertModule(int index, uint8_t slot, uint32_t uid, uint8_t shortMac,
                              const std::array<uint8_t, 4>& hid, uint8_t flag) {
    return Inject(index,
                  [&](SimKeyboard& k) { return k.InsertModule(slot, uid, shortMac, hid, flag); });
}

bool SimBackend::RemoveModule(int index, uint8_t slot) {
    return Inject(index, [&](SimKeyboard& k) { return k.RemoveModule(slot); });
}

bool SimBackend::KeyDown(int index, uint8_t slot, uint8_t layerKeyHid, bool extraFlag) {
    return Inject(index, [&](SimKeyboard& k) { return k.KeyDown(slot, layerKeyHid, extraFlag); });
}

bool SimBackend::KeyUp(int index, uint8_t slot, uint8_t layerKeyHid, uint8_t returnLayer) {
    return Inject(index, [&](SimKeyboard& k) { return k.KeyUp(slot, layerKeyHid, returnLayer); });
}

bool SimBackend::BusShort(int index) {
    return Inject(index, [](SimKeyboard& k) { return std::optional(k.BusShort()); });
}

bool SimBackend::BusShortGone(int index) {
    return Inject(index, [](SimKeyboard& k) { return std::optional(k.BusShortGone()); });
}

bool SimBackend::FailNextReads(int index, int count) {
    const auto device = core_->DeviceAt(index);
    if (!device) {
        return false;
    }
    {
        std::lock_guard lock(device->mu);
        device->failReads = std::max(count, 0);
    }
    device->cv.notify_all();
    return true;
}

bool SimBackend::KeyRequest(int index, uint32_t uid, uint8_t shortMac) {
    return Inject(index,
                  [&](SimKeyboard& k) { return std::optional(k.KeyRequest(uid, shortMac)); });
}

void SimBackend::SetHotplugListener(SimHotplugListener listener) {
    std::unique_lock lock(core_->mu);
    core_->listener = std::move(listener);
    if (core_->delivering && core_->deliveringThread != std::this_thread::get_id()) {
        core_->delivered.wait_for(lock, kListenerWaitLimit, [this] { return !core_->delivering; });
    }
}

SimFileError SimBackend::LoadSimFile(const std::filesystem::path& path, std::string* error) {
    std::vector<SimFileKeyboard> keyboards;
    const auto result = ReadSimFile(path, keyboards, error);
    if (result != SimFileError::None) {
        return result;
    }
    {
        std::lock_guard lock(core_->mu);
        for (auto& slot : core_->slots) {
            core_->Unplug(slot);
            slot.kept.reset();
        }
        for (auto& k : keyboards) {
            auto& slot = core_->slots[static_cast<size_t>(k.index)];
            if (k.attached) {
                core_->Plug(slot, std::move(k.state));
            } else {
                slot.kept = std::move(k.state);
            }
        }
        core_->boundPath = path;
    }
    core_->DeliverHotplug();
    return SimFileError::None;
}

SimFileError SimBackend::SaveSimFile(const std::filesystem::path& path, std::string* error) {
    return core_->Save(path, error);
}

void SimBackend::BindSimFile(std::filesystem::path path) {
    std::lock_guard lock(core_->mu);
    core_->boundPath = std::move(path);
}

}  // namespace tavrik::sim

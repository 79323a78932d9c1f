#include "sim/sim_backend.h"

#include "sim/sim_merge.h"

#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "log/log.h"

namespace tavrik::sim {
namespace {

using Clock = std::chrono::steady_clock;

// What the kernel buffers per open hidraw node before it drops the oldest report.
constexpr size_t kInboxCapacity = 64;
constexpr auto kListenerWaitLimit = std::chrono::seconds(5);
// Changes that come close together reach the file in one write.
constexpr auto kSaveDelay = std::chrono::milliseconds(50);
// A save waits at most 5 s for the file's lock; a Flush waits for the writer's save.
constexpr auto kFlushWaitLimit = std::chrono::seconds(30);

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
        MarkDirty();
    }

    std::vector<SimFileKeyboard> Snapshot() const {
        std::lock_guard lock(mu);
        std::vector<SimFileKeyboard> out;
        for (int i = 0; i < kSimMaxKeyboards; ++i) {
            const auto& slot = slots[static_cast<size_t>(i)];
            if (slot.device) {
                std::lock_guard deviceLock(slot.device->mu);
                out.push_back({i, true, slot.device->keyboard.State(), {}});
            } else if (slot.kept) {
                out.push_back({i, false, *slot.kept, {}});
            }
        }
        return out;
    }

    SimFileError Save(const std::filesystem::path& path, std::string* error) {
        std::lock_guard fileLock(fileMu);
        SimFileLock lock(path);
        if (!lock.Locked()) {
            if (error) {
                *error = lock.Error();
            }
            return SimFileError::Busy;
        }
        const auto keyboards = Snapshot();
        const auto result = WriteSimFile(path, keyboards, error);
        if (result == SimFileError::None) {
            base = ToSlots(keyboards);
        }
        return result;
    }

    // A change to keep: the writer saves it shortly.
    void MarkDirty() {
        {
            std::lock_guard lock(mu);
            if (boundPath.empty()) {
                return;
            }
        }
        {
            std::lock_guard lock(writerMu);
            dirty = true;
        }
        writerCv.notify_all();
    }

    // Merges this program's keyboards with the file (read under its lock): what another
    // program changed comes in (plugging, modules inserted or removed, key presses as the
    // keyboard's own reports, everything else quietly), what this one changed goes out.
    SimFileError Sync(std::string* error, int lockLimitMs = kSimFileLockLimitMs) {
        SimFileError result = SimFileError::None;
        {
            std::lock_guard fileLock(fileMu);
            std::filesystem::path path;
            {
                std::lock_guard lock(mu);
                path = boundPath;
            }
            if (path.empty()) {
                return SimFileError::None;
            }
            SimFileLock lock(path, lockLimitMs);
            if (!lock.Locked()) {
                if (error) {
                    *error = lock.Error();
                }
                return SimFileError::Busy;
            }
            std::vector<SimFileKeyboard> read;
            SimFileSlots theirs = base;
            result = ReadSimFile(path, read, error);
            if (result == SimFileError::None) {
                theirs = ToSlots(read);
            } else if (result != SimFileError::NotFound) {
                // Never overwrite a file that someone is editing by hand.
                return result;
            }
            SimFileSlots merged;
            {
                std::lock_guard lock(mu);
                for (size_t i = 0; i < slots.size(); ++i) {
                    merged[i] = MergeInto(slots[i], static_cast<int>(i), theirs[i]);
                }
            }
            result = SimFileError::None;
            if (merged != theirs) {
                result = WriteSimFile(path, FromSlots(merged), error);
            }
            base = result == SimFileError::None ? merged : theirs;
        }
        DeliverHotplug();
        return result;
    }

    // Caller holds fileMu and mu. Merges one index and makes the live keyboard what the
    // merge says.
    SimFileSlot MergeInto(Slot& slot, int index, const SimFileSlot& theirs) {
        const SimFileSlot& was = base[static_cast<size_t>(index)];
        const std::vector<SimKeyPress> presses = was ? was->presses : std::vector<SimKeyPress>{};
        if (slot.device) {
            std::unique_lock deviceLock(slot.device->mu);
            const SimFileSlot ours =
                SimFileKeyboard{index, true, slot.device->keyboard.State(), presses};
            SimFileSlot merged = MergeSimKeyboard(was, ours, theirs);
            if (merged && merged->attached) {
                if (Apply(*slot.device, ours->state, *merged, was ? LastPressSeq(*was) : 0)) {
                    hotplug.emplace_back(SimHotplug::Changed, NodePath(slot.device->vendorNumber));
                }
                return merged;
            }
            deviceLock.unlock();
            Unplug(slot);
            slot.kept.reset();
            if (merged) {
                slot.kept = merged->state;
            }
            return merged;
        }
        SimFileSlot ours;
        if (slot.kept) {
            ours = SimFileKeyboard{index, false, *slot.kept, presses};
        }
        SimFileSlot merged = MergeSimKeyboard(was, ours, theirs);
        slot.kept.reset();
        if (merged && merged->attached) {
            Plug(slot, merged->state);
        } else if (merged) {
            slot.kept = merged->state;
        }
        return merged;
    }

    // Caller holds the device's mu. Says whether a module's colour or macro changed: the
    // keyboard has no report for either.
    static bool Apply(Device& device, const SimKeyboardState& ours, const SimFileKeyboard& merged,
                      uint32_t seenSeq) {
        SimKeyboard& k = device.keyboard;
        bool quiet = false;
        std::vector<SimPayload> reports;
        const auto& want = merged.state.modules;
        for (uint8_t s = 0; s < kKeySlots; ++s) {
            if (ours.modules[s] && (!want[s] || want[s]->uid != ours.modules[s]->uid)) {
                if (auto r = k.RemoveModule(s)) {
                    reports.push_back(*r);
                }
            }
        }
        for (uint8_t s = 0; s < kKeySlots; ++s) {
            if (want[s] && (!ours.modules[s] || want[s]->uid != ours.modules[s]->uid)) {
                if (auto r = k.InsertModule(s, *want[s])) {
                    reports.push_back(*r);
                }
            }
        }
        // A key to which another program gave a new value announces itself again, as a
        // module does when it is fitted, so that the host's view follows the file.
        for (uint8_t s = 0; s < kKeySlots; ++s) {
            const auto& had = ours.modules[s];
            if (want[s] && had && want[s]->uid == had->uid &&
                (want[s]->hid != had->hid || want[s]->flag != had->flag)) {
                if (auto r = k.InsertModule(s, *want[s])) {
                    reports.push_back(*r);
                }
            }
            quiet = quiet || (want[s] && had && want[s]->uid == had->uid &&
                              (want[s]->colour != had->colour || want[s]->marco != had->marco));
        }
        k.Restore(merged.state);
        for (const SimKeyPress& p : merged.presses) {
            if (p.seq <= seenSeq) {
                continue;
            }
            // A layer key on the layer the keyboard is on reports as one.
            const auto& m = want[p.slot];
            const uint8_t hid = m ? m->hid[p.layer & 3] : 0;
            const uint8_t layerKey = hid >= 0xD0 && hid <= 0xDF ? hid : 0;
            if (auto down = k.KeyDown(p.slot, layerKey, false)) {
                reports.push_back(*down);
            }
            if (auto up = k.KeyUp(p.slot, layerKey, p.layer)) {
                reports.push_back(*up);
            }
        }
        k.TakeChanged();
        device.Deliver(reports);
        return quiet;
    }

    // Saves a little after the last change, until told to stop.
    void WriterLoop() {
        std::unique_lock lock(writerMu);
        for (;;) {
            writerCv.wait(lock, [this] { return dirty || stopWriter; });
            if (stopWriter) {
                return;
            }
            writerCv.wait_for(lock, kSaveDelay, [this] { return stopWriter; });
            if (stopWriter) {
                return;
            }
            dirty = false;
            saving = true;
            lock.unlock();
            std::string error;
            const bool saved = Sync(&error) == SimFileError::None;
            if (!saved) {
                saveWarning.Warn("Simulated keyboards not saved: " + error);
            } else {
                saveWarning.Over();
            }
            lock.lock();
            saving = false;
            // Not tried again until the next change or a Flush, which then reports it.
            unsaved = unsaved || !saved;
            writerCv.notify_all();
        }
    }

    bool TakeDirty() {
        std::lock_guard lock(writerMu);
        return std::exchange(dirty, false) | std::exchange(unsaved, false);
    }

    // Saves what is pending, after a save of the writer that is under way has ended, so
    // that a failure of either is told to the caller.
    SimFileError Flush(std::string* error) {
        {
            std::unique_lock lock(writerMu);
            if (!writerCv.wait_for(lock, kFlushWaitLimit, [this] { return !saving; })) {
                if (error) {
                    *error = "an earlier save of the simulated keyboards takes too long";
                }
                return SimFileError::Busy;
            }
        }
        if (!TakeDirty()) {
            return SimFileError::None;
        }
        const SimFileError result = Sync(error);
        if (result != SimFileError::None) {
            std::lock_guard lock(writerMu);
            unsaved = true;  // pending until a save succeeds
        }
        return result;
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

    SimFileSlots base;  // the file as this program last read or wrote it; under fileMu

    std::mutex writerMu;
    std::condition_variable writerCv;
    RepeatedWarning saveWarning;
    bool dirty = false;
    bool saving = false;   // the writer is saving
    bool unsaved = false;  // the writer's last save failed
    bool stopWriter = false;
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
            // A report of a real device arrives when it arrives; the kernel's default
            // 50 us timer slack on this wait would add to every simulated round trip.
            static thread_local const bool precise = ::prctl(PR_SET_TIMERSLACK, 1UL) == 0;
            (void)precise;
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
        std::vector<SimPayload> replies;
        {
            std::lock_guard lock(device_->mu);
            if (!device_->attached) {
                return -1;
            }
            // A report of the wrong length goes out, but the controller drops it.
            replies = device_->keyboard.HandleReport({report, size});
            changed = device_->keyboard.TakeChanged();
            vanished = device_->keyboard.TakeVanished();
            if (device_->unplugAfter > 0 && report[1] == device_->unplugCode &&
                --device_->unplugAfter == 0) {
                vanished = true;
            }
            if (!changed || vanished) {
                device_->Deliver(replies);
                replies.clear();
            }
        }
        if (vanished) {
            // Unplugging takes the backend's lock before the device's, so not in there.
            core_->Vanish(device_);
        } else if (changed) {
            // Marked before the reply goes out: a program that saves once it has the reply
            // must find the change pending.
            core_->MarkDirty();
            std::lock_guard lock(device_->mu);
            if (device_->attached) {
                device_->Deliver(replies);
            }
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

SimBackend::SimBackend() : core_(std::make_shared<Core>()) {
    writer_ = std::thread([core = core_] { core->WriterLoop(); });
}

SimBackend::~SimBackend() {
    SetHotplugListener(nullptr);
    {
        std::lock_guard lock(core_->writerMu);
        core_->stopWriter = true;
    }
    core_->writerCv.notify_all();
    writer_.join();
    Flush();
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
    core_->MarkDirty();
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
    core_->MarkDirty();
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
    core_->MarkDirty();
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
        core_->MarkDirty();
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
        core_->MarkDirty();
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

bool SimBackend::UnplugAfter(int index, uint8_t code, int count) {
    const auto device = core_->DeviceAt(index);
    if (!device) {
        return false;
    }
    std::lock_guard lock(device->mu);
    device->unplugCode = code;
    device->unplugAfter = std::max(count, 0);
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

SimFileError SimBackend::LoadSimFile(const std::filesystem::path& given, std::string* error) {
    // Read by the name given, so that a refusal names it; kept by its real name.
    const std::filesystem::path path = ResolveSimFilePath(given);
    std::vector<SimFileKeyboard> keyboards;
    const auto result = ReadSimFile(given, keyboards, error);
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
    {
        std::lock_guard fileLock(core_->fileMu);
        core_->base = ToSlots(keyboards);
    }
    core_->TakeDirty();
    core_->DeliverHotplug();
    return SimFileError::None;
}

SimFileError SimBackend::SaveSimFile(const std::filesystem::path& path, std::string* error) {
    return core_->Save(ResolveSimFilePath(path), error);
}

void SimBackend::BindSimFile(std::filesystem::path path) {
    {
        std::lock_guard fileLock(core_->fileMu);
        core_->base = {};
    }
    std::lock_guard lock(core_->mu);
    core_->boundPath = path.empty() ? path : ResolveSimFilePath(path);
}

SimFileError SimBackend::SyncFile(std::string* error, int lockLimitMs) {
    core_->TakeDirty();
    return core_->Sync(error, lockLimitMs);
}

SimFileError SimBackend::Flush(std::string* error) {
    return core_->Flush(error);
}

std::filesystem::path SimBackend::BoundFile() const {
    std::lock_guard lock(core_->mu);
    return core_->boundPath;
}

}  // namespace tavrik::sim

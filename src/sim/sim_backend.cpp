#include "sim/sim_backend.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#include "sim/sim_backend_core.h"

namespace tavrik::sim {
namespace {

constexpr auto kListenerWaitLimit = std::chrono::seconds(5);

}  // namespace

std::shared_ptr<Device> SimBackend::Core::DeviceAt(int index) const {
    std::lock_guard lock(mu);
    return ValidIndex(index) ? slots[static_cast<size_t>(index)].device : nullptr;
}

void SimBackend::Core::Unplug(Slot& slot) {
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

void SimBackend::Core::Plug(Slot& slot, SimKeyboardState state) {
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

void SimBackend::Core::DeliverHotplug() {
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

void SimBackend::Core::Vanish(const std::shared_ptr<Device>& device) {
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

std::vector<SimFileKeyboard> SimBackend::Core::Snapshot() const {
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
    return MakeSimHandle(core_, std::move(device), std::move(inbox));
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

}  // namespace tavrik::sim

// The simulator file a SimBackend keeps: the writer thread that saves a change shortly
// after it, and the merge that takes in what other programs wrote meanwhile.
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim_backend_core.h"

namespace tavrik::sim {
namespace {

// Changes that come close together reach the file in one write.
constexpr auto kSaveDelay = std::chrono::milliseconds(50);
// A save waits at most 5 s for the file's lock; a Flush waits for the writer's save.
constexpr auto kFlushWaitLimit = std::chrono::seconds(30);

}  // namespace

SimFileError SimBackend::Core::Save(const std::filesystem::path& path, std::string* error) {
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

void SimBackend::Core::MarkDirty() {
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

SimFileError SimBackend::Core::Sync(std::string* error, int lockLimitMs) {
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

SimFileSlot SimBackend::Core::MergeInto(Slot& slot, int index, const SimFileSlot& theirs) {
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

bool SimBackend::Core::Apply(Device& device, const SimKeyboardState& ours,
                             const SimFileKeyboard& merged, uint32_t seenSeq) {
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

void SimBackend::Core::WriterLoop() {
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

bool SimBackend::Core::TakeDirty() {
    std::lock_guard lock(writerMu);
    return std::exchange(dirty, false) | std::exchange(unsaved, false);
}

SimFileError SimBackend::Core::Flush(std::string* error) {
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

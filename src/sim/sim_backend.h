// Up to four simulated keyboards behind the same HidBackend as real hardware. Each
// attached keyboard shows two interfaces, like the real device: its vendor interface,
// which answers reports, and a plain keyboard interface, which never does.
//
// Threads: Read on one thread, Write on another, and attach, detach, events and file
// work on any other, all at once. Hot-plug listeners run on the thread that attached or
// detached, with no lock of the backend held, so they may call back into it.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hid/hid_backend.h"
#include "sim/sim_file.h"
#include "sim/sim_keyboard.h"
#include "sim/sim_state.h"

namespace tavrik::sim {

// Changed: another program changed what a plugged-in keyboard holds in a way the keyboard
// itself never reports (a colour, a macro); the host has to read it back.
enum class SimHotplug { Arrived, Removed, Changed };

// Called once per interface path, in the order the changes happened.
using SimHotplugListener = std::function<void(SimHotplug, const std::string& path)>;

class SimBackend final : public HidBackend {
public:
    SimBackend();
    // Detaches every keyboard without telling the listener; handles still open read -1.
    ~SimBackend() override;
    SimBackend(const SimBackend&) = delete;
    SimBackend& operator=(const SimBackend&) = delete;

    std::vector<HidDeviceInfo> Enumerate() override;
    std::unique_ptr<HidHandle> Open(const std::string& path, HidOpenError* error) override;
    // The backend's hot-plug, and the sim file it keeps, watched for other programs'
    // changes (which the backend then takes in). The backend must keep its file bound and
    // outlive the monitor. Null, with `error` set, when the file's folder cannot be watched.
    std::unique_ptr<DeviceMonitor> MakeMonitor(std::string* error) override;
    bool Simulated() const override { return true; }

    // Plugs `state` in at index 0..3, unplugging what sat there. False for a bad index.
    bool Attach(int index, SimKeyboardState state);
    // Plugs the keyboard last detached from `index` in again (a fresh power-up).
    bool Attach(int index);
    // Unplugs; the keyboard's state is kept for Attach(index). Reads waiting on it
    // return -1 at once.
    bool Detach(int index);
    bool IsAttached(int index) const;
    // Of the attached keyboard, or of the one kept after a detach.
    std::optional<SimKeyboardState> StateOf(int index) const;
    // Path of the vendor interface; empty when nothing is attached at `index`.
    std::string VendorPath(int index) const;

    // Runs `fn` on the attached keyboard under its lock; false when none is attached.
    // `fn` must not call into the backend.
    bool WithKeyboard(int index, const std::function<void(SimKeyboard&)>& fn);

    // Unrequested reports: true when the keyboard sent one.
    bool InsertModule(int index, uint8_t slot, uint32_t uid, uint8_t shortMac,
                      const std::array<uint8_t, 4>& hid, uint8_t flag);
    bool RemoveModule(int index, uint8_t slot);
    bool KeyDown(int index, uint8_t slot, uint8_t layerKeyHid, bool extraFlag);
    bool KeyUp(int index, uint8_t slot, uint8_t layerKeyHid, uint8_t returnLayer);
    bool BusShort(int index);
    bool BusShortGone(int index);
    bool KeyRequest(int index, uint32_t uid, uint8_t shortMac);
    bool Inject(int index, const std::function<std::optional<SimPayload>(SimKeyboard&)>& event);
    // The next `count` reads from the keyboard fail (-1) while it stays plugged in: a
    // transient transfer error. False when nothing is attached at `index`.
    bool FailNextReads(int index, int count);
    // The keyboard pulls itself out once it has obeyed the `count`-th command with code
    // `code` from now on, before its reply goes out, as a cable pulled at that moment;
    // hot-plug listeners hear the removal. 0 turns it off. False when nothing is attached.
    bool UnplugAfter(int index, uint8_t code, int count);

    // Shortens the keyboards' restart time, now and for those attached later, like the
    // session clock's pause scale (0..1; 1 is real time).
    void SetPauseScale(double scale) override;

    // Replacing or clearing the listener waits (at most 5 s) for a call in progress on
    // another thread, so the old listener may be destroyed afterwards.
    void SetHotplugListener(SimHotplugListener listener);

    // Replaces every keyboard with those of the file and keeps the file from then on:
    // a change is saved within about 50 ms by a thread of the backend, merged with what
    // other programs wrote meanwhile (see sim_merge.h), under the file's lock.
    SimFileError LoadSimFile(const std::filesystem::path& path, std::string* error = nullptr);
    // Writes every keyboard to `path` as it is now.
    SimFileError SaveSimFile(const std::filesystem::path& path, std::string* error = nullptr);
    // Keeps `path` from now on as LoadSimFile does, without reading it first; an empty
    // path stops that.
    void BindSimFile(std::filesystem::path path);
    std::filesystem::path BoundFile() const;
    // Takes in what another program changed in the kept file now (hot-plug, module and
    // key reports follow on this thread) and saves what this one changed. Waits at most
    // `lockLimitMs` for the file's lock (Busy after).
    SimFileError SyncFile(std::string* error = nullptr, int lockLimitMs = kSimFileLockLimitMs);
    // Saves a pending change now rather than shortly, after the writer's save under way,
    // and tells whether this or the writer's last save failed. The destructor does so
    // as well, without telling.
    SimFileError Flush(std::string* error = nullptr);

    struct Core;

private:
    std::shared_ptr<Core> core_;
    std::thread writer_;
};

// The simulated backend behind `backend`, or null for real devices.
inline SimBackend* SimOf(HidBackend& backend) {
    return dynamic_cast<SimBackend*>(&backend);
}

}  // namespace tavrik::sim

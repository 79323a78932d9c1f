// The controller of one simulated keyboard: takes the payload of one output report and
// answers the way the controller firmware does. Not thread-safe; SimBackend serialises
// every call under the keyboard's lock.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "protocol/protocol.h"
#include "sim/sim_state.h"

namespace tavrik::sim {

using SimPayload = std::array<uint8_t, kPayloadSize>;

// Last 0x2A seen for a slot.
struct SimBlink {
    uint8_t mode = 0;  // 1 steady waiting colour, 2 back to colour, 3 blink
    Rgb4 rgb;
};

// Last 0x46 seen, bytes 2..6 as sent.
struct SimLayerSwitch {
    uint8_t kind = 0;  // 2 switch to, 3 back to the previous layer
    uint8_t devicePlusOne = 0;
    uint8_t slotPlusOne = 0;
    uint8_t layerKey = 0;
    uint8_t layerByte = 0;
};

class SimKeyboard {
public:
    // Powers up with a cipher key from std::random_device.
    explicit SimKeyboard(SimKeyboardState state);
    // Powers up with a key drawn from `powerUpSeed`, for repeatable runs.
    SimKeyboard(SimKeyboardState state, uint64_t powerUpSeed);

    // One output report's payload (without the report ID); bytes past 64 are ignored,
    // missing ones read as 0. Returns the reports the controller sends back.
    std::vector<SimPayload> Handle(std::span<const uint8_t> payload);
    // One output report as the USB host sends it, report ID first. The controller takes
    // only full reports of its one output report (65 bytes, ID 0); anything else never
    // reaches its command handler and is counted in IgnoredReports.
    std::vector<SimPayload> HandleReport(std::span<const uint8_t> report);
    uint64_t IgnoredReports() const { return ignoredReports_; }
    // The last commands the controller heard, oldest first (at most kHeardCommands).
    static constexpr size_t kHeardCommands = 32;
    std::vector<SimPayload> Heard() const { return {heard_.begin(), heard_.end()}; }

    // Unrequested reports. Each changes the keyboard as the event says and returns the
    // report the controller sends, or nothing when the event cannot happen.
    std::optional<SimPayload> InsertModule(uint8_t slot, const SimModule& module);
    std::optional<SimPayload> InsertModule(uint8_t slot, uint32_t uid, uint8_t shortMac,
                                           const std::array<uint8_t, 4>& hid, uint8_t flag);
    std::optional<SimPayload> RemoveModule(uint8_t slot);
    // A layerKeyHid of 0 is an ordinary key.
    std::optional<SimPayload> KeyDown(uint8_t slot, uint8_t layerKeyHid, bool extraFlag);
    std::optional<SimPayload> KeyUp(uint8_t slot, uint8_t layerKeyHid, uint8_t returnLayer);
    SimPayload BusShort();  // the modules drop off the bus until BusShortGone
    SimPayload BusShortGone();
    SimPayload KeyRequest(uint32_t uid, uint8_t shortMac);

    // A restart: new cipher key, not enabled, nothing blinking, bus healthy.
    void PowerCycle();

    const SimKeyboardState& State() const { return state_; }
    // Takes what another program stored in the keyboard, quietly: no report, no change
    // to save. What lives only while powered (key, blinking, upgrade) stays.
    void Restore(SimKeyboardState state) { state_ = std::move(state); }
    void SetFaults(const SimFaults& faults);
    void SetLatencyMs(int ms);
    // Multiplies the controller's restart time (restartMs), so tests and demos on a fast
    // session clock need not wait two real seconds; 1 is real time.
    void SetPauseScale(double scale);

    // True once after the stored state changed (by the host or by an event).
    bool TakeChanged();

    // What the controller hands out in bytes 8..15 of its next version reply.
    std::array<uint8_t, 8> CipherKey() const;
    // Set by an accepted 0x48: true enabled, false disabled; empty before any.
    std::optional<bool> Enabled() const { return enabled_; }
    std::optional<bool> HostActive() const { return hostActive_; }
    std::optional<SimBlink> BlinkOf(uint8_t slot) const;
    std::optional<SimLayerSwitch> LastLayerSwitch() const { return layerSwitch_; }
    bool BusShorted() const { return busShort_; }

    // Firmware upgrade, since power-up: the controller image as the bootloader programmed
    // it (0xFF where nothing was written), and the key module image the controller
    // collected for its modules.
    const std::vector<uint8_t>& KbmcFlash() const { return upgrade_.kbmcFlash; }
    const std::vector<uint8_t>& KeyImage() const { return upgrade_.keyImage; }
    // True once when the keyboard has pulled itself out (faults.vanishAfterChunks); the
    // backend then detaches it.
    bool TakeVanished();

private:
    std::optional<SimPayload> Answer(const SimPayload& cmd);
    void DropMarco(SimModule& m);
    std::optional<SimPayload> AnswerUpgrade(const SimPayload& cmd);
    std::vector<SimPayload> ApplyFaults(uint8_t code, SimPayload reply);

    SimPayload VersionReply();
    SimPayload EnableReply(const SimPayload& cmd);
    std::optional<SimPayload> ScanReply(uint8_t slot) const;
    std::optional<SimPayload> KeyVerReply(uint8_t slot) const;
    std::optional<SimPayload> ColourReply(uint8_t slot) const;
    std::optional<SimPayload> MarcoReply(const SimPayload& cmd) const;
    void WriteKeyConfig(const SimPayload& cmd);
    void SetColour(const SimPayload& cmd);
    void Blink(const SimPayload& cmd);
    void SetMode(const SimPayload& cmd);
    void WriteMarco(const SimPayload& cmd);

    // The module at `slot` as the bus shows it: none while shorted.
    SimModule* ModuleAt(uint8_t slot);
    const SimModule* ModuleAt(uint8_t slot) const;

    SimKeyboardState state_;
    std::mt19937_64 powerRng_;
    std::mt19937 faultRng_;
    std::array<uint8_t, 8> key_{};
    std::array<uint8_t, 8> handedOutKey_{};
    std::optional<bool> enabled_;
    std::optional<bool> hostActive_;
    std::array<std::optional<SimBlink>, kKeySlots> blinks_{};
    std::optional<SimLayerSwitch> layerSwitch_;
    bool busShort_ = false;
    bool changed_ = false;
    uint64_t repliesSent_ = 0;
    uint64_t ignoredReports_ = 0;
    std::deque<SimPayload> heard_;
    double pauseScale_ = 1.0;

    // Firmware upgrade (sim_upgrade.cpp).
    struct Upgrade {
        std::vector<uint8_t> kbmcFlash = std::vector<uint8_t>(kSimKbmcBlocks * 2048, 0xFF);
        std::vector<uint8_t> keyImage = std::vector<uint8_t>(7168, 0xFF);
        bool programming = false;  // 0x20 seen since the bootloader started
        int block = 0;             // controller block the next chunk goes to
        int received = 0;          // controller image bytes received
        int busyQueries = 0;       // state queries the last full block still programs for
        bool stalled = false;      // the last full block never finishes
        bool keyTransfer = false;  // 0x0A seen in the application: key chunks are taken
        std::vector<bool> keyChunks = std::vector<bool>(7168 / 32, false);  // received
        bool keyUpgrading = false;  // 0x10 seen: the modules are being programmed
        int keyStep = 0;
        uint16_t keyProgress = 0;
        int chunks = 0;  // every 0x0C, for the faults
        bool vanished = false;
        std::chrono::steady_clock::time_point deafUntil{};
    };
    bool Restarting() const;
    void Restart(char stage);
    std::optional<SimPayload> ReadyReply();
    std::optional<SimPayload> Chunk(const SimPayload& cmd);
    int KeyAppBytesReceived() const;
    bool StoreKbmcChunk(unsigned address, const uint8_t* data);
    bool StoreKeyChunk(unsigned address, const uint8_t* data);
    SimPayload KbmcStateReply();
    SimPayload KeyStateReply();
    void EndUpgrade();
    Upgrade upgrade_;
};

}  // namespace tavrik::sim

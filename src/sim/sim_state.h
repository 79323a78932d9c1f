// What one simulated keyboard is: its USB identity, its controller and the key modules
// on its bus. Everything here survives a restart of the program through the sim file;
// what only lives while the keyboard is powered (the cipher key it hands out, enable
// state, blinking) belongs to SimKeyboard.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hid/device_table.h"
#include "macro/marco.h"
#include "protocol/protocol.h"

namespace tavrik::sim {

inline constexpr int kSimRowCount = static_cast<int>(kDeviceTable.size());
inline constexpr int kDefaultLatencyMs = 1;
inline constexpr int kMaxLatencyMs = 10000;
inline constexpr int kDefaultRestartMs = 2000;  // a controller restart takes about 2 s
inline constexpr int kSimKbmcBlocks = 28;       // of 2048 bytes, the controller image

// How a keyboard of a device-table row shows itself on USB.
struct SimUsbIds {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t release = 0;
    int interfaceNumber = -1;  // of the vendor interface
};

// Empty for a row outside 0..3.
std::optional<SimUsbIds> SimRowIds(int row);

// A firmware version: high, low.
using SimVersion = std::array<uint8_t, 2>;

// Flash never written reads back as all ones.
inline constexpr MarcoEntry kErasedMarcoEntry{0xFF, 0xFF, 0xFFFF};
using SimMarco = std::array<MarcoEntry, kMarcoEntryCount>;
SimMarco ErasedMarco();

struct SimModule {
    uint32_t uid = 0;              // never 0 for a module that is there
    uint8_t shortMac = 0;          // 1..127, unique on the bus
    std::array<uint8_t, 4> hid{};  // layers 0..3; all 0 = waiting for an assignment
    uint8_t flag = 0;
    uint32_t colour = 0;  // 0x00BBGGRR; the LED keeps the top nibble of each channel
    char stage = 'A';     // 'A' application, 'B' bootloader
    uint8_t verHi = 1;
    uint8_t verLo = 0;
    SimMarco marco = ErasedMarco();

    friend bool operator==(const SimModule&, const SimModule&) = default;
};

// Ways to misbehave, for testing the host's patience.
struct SimFaults {
    int dropNext = 0;                  // replies still to swallow
    double dropRate = 0.0;             // chance that any other reply is swallowed
    uint32_t seed = 1;                 // of the generator behind dropRate
    std::vector<uint8_t> silentCodes;  // commands that are obeyed but never answered
    bool wrongScanSlot = false;        // 0x04 for slot s answers for slot s + 1
    bool wrongMarcoEntry = false;      // 0x43 names the entry after the one asked for
    int extraReportEvery = 0;          // 0 off; else every n-th reply comes after extraReport
    std::vector<uint8_t> extraReport = {0x0F};
    // Firmware upgrade. A state query that is never answered is a silent code (0x26, 0x12).
    int refuseChunk = 0;           // 0 off; else the n-th 0x0C since power-up is refused
    int stallBlock = -1;           // -1 off; else this controller block is never finished
    bool stallKeyUpgrade = false;  // the modules' progress stops short of the end
    int vanishAfterChunks = 0;     // 0 off; else pulled out after the n-th 0x0C (once)

    friend bool operator==(const SimFaults&, const SimFaults&) = default;
};

struct SimKeyboardState {
    int row = 0;
    // Replace what the row gives, to present a device the host must turn away.
    std::optional<uint16_t> vendorId;
    std::optional<uint16_t> productId;
    std::optional<uint16_t> release;
    std::optional<int> interfaceNumber;

    std::string product = "Tavrik Keyboard";
    std::string serial = "SIM00000001";

    char stage = 'A';
    uint8_t verHi = 1;
    uint8_t verLo = 50;
    uint8_t usbRate = 1;
    uint8_t standardModules = 44;
    uint8_t configuredModules = 44;
    bool nkro = false;
    uint8_t hwVariant = 0;  // 0..3

    int latencyMs = kDefaultLatencyMs;
    SimFaults faults;

    // Firmware upgrade: how long a restart (into or out of the bootloader) keeps the
    // controller deaf, how many state queries find a received block still being
    // programmed, and the versions the new firmware brings (unchanged when empty).
    int restartMs = kDefaultRestartMs;
    int programQueries = 0;
    std::optional<SimVersion> upgradeToVersion;
    std::optional<SimVersion> keyUpgradeToVersion;

    std::array<std::optional<SimModule>, kKeySlots> modules{};

    SimUsbIds UsbIds() const;
    int ModuleCount() const;
    // The module whose short address is `shortMac`, or null.
    const SimModule* ModuleByMac(uint8_t shortMac) const;

    friend bool operator==(const SimKeyboardState&, const SimKeyboardState&) = default;
};

// Never throws. Missing fields take their defaults; anything malformed is refused with
// a message naming the field.
std::optional<SimKeyboardState> ParseSimKeyboardState(const nlohmann::json& j,
                                                      std::string* error = nullptr);
nlohmann::json SimKeyboardStateToJson(const SimKeyboardState& state);

// For nlohmann's get<>() and implicit conversion. from_json throws std::invalid_argument
// on malformed input; code outside this folder should call ParseSimKeyboardState.
void to_json(nlohmann::json& j, const SimKeyboardState& state);
void from_json(const nlohmann::json& j, SimKeyboardState& state);

}  // namespace tavrik::sim

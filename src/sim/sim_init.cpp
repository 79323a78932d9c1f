#include "sim/sim_init.h"

#include <array>
#include <cstdio>
#include <numeric>
#include <random>
#include <set>

#include "keys/keycodes.h"
#include "macro/marco_codec.h"

namespace tavrik::sim {
namespace {

constexpr int kBootloaderIndex = 9;
constexpr int kLayerKeyIndex = 3;
constexpr int kMediaKeyIndex = 5;
constexpr int kMarcoKeyIndex = 8;
constexpr uint8_t kHidA = 0x04;
constexpr uint8_t kHid1 = 0x1E;
constexpr uint8_t kHidH = 0x0B;
constexpr uint8_t kHidI = 0x0C;
constexpr uint8_t kHidPlayPause = 0x89;
constexpr uint8_t kHidLayer0 = HID_LAYER_FIRST;
constexpr uint8_t kHidLayer1 = HID_LAYER_FIRST + 1;
constexpr uint8_t kMaxShortMac = 0x7F;

// 0x00BBGGRR with only the nibbles the LEDs keep.
constexpr std::array<uint32_t, 8> kPalette = {
    0x00F0F0F0, 0x000000F0, 0x0000F000, 0x00F00000, 0x0000F0F0, 0x00F000F0, 0x00F0F000, 0x00305080,
};

bool IsWaiting(int i) {
    return i % 7 == 6;
}

// Types "hi".
SimMarco GreetingMarco() {
    MarcoSteps steps;
    for (uint8_t hid : {kHidH, kHidI}) {
        steps.Append({MarcoFlag::KeyDown, hid, kMarcoDefaultDelay});
        steps.Append({MarcoFlag::KeyUp, hid, kMarcoDefaultDelay});
    }
    return SingleShotMarco(steps);
}

}  // namespace

SimMarco SingleShotMarco(const MarcoSteps& steps) {
    SimMarco marco = ErasedMarco();
    if (const auto record = EncodeMarco(MarcoMode::SingleShot, steps, kMarcoDefaultDelay)) {
        for (size_t i = 0; i < marco.size(); ++i) {
            marco[i] = record->entries[i];
            if (record->entries[i].flag == MarcoFlag::End) {
                break;
            }
        }
    }
    return marco;
}

std::optional<SimKeyboardState> MakeInitialState(int keys, int row, int verHi, int verLo,
                                                 uint32_t seed) {
    if (keys < 0 || keys > static_cast<int>(kKeySlots) || !SimRowIds(row) || verHi < 0 ||
        verHi > 255 || verLo < 0 || verLo > 255) {
        return std::nullopt;
    }
    std::mt19937 rng(seed);
    SimKeyboardState s;
    s.row = row;
    s.verHi = static_cast<uint8_t>(verHi);
    s.verLo = static_cast<uint8_t>(verLo);
    s.configuredModules = static_cast<uint8_t>(std::max<int>(s.standardModules, keys));
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM%08X", static_cast<unsigned>(rng()));
    s.serial = serial;

    // Short addresses are not the slot numbers, so a host mixing them up shows at once.
    std::array<uint8_t, kMaxShortMac> macs{};
    std::iota(macs.begin(), macs.end(), uint8_t{1});
    for (size_t i = macs.size() - 1; i > 0; --i) {
        std::swap(macs[i], macs[rng() % (i + 1)]);
    }

    std::set<uint32_t> uids;
    int assigned = 0;
    for (int i = 0; i < keys; ++i) {
        SimModule m;
        do {
            m.uid = rng();
        } while (m.uid == 0 || !uids.insert(m.uid).second);
        m.shortMac = macs[static_cast<size_t>(i)];
        m.colour = kPalette[static_cast<size_t>(i) % kPalette.size()];
        m.verHi = 1;
        m.verLo = static_cast<uint8_t>(2 + i % 4);
        if (i == kBootloaderIndex) {
            m.stage = 'B';
            m.verHi = 0;
            m.verLo = 0;
        } else if (IsWaiting(i)) {
            m.colour = 0;
        } else if (i == kLayerKeyIndex) {
            m.hid = {kHidLayer1, kHidLayer0, 0, 0};
        } else if (i == kMediaKeyIndex) {
            m.hid = {kHidPlayPause, 0, 0, 0};
        } else if (i == kMarcoKeyIndex) {
            m.hid = {HID_MARCO, 0, 0, 0};
            m.marco = GreetingMarco();
        } else {
            m.hid = {static_cast<uint8_t>(kHidA + assigned % 26),
                     static_cast<uint8_t>(kHid1 + assigned % 10), 0, 0};
            ++assigned;
        }
        s.modules[static_cast<size_t>(i)] = m;
    }
    return s;
}

}  // namespace tavrik::sim

#include "protocol/enable_report.h"

#include <array>
#include <random>

#include "protocol/cipher.h"

namespace tavrik {
namespace {

constexpr size_t kBlockSize = 8;
constexpr size_t kFirstBlock = 8;
constexpr size_t kBlocks = 7;

// First plain byte of blocks 1..4.
constexpr std::array<uint8_t, 4> kEnableMarker = {'k', ' ', 'o', 'n'};
constexpr std::array<uint8_t, 4> kDisableMarker = {'k', 'o', 'f', 'f'};

uint8_t DefaultRandomByte() {
    thread_local std::mt19937 generator{std::random_device{}()};
    return static_cast<uint8_t>(generator() & 0xFF);
}

}  // namespace

Command BuildEnableKbmc(bool enable, CipherKey key, const RandomSource& random) {
    const auto next = [&random] { return random ? random() : DefaultRandomByte(); };

    Command c(ReportCode::CmdEnableKbmc, kPayloadSize);
    auto p = c.MutablePayload();
    p[1] = 0;
    p[2] = enable ? 1 : 0;
    for (size_t i = 3; i < kFirstBlock; ++i) {
        p[i] = next();
    }
    const auto& marker = enable ? kEnableMarker : kDisableMarker;
    for (size_t b = 0; b < kBlocks; ++b) {
        std::array<uint8_t, kBlockSize> plain{};
        for (auto& byte : plain) {
            byte = next();
        }
        if (b < marker.size()) {
            plain[0] = marker[b];
        }
        EncipherBlock(key.data(), plain.data(), &p[kFirstBlock + b * kBlockSize]);
    }
    return c;
}

Command BuildEnableKbmc(bool enable, CipherKey key) {
    return BuildEnableKbmc(enable, key, RandomSource{});
}

std::optional<bool> CheckEnableKbmc(std::span<const uint8_t> payload, CipherKey key) {
    if (payload.size() < kPayloadSize || payload[0] != CodeByte(ReportCode::CmdEnableKbmc)) {
        return std::nullopt;
    }
    std::array<uint8_t, kEnableMarker.size()> found{};
    for (size_t b = 0; b < found.size(); ++b) {
        std::array<uint8_t, kBlockSize> plain{};
        DecipherBlock(key.data(), &payload[kFirstBlock + b * kBlockSize], plain.data());
        found[b] = plain[0];
    }
    if (found == kEnableMarker && payload[2] == 1) {
        return true;
    }
    if (found == kDisableMarker && payload[2] == 0) {
        return false;
    }
    return std::nullopt;
}

}  // namespace tavrik

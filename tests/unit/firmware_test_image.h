// A firmware image file for upgrade tests, built without the code under test.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "protocol/fwimage.h"

namespace tavrik::testing {

// A stored image whose three sums check out, built without the code under test.
inline std::vector<uint8_t> GoodImage() {
    std::vector<uint8_t> plain(kFwBufferSize);
    std::mt19937 rng(11);
    for (auto& b : plain) {
        b = static_cast<uint8_t>(rng());
    }
    auto fix = [&](size_t offset, size_t size, uint8_t bank, size_t at) {
        std::vector<uint8_t> p = plain;
        if (bank != 0) {
            for (size_t v = offset + 4; v <= offset + 292; v += 4) {
                p[v + 2] = bank;
                p[v + 3] = 0x08;
            }
        }
        unsigned sum = 0;
        for (size_t i = offset; i < offset + size; ++i) {
            sum += i == at ? 0 : p[i];
        }
        plain[at] = static_cast<uint8_t>(0xFF - (sum & 0xFF));
    };
    fix(0, 0xE000, 1, 0xDFFF);
    fix(0xEA00, 4608, 0, 0xFBFF);
    fix(0x10000, 0xE000, 2, 0x1DFFF);
    for (size_t i = 0; i < plain.size(); ++i) {
        plain[i] ^= static_cast<uint8_t>(1u << (i % 8));
    }
    return plain;
}

}  // namespace tavrik::testing

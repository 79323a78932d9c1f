// The 64-bit block cipher that protects the controller's enable/disable report.
// It is the classic 16-round Feistel construction with the standard tables, changed
// in five places the controller's firmware depends on; a stock library will not do.
#pragma once

#include <cstdint>

namespace tavrik {

// Enciphers one 8-byte block under an 8-byte key, the way the controller expects.
void EncipherBlock(const uint8_t key[8], const uint8_t in[8], uint8_t out[8]);

// Inverse of EncipherBlock under the same key.
void DecipherBlock(const uint8_t key[8], const uint8_t in[8], uint8_t out[8]);

namespace cipher_detail {

// Each flag turns on one way in which the controller departs from the standard
// cipher. All off is the published construction (which the tests check against
// published vectors); all on is what the controller accepts.
struct CipherDifferences {
    // Bit j of a block or key is bit j % 8 of byte j / 8, counted from the LSB.
    bool lsbBitOrder = false;
    // A substitution box's 4-bit result enters the round output LSB first.
    bool sboxLsbFirst = false;
    // The halves are not swapped after the last round.
    bool noFinalSwap = false;
    // The second key permutation takes bit 34 at position 34 instead of bit 45.
    bool pc2Pos34 = false;
    // Box 6 row 1 column 6 and box 7 row 1 column 5 hold 0 instead of 9.
    bool sboxPatch = false;
};

inline constexpr CipherDifferences kStandard{};
inline constexpr CipherDifferences kController{true, true, true, true, true};

void EncipherBlockWith(const CipherDifferences& diff, const uint8_t key[8], const uint8_t in[8],
                       uint8_t out[8]);
void DecipherBlockWith(const CipherDifferences& diff, const uint8_t key[8], const uint8_t in[8],
                       uint8_t out[8]);

}  // namespace cipher_detail
}  // namespace tavrik

#include "protocol/cipher.h"

#include <array>
#include <cstddef>
#include <utility>

namespace tavrik {
namespace {

// Internally a block, key or half is an integer whose bit p (from the LSB) is cipher
// bit p + 1 of the published 1-based tables. Every permutation then becomes a lookup
// per input byte into a table built at compile time.

// Rows as published.
// clang-format off
constexpr std::array<uint8_t, 64> kIp = {
    58, 50, 42, 34, 26, 18, 10, 2,
    60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6,
    64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17,  9, 1,
    59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5,
    63, 55, 47, 39, 31, 23, 15, 7};

constexpr std::array<uint8_t, 64> kFp = {
    40, 8, 48, 16, 56, 24, 64, 32,
    39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30,
    37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28,
    35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26,
    33, 1, 41,  9, 49, 17, 57, 25};

constexpr std::array<uint8_t, 48> kE = {
    32,  1,  2,  3,  4,  5,
     4,  5,  6,  7,  8,  9,
     8,  9, 10, 11, 12, 13,
    12, 13, 14, 15, 16, 17,
    16, 17, 18, 19, 20, 21,
    20, 21, 22, 23, 24, 25,
    24, 25, 26, 27, 28, 29,
    28, 29, 30, 31, 32,  1};

constexpr std::array<uint8_t, 32> kP = {
    16,  7, 20, 21,
    29, 12, 28, 17,
     1, 15, 23, 26,
     5, 18, 31, 10,
     2,  8, 24, 14,
    32, 27,  3,  9,
    19, 13, 30,  6,
    22, 11,  4, 25};

constexpr std::array<uint8_t, 56> kPc1 = {
    57, 49, 41, 33, 25, 17,  9,
     1, 58, 50, 42, 34, 26, 18,
    10,  2, 59, 51, 43, 35, 27,
    19, 11,  3, 60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15,
     7, 62, 54, 46, 38, 30, 22,
    14,  6, 61, 53, 45, 37, 29,
    21, 13,  5, 28, 20, 12,  4};

constexpr std::array<uint8_t, 48> kPc2 = {
    14, 17, 11, 24,  1,  5,
     3, 28, 15,  6, 21, 10,
    23, 19, 12,  4, 26,  8,
    16,  7, 27, 20, 13,  2,
    41, 52, 31, 37, 47, 55,
    30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53,
    46, 42, 50, 36, 29, 32};
// clang-format on

constexpr std::array<uint8_t, 48> MakePc2Variant() {
    auto t = kPc2;
    t[33] = 34;  // position 34, 1-based
    return t;
}
constexpr std::array<uint8_t, 48> kPc2Variant = MakePc2Variant();

constexpr std::array<int, 16> kShifts = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// kSbox[box][row][column]
using Sbox = std::array<std::array<uint8_t, 16>, 4>;
constexpr std::array<Sbox, 8> kSbox = {{
    {{{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
      {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
      {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
      {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}}},
    {{{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
      {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
      {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
      {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}}},
    {{{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
      {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
      {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
      {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}}},
    {{{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
      {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
      {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
      {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}}},
    {{{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
      {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
      {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
      {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}}},
    {{{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
      {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
      {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
      {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}}},
    {{{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
      {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
      {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
      {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}}},
    {{{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
      {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
      {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
      {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}},
}};

// Typing slips in the tables above would not all show up in tests; these do.
constexpr bool FpInvertsIp() {
    for (size_t i = 0; i < kIp.size(); ++i) {
        if (kFp[kIp[i] - 1u] != i + 1) {
            return false;
        }
    }
    return true;
}
static_assert(FpInvertsIp());

constexpr bool SboxRowsArePermutations() {
    for (const auto& box : kSbox) {
        for (const auto& row : box) {
            unsigned seen = 0;
            for (uint8_t v : row) {
                seen |= 1u << v;
            }
            if (seen != 0xFFFF) {
                return false;
            }
        }
    }
    return true;
}
static_assert(SboxRowsArePermutations());

// For each input byte position k and byte value v: the output bits that the
// permutation `table` draws from bits 8k..8k+7 of the input.
template <size_t InBytes>
using ByteTables = std::array<std::array<uint64_t, 256>, InBytes>;

template <size_t InBytes, size_t OutBits>
constexpr ByteTables<InBytes> MakeByteTables(const std::array<uint8_t, OutBits>& table) {
    ByteTables<InBytes> tables{};
    for (size_t i = 0; i < OutBits; ++i) {
        const size_t src = table[i] - 1u;
        const size_t byte = src / 8;
        const uint64_t bit = uint64_t{1} << (src % 8);
        for (size_t v = 0; v < 256; ++v) {
            if (v & bit) {
                tables[byte][v] |= uint64_t{1} << i;
            }
        }
    }
    return tables;
}

template <size_t InBytes>
uint64_t Permute(const ByteTables<InBytes>& tables, uint64_t in) {
    uint64_t out = 0;
    for (size_t k = 0; k < InBytes; ++k) {
        out |= tables[k][(in >> (8 * k)) & 0xFF];
    }
    return out;
}

constexpr auto kIpTables = MakeByteTables<8>(kIp);
constexpr auto kFpTables = MakeByteTables<8>(kFp);
constexpr auto kETables = MakeByteTables<4>(kE);
constexpr auto kPc1Tables = MakeByteTables<8>(kPc1);
constexpr auto kPc2Tables = MakeByteTables<7>(kPc2);
constexpr auto kPc2VariantTables = MakeByteTables<7>(kPc2Variant);

// Substitution and P merged: for box b and its 6 input bits x (bit 0 of x being the
// box's first input bit), the 32-bit round function contribution.
using SpTables = std::array<std::array<uint32_t, 64>, 8>;

constexpr SpTables MakeSpTables(bool lsbFirst, bool patch) {
    SpTables sp{};
    for (size_t box = 0; box < 8; ++box) {
        for (uint32_t x = 0; x < 64; ++x) {
            const uint32_t b0 = x & 1, b1 = (x >> 1) & 1, b2 = (x >> 2) & 1;
            const uint32_t b3 = (x >> 3) & 1, b4 = (x >> 4) & 1, b5 = (x >> 5) & 1;
            const uint32_t row = 2 * b0 + b5;
            const uint32_t col = 8 * b1 + 4 * b2 + 2 * b3 + b4;
            uint32_t value = kSbox[box][row][col];
            if (patch && row == 1 && ((box == 5 && col == 6) || (box == 6 && col == 5))) {
                value = 0;
            }
            uint32_t sOut = 0;
            for (uint32_t m = 0; m < 4; ++m) {
                const uint32_t bit = lsbFirst ? (value >> m) & 1 : (value >> (3 - m)) & 1;
                sOut |= bit << (4 * box + m);
            }
            uint32_t out = 0;
            for (size_t i = 0; i < kP.size(); ++i) {
                out |= ((sOut >> (kP[i] - 1u)) & 1u) << i;
            }
            sp[box][x] = out;
        }
    }
    return sp;
}

// Indexed by sboxLsbFirst * 2 + sboxPatch.
constexpr std::array<SpTables, 4> kSpTables = {MakeSpTables(false, false),
                                               MakeSpTables(false, true), MakeSpTables(true, false),
                                               MakeSpTables(true, true)};

constexpr std::array<uint8_t, 256> MakeByteReversal() {
    std::array<uint8_t, 256> r{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned out = 0;
        for (unsigned b = 0; b < 8; ++b) {
            out |= ((v >> b) & 1u) << (7 - b);
        }
        r[v] = static_cast<uint8_t>(out);
    }
    return r;
}
constexpr auto kReverse = MakeByteReversal();

uint64_t Load(const uint8_t bytes[8], bool lsbOrder) {
    uint64_t v = 0;
    for (size_t k = 0; k < 8; ++k) {
        v |= uint64_t{lsbOrder ? bytes[k] : kReverse[bytes[k]]} << (8 * k);
    }
    return v;
}

void Store(uint64_t v, uint8_t bytes[8], bool lsbOrder) {
    for (size_t k = 0; k < 8; ++k) {
        const auto b = static_cast<uint8_t>(v >> (8 * k));
        bytes[k] = lsbOrder ? b : kReverse[b];
    }
}

using Schedule = std::array<uint64_t, 16>;

Schedule MakeSchedule(const cipher_detail::CipherDifferences& diff, const uint8_t key[8]) {
    constexpr uint32_t kMask28 = (1u << 28) - 1;
    const auto& pc2 = diff.pc2Pos34 ? kPc2VariantTables : kPc2Tables;
    const uint64_t cd = Permute(kPc1Tables, Load(key, diff.lsbBitOrder));
    auto c = static_cast<uint32_t>(cd & kMask28);
    auto d = static_cast<uint32_t>(cd >> 28);
    Schedule ks{};
    for (size_t r = 0; r < 16; ++r) {
        // Bit p holds cipher bit p + 1, so the published left rotation moves bits down.
        const int s = kShifts[r];
        c = ((c >> s) | (c << (28 - s))) & kMask28;
        d = ((d >> s) | (d << (28 - s))) & kMask28;
        ks[r] = Permute(pc2, uint64_t{c} | (uint64_t{d} << 28));
    }
    return ks;
}

uint32_t RoundFunction(const SpTables& sp, uint32_t r, uint64_t subkey) {
    const uint64_t x = Permute(kETables, r) ^ subkey;
    uint32_t out = 0;
    for (size_t box = 0; box < 8; ++box) {
        out |= sp[box][(x >> (6 * box)) & 63];
    }
    return out;
}

enum class Direction { Encipher, Decipher };

void Run(const cipher_detail::CipherDifferences& diff, Direction dir, const uint8_t key[8],
         const uint8_t in[8], uint8_t out[8]) {
    const Schedule ks = MakeSchedule(diff, key);
    const SpTables& sp = kSpTables[(diff.sboxLsbFirst ? 2 : 0) + (diff.sboxPatch ? 1 : 0)];

    const uint64_t ip = Permute(kIpTables, Load(in, diff.lsbBitOrder));
    auto l = static_cast<uint32_t>(ip);
    auto r = static_cast<uint32_t>(ip >> 32);

    // Without the final swap, the rounds only invert when the halves are swapped on the
    // way in and swapped back on the way out; with it, the usual reversed schedule does.
    bool swapOut = !diff.noFinalSwap;
    if (dir == Direction::Decipher && diff.noFinalSwap) {
        std::swap(l, r);
        swapOut = true;
    }

    for (size_t i = 0; i < 16; ++i) {
        const uint64_t k = dir == Direction::Encipher ? ks[i] : ks[15 - i];
        const uint32_t next = l ^ RoundFunction(sp, r, k);
        l = r;
        r = next;
    }

    const uint64_t pre =
        swapOut ? (uint64_t{r} | (uint64_t{l} << 32)) : (uint64_t{l} | (uint64_t{r} << 32));
    Store(Permute(kFpTables, pre), out, diff.lsbBitOrder);
}

}  // namespace

namespace cipher_detail {

void EncipherBlockWith(const CipherDifferences& diff, const uint8_t key[8], const uint8_t in[8],
                       uint8_t out[8]) {
    Run(diff, Direction::Encipher, key, in, out);
}

void DecipherBlockWith(const CipherDifferences& diff, const uint8_t key[8], const uint8_t in[8],
                       uint8_t out[8]) {
    Run(diff, Direction::Decipher, key, in, out);
}

}  // namespace cipher_detail

void EncipherBlock(const uint8_t key[8], const uint8_t in[8], uint8_t out[8]) {
    Run(cipher_detail::kController, Direction::Encipher, key, in, out);
}

void DecipherBlock(const uint8_t key[8], const uint8_t in[8], uint8_t out[8]) {
    Run(cipher_detail::kController, Direction::Decipher, key, in, out);
}

}  // namespace tavrik

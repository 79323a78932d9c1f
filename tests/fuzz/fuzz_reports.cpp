// Feeds arbitrary controller payloads to the report decoders and the enable/disable
// check, and checks the invariants a session relies on: slots always index the key
// table, and enable reports built under any key check under that key.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <variant>

#include "fuzz_require.h"
#include "protocol/cipher.h"
#include "protocol/enable_report.h"
#include "protocol/reports.h"

namespace {

using tavrik::fuzz::Require;

using namespace tavrik;

struct SlotCheck {
    void operator()(const KeyInfoReport& r) const { Require(IsKeySlot(r.slot)); }
    void operator()(const KeyVerReport& r) const { Require(IsKeySlot(r.slot)); }
    void operator()(const KeyInsertEvent& r) const {
        Require(IsKeySlot(r.slot) && r.slotNumber == r.slot + 1);
    }
    void operator()(const KeyLostEvent& r) const { Require(IsKeySlot(r.slot)); }
    void operator()(const KeyColorReport& r) const { Require(IsKeySlot(r.slot)); }
    void operator()(const KeyDownEvent& r) const { Require(IsKeySlot(r.slot)); }
    void operator()(const KeyUpEvent& r) const { Require(IsKeySlot(r.slot)); }
    void operator()(const MarcoReport& r) const { Require(IsKeySlot(r.slot)); }
    void operator()(const KbmcVerReport& r) const {
        const auto u = InterpretKbmcVer(r);
        Require(u.cipherKey == r.cipherKey);
    }
    template <typename T>
    void operator()(const T&) const {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> input(data, size);

    std::visit(SlotCheck{}, DecodeReport(input));

    // Any payload under a key taken from the input must not crash the check.
    std::array<uint8_t, 8> key{};
    for (size_t i = 0; i < key.size() && i < size; ++i) {
        key[i] = data[size - 1 - i];
    }
    (void)CheckEnableKbmc(input, key);

    // Reports built from fuzzed filler under a fuzzed key check as what they ask for.
    if (size >= 1) {
        size_t next = 0;
        const RandomSource filler = [&] { return data[next++ % size]; };
        const bool enable = (data[0] & 1) != 0;
        const Command c = BuildEnableKbmc(enable, key, filler);
        Require(CheckEnableKbmc(c.Payload(), key) == enable);
    }

    // Deciphering undoes enciphering in every setting.
    if (size >= 17) {
        const unsigned mask = data[16];
        const cipher_detail::CipherDifferences d{(mask & 1) != 0, (mask & 2) != 0, (mask & 4) != 0,
                                                 (mask & 8) != 0, (mask & 16) != 0};
        std::array<uint8_t, 8> out{}, back{};
        cipher_detail::EncipherBlockWith(d, data, data + 8, out.data());
        cipher_detail::DecipherBlockWith(d, data, out.data(), back.data());
        Require(std::equal(back.begin(), back.end(), data + 8));
    }
    return 0;
}

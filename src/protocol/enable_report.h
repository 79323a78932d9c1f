// The enable/disable report (0x48). The controller only obeys it when four marker
// bytes, spread over separately enciphered blocks, decipher correctly under the key it
// handed out in its last version reply.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "protocol/protocol.h"

namespace tavrik {

// Filler bytes carry no meaning; tests inject a fixed sequence.
using RandomSource = std::function<uint8_t()>;

using CipherKey = std::span<const uint8_t, 8>;

// An empty `random` falls back to the default generator.
Command BuildEnableKbmc(bool enable, CipherKey key, const RandomSource& random);

// Filler from a per-thread generator seeded from std::random_device.
Command BuildEnableKbmc(bool enable, CipherKey key);

// The controller's side: true for a valid enable report, false for a valid disable
// report, nothing when the payload is short, not 0x48, or its markers or its
// enable byte do not agree.
std::optional<bool> CheckEnableKbmc(std::span<const uint8_t> payload, CipherKey key);

}  // namespace tavrik

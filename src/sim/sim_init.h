// A fresh simulated keyboard with a believable mix of key modules, for `sim init`,
// demos and tests.
#pragma once

#include <cstdint>
#include <optional>

#include "macro/marco_steps.h"
#include "sim/sim_state.h"

namespace tavrik::sim {

// What a key holds once `steps` were written to it as a single-shot macro (erased entries
// after its end); an erased macro when they do not fit.
SimMarco SingleShotMarco(const MarcoSteps& steps);

// `keys` modules (0..90) in slots 0..keys-1 on a keyboard of device-table row `row`
// (0..3) whose controller runs application version verHi.verLo (each 0..255). The same
// seed gives the same keyboard. Among the modules: letters and digits, a layer key, a
// media key, a macro key, every seventh one waiting for an assignment, and from ten
// modules on one in its bootloader. Empty when an argument is out of range.
std::optional<SimKeyboardState> MakeInitialState(int keys, int row, int verHi, int verLo,
                                                 uint32_t seed);

}  // namespace tavrik::sim

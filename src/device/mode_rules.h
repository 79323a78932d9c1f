// The rules for the controller's modes, shared by every front end: the `mode` command and
// a restore check a change with them before anything is written, so that nothing is
// sent that the controller would store and then not run.
#pragma once

#include <array>
#include <optional>

#include "device/snapshot.h"

namespace tavrik {

// The USB report intervals a controller takes, in ms.
inline constexpr std::array<int, 7> kUsbRates = {1, 2, 3, 4, 5, 8, 10};
// The module counts overload mode can be given.
inline constexpr int kOverloadCountMin = 42;
inline constexpr int kOverloadCountMax = 90;

// A change of the controller's modes; what is absent stays as it is.
struct ModeChange {
    std::optional<bool> nkro{};
    std::optional<int> usbRate{};
    std::optional<bool> overload{};
    int overloadCount = 0;  // 0: the controller's own limits
};

// The controller's standard module count as it reported it; 0 when its firmware does
// not report one.
int StandardModuleCount(const SessionSnapshot& s);

// Why a controller with `standardCount` standard modules (0: not known) cannot take
// `change`: a result code of session_result.h, or 0. Refused are an interval not in
// kUsbRates, a module count without overload on, a count outside 42..90, and a count
// not above the standard one, which the controller stores and then runs as no overload.
int ModeRefusal(const ModeChange& change, int standardCount);
// Whether `result` is one of ModeRefusal's refusals.
bool IsModeRefusal(int result);

}  // namespace tavrik

// A broken property ends the run where libFuzzer records the input.
#pragma once

#include <cstdlib>

namespace tavrik::fuzz {

inline void Require(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace tavrik::fuzz

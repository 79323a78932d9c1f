// Macro steps written as words, as the command line takes them: "down:KEY", "up:KEY",
// "tap:KEY", "loop:N", "endloop", "switch" or a raw "FLAG:KV", each with an optional
// ":DELAY" in milliseconds.
#pragma once

#include <string>
#include <string_view>

#include "macro/marco_steps.h"

namespace tavrik {

// Appends the step(s) of `word` to `steps` ("tap" gives two), with `defaultDelay` where
// the word has none. Returns what is wrong with the word, naming it; empty when it was
// taken. A refused word leaves `steps` as it was.
std::string AppendMarcoStepWord(std::string_view word, int defaultDelay, MarcoSteps& steps);

}  // namespace tavrik

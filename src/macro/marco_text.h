// The lines of the macro editor's step list: one text line per step and one delay line.
// These texts are the same in every language.
#pragma once

#include <string>

#include "macro/marco.h"

namespace tavrik {

// "↓  A ", "↑  A", "Wait Key Up", "Marco Loop Start (3)", "Marco Loop Start (Infinite)",
// "Marco Loop End", "Loop from begain if pressed". A flag the editor does not know is
// shown with its raw values rather than hidden, so a strange list read back stays visible.
std::string MarcoStepText(const MarcoEntry& e);

// The same for a terminal, where the editor's fixed captions would read as misspelt:
// "Macro Loop Start (3)", "Macro Loop End", "Loop from the beginning if pressed".
std::string MacroStepLine(const MarcoEntry& e);

// "    Delay 10 ms"
std::string MarcoDelayText(int delayMs);

}  // namespace tavrik

// The five playing modes as the keyboard sees them: the editor's step list is encoded
// with marker entries around it, and a list read back is decoded to mode and steps.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "macro/marco.h"
#include "macro/marco_steps.h"

namespace tavrik {

enum class MarcoCheck {
    Ok,
    Empty,  // nothing to encode, nothing to tell the user
    UnknownMode,
    NoSwitchForDualSec,  // "InfoNoFlagForDualSecMarco"
    LoopMismatch,        // "InfoMarcoLoopLimitation"
    TooManyEntries,      // "InfoMarcoMaxNumReach": the encoding would not fit the keyboard
};

// Key in the "PromptInfo" section of the text tables; empty when nothing is to be shown.
std::string_view MarcoCheckMessageKey(MarcoCheck check);

// Entries the encoding of `steps` in `mode` takes, End not counted.
int MarcoEncodedLength(MarcoMode mode, const MarcoSteps& steps);

// The checks made before a list is encoded. `maxEntries` is the number of steps the
// keyboard holds (m_nMarcoMax).
MarcoCheck CheckMarcoBeforeEncoding(MarcoMode mode, const MarcoSteps& steps,
                                    int maxEntries = kMarcoMaxSteps);

// The record to write to a key or a file: flag 1, magic and version set, the encoded
// entries followed by End. Empty unless CheckMarcoBeforeEncoding gives Ok. Marker
// entries, and all Combination entries, get `defaultDelay`.
std::optional<MarcoRecord> EncodeMarco(MarcoMode mode, const MarcoSteps& steps, int defaultDelay,
                                       int maxEntries = kMarcoMaxSteps);

struct DecodedMarco {
    MarcoMode mode = MarcoMode::SingleShot;
    MarcoSteps steps;

    friend bool operator==(const DecodedMarco&, const DecodedMarco&) = default;
};

// Finds mode and steps again in a list read from a key or a file. `limit` is the number
// of steps the keyboard holds (m_nMarcoMax), not the step limit of the mode shown in the
// editor: the mode is only known once decoded, and a smaller bound would cut off the end
// of a full AutoLoop or ManualLoop list. At most `limit` entries are read (never more
// than 64, however long `entries` is); the list also ends at End or 0xFF. An AutoLoop
// list ends at its tail, the LoopEnd pointing back to the head; loops inside the body
// keep their own LoopEnds.
DecodedMarco DecodeMarco(std::span<const MarcoEntry> entries, int limit);

}  // namespace tavrik

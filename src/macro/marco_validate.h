// A full check of a step list before it is made into a macro, for lists that did not
// come through the editor's guarded buttons (the command line builds them from text).
// A list that passes encodes to entries that decode back to the same mode and steps.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "macro/marco.h"
#include "macro/marco_codec.h"
#include "macro/marco_steps.h"

namespace tavrik {

enum class MarcoProblem {
    None,
    Empty,
    UnknownMode,
    TooManySteps,          // more than the mode leaves room for on this keyboard
    UnexpectedStep,        // a flag that is not a step, or a marker the mode adds itself
    DelayTooLong,          // over kMarcoPauseMax
    SwitchOutsideDualSec,  // would turn the macro into a DualSec one when read back
    MissingSwitch,
    ExtraSwitch,
    LoopCountOutOfRange,  // 2..250
    LoopNested,
    LoopEndWithoutStart,
    LoopEmpty,
    LoopDistanceWrong,  // LoopEnd kv is not the distance back to its LoopStart
    LoopNotClosed,
    LoopInAutoLoop,  // the whole AutoLoop macro is already a loop; loops do not nest
    NoKeyDown,       // a Combination macro plays only its key-down steps
    NotAsEncoded,    // markers, the Combination's key-ups or the end are not where the
                     // mode puts them
};

struct MarcoValidation {
    MarcoProblem problem = MarcoProblem::None;
    int step = -1;  // index of the offending step, -1 when the list as a whole is at fault

    bool Ok() const { return problem == MarcoProblem::None; }
};

// `baseLimit` is the number of steps the keyboard holds (m_nMarcoMax). Combination
// lists are judged only on what their encoding keeps: the key-down steps.
MarcoValidation ValidateMarco(MarcoMode mode, const MarcoSteps& steps,
                              int baseLimit = kMarcoMaxSteps);

// A macro that comes from outside (a file, a key) as entries. Decoded with the longest
// list any keyboard holds, so that a list too long for this one is refused rather than
// cut; then judged by ValidateMarco with `baseLimit`, and held to what encoding the
// decoded steps gives back: the same entries (flag and value) up to the end mark, and
// no delay above kMarcoPauseMax, markers included. Every reader uses this one check:
// `macro show`, `macro write`, `macro read`, the editor's load and the session's write.
struct MarcoRecordCheck {
    DecodedMarco macro;
    MarcoValidation validation;

    bool Ok() const { return validation.Ok(); }
};
MarcoRecordCheck CheckMarcoEntries(std::span<const MarcoEntry> entries,
                                   int baseLimit = kMarcoMaxSteps);

// "step 3 (Key Down A): " or nothing when the whole list is at fault, then the sentence.
std::string MarcoValidationText(const MarcoRecordCheck& check);

// One English sentence saying what is wrong.
std::string_view MarcoProblemText(MarcoProblem problem);

// The editor's message for the same fault ("PromptInfo" section); empty when it has none.
std::string_view MarcoProblemMessageKey(MarcoProblem problem);

}  // namespace tavrik

#include "macro/marco_validate.h"

#include <algorithm>

#include "macro/marco_codec.h"
#include "macro/marco_text.h"

namespace tavrik {
namespace {

bool IsStepFlag(const MarcoEntry& e) {
    switch (e.flag) {
        case MarcoFlag::KeyDown:
        case MarcoFlag::KeyUp:
        case MarcoFlag::LoopStart:
        case MarcoFlag::LoopEnd:
            return true;
        case MarcoFlag::WaitKeyUp:
            return e.kv == kMarcoSwitchKv;
        default:
            return false;
    }
}

}  // namespace

MarcoValidation ValidateMarco(MarcoMode mode, const MarcoSteps& steps, int baseLimit) {
    if (steps.Empty()) {
        return {MarcoProblem::Empty};
    }
    if (!IsValidMarcoMode(mode)) {
        return {MarcoProblem::UnknownMode};
    }
    if (steps.Size() > MarcoStepLimit(baseLimit, mode) ||
        CheckMarcoBeforeEncoding(mode, steps, baseLimit) == MarcoCheck::TooManyEntries) {
        return {MarcoProblem::TooManySteps};
    }

    const bool combination = mode == MarcoMode::Combination;
    int openLoop = -1;
    bool switchSeen = false;
    bool keyDownSeen = false;
    for (int i = 0; i < steps.Size(); ++i) {
        const MarcoEntry& e = steps[i];
        if (!IsStepFlag(e)) {
            return {MarcoProblem::UnexpectedStep, i};
        }
        keyDownSeen = keyDownSeen || e.flag == MarcoFlag::KeyDown;
        if (combination) {
            continue;  // everything but the key-down keys is dropped, delays included
        }
        if (e.delay > kMarcoPauseMax) {
            return {MarcoProblem::DelayTooLong, i};
        }
        if (e.flag == MarcoFlag::WaitKeyUp) {
            if (mode != MarcoMode::DualSec) {
                return {MarcoProblem::SwitchOutsideDualSec, i};
            }
            if (switchSeen) {
                return {MarcoProblem::ExtraSwitch, i};
            }
            switchSeen = true;
        } else if (e.flag == MarcoFlag::LoopStart) {
            if (mode == MarcoMode::AutoLoop) {
                return {MarcoProblem::LoopInAutoLoop, i};
            }
            if (openLoop >= 0) {
                return {MarcoProblem::LoopNested, i};
            }
            if (e.kv < kMarcoLoopCountMin || e.kv > kMarcoLoopCountMax) {
                return {MarcoProblem::LoopCountOutOfRange, i};
            }
            openLoop = i;
        } else if (e.flag == MarcoFlag::LoopEnd) {
            if (mode == MarcoMode::AutoLoop) {
                return {MarcoProblem::LoopInAutoLoop, i};
            }
            if (openLoop < 0) {
                return {MarcoProblem::LoopEndWithoutStart, i};
            }
            if (i - openLoop < 2) {
                return {MarcoProblem::LoopEmpty, i};
            }
            if (e.kv != i - openLoop) {
                return {MarcoProblem::LoopDistanceWrong, i};
            }
            openLoop = -1;
        }
    }
    if (openLoop >= 0) {
        return {MarcoProblem::LoopNotClosed, openLoop};
    }
    if (mode == MarcoMode::DualSec && !switchSeen) {
        return {MarcoProblem::MissingSwitch};
    }
    if (combination && !keyDownSeen) {
        return {MarcoProblem::NoKeyDown};
    }
    return {};
}

MarcoRecordCheck CheckMarcoEntries(std::span<const MarcoEntry> entries, int baseLimit) {
    MarcoRecordCheck out;
    out.macro = DecodeMarco(entries, kMarcoMaxSteps);
    out.validation = ValidateMarco(out.macro.mode, out.macro.steps, baseLimit);
    if (!out.Ok()) {
        return out;
    }
    const auto again = EncodeMarco(out.macro.mode, out.macro.steps, kMarcoDefaultDelay, baseLimit);
    if (!again) {
        out.validation = {MarcoProblem::TooManySteps};
        return out;
    }
    // The entries the keyboard would play: up to and including the end mark.
    const size_t length = size_t(MarcoEncodedLength(out.macro.mode, out.macro.steps));
    for (size_t i = 0; i <= length; ++i) {
        if (i >= entries.size()) {
            out.validation = {MarcoProblem::NotAsEncoded};
            return out;
        }
        const MarcoEntry& e = entries[i];
        const MarcoEntry& want = again->entries[i];
        const bool same =
            i == length ? IsMarcoListEnd(e.flag) : e.flag == want.flag && e.kv == want.kv;
        if (!same) {
            out.validation = {MarcoProblem::NotAsEncoded};
            return out;
        }
        if (i < length && e.delay > kMarcoPauseMax) {
            out.validation = {MarcoProblem::DelayTooLong};
            return out;
        }
    }
    return out;
}

std::string MarcoValidationText(const MarcoRecordCheck& check) {
    std::string text;
    const int step = check.validation.step;
    if (step >= 0 && step < check.macro.steps.Size()) {
        text = "step " + std::to_string(step + 1) + " (" + MacroStepLine(check.macro.steps[step]) +
               "): ";
    }
    text += MarcoProblemText(check.validation.problem);
    return text;
}

std::string_view MarcoProblemText(MarcoProblem problem) {
    switch (problem) {
        case MarcoProblem::None:
            return "The macro is valid.";
        case MarcoProblem::Empty:
            return "The macro has no steps.";
        case MarcoProblem::UnknownMode:
            return "The macro mode is unknown.";
        case MarcoProblem::TooManySteps:
            return "The macro has more steps than the keyboard holds in this mode.";
        case MarcoProblem::UnexpectedStep:
            return "This step is not one a macro can hold; the mode adds its own markers.";
        case MarcoProblem::DelayTooLong:
            return "A delay may be at most 60000 ms.";
        case MarcoProblem::SwitchOutsideDualSec:
            return "A switch (Wait Key Up) belongs only in a DualSec macro.";
        case MarcoProblem::MissingSwitch:
            return "A DualSec macro needs one switch (Wait Key Up) between its two sections.";
        case MarcoProblem::ExtraSwitch:
            return "A DualSec macro holds exactly one switch.";
        case MarcoProblem::LoopCountOutOfRange:
            return "A loop count must lie between 2 and 250.";
        case MarcoProblem::LoopNested:
            return "Loops cannot be nested: this loop starts before the previous one ended.";
        case MarcoProblem::LoopEndWithoutStart:
            return "This loop end has no loop start before it.";
        case MarcoProblem::LoopEmpty:
            return "A loop needs at least one step between its start and its end.";
        case MarcoProblem::LoopDistanceWrong:
            return "This loop end does not point back to its loop start.";
        case MarcoProblem::LoopNotClosed:
            return "This loop start has no loop end after it.";
        case MarcoProblem::LoopInAutoLoop:
            return "An AutoLoop macro repeats as a whole and cannot hold loops of its own.";
        case MarcoProblem::NoKeyDown:
            return "A Combination macro needs at least one key-down step.";
        case MarcoProblem::NotAsEncoded:
            return "The entries are not laid out as this mode is written: a marker, a "
                   "Combination's key-up or the end mark is missing or out of place.";
    }
    return {};
}

std::string_view MarcoProblemMessageKey(MarcoProblem problem) {
    switch (problem) {
        case MarcoProblem::TooManySteps:
            return "InfoMarcoMaxNumReach";
        case MarcoProblem::DelayTooLong:
            return "InfoMarcoDelayTooLong";
        case MarcoProblem::MissingSwitch:
            return "InfoNoFlagForDualSecMarco";
        case MarcoProblem::ExtraSwitch:
            return "InfoFlagForDualSecMarcoHadExist";
        case MarcoProblem::LoopCountOutOfRange:
            return "InfoMarcoLoopRange";
        case MarcoProblem::LoopNested:
        case MarcoProblem::LoopEndWithoutStart:
        case MarcoProblem::LoopEmpty:
        case MarcoProblem::LoopDistanceWrong:
        case MarcoProblem::LoopNotClosed:
        case MarcoProblem::LoopInAutoLoop:
            return "InfoMarcoLoopLimitation";
        case MarcoProblem::UnknownMode:
        case MarcoProblem::UnexpectedStep:
        case MarcoProblem::NotAsEncoded:
            return "InfoMarcoStepNotAllowed";
        case MarcoProblem::SwitchOutsideDualSec:
            return "InfoMarcoSwitchOnlyDualSec";
        case MarcoProblem::NoKeyDown:
            return "InfoMarcoNoKeyDown";
        default:
            return {};
    }
}

}  // namespace tavrik

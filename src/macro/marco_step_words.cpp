#include "macro/marco_step_words.h"

#include <optional>

#include "keys/keycodes.h"

namespace tavrik {

namespace {

std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

// The text after a colon as a delay; the reason when it is none.
std::string ReadDelay(std::string_view word, std::string_view text, uint16_t& delay) {
    if (text.empty()) {
        return Quoted(word) + ": a delay in milliseconds was expected after the colon";
    }
    const auto d = ParseNumber(text, kMarcoDelayMin, kMarcoDelayMax);
    if (!d) {
        return Quoted(word) + ": the delay is " + std::to_string(kMarcoDelayMin) + ".." +
               std::to_string(kMarcoDelayMax) + " ms, not " + Quoted(text);
    }
    delay = static_cast<uint16_t>(*d);
    return {};
}

// Splits "ARG[:DELAY]" and reads ARG with `parseArg`. A key name may itself hold a colon
// (";:"), so the whole text is tried as the argument first. `argError` is returned when
// no argument can be read.
template <typename ParseArg, typename Arg>
std::string ReadArgAndDelay(std::string_view word, std::string_view rest, ParseArg parseArg,
                            Arg& arg, uint16_t& delay, const std::string& argError) {
    if (parseArg(rest, arg)) {
        return {};
    }
    const auto last = rest.rfind(':');
    if (last == std::string_view::npos || !parseArg(rest.substr(0, last), arg)) {
        return argError;
    }
    return ReadDelay(word, rest.substr(last + 1), delay);
}

bool ReadByte(std::string_view text, long& value) {
    const auto n = ParseNumber(text, 0, 255);
    value = n.value_or(0);
    return n.has_value();
}

}  // namespace

std::string AppendMarcoStepWord(std::string_view word, int defaultDelay, MarcoSteps& steps) {
    const auto colon = word.find(':');
    const std::string_view kind = word.substr(0, colon);
    const std::string_view rest =
        colon == std::string_view::npos ? std::string_view() : word.substr(colon + 1);
    uint16_t delay = static_cast<uint16_t>(defaultDelay);
    MarcoSteps grown = steps;
    auto append = [&](MarcoEntry e) -> std::string {
        if (!grown.Append(e)) {
            return "too many steps (at most " + std::to_string(kMarcoMaxSteps) + ")";
        }
        return {};
    };
    std::string error;

    if (kind == "down" || kind == "up" || kind == "tap") {
        uint8_t hid = 0;
        const std::string unknown =
            "unknown key in " + Quoted(word) + " (see 'tavrikctl keys' for names)";
        error = colon == std::string_view::npos
                    ? unknown
                    : ReadArgAndDelay(word, rest, ParseHidValue, hid, delay, unknown);
        if (error.empty() && kind != "up") {
            error = append({MarcoFlag::KeyDown, hid, delay});
        }
        if (error.empty() && kind != "down") {
            error = append({MarcoFlag::KeyUp, hid, delay});
        }
    } else if (kind == "loop") {
        long count = 0;
        error = ReadArgAndDelay(word, rest, ReadByte, count, delay,
                                Quoted(word) + ": write loop:COUNT with COUNT 2..250");
        if (error.empty()) {
            error = append({MarcoFlag::LoopStart, static_cast<uint8_t>(count), delay});
        }
    } else if (kind == "endloop" || kind == "switch") {
        if (colon != std::string_view::npos) {
            error = ReadDelay(word, rest, delay);
        }
        if (error.empty() && kind == "switch") {
            error = append({MarcoFlag::WaitKeyUp, kMarcoSwitchKv, delay});
        } else if (error.empty()) {
            const auto distance = MarcoLoopEndDistance(grown, grown.Size());
            error = distance ? append({MarcoFlag::LoopEnd, *distance, delay})
                             : "'endloop' at step " + std::to_string(grown.Size() + 1) +
                                   " closes no loop (no open loop, or its body would be empty)";
        }
    } else if (const auto flag = ParseNumber(kind, 0, 255);
               flag && colon != std::string_view::npos) {
        // Raw form FLAG:KV[:DELAY].
        long kv = 0;
        error = ReadArgAndDelay(word, rest, ReadByte, kv, delay,
                                Quoted(word) + ": KV is a number 0..255");
        if (error.empty() && IsMarcoListEnd(static_cast<uint8_t>(*flag))) {
            error = Quoted(word) + ": flag " + std::to_string(*flag) +
                    " ends a macro's list; it is not a step";
        }
        if (error.empty()) {
            error = append({static_cast<uint8_t>(*flag), static_cast<uint8_t>(kv), delay});
        }
    } else {
        error = "cannot read step " + Quoted(word) +
                " (use down:KEY, up:KEY, tap:KEY, loop:N, endloop, switch or FLAG:KV, each "
                "with an optional :DELAY)";
    }
    if (error.empty()) {
        steps = grown;
    }
    return error;
}

}  // namespace tavrik

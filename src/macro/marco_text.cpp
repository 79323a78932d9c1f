#include "macro/marco_text.h"

#include <cstdio>

#include "keys/keycodes.h"

namespace tavrik {
namespace {

std::string Hex2(unsigned v) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
    return buf;
}

}  // namespace

std::string MarcoStepText(const MarcoEntry& e) {
    switch (e.flag) {
        case MarcoFlag::KeyDown:
            return "\u2193  " + std::string(HidKeyName(e.kv)) + " ";
        case MarcoFlag::KeyUp:
            return "\u2191  " + std::string(HidKeyName(e.kv));
        case MarcoFlag::WaitKeyUp:
            return "Wait Key Up";
        case MarcoFlag::LoopStart:
            return e.kv == 0 ? "Marco Loop Start (Infinite)"
                             : "Marco Loop Start (" + std::to_string(e.kv) + ")";
        case MarcoFlag::LoopEnd:
            return "Marco Loop End";
        case MarcoFlag::LoopFromBegin:
            return "Loop from begain if pressed";
        case MarcoFlag::End:
        case MarcoFlag::ListEnd:
            return {};
        default:
            return "Flag " + Hex2(e.flag) + " kv " + Hex2(e.kv);
    }
}

std::string MacroStepLine(const MarcoEntry& e) {
    switch (e.flag) {
        case MarcoFlag::LoopStart:
            return e.kv == 0 ? "Macro Loop Start (Infinite)"
                             : "Macro Loop Start (" + std::to_string(e.kv) + ")";
        case MarcoFlag::LoopEnd:
            return "Macro Loop End";
        case MarcoFlag::LoopFromBegin:
            return "Loop from the beginning if pressed";
        default:
            return MarcoStepText(e);
    }
}

std::string MarcoDelayText(int delayMs) {
    return "    Delay " + std::to_string(delayMs) + " ms";
}

}  // namespace tavrik

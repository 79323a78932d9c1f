#include "macro/marco_codec.h"

#include <algorithm>

namespace tavrik {

std::string_view MarcoCheckMessageKey(MarcoCheck check) {
    switch (check) {
        case MarcoCheck::NoSwitchForDualSec:
            return "InfoNoFlagForDualSecMarco";
        case MarcoCheck::LoopMismatch:
            return "InfoMarcoLoopLimitation";
        case MarcoCheck::TooManyEntries:
            return "InfoMarcoMaxNumReach";
        default:
            return {};
    }
}

int MarcoEncodedLength(MarcoMode mode, const MarcoSteps& steps) {
    if (mode == MarcoMode::Combination) {
        const auto list = steps.Steps();
        const auto downs = std::count_if(list.begin(), list.end(), [](const MarcoEntry& e) {
            return e.flag == MarcoFlag::KeyDown;
        });
        return 2 * int(downs) + 1;
    }
    return steps.Size() + MarcoModeOverhead(mode);
}

MarcoCheck CheckMarcoBeforeEncoding(MarcoMode mode, const MarcoSteps& steps, int maxEntries) {
    if (steps.Empty()) {
        return MarcoCheck::Empty;
    }
    if (!IsValidMarcoMode(mode)) {
        return MarcoCheck::UnknownMode;
    }
    if (mode == MarcoMode::DualSec && !steps.SwitchPresent()) {
        return MarcoCheck::NoSwitchForDualSec;
    }
    if (mode == MarcoMode::SingleShot && steps.LoopStarts() != steps.LoopEnds()) {
        return MarcoCheck::LoopMismatch;
    }
    // Combination doubles its key-down steps, so even a list within the editor's step
    // limit can outgrow the keyboard.
    if (MarcoEncodedLength(mode, steps) > std::clamp(maxEntries, 0, kMarcoMaxSteps)) {
        return MarcoCheck::TooManyEntries;
    }
    return MarcoCheck::Ok;
}

std::optional<MarcoRecord> EncodeMarco(MarcoMode mode, const MarcoSteps& steps, int defaultDelay,
                                       int maxEntries) {
    if (CheckMarcoBeforeEncoding(mode, steps, maxEntries) != MarcoCheck::Ok) {
        return std::nullopt;
    }
    const auto d = uint16_t(std::clamp(defaultDelay, 0, 0xFFFF));
    const auto list = steps.Steps();

    MarcoRecord rec;
    rec.magic = kMarcoMagic;
    rec.version = kMarcoVersion;
    rec.flag = 1;
    // The check above guarantees the encoding plus End fits the 65 entries.
    size_t at = 0;
    auto put = [&](MarcoEntry e) { rec.entries[at++] = e; };

    switch (mode) {
        case MarcoMode::SingleShot:
        case MarcoMode::DualSec:
            std::for_each(list.begin(), list.end(), put);
            break;
        case MarcoMode::ManualLoop:
            std::for_each(list.begin(), list.end(), put);
            put({MarcoFlag::LoopFromBegin, kMarcoLoopFromBeginKv, d});
            break;
        case MarcoMode::AutoLoop:
            put({MarcoFlag::LoopStart, kMarcoEndlessLoopKv, d});
            put({MarcoFlag::WaitKeyUp, 0, d});
            std::for_each(list.begin(), list.end(), put);
            put({MarcoFlag::LoopEnd, uint8_t(MarcoAutoLoopTailDistance(steps.Size())), d});
            break;
        case MarcoMode::Combination: {
            const size_t first = at;
            for (const MarcoEntry& e : list) {
                if (e.flag == MarcoFlag::KeyDown) {
                    put({MarcoFlag::KeyDown, e.kv, d});
                }
            }
            const size_t downs = at - first;
            put({MarcoFlag::WaitKeyUp, kMarcoComboSeparatorKv, d});
            for (size_t k = downs; k > 0; --k) {
                put({MarcoFlag::KeyUp, rec.entries[first + k - 1].kv, d});
            }
            break;
        }
    }
    return rec;
}

DecodedMarco DecodeMarco(std::span<const MarcoEntry> entries, int limit) {
    const size_t bound = std::min(entries.size(), size_t(std::clamp(limit, 0, kMarcoMaxSteps)));
    DecodedMarco out;
    std::optional<MarcoMode> mode;

    for (size_t i = 0; i < bound; ++i) {
        const MarcoEntry& e = entries[i];
        if (IsMarcoListEnd(e.flag)) {
            break;
        }
        if (!mode && i == 0 && e.flag == MarcoFlag::LoopStart && e.kv == kMarcoEndlessLoopKv &&
            entries.size() > 1 && entries[1].flag == MarcoFlag::WaitKeyUp) {
            mode = MarcoMode::AutoLoop;
            i = 1;  // the head is not a step
            continue;
        }
        if (!mode && e.flag == MarcoFlag::LoopFromBegin) {
            mode = MarcoMode::ManualLoop;
            continue;
        }
        if (!mode && e.flag == MarcoFlag::WaitKeyUp && e.kv == kMarcoSwitchKv) {
            mode = MarcoMode::DualSec;  // the switch stays a step, at its place
        } else if (!mode && e.flag == MarcoFlag::WaitKeyUp && e.kv == kMarcoComboSeparatorKv) {
            mode = MarcoMode::Combination;
            continue;
        } else if (mode == MarcoMode::AutoLoop && e.flag == MarcoFlag::LoopEnd &&
                   size_t(e.kv) + 1 == i) {
            // The tail points back to the head's WaitKeyUp. A LoopEnd of an inner loop
            // points to its own LoopStart and stays a step. The endless loop never gets
            // past its tail, so nothing after it belongs to the macro.
            break;
        }
        out.steps.Append(e);
    }
    out.mode = mode.value_or(MarcoMode::SingleShot);
    return out;
}

}  // namespace tavrik

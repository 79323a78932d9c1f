#include "macro/marco.h"

#include <algorithm>
#include <cctype>

namespace tavrik {
namespace {

struct ModeInfo {
    MarcoMode mode;
    std::string_view name;
    std::string_view textKey;
    int overhead;
};

constexpr std::array<ModeInfo, 5> kModeInfo = {{
    {MarcoMode::SingleShot, "SingleShot", "MacroModeSingleShot", 0},
    {MarcoMode::DualSec, "DualSec", "MacroModeDualSec", 1},
    {MarcoMode::ManualLoop, "ManualLoop", "MacroModeManualLoop", 1},
    {MarcoMode::AutoLoop, "AutoLoop", "MacroModeAutoLoop", 3},
    {MarcoMode::Combination, "Combination", "MacroModeCombination", 1},
}};

const ModeInfo* Find(MarcoMode mode) {
    for (const auto& info : kModeInfo) {
        if (info.mode == mode) {
            return &info;
        }
    }
    return nullptr;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

bool IsValidMarcoMode(MarcoMode mode) {
    return Find(mode) != nullptr;
}

std::string_view MarcoModeTextKey(MarcoMode mode) {
    const ModeInfo* info = Find(mode);
    return info ? info->textKey : std::string_view{};
}

std::string_view MarcoModeName(MarcoMode mode) {
    const ModeInfo* info = Find(mode);
    return info ? info->name : std::string_view{};
}

std::optional<MarcoMode> ParseMarcoMode(std::string_view text) {
    for (const auto& info : kModeInfo) {
        if (EqualNoCase(text, info.name)) {
            return info.mode;
        }
    }
    if (text.size() == 1 && text[0] >= '1' && text[0] <= '5') {
        return static_cast<MarcoMode>(text[0] - '0');
    }
    return std::nullopt;
}

int MarcoModeOverhead(MarcoMode mode) {
    const ModeInfo* info = Find(mode);
    return info ? info->overhead : 0;
}

int MarcoStepLimit(int baseLimit, MarcoMode mode) {
    const int base = std::clamp(baseLimit, 0, kMarcoMaxSteps);
    return std::max(0, base - MarcoModeOverhead(mode));
}

}  // namespace tavrik

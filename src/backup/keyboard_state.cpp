#include "backup/keyboard_state.h"

#include <algorithm>

#include "keys/keycodes.h"

namespace tavrik::backup {

bool TakesColour(uint8_t layer0Hid) {
    const uint8_t vk = KeyCodeOfReportedHid(layer0Hid);
    return vk != 0 && vk != VK_WAIT_UPGRADE && vk != VK_WAIT_SET;
}

bool PlaysMacro(const std::array<uint8_t, 4>& hid) {
    return std::any_of(hid.begin(), hid.end(),
                       [](uint8_t h) { return KeyCodeOfReportedHid(h) == VK_MARCO; });
}

int StepCount(const Macro& m) {
    return static_cast<int>(m.size()) - 1;
}

Macro MacroOfEntries(const MarcoEntries& entries) {
    Macro m;
    for (const MarcoEntry& e : entries) {
        if (IsMarcoListEnd(e.flag)) {
            break;
        }
        m.push_back(e);
    }
    m.resize(std::min<size_t>(m.size(), kMarcoEntryCount - 1));
    m.push_back({MarcoFlag::End, 0, 0});
    return m;
}

}  // namespace tavrik::backup

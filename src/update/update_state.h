// What the online update has learnt, shared by the update threads and the window. Every
// field is one integer written whole; version numbers are major << 8 | minor.
#pragma once

#include <atomic>

#include "update/tool_version.h"

namespace tavrik {

struct UpdateState {
    static constexpr int toolVersion = kToolVersion;
    std::atomic<int> latestTool{0};
    std::atomic<int> toolUpdateAvailable{0};
    std::atomic<int> latestKbmc{0};    // controllers other than kind 3
    std::atomic<int> latestKey{0};     // key modules
    std::atomic<int> latestZpn31{0};   // controllers of kind 3
    std::atomic<int> settingsOpen{0};  // set by the window while its settings window is open
    std::atomic<int> badge{0};         // the settings button's update badge
};

}  // namespace tavrik

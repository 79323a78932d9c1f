// The version-information file of the update server: section [upgrade_config] with the
// newest tool and firmware versions and where the firmware images are.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "update/ini_text.h"

namespace tavrik {

// What a missing number reads as.
inline constexpr uint32_t kVersionInfoAbsent = 10;
// The file is small; anything larger is not a version-information file.
inline constexpr size_t kVersionInfoMaxBytes = 64 * 1024;

struct VersionInfo {
    uint32_t latestAppVersion = kVersionInfoAbsent;  // major << 8 | minor
    // controller major << 24 | controller minor << 16 | key major << 8 | key minor
    uint32_t latestFwVersion = kVersionInfoAbsent;
    std::string fwUrl{kIniNotFound};
    std::string fwMd5{kIniNotFound};
    std::string fwBlUrl{kIniNotFound};
    std::string fwBlMd5{kIniNotFound};
    uint32_t zpn31LatestFwVersion = kVersionInfoAbsent;  // same layout; controller half used
    std::string zpn31FwUrl{kIniNotFound};
    std::string zpn31FwMd5{kIniNotFound};
};

// Never fails: whatever is missing or malformed reads as absent.
VersionInfo ParseVersionInfo(std::string_view text);

// Why `text` is no version information to go by, in one line; empty when it is one. It
// must give LatestAppVersion and LatestFwVersion in [upgrade_config], and every version
// number it gives must be one: a file that says nothing must not read as if nothing were
// new.
std::string VersionInfoProblem(std::string_view text);

}  // namespace tavrik

// The tool's own version, compared with the newest one the update server names.
#pragma once

#ifndef TAVRIK_TOOL_VERSION_MAJOR
#define TAVRIK_TOOL_VERSION_MAJOR 1
#endif
#ifndef TAVRIK_TOOL_VERSION_MINOR
#define TAVRIK_TOOL_VERSION_MINOR 59
#endif

namespace tavrik {

inline constexpr int kToolVersionMajor = TAVRIK_TOOL_VERSION_MAJOR;
inline constexpr int kToolVersionMinor = TAVRIK_TOOL_VERSION_MINOR;
// major << 8 | minor, the form every version number is compared in.
inline constexpr int kToolVersion = kToolVersionMajor << 8 | kToolVersionMinor;

static_assert(kToolVersionMajor >= 0 && kToolVersionMajor <= 255);
static_assert(kToolVersionMinor >= 0 && kToolVersionMinor <= 255);

}  // namespace tavrik

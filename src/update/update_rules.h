// The rules that decide what is newer and which keyboard is outdated. Pure functions, so
// the window, the update threads and tavrikctl judge alike.
#pragma once

#include <cstdint>
#include <span>

namespace tavrik {

class CCCDev;
struct UpdateState;
struct SessionSnapshot;

inline constexpr int kZpn31Kind = 3;

constexpr int VersionWord(int major, int minor) {
    return (major & 0xFF) << 8 | (minor & 0xFF);
}

// Whether LatestAppVersion names a tool newer than `tool`.
constexpr bool IsNewerTool(uint32_t latestApp, int tool) {
    return latestApp > 256 && latestApp > static_cast<uint32_t>(tool);
}

// A firmware entry counts when either half holds a version of 1.1 or above.
constexpr bool IsValidFwVersion(uint32_t fw) {
    return (fw & 0xFFFF) > 256 || ((fw >> 16) & 0xFFFF) > 256;
}
constexpr int FwKbmcPart(uint32_t fw) {
    return static_cast<int>((fw >> 16) & 0xFFFF);
}
constexpr int FwKeyPart(uint32_t fw) {
    return static_cast<int>(fw & 0xFFFF);
}

// A controller in its bootloader always needs firmware; one whose version word is below
// 256 (V0.x) is never judged by version.
constexpr bool IsKbmcOutdated(char stage, int kbmcWord, int latest) {
    return stage == 'B' || (latest > kbmcWord && kbmcWord >= 256);
}

// A module in its bootloader makes the lowest version 0.0 and so counts as outdated.
constexpr bool AreKeysOutdated(int keyTotal, int minKeyWord, int latestKey) {
    return keyTotal != 0 && latestKey > minKeyWord;
}

// The newest controller firmware for a keyboard of `kind`.
int LatestKbmcFor(const UpdateState& state, int kind);

// What a session tells about its keyboard, read in one go.
struct KeyboardFacts {
    bool updatable = true;
    char stage = 0;
    int kbmcWord = 0;
    int kind = 0;
    int keyTotal = 0;
    int minKeyWord = 0;
};
KeyboardFacts FactsOf(const CCCDev& dev);
KeyboardFacts FactsOf(const SessionSnapshot& snapshot);

struct Outdated {
    bool kbmc = false;
    bool keys = false;
};
Outdated JudgeKeyboard(const KeyboardFacts& facts, const UpdateState& state);

// Judges the session's keyboard and writes m_bKbmcNewVer and m_bKeyNewVer from it.
Outdated MarkOutdated(CCCDev& dev, const UpdateState& state);

// The session flags the badge looks at.
struct NewVersionFlags {
    int kbmcNewVer = 0;
    int keyNewVer = 0;
};
// The settings button carries the badge while the tool or any keyboard can be updated.
bool BadgeWanted(bool toolUpdateAvailable, std::span<const NewVersionFlags> keyboards);

}  // namespace tavrik

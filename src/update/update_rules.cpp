#include "update/update_rules.h"

#include <algorithm>

#include "device/session.h"
#include "update/update_state.h"

namespace tavrik {

int LatestKbmcFor(const UpdateState& state, int kind) {
    return kind == kZpn31Kind ? state.latestZpn31.load() : state.latestKbmc.load();
}

KeyboardFacts FactsOf(const SessionSnapshot& s) {
    KeyboardFacts f;
    f.updatable = s.kbmcUpdatable;
    f.stage = s.kbmcStage;
    f.kbmcWord = VersionWord(s.kbmcVerHi, s.kbmcVerLo);
    f.kind = s.kind;
    f.keyTotal = s.counts.total;
    f.minKeyWord = VersionWord(s.keyVerRange[0], s.keyVerRange[1]);
    return f;
}

KeyboardFacts FactsOf(const CCCDev& dev) {
    return FactsOf(dev.Snapshot());
}

Outdated JudgeKeyboard(const KeyboardFacts& facts, const UpdateState& state) {
    if (!facts.updatable) {
        return {};
    }
    return {IsKbmcOutdated(facts.stage, facts.kbmcWord, LatestKbmcFor(state, facts.kind)),
            AreKeysOutdated(facts.keyTotal, facts.minKeyWord, state.latestKey.load())};
}

Outdated MarkOutdated(CCCDev& dev, const UpdateState& state) {
    const Outdated o = JudgeKeyboard(FactsOf(dev), state);
    // Written both ways: a keyboard brought up to date elsewhere loses its flag.
    dev.SetNewVersionFlags(o.kbmc, o.keys);
    return o;
}

bool BadgeWanted(bool toolUpdateAvailable, std::span<const NewVersionFlags> keyboards) {
    return toolUpdateAvailable ||
           std::any_of(keyboards.begin(), keyboards.end(), [](const NewVersionFlags& k) {
               return k.kbmcNewVer == 1 || k.keyNewVer != 0;
           });
}

}  // namespace tavrik

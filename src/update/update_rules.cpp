#include "update/update_rules.h"

#include <algorithm>
#include <mutex>

#include "device/session.h"
#include "update/update_state.h"

namespace tavrik {

int LatestKbmcFor(const UpdateState& state, int kind) {
    return kind == kZpn31Kind ? state.latestZpn31.load() : state.latestKbmc.load();
}

KeyboardFacts FactsOf(const CCCDev& dev) {
    KeyboardFacts f;
    f.updatable = dev.m_bKbmcUpdatable.load() != 0;
    f.stage = dev.m_cKbmcStage.load();
    f.kbmcWord = VersionWord(dev.m_nKbmcVerHi.load(), dev.m_nKbmcVerLo.load());
    f.kind = dev.m_nKbdKind.load();
    f.keyTotal = dev.m_nKeyTotal.load();
    std::lock_guard lock(dev.m_TableLock);
    f.minKeyWord = VersionWord(dev.m_KeyVerRange[0], dev.m_KeyVerRange[1]);
    return f;
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
    dev.m_bKbmcNewVer = o.kbmc ? 1 : 0;
    dev.m_bKeyNewVer = o.keys ? 1 : 0;
    return o;
}

bool BadgeWanted(bool toolUpdateAvailable, std::span<const NewVersionFlags> keyboards) {
    return toolUpdateAvailable ||
           std::any_of(keyboards.begin(), keyboards.end(), [](const NewVersionFlags& k) {
               return k.kbmcNewVer == 1 || k.keyNewVer != 0;
           });
}

}  // namespace tavrik

#include "ui/settings/setup_state.h"

#include "device/mode_rules.h"
#include "device/snapshot.h"
#include "update/update_rules.h"
#include "update/update_state.h"

namespace tavrik::ui {

void FillKeyboardState(SetupState& state, const SessionSnapshot& snap, const UpdateState* update) {
    state.kind = snap.kind;
    state.kbmcUpdatable = snap.kbmcUpdatable;
    state.usbRate = snap.usbRate;
    state.kbmcStage = snap.verFail || snap.kbmcStage == 0 ? 'U' : snap.kbmcStage;
    state.kbmcVersion = snap.KbmcWord();
    state.keyRange = snap.keyVerRange;
    state.keyRangeKnown = snap.keyVerRangeKnown;
    state.kbmcUpdate = snap.kbmcNewVer;
    state.keyUpdate = snap.keyNewVer;
    state.overload = snap.overload;
    state.nkro = snap.nkro;
    state.normalKeyCount = snap.keyMaxStd;
    state.standardCount = StandardModuleCount(snap);
    if (update != nullptr) {
        state.latestKbmc = LatestKbmcFor(*update, snap.kind);
        state.latestKey = update->latestKey;
    }
}

SetupChanges PlanSetupChanges(const SetupState& edited, const SetupState& now) {
    SetupChanges c;
    if (edited.startWithWin != now.startWithWin) {
        c.autoStart = edited.startWithWin;
    }
    if (edited.minAfterStart != now.minAfterStart) {
        c.minAfterStart = edited.minAfterStart;
    }
    if (edited.checkUpdates != now.checkUpdates) {
        c.autoUpgrade = edited.checkUpdates;
    }
    if (edited.overload != now.overload || edited.requestedKeyCount != 0) {
        c.modes.overload = std::make_pair(edited.overload, edited.requestedKeyCount);
    }
    if (static_cast<uint8_t>(edited.usbRate) != static_cast<uint8_t>(now.usbRate)) {
        c.modes.usbRate = edited.usbRate;
    }
    if (edited.nkro != now.nkro) {
        c.modes.nkro = edited.nkro;
    }
    if (edited.language != now.language) {
        c.language = edited.language;
    }
    return c;
}

SetupChanges PlanSetupChanges(const SetupState& edited, const SetupState& opened,
                              const SetupState& now) {
    const SetupChanges touched = PlanSetupChanges(edited, opened);
    SetupChanges c = PlanSetupChanges(edited, now);
    const auto keep = [](auto& field, const auto& user) {
        if (!user) {
            field.reset();
        }
    };
    keep(c.autoStart, touched.autoStart);
    keep(c.minAfterStart, touched.minAfterStart);
    keep(c.autoUpgrade, touched.autoUpgrade);
    keep(c.modes.overload, touched.modes.overload);
    keep(c.modes.usbRate, touched.modes.usbRate);
    keep(c.modes.nkro, touched.modes.nkro);
    keep(c.language, touched.language);
    return c;
}

int KeyCountRefusal(const SetupState& state, int count) {
    ModeChange change;
    change.overload = state.overload;
    change.overloadCount = count;
    return ModeRefusal(change, state.standardCount);
}

std::string VersionText(int word) {
    return "V" + std::to_string(word >> 8 & 0xFF) + "." + std::to_string(word & 0xFF);
}

std::string KeyRangeText(const std::array<uint8_t, 4>& r) {
    return VersionText(r[0] << 8 | r[1]) + "-" + VersionText(r[2] << 8 | r[3]);
}

SetupActions ActionsOf(const SetupState& s) {
    SetupActions a;
    a.app = s.manual || s.appUpdate;
    a.kbmc = s.manual || (s.kbmcUpdate && s.kbmcUpdatable);
    a.keys = s.keyRangeKnown && (s.manual || (s.keyUpdate && s.kbmcUpdatable));
    return a;
}

}  // namespace tavrik::ui

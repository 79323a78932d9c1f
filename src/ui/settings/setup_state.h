// What the settings window edits: a copy of the tool's options, of the selected keyboard's
// modes and of what the online update knows, made when the window opens. Nothing is
// written while the window is open; when it closes, PlanSetupChanges compares the copy with
// the values of that moment and names what to apply. Qt-free, so the rules are tested alone.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "device/keyboard_ref.h"
#include "device/session_jobs.h"

namespace tavrik {
struct SessionSnapshot;
struct UpdateState;
}  // namespace tavrik

namespace tavrik::ui {

inline constexpr int kLanguageChinese = 1;
inline constexpr int kLanguageEnglish = 2;

struct SetupState {
    KeyboardRef keyboard;
    int keyboardCount = 0;
    int ownerLeft = -1;
    int ownerTop = -1;
    int language = kLanguageChinese;
    bool manual = false;
    int kind = 0;

    int appVersion = 0;  // major << 8 | minor
    int latestApp = 0;
    bool appUpdate = false;

    bool kbmcUpdatable = true;
    int usbRate = 1;
    char kbmcStage = 'U';
    int kbmcVersion = 0;
    int latestKbmc = 0;
    bool kbmcUpdate = false;
    std::array<uint8_t, 4> keyRange{};  // min major, min minor, max major, max minor
    bool keyRangeKnown = false;
    int latestKey = 0;
    bool keyUpdate = false;

    bool startWithWin = false;
    bool minAfterStart = false;
    bool checkUpdates = false;
    bool overload = false;
    bool nkro = false;
    int requestedKeyCount = 0;  // 0 none, else 42..90
    int normalKeyCount = 44;
    int standardCount = 0;  // as the controller reports it; 0 when it does not
    std::string firmwarePath;
};

// The keyboard's part of the state, from its snapshot and the update's knowledge.
void FillKeyboardState(SetupState& state, const SessionSnapshot& snap, const UpdateState* update);

// What closing the window applies, in order: the three options, the controller modes (one
// job), the language.
struct SetupChanges {
    std::optional<bool> autoStart;
    std::optional<bool> minAfterStart;
    std::optional<bool> autoUpgrade;
    ModeChanges modes;
    std::optional<int> language;
    bool Empty() const {
        return !autoStart && !minAfterStart && !autoUpgrade && modes.Empty() && !language;
    }
};
// `edited` is the window's copy, `now` the values when it closed.
SetupChanges PlanSetupChanges(const SetupState& edited, const SetupState& now);
// Only what the user changed in the window (`opened` is the copy it started from) and
// differs from `now`: a value that changed under the window (an upgrade restarts the
// controller) is not sent back.
SetupChanges PlanSetupChanges(const SetupState& edited, const SetupState& opened,
                              const SetupState& now);

// Why the key-count entry refuses `count` (a result code of session_result.h), or 0: the
// controller's mode rules, so the window refuses what `mode` refuses. 0 is the standard count.
int KeyCountRefusal(const SetupState& state, int count);

// "V1.2" of a version word.
std::string VersionText(int word);
// "V1.2-V1.5" of a key firmware range.
std::string KeyRangeText(const std::array<uint8_t, 4>& range);

// Which action buttons the version table has.
struct SetupActions {
    bool app = false;
    bool kbmc = false;
    bool keys = false;
};
SetupActions ActionsOf(const SetupState& state);

}  // namespace tavrik::ui

// Backup file text through parsing, writing and parsing again, and through the restore
// planner against itself and against an empty keyboard.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "backup/backup_file.h"
#include "backup/restore_plan.h"
#include "fuzz_require.h"

namespace {

using tavrik::fuzz::Require;

using namespace tavrik::backup;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ParsedBackup parsed = ParseBackup(text);
    Require(parsed.state.has_value() != !parsed.error.empty());
    if (!parsed.state) {
        return 0;
    }
    const KeyboardState& s = *parsed.state;

    // What is read is written and read again unchanged.
    const ParsedBackup again = ParseBackup(FormatBackup(s));
    Require(again.state.has_value() && *again.state == s);

    // A keyboard that is as the backup needs nothing.
    Plan same = MakePlan(s, s, 64);
    Require(same.changes.empty() && same.notPlaced.empty() && same.unknown.empty());
    CheckResult(s, s, 64, same);
    Require(Succeeded(same));

    // Against an empty keyboard every module is reported, and every change can be shown.
    KeyboardState empty;
    empty.modes = {!s.modes.nkro, !s.modes.overload, s.modes.modules + 1, s.modes.usbRate + 1};
    Plan plan = MakePlan(s, empty, 64);
    Require(plan.notPlaced.size() == s.modules.size());
    for (const Change& c : plan.changes) {
        Require(IsModeChange(c));
        (void)ChangeSubject(c);
        (void)SideText(c.what, c.from);
        (void)SideText(c.what, c.to);
    }
    // Every module changed on the keyboard: one layer change each, in backup order.
    KeyboardState changed = s;
    size_t keys = 0;
    for (ModuleState& m : changed.modules) {
        m.flag ^= 1;
        keys += m.stage == 'A' ? 1 : 0;
    }
    const Plan layers = MakePlan(s, changed, 64);
    Require(layers.changes.size() == keys);
    for (const Change& c : layers.changes) {
        Require(c.what == What::Layers);
        (void)SideText(c.what, c.from);
        (void)ChangeSubject(c);
    }
    // And against an empty backup a full keyboard is left as it is.
    KeyboardState none;
    none.modes = s.modes;
    Require(MakePlan(none, s, 64).unknown.size() == s.modules.size());
    return 0;
}

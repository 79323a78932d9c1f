// What a restore changes and in which order, worked out from the backup and the keyboard's
// present state without touching the keyboard: the controller's modes first, then per
// module, found by its UID wherever it sits now, its layers and flag byte, its colour (a
// key takes a colour only once layer 0 has an assignment) and its macro.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "backup/keyboard_state.h"

namespace tavrik::backup {

enum class What { Nkro, UsbRate, Overload, Layers, Colour, Macro };

struct Change {
    What what = What::Layers;
    uint32_t uid = 0;
    int slot = -1;        // where the module sits now
    ModuleState want;     // the module as the backup has it (key changes only)
    nlohmann::json from;  // the keyboard's value and the backup's, as reported
    nlohmann::json to;
    bool done = false;
    std::string failure;
};

struct Placement {
    uint32_t uid = 0;
    int slot = 0;
    std::string reason;
    bool missing = false;  // not attached at all
};

struct Plan {
    std::vector<Change> changes;
    std::vector<Placement> notPlaced;  // in the backup, but cannot be restored
    std::vector<Placement> unknown;    // attached, not in the backup: left as they are
};

// What keeps the backup's controller modes from being written to a controller with
// `standardCount` standard modules (0: not known), naming the field; empty when nothing
// does. The rules are those of the `mode` command (device/mode_rules.h).
std::string ModesProblem(const Modes& want, int standardCount);

// `marcoMax`: the steps a macro of this keyboard holds.
Plan MakePlan(const KeyboardState& want, const KeyboardState& now, int marcoMax);
// Keeps the mode changes of `plan` and plans the modules again against `now`: after the
// module count changed, the controller serves other modules.
Plan ReplanModules(const Plan& plan, const KeyboardState& want, const KeyboardState& now,
                   int marcoMax);
// Marks what the keyboard does not show after the restore. Differences that belong to a
// change or key already reported as failed are not reported twice.
void CheckResult(const KeyboardState& want, const KeyboardState& after, int marcoMax, Plan& plan);

bool IsModeChange(const Change& c);
bool Succeeded(const Plan& plan);
int DoneCount(const Plan& plan);
// "nkro", "usbRate", "overload", "layers", "color", "macro".
const char* WhatName(What w);
// "0x8A64CB80 slot 3 color" or "USB rate"; one side of a change: "#F0F0F0", "on", "3 steps".
std::string ChangeSubject(const Change& c);
std::string SideText(What what, const nlohmann::json& side);

}  // namespace tavrik::backup

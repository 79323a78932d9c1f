#include "backup/restore_plan.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "backup/backup_file.h"
#include "device/mode_rules.h"
#include "device/session_result.h"
#include "keys/keycodes.h"

namespace tavrik::backup {

namespace {

using nlohmann::json;

json MacroJson(const Macro& m) {
    json list = json::array();
    for (const MarcoEntry& e : m) {
        list.push_back({{"flag", e.flag}, {"kv", e.kv}, {"delay", e.delay}});
    }
    return list;
}

json LayersJson(const ModuleState& m) {
    return {{"hid", m.hid}, {"flag", m.flag}};
}

json MacroSide(const ModuleState& m) {
    if (m.macroUnread) {
        return "unreadable";
    }
    return m.macro ? MacroJson(*m.macro) : json(nullptr);
}

Change ModeChange(What what, json from, json to) {
    Change c;
    c.what = what;
    c.from = std::move(from);
    c.to = std::move(to);
    return c;
}

Change KeyChange(What what, const ModuleState& want, const ModuleState& now, json from, json to) {
    Change c = ModeChange(what, std::move(from), std::move(to));
    c.uid = want.uid;
    c.slot = now.slot;
    c.want = want;
    return c;
}

std::vector<Change> PlanModes(const Modes& want, const Modes& now) {
    std::vector<Change> c;
    if (want.nkro != now.nkro) {
        c.push_back(ModeChange(What::Nkro, now.nkro, want.nkro));
    }
    if (want.usbRate != now.usbRate) {
        c.push_back(ModeChange(What::UsbRate, now.usbRate, want.usbRate));
    }
    // Without overload the module count is the controller's standard one, not a setting.
    if (want.overload != now.overload || (want.overload && want.modules != now.modules)) {
        const auto side = [](const Modes& m) {
            return json{{"overload", m.overload}, {"modules", m.modules}};
        };
        c.push_back(ModeChange(What::Overload, side(now), side(want)));
    }
    return c;
}

void PlanModules(const KeyboardState& want, const KeyboardState& now, int marcoMax, Plan& plan) {
    std::map<uint32_t, const ModuleState*> byUid;
    for (const ModuleState& m : now.modules) {
        byUid[m.uid] = &m;
    }
    std::set<uint32_t> known;
    for (const ModuleState& w : want.modules) {
        known.insert(w.uid);
        const auto it = byUid.find(w.uid);
        if (it == byUid.end()) {
            plan.notPlaced.push_back(
                {w.uid, w.slot, "not attached (slot " + std::to_string(w.slot) + " in the backup)",
                 true});
            continue;
        }
        const ModuleState& n = *it->second;
        if (w.stage == 'B') {
            continue;  // backed up in its bootloader: nothing was kept for it
        }
        if (n.stage == 'B') {
            plan.notPlaced.push_back(
                {w.uid, n.slot, "runs its bootloader; upgrade its firmware, then restore again"});
            continue;
        }
        if (w.macro && StepCount(*w.macro) > marcoMax) {
            plan.notPlaced.push_back({w.uid, n.slot,
                                      "its macro has " + std::to_string(StepCount(*w.macro)) +
                                          " steps; this keyboard holds " +
                                          std::to_string(marcoMax)});
            continue;
        }
        if (w.hid != n.hid || w.flag != n.flag) {
            plan.changes.push_back(KeyChange(What::Layers, w, n, LayersJson(n), LayersJson(w)));
        }
        if (w.colour && w.colour != n.colour) {
            plan.changes.push_back(KeyChange(What::Colour, w, n,
                                             n.colour ? json(ColourHex(*n.colour)) : json(nullptr),
                                             ColourHex(*w.colour)));
        }
        if (w.macro && (n.macroUnread || n.macro != w.macro)) {
            plan.changes.push_back(KeyChange(What::Macro, w, n, MacroSide(n), MacroJson(*w.macro)));
        }
    }
    for (const ModuleState& n : now.modules) {
        if (!known.count(n.uid)) {
            plan.unknown.push_back({n.uid, n.slot, {}});
        }
    }
}

std::string LayersText(const json& side) {
    std::string text;
    for (size_t l = 0; l < 4; ++l) {
        std::string name(HidKeyName(side["hid"][l].get<uint8_t>()));
        name.erase(0, name.find_first_not_of(' '));
        name.erase(name.find_last_not_of(' ') + 1);
        text += (l == 0 ? "" : " | ") + (name.empty() ? std::string("-") : name);
    }
    char flag[8];
    std::snprintf(flag, sizeof flag, "0x%02X", side["flag"].get<unsigned>());
    return text + ", flag " + flag;
}

}  // namespace

std::string ModesProblem(const Modes& want, int standardCount) {
    // Without overload the module count is the controller's standard one, not a setting.
    const tavrik::ModeChange change{want.nkro, want.usbRate, want.overload,
                                    want.overload ? want.modules : 0};
    const int r = ModeRefusal(change, standardCount);
    if (r == kSessionOk) {
        return {};
    }
    if (r == kErrUsbRate) {
        return "modes.usbRate " + std::to_string(want.usbRate) + ": " + SessionResultText(r);
    }
    std::string text =
        "modes.modules " + std::to_string(want.modules) + ": " + SessionResultText(r);
    if (r == kErrOverloadCountNotAbove) {
        text += " (" + std::to_string(standardCount) + " modules)";
    }
    return text;
}

Plan MakePlan(const KeyboardState& want, const KeyboardState& now, int marcoMax) {
    Plan plan;
    plan.changes = PlanModes(want.modes, now.modes);
    PlanModules(want, now, marcoMax, plan);
    return plan;
}

Plan ReplanModules(const Plan& plan, const KeyboardState& want, const KeyboardState& now,
                   int marcoMax) {
    Plan again;
    std::copy_if(plan.changes.begin(), plan.changes.end(), std::back_inserter(again.changes),
                 IsModeChange);
    PlanModules(want, now, marcoMax, again);
    return again;
}

void CheckResult(const KeyboardState& want, const KeyboardState& after, int marcoMax, Plan& plan) {
    Plan left = MakePlan(want, after, marcoMax);
    std::set<uint32_t> failedKeys;
    std::set<What> failedModes;
    for (const Change& c : plan.changes) {
        if (c.failure.empty()) {
            continue;
        }
        if (IsModeChange(c)) {
            failedModes.insert(c.what);
        } else {
            failedKeys.insert(c.uid);
        }
    }
    for (Change& l : left.changes) {
        if (IsModeChange(l) ? failedModes.count(l.what) != 0 : failedKeys.count(l.uid) != 0) {
            continue;
        }
        const auto same =
            std::find_if(plan.changes.begin(), plan.changes.end(),
                         [&](const Change& c) { return c.what == l.what && c.uid == l.uid; });
        const bool unread = l.what == What::Macro && l.from.is_string();
        if (same != plan.changes.end()) {
            same->failure = unread ? "the key's macro could not be read back to check it"
                                   : "the keyboard did not take it";
        } else {
            l.failure = unread ? "the key's macro could not be read back to check it"
                               : "still differs after the restore";
            plan.changes.push_back(std::move(l));
        }
    }
    std::set<uint32_t> reported;
    for (const Placement& p : plan.notPlaced) {
        reported.insert(p.uid);
    }
    for (const Placement& p : left.notPlaced) {
        if (!reported.count(p.uid)) {
            plan.notPlaced.push_back(p);
        }
    }
}

bool IsModeChange(const Change& c) {
    return c.what == What::Nkro || c.what == What::UsbRate || c.what == What::Overload;
}

bool Succeeded(const Plan& plan) {
    return plan.notPlaced.empty() &&
           std::none_of(plan.changes.begin(), plan.changes.end(),
                        [](const Change& c) { return !c.failure.empty(); });
}

int DoneCount(const Plan& plan) {
    return static_cast<int>(
        std::count_if(plan.changes.begin(), plan.changes.end(),
                      [](const Change& c) { return c.done && c.failure.empty(); }));
}

const char* WhatName(What w) {
    switch (w) {
        case What::Nkro:
            return "nkro";
        case What::UsbRate:
            return "usbRate";
        case What::Overload:
            return "overload";
        case What::Layers:
            return "layers";
        case What::Colour:
            return "color";
        case What::Macro:
            return "macro";
    }
    return "";
}

std::string SideText(What what, const json& side) {
    switch (what) {
        case What::Nkro:
            return side.get<bool>() ? "on" : "off";
        case What::UsbRate:
            return std::to_string(side.get<int>());
        case What::Overload:
            return side["overload"].get<bool>()
                       ? "on, " + std::to_string(side["modules"].get<int>()) + " modules"
                       : "off";
        case What::Layers:
            return LayersText(side);
        case What::Colour:
            return side.is_null() ? "not set" : side.get<std::string>();
        case What::Macro:
            if (side.is_string()) {
                return side.get<std::string>();
            }
            return side.is_null()
                       ? "none"
                       : std::to_string(side.size() - 1) + (side.size() == 2 ? " step" : " steps");
    }
    return "";
}

std::string ChangeSubject(const Change& c) {
    switch (c.what) {
        case What::Nkro:
            return "full-key rollover";
        case What::UsbRate:
            return "USB rate";
        case What::Overload:
            return "overload";
        default:
            return UidText(c.uid) + " slot " + std::to_string(c.slot) + " " + WhatName(c.what);
    }
}

}  // namespace tavrik::backup

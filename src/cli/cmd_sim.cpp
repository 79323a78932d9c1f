#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <set>

#include <nlohmann/json.hpp>

#include "cli/command.h"
#include "cli/format.h"
#include "cli/keyboards.h"
#include "sim/sim_file.h"
#include "sim/sim_init.h"

namespace tavrik::cli {

namespace {

int RunSimInit(const Args& args, Context& ctx) {
    // With no FILE, the file the other commands of this line use: --simulate's, or the
    // default one.
    const std::string path =
        args.Positional().empty() ? Keyboards::SimFile(ctx) : args.Positional()[0];
    const auto keys = ParseNumber(args.Get("keys", "60"), 0, 90);
    const auto row = ParseNumber(args.Get("row", "2"), 0, 3);
    const auto seed = ParseNumber(args.Get("seed", "1"), 0, 0x7FFFFFFF);
    if (!keys || !row || !seed) {
        ctx.err << "tavrikctl sim init: --keys takes 0..90, --row 0..3, --seed a number\n";
        return kExitUsage;
    }
    const std::string version = args.Get("version", "1.40");
    const auto dot = version.find('.');
    const auto hi = ParseNumber(version.substr(0, dot), 0, 255);
    const auto lo =
        dot == std::string::npos ? std::nullopt : ParseNumber(version.substr(dot + 1), 0, 255);
    if (!hi || !lo) {
        ctx.err << "tavrikctl sim init: --version takes MAJOR.MINOR, e.g. 1.40\n";
        return kExitUsage;
    }
    auto state = sim::MakeInitialState(static_cast<int>(*keys), static_cast<int>(*row),
                                       static_cast<int>(*hi), static_cast<int>(*lo),
                                       static_cast<uint32_t>(*seed));
    if (!state) {
        ctx.err << "tavrikctl sim init: cannot make that keyboard\n";
        return kExitUsage;
    }
    // The data folder may not be there yet; a folder the user named must be.
    if (args.Positional().empty() && ctx.global.simFile.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    }
    std::ostream& report = WroteLineStream(ctx, path);
    std::string error;
    if (sim::WriteSimFile(path, {sim::SimFileKeyboard{0, true, *state, {}}}, &error) !=
        sim::SimFileError::None) {
        ctx.err << "tavrikctl: cannot write '" << path << "': " << error << "\n";
        return kExitFailed;
    }
    report << "wrote " << path << ": one keyboard (row " << *row << ", controller V" << *hi << "."
           << *lo << ") with " << CountText(*keys, "key module", "key modules") << "\n";
    return kExitOk;
}

using FileKeyboards = std::vector<sim::SimFileKeyboard>;

// Positional numbers of a sim command: the keyboard 0..3, then the slot 0..89 if given.
struct Target {
    int keyboard = 0;
    int slot = 0;
};

// What the commands on a keyboard, or on a slot of it, take.
const ArgCount kKeyboardArg{1, 1, "expected N (keyboard 0..3)"};
const ArgCount kSlotArgs{2, 2, "expected N (keyboard 0..3) and SLOT (0..89)"};

// The count is the command's own (kKeyboardArg or kSlotArgs).
std::optional<Target> ParseTarget(const Args& args, Context& ctx) {
    const auto& pos = args.Positional();
    const auto n = ParseNumber(pos[0], 0, 3);
    const auto slot =
        pos.size() > 1 ? ParseNumber(pos[1], 0, kKeySlots - 1) : std::optional<long>(0);
    if (!n || !slot) {
        RefusePositionals(ctx, args);
        return std::nullopt;
    }
    return Target{static_cast<int>(*n), static_cast<int>(*slot)};
}

sim::SimFileKeyboard* Find(FileKeyboards& keyboards, int index) {
    for (auto& k : keyboards) {
        if (k.index == index) {
            return &k;
        }
    }
    return nullptr;
}

// Changes the simulator file under its lock, as a running program would. The edit puts
// what it did into `done`, printed once the file is written, or says why not in `error`.
int EditFile(Context& ctx, const std::function<bool(FileKeyboards&, std::string*)>& edit,
             const std::string& done) {
    const std::string path = Keyboards::SimFile(ctx);
    std::string error;
    switch (sim::EditSimFile(path, edit, &error)) {
        case sim::SimFileError::None:
            ctx.out << done << "\n";
            return kExitOk;
        case sim::SimFileError::Refused:
            ctx.err << "tavrikctl: " << error << "\n";
            return kExitFailed;
        case sim::SimFileError::Malformed:
            ctx.err << "tavrikctl: " << error << "\n";
            return kExitBadData;
        case sim::SimFileError::NotFound:
            ctx.err << "tavrikctl: " << error << " (make one with 'tavrikctl sim init')\n";
            return kExitFailed;
        default:
            ctx.err << "tavrikctl: " << error << "\n";
            return kExitFailed;
    }
}

bool Refuse(std::string* error, const std::string& text) {
    if (error) {
        *error = text;
    }
    return false;
}

std::string KeyboardName(int index) {
    return "keyboard " + std::to_string(index);
}

// Edits keyboard N of the file (null when the file has none) for a sim command; `done`
// is what the command says once the file is written.
using KeyboardEdit = std::function<bool(FileKeyboards& all, sim::SimFileKeyboard* k,
                                        const Target& t, std::string& done, std::string* error)>;

int RunEdit(const Args& args, Context& ctx, const KeyboardEdit& edit) {
    const auto t = ParseTarget(args, ctx);
    if (!t) {
        return kExitUsage;
    }
    std::string done;
    const auto change = [&](FileKeyboards& keyboards, std::string* error) {
        return edit(keyboards, Find(keyboards, t->keyboard), *t, done, error);
    };
    return EditFile(ctx, change, done);
}

std::string SlotText(const Target& t) {
    return "slot " + std::to_string(t.slot);
}

int RunSimPlug(const Args& args, Context& ctx) {
    return RunEdit(args, ctx, [](auto& keyboards, auto* k, auto& t, auto& done, auto*) {
        if (k) {
            done = KeyboardName(t.keyboard) +
                   (k->attached ? " was plugged in already" : " plugged in");
            k->attached = true;
            return true;
        }
        // A keyboard never seen at this index: a new one, told apart by its serial.
        auto state = *sim::MakeInitialState(60, 2, 1, 40, static_cast<uint32_t>(t.keyboard + 1));
        state.serial = "SIM0000000" + std::to_string(t.keyboard + 1);
        keyboards.push_back({t.keyboard, true, state, {}});
        std::sort(keyboards.begin(), keyboards.end(),
                  [](const auto& a, const auto& b) { return a.index < b.index; });
        done = "new " + KeyboardName(t.keyboard) + " with " + std::to_string(state.ModuleCount()) +
               " key modules plugged in";
        return true;
    });
}

int RunSimUnplug(const Args& args, Context& ctx) {
    return RunEdit(args, ctx, [](auto&, auto* k, auto& t, auto& done, auto* error) {
        if (!k) {
            return Refuse(error, "there is no " + KeyboardName(t.keyboard));
        }
        done = KeyboardName(t.keyboard) + (k->attached ? " unplugged" : " was unplugged already");
        k->attached = false;
        return true;
    });
}

// A UID no module of the file has, and the lowest free bus address of the keyboard.
std::optional<sim::SimModule> FreshModule(const FileKeyboards& keyboards,
                                          const sim::SimKeyboardState& on) {
    std::set<uint32_t> uids;
    for (const auto& k : keyboards) {
        for (const auto& m : k.state.modules) {
            if (m) {
                uids.insert(m->uid);
            }
        }
    }
    std::set<uint8_t> macs;
    sim::SimModule module;
    for (const auto& m : on.modules) {
        if (m) {
            macs.insert(m->shortMac);
            // New modules come with the firmware the others have.
            module.verHi = std::max(module.verHi, m->verHi);
            module.verLo =
                m->verHi == module.verHi ? std::max(module.verLo, m->verLo) : module.verLo;
        }
    }
    std::random_device rd;
    do {
        module.uid = static_cast<uint32_t>(rd());
    } while (module.uid == 0 || uids.count(module.uid) != 0);
    for (int mac = 1; mac <= 0x7F && module.shortMac == 0; ++mac) {
        if (macs.count(static_cast<uint8_t>(mac)) == 0) {
            module.shortMac = static_cast<uint8_t>(mac);
        }
    }
    if (module.shortMac == 0) {
        return std::nullopt;
    }
    return module;
}

int RunSimInsert(const Args& args, Context& ctx) {
    return RunEdit(args, ctx, [](auto& keyboards, auto* k, auto& t, auto& done, auto* error) {
        if (!k) {
            return Refuse(error, "there is no " + KeyboardName(t.keyboard));
        }
        auto& slot = k->state.modules[static_cast<size_t>(t.slot)];
        if (slot) {
            return Refuse(
                error, KeyboardName(t.keyboard) + " has a module at " + SlotText(t) + " already");
        }
        const auto module = FreshModule(keyboards, k->state);
        if (!module) {
            return Refuse(error, KeyboardName(t.keyboard) + " has no bus address left");
        }
        slot = module;
        done = KeyboardName(t.keyboard) + ": module " + HexText(module->uid, 8) + " inserted at " +
               SlotText(t);
        return true;
    });
}

// Null (after saying why) unless keyboard k has a module at the target's slot.
std::optional<sim::SimModule>* ModuleAt(sim::SimFileKeyboard* k, const Target& t,
                                        std::string* error) {
    auto* slot = k ? &k->state.modules[static_cast<size_t>(t.slot)] : nullptr;
    if (!slot || !*slot) {
        Refuse(error, KeyboardName(t.keyboard) + " has no module at " + SlotText(t));
        return nullptr;
    }
    return slot;
}

int RunSimRemove(const Args& args, Context& ctx) {
    return RunEdit(args, ctx, [](auto&, auto* k, auto& t, auto& done, auto* error) {
        auto* slot = ModuleAt(k, t, error);
        if (!slot) {
            return false;
        }
        done = KeyboardName(t.keyboard) + ": module " + HexText((*slot)->uid, 8) +
               " removed from " + SlotText(t);
        slot->reset();
        return true;
    });
}

int RunSimPress(const Args& args, Context& ctx) {
    const auto layer = ParseNumber(args.Get("layer", "0"), 0, 3);
    if (!layer) {
        ctx.err << "tavrikctl sim press: --layer takes 0..3\n";
        return kExitUsage;
    }
    return RunEdit(args, ctx, [&](auto&, auto* k, auto& t, auto& done, auto* error) {
        if (!k || !k->attached) {
            return Refuse(error, KeyboardName(t.keyboard) + " is not plugged in");
        }
        if (!ModuleAt(k, t, error)) {
            return false;
        }
        // Running programs replay presses above the last number they saw; a number that
        // wrapped to 0 would be a file no program reads.
        if (sim::LastPressSeq(*k) == UINT32_MAX) {
            return Refuse(error, KeyboardName(t.keyboard) +
                                     ": press numbers are used up (the last is 4294967295); "
                                     "remove \"presses\" from the file to start again");
        }
        k->presses.push_back({sim::LastPressSeq(*k) + 1, static_cast<uint8_t>(t.slot),
                              static_cast<uint8_t>(*layer)});
        if (k->presses.size() > sim::kSimMaxPresses) {
            k->presses.erase(k->presses.begin());
        }
        done = KeyboardName(t.keyboard) + ": key at " + SlotText(t) +
               " pressed and released on layer " + std::to_string(*layer);
        return true;
    });
}

int RunSimShow(const Args& args, Context& ctx) {
    const std::string path = Keyboards::SimFile(ctx);
    FileKeyboards keyboards;
    std::string error;
    const auto read = sim::ReadSimFile(path, keyboards, &error);
    if (read != sim::SimFileError::None) {
        ctx.err << "tavrikctl: " << error << "\n";
        return read == sim::SimFileError::Malformed ? kExitBadData : kExitFailed;
    }
    nlohmann::json list = nlohmann::json::array();
    for (const auto& k : keyboards) {
        list.push_back({{"index", k.index},
                        {"attached", k.attached},
                        {"kind", k.state.row + 1},
                        {"stage", std::string(1, k.state.stage)},
                        {"firmware", VersionText(k.state.verHi, k.state.verLo)},
                        {"modules", k.state.ModuleCount()},
                        {"product", k.state.product},
                        {"serial", k.state.serial}});
    }
    if (args.Has("json")) {
        ctx.out << list.dump(1) << "\n";
        return kExitOk;
    }
    ctx.out << path << ":\n";
    if (list.empty()) {
        ctx.out << "  no keyboards\n";
    }
    for (const auto& k : list) {
        ctx.out << "  keyboard " << k["index"].get<int>() << ": "
                << (k["attached"].get<bool>() ? "plugged in" : "unplugged") << ", kind "
                << k["kind"].get<int>() << ", controller " << k["stage"].get<std::string>() << " V"
                << k["firmware"].get<std::string>() << ", "
                << CountText(k["modules"].get<int>(), "key module", "key modules") << ", serial "
                << k["serial"].get<std::string>() << "\n";
    }
    return kExitOk;
}

}  // namespace

void AddSimCommands(std::vector<CommandDef>& table) {
    table.push_back(
        {"sim init",
         "[FILE] [--keys N] [--row R] [--version X.Y] [--seed S]",
         {0, 1, "expected at most one FILE"},
         "Write a starting state for the simulated keyboard",
         "Writes FILE (default: the FILE of --simulate=FILE, else the simulator file in the\n"
         "data folder that --simulate uses)\n"
         "with one simulated keyboard: N key modules (0..90, default 60) with distinct UIDs,\n"
         "some assigned, some waiting for an assignment, one in its bootloader from ten\n"
         "modules on, colours set. The file is replaced if it exists; its format is in\n"
         "docs/simulator.md.\n\n"
         "  --keys N       key modules (default 60)\n"
         "  --row R        device-table row 0..3, which sets the keyboard kind R+1 "
         "(default 2)\n"
         "  --version X.Y  controller firmware version (default 1.40)\n"
         "  --seed S       another seed gives other UIDs and assignments (default 1)\n",
         {{"keys", true}, {"row", true}, {"version", true}, {"seed", true}},
         RunSimInit});

    // The commands below change the simulator file of --simulate[=FILE] under its lock;
    // a running program that keeps the same file follows within a moment.
    const std::string running =
        "\nThe file is --simulate's FILE (default: the one in the data folder). A program\n"
        "running on the same file (the window, another tavrikctl) sees the change within\n"
        "a moment, as if it happened to a real keyboard.\n";
    table.push_back({"sim plug",
                     "N",
                     kKeyboardArg,
                     "Plug simulated keyboard N in",
                     "Plugs simulated keyboard N (0..3) in: the one kept unplugged at N, or a new\n"
                     "keyboard with 60 key modules when the file has none there.\n" +
                         running,
                     {},
                     RunSimPlug});
    table.push_back(
        {"sim unplug",
         "N",
         kKeyboardArg,
         "Pull simulated keyboard N out",
         "Unplugs simulated keyboard N (0..3); the file keeps it for 'sim plug'.\n" + running,
         {},
         RunSimUnplug});
    table.push_back({"sim insert",
                     "N SLOT",
                     kSlotArgs,
                     "Plug a new key module into a simulated keyboard",
                     "Puts a new key module into SLOT (0..89) of simulated keyboard N: a fresh\n"
                     "UID, the lowest free bus address, no key assigned yet. The keyboard reports\n"
                     "it to a running program as a module plugged in.\n" +
                         running,
                     {},
                     RunSimInsert});
    table.push_back({"sim remove",
                     "N SLOT",
                     kSlotArgs,
                     "Pull a key module out of a simulated keyboard",
                     "Takes the key module at SLOT (0..89) out of simulated keyboard N. The\n"
                     "keyboard reports it to a running program as a module lost.\n" +
                         running,
                     {},
                     RunSimRemove});
    table.push_back({"sim press",
                     "N SLOT [--layer L]",
                     kSlotArgs,
                     "Press a key of a simulated keyboard",
                     "Presses and releases the key at SLOT of simulated keyboard N, which must be\n"
                     "plugged in: a running program gets a key-down and a key-up report. A layer\n"
                     "key (on layer L) reports as one.\n\n"
                     "  --layer L  the layer 0..3 the keyboard is on (default 0)\n" +
                         running,
                     {{"layer", true}},
                     RunSimPress});
    table.push_back({"sim show",
                     "[--json]",
                     {0, 0, "takes no arguments"},
                     "Show the simulated keyboards in short",
                     "Lists the keyboards of the simulator file: plugged in or not, kind,\n"
                     "controller stage and firmware, number of key modules, serial.\n\n"
                     "  --json  as JSON\n",
                     {{"json", false}},
                     RunSimShow});
}

}  // namespace tavrik::cli

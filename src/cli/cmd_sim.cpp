#include <filesystem>

#include "cli/command.h"
#include "cli/keyboards.h"
#include "sim/sim_file.h"
#include "sim/sim_init.h"

namespace tavrik::cli {

namespace {

int RunSimInit(const Args& args, Context& ctx) {
    if (args.Positional().size() > 1) {
        ctx.err << "tavrikctl sim init: expected at most one FILE\n";
        return kExitUsage;
    }
    const std::string path =
        args.Positional().empty() ? Keyboards::DefaultSimFile() : args.Positional()[0];
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
    std::error_code ec;
    const auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) {
        std::filesystem::create_directories(parent, ec);
    }
    std::string error;
    if (sim::WriteSimFile(path, {sim::SimFileKeyboard{0, true, *state}}, &error) !=
        sim::SimFileError::None) {
        ctx.err << "tavrikctl: cannot write '" << path << "': " << error << "\n";
        return kExitFailed;
    }
    ctx.out << "wrote " << path << ": one keyboard (row " << *row << ", controller V" << *hi << "."
            << *lo << ") with " << *keys << " key modules\n";
    return kExitOk;
}

}  // namespace

void AddSimCommands(std::vector<CommandDef>& table) {
    table.push_back(
        {"sim init",
         "[FILE] [--keys N] [--row R] [--version X.Y] [--seed S]",
         "Write a starting state for the simulated keyboard",
         "Writes FILE (default: the simulator file in the data folder that --simulate uses)\n"
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
}

}  // namespace tavrik::cli

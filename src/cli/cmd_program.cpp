// Commands that change a keyboard: key codes, colours and controller modes.
#include <algorithm>
#include <cctype>
#include <map>

#include "app/texts.h"
#include "cli/format.h"
#include "cli/job_wait.h"
#include "cli/key_args.h"
#include "cli/keyboards.h"
#include "device/key_assign.h"
#include "device/mode_rules.h"
#include "device/session_jobs.h"
#include "device/session_result.h"
#include "keys/keycodes.h"
#include "protocol/firmware_features.h"

namespace tavrik::cli {

namespace {

using namespace std::chrono_literals;

// A key by name (as `tavrikctl keys` lists them, or an alias) or by key code number.
std::optional<uint8_t> KeyCodeArg(const std::string& text) {
    if (const auto code = ParseNumber(text, 0, 255)) {
        return static_cast<uint8_t>(*code);
    }
    uint8_t hid = 0;
    if (!ParseHidValue(text, hid)) {
        return std::nullopt;
    }
    const uint8_t code = KeyCodeOfHid(hid);
    if (code == 0 && hid != 0) {
        return std::nullopt;
    }
    return code;
}

int RunSetKey(const Args& args, Context& ctx) {
    const auto& pos = args.Positional();
    const auto slot = SlotArg(ctx, pos[0]);
    const auto layer = LayerArg(ctx, pos[1]);
    if (!slot || !layer) {
        return kExitUsage;
    }
    const auto code = KeyCodeArg(pos[2]);
    if (!code) {
        ctx.err << "tavrikctl set-key: unknown key '" << pos[2]
                << "' (see 'tavrikctl keys' for names and codes)\n";
        return kExitUsage;
    }
    // Refused before any keyboard is opened: no keyboard takes these.
    if (const int r = KeyCodeRefusal(*layer, *code); r != 0) {
        ctx.err << "tavrikctl set-key: key code " << HexText(*code, 2) << " on layer " << *layer
                << ": " << SessionResultText(r, CliLanguage()) << "\n";
        return kExitUsage;
    }
    int status = kExitOk;
    auto p = OpenSelectedKeyboard(ctx, status, true);
    if (!p) {
        return status;
    }
    CCCDev& dev = p->Dev();
    const bool hadMacro = dev.Snapshot().slots[static_cast<size_t>(*slot)].vk[*layer] == VK_MARCO;
    if (const int r = dev.AssignKey(*slot, *layer, *code, args.Has("replace-macro")); r != 0) {
        Refused(ctx, "set-key", *slot, r);
        if (r == kErrMacroOnLayer) {
            ctx.err << "Nothing was changed; give --replace-macro to replace the macro with the "
                       "key.\n";
        }
        return kExitFailed;
    }
    const uint8_t hid = HidOfKeyCode(*code);
    ctx.out << "slot " << *slot << " layer " << *layer << ": " << HidKeyName(hid) << " (code "
            << HexText(*code, 2) << ", HID " << HexText(hid, 2) << "), flag "
            << HexText(dev.Snapshot().slots[static_cast<size_t>(*slot)].flag, 2)
            << (hadMacro ? "; the key's macro was removed" : "") << "\n";
    return kExitOk;
}

std::optional<uint32_t> ColourArg(const std::string& text) {
    static const std::map<std::string, uint32_t> names = {
        {"red", 0x0000F0},    {"green", 0x00F000}, {"blue", 0xF00000},    {"white", 0xF0F0F0},
        {"yellow", 0x00F0F0}, {"cyan", 0xF0F000},  {"magenta", 0xF000F0}, {"orange", 0x0080F0},
        {"purple", 0xF00080}, {"pink", 0x8040F0},  {"off", 0x000000},     {"black", 0x000000},
    };
    std::string lower;
    for (char c : text) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (const auto it = names.find(lower); it != names.end()) {
        return it->second;
    }
    if (lower.size() == 7 && lower[0] == '#') {
        const auto rgb = ParseNumber("0x" + lower.substr(1), 0, 0xFFFFFF);
        if (rgb) {
            const auto v = static_cast<uint32_t>(*rgb);
            // #RRGGBB to 0x00BBGGRR.
            return (v >> 16 & 0xFF) | (v & 0xFF00) | (v & 0xFF) << 16;
        }
    }
    return std::nullopt;
}

int RunSetColor(const Args& args, Context& ctx) {
    const auto& pos = args.Positional();
    const bool all = pos[0] == "all";
    const auto slot = all ? std::optional<int>(0) : SlotArg(ctx, pos[0]);
    const auto colour = ColourArg(pos[1]);
    if (!slot) {
        return kExitUsage;
    }
    if (!colour) {
        ctx.err << "tavrikctl set-color: COLOR is #RRGGBB or a name (red, green, blue, white, "
                   "yellow, cyan, magenta, orange, purple, pink, off), not '"
                << pos[1] << "'\n";
        return kExitUsage;
    }
    int status = kExitOk;
    auto p = OpenSelectedKeyboard(ctx, status, true);
    if (!p) {
        return status;
    }
    CCCDev& dev = p->Dev();
    if (all) {
        const JobStatus job =
            WaitForJob(ctx, dev, SubmitAllKeyColorJob(dev, *colour), JobProgress::Steps, 10min);
        if (job.state != JobState::Done) {
            ctx.err << "tavrikctl set-color: "
                    << (job.Finished() ? job.message : "the colours did not finish in time")
                    << "\n";
            return kExitFailed;
        }
        ctx.out << "all assigned keys: " << ColourText(*colour & 0xF0F0F0) << "\n";
        return kExitOk;
    }
    if (const int r = dev.SetKeyColor(*slot, *colour); r != 0) {
        return Refused(ctx, "set-color", *slot, r);
    }
    // The LED keeps four bits per channel.
    ctx.out << "slot " << *slot << ": " << ColourText(*colour & 0xF0F0F0) << "\n";
    return kExitOk;
}

std::optional<bool> OnOffArg(const std::string& text) {
    if (text == "on") {
        return true;
    }
    if (text == "off") {
        return false;
    }
    return std::nullopt;
}

int RunMode(const Args& args, Context& ctx) {
    const auto& pos = args.Positional();
    if (pos[0] != "nkro" && pos[0] != "overload" && pos[0] != "rate") {
        return RefusePositionals(ctx, args);
    }
    const std::string& what = pos[0];
    std::optional<bool> on;
    std::optional<long> value;
    ModeChange change;
    if (what == "rate") {
        // Not a number: 0, which no controller takes either.
        value = ParseNumber(pos[1], 0, 255).value_or(0);
        change.usbRate = static_cast<int>(*value);
    } else {
        on = OnOffArg(pos[1]);
        if (!on) {
            ctx.err << "tavrikctl mode " << what << ": expected on or off\n";
            return kExitUsage;
        }
        (what == "nkro" ? change.nkro : change.overload) = *on;
    }
    if (what == "overload") {
        value = ParseNumber(args.Get("count", "0"), 0, 255);
        if (!value) {
            ctx.err << "tavrikctl mode overload: --count takes a number, not '" << args.Get("count")
                    << "'\n";
            return kExitUsage;
        }
        change.overloadCount = static_cast<int>(*value);
    } else if (args.Has("count")) {
        ctx.err << "tavrikctl mode " << what << ": --count belongs to overload\n";
        return kExitUsage;
    }
    // Refused before any keyboard is opened, and again with the keyboard's own
    // standard count before anything is sent.
    auto refused = [&](int standardCount) {
        const int r = ModeRefusal(change, standardCount);
        if (r != kSessionOk) {
            ctx.err << "tavrikctl mode " << what << ": " << SessionResultText(r, CliLanguage());
            if (r == kErrOverloadCountNotAbove) {
                ctx.err << " (" << standardCount << " modules)";
            }
            ctx.err << "; nothing was changed\n";
        }
        return r != kSessionOk;
    };
    if (refused(0)) {
        return kExitUsage;
    }
    int status = kExitOk;
    auto p = OpenSelectedKeyboard(ctx, status, true);
    if (!p) {
        return status;
    }
    if (refused(StandardModuleCount(p->Dev().Snapshot()))) {
        return kExitUsage;
    }
    CCCDev& dev = p->Dev();
    const uint32_t id = what == "nkro"       ? SubmitNkroJob(dev, *on)
                        : what == "overload" ? SubmitOverloadJob(dev, *on, static_cast<int>(*value))
                                             : SubmitUsbRateJob(dev, static_cast<int>(*value));
    const JobStatus job = WaitForJob(ctx, dev, id, JobProgress::None, 1min);
    if (!job.Finished()) {
        ctx.err << "tavrikctl mode: the change did not finish in time\n";
        return kExitFailed;
    }
    if (job.result == kJobNotSupported) {
        const SessionSnapshot snap = dev.Snapshot();
        ctx.err << "tavrikctl mode nkro: the controller firmware V"
                << VersionText(snap.kbmcVerHi, snap.kbmcVerLo)
                << " is too old for full-key rollover\n";
        return kExitFailed;
    }
    // The keyboard's own word on what it now runs.
    if (dev.GetKbmcStageVer() < 0 || (what == "rate" && dev.ReadUsbRate() < 0)) {
        ctx.err << "tavrikctl mode: the keyboard did not answer after the change\n";
        return kExitFailed;
    }
    const SessionSnapshot snap = dev.Snapshot();
    ctx.out << "full-key rollover " << (snap.nkro ? "on" : "off") << ", overload "
            << (snap.overload ? "on" : "off") << " (" << snap.keyMax << " modules), USB rate "
            << static_cast<int>(snap.usbRate) << "\n";
    if (what == "overload" && !ReportsModuleCount(snap.KbmcWord())) {
        ctx.out << "(controller firmware V" << VersionText(snap.kbmcVerHi, snap.kbmcVerLo)
                << " does not report its module limit, so the change cannot be checked)\n";
        return kExitOk;
    }
    const bool took = what == "nkro" ? snap.nkro == *on
                      : what == "overload"
                          ? snap.overload == *on || (*value != 0 && snap.keyMax == *value)
                          : snap.usbRate == *value;
    if (!took) {
        ctx.err << "tavrikctl mode: the keyboard did not take the change\n";
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

void AddProgramCommands(std::vector<CommandDef>& table) {
    table.push_back(
        {"set-key",
         "SLOT LAYER KEY [--replace-macro]",
         {3, 3},
         "Give a key a key code on one layer",
         "SLOT is 0..89, LAYER 0..3, KEY a name as 'tavrikctl keys' lists them (A, F5,\n"
         "L Shift, LT1, Vol+...), an alias (LShift, Enter, kp1...) or a key code number.\n"
         "The key's flag byte follows the new value; a macro on another layer of the key\n"
         "is kept. A key code on the layer that plays the key's macro removes the macro,\n"
         "so that is refused unless --replace-macro is given.\n",
         {{"replace-macro"}},
         RunSetKey});
    table.push_back(
        {"set-color",
         "SLOT|all COLOR",
         {2, 2},
         "Set the LED colour of one key or of all keys",
         "COLOR is #RRGGBB or red, green, blue, white, yellow, cyan, magenta, orange,\n"
         "purple, pink, off. The LED keeps the upper four bits of each channel. Keys without\n"
         "an assignment keep their waiting colour.\n",
         {},
         RunSetColor});
    table.push_back({"mode",
                     "nkro on|off | overload on|off [--count N] | rate MS",
                     {2, 2, "expected nkro on|off, overload on|off [--count N] or rate MS"},
                     "Switch the controller's modes",
                     "  nkro on|off       full-key rollover\n"
                     "  overload on|off   more key modules than the standard number; with on,\n"
                     "                    --count N sets the number (42..90 and above the\n"
                     "                    controller's standard count; 0 takes its own limits)\n"
                     "  rate MS           USB report interval: 1, 2, 3, 4, 5, 8 or 10 ms\n"
                     "Each change is checked against what the keyboard reports afterwards.\n",
                     {{"count", true}},
                     RunMode});
}

}  // namespace tavrik::cli

#include <nlohmann/json.hpp>

#include "cli/command.h"
#include "cli/format.h"
#include "keys/keycodes.h"

namespace tavrik::cli {

namespace {

std::string Hex(unsigned v) {
    return HexText(v & 0xFF, 2);
}

int RunKeys(const Args& args, Context& ctx) {
    if (args.Has("json")) {
        nlohmann::json codes = nlohmann::json::array();
        nlohmann::json hids = nlohmann::json::array();
        for (unsigned v = 0; v < 256; ++v) {
            const auto b = static_cast<uint8_t>(v);
            codes.push_back({{"code", v}, {"hid", HidOfKeyCode(v)}});
            hids.push_back({{"hid", v}, {"name", HidKeyName(b)}, {"code", KeyCodeOfHid(b)}});
        }
        ctx.out << nlohmann::json{{"codes", codes}, {"hids", hids}}.dump(1) << "\n";
        return kExitOk;
    }
    ctx.out << "Key codes and their HID values (0x00: none):\n";
    for (unsigned v = 0; v < 256; ++v) {
        ctx.out << "  code " << Hex(v) << " -> HID " << Hex(HidOfKeyCode(v)) << "\n";
    }
    ctx.out << "\nHID values, their names and key codes:\n";
    for (unsigned v = 0; v < 256; ++v) {
        const auto b = static_cast<uint8_t>(v);
        ctx.out << "  HID " << Hex(v) << " -> code " << Hex(KeyCodeOfHid(b)) << "  \""
                << HidKeyName(b) << "\"\n";
    }
    return kExitOk;
}

}  // namespace

void AddKeysCommands(std::vector<CommandDef>& table) {
    table.push_back({"keys",
                     "[--json]",
                     {},
                     "List every key code with its HID value, and every HID value",
                     "For each of the 256 key codes: its HID value (0 when it has none).\n"
                     "For each of the 256 HID values: its name and the key code it reads back "
                     "as.\n\n  --json   {\"codes\": [{\"code\", \"hid\"}...], \"hids\": [{\"hid\", "
                     "\"name\", \"code\"}...]}\n",
                     {{"json"}},
                     RunKeys});
}

}  // namespace tavrik::cli

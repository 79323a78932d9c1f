#include <cstdio>

#include <nlohmann/json.hpp>

#include "cli/format.h"
#include "cli/keyboards.h"
#include "hid/device_table.h"
#include "keys/keycodes.h"

namespace tavrik::cli {

namespace {

std::string Hex4(int v) {
    return HexText(static_cast<unsigned>(v) & 0xFFFF, 4);
}

std::string StageText(char stage) {
    return stage == 0 ? std::string() : std::string(1, stage);
}

// Keyboard kind from the device version number, as the scan decides it.
int KindOfTransport(const CCUSB& usb) {
    const int row =
        MatchDeviceTable(static_cast<uint16_t>(usb.m_nVid), static_cast<uint16_t>(usb.m_nPid),
                         static_cast<uint16_t>(usb.m_nVer));
    return row < 0 ? 0 : row + 1;
}

int RunList(const Args& args, Context& ctx) {
    int status = kExitOk;
    auto keyboards = Keyboards::Open(ctx, status);
    if (!keyboards) {
        return status;
    }
    nlohmann::json list = nlohmann::json::array();
    for (int i = 0; i < keyboards->Count(); ++i) {
        CCUSB& usb = keyboards->Transport(i);
        CCCDev& dev = keyboards->Session(i);
        const int stageVer = dev.GetKbmcStageVer();
        nlohmann::json k = {{"slot", i},
                            {"vid", Hex4(usb.m_nVid)},
                            {"pid", Hex4(usb.m_nPid)},
                            {"version", Hex4(usb.m_nVer)},
                            {"kind", KindOfTransport(usb)},
                            {"path", usb.m_strPath},
                            {"product", usb.m_szProduct},
                            {"serial", usb.m_szSerial}};
        if (stageVer >= 0) {
            k["stage"] = StageText(static_cast<char>(stageVer >> 16));
            k["firmware"] = VersionText((stageVer >> 8) & 0xFF, stageVer & 0xFF);
        } else {
            k["stage"] = nullptr;
            k["firmware"] = nullptr;
        }
        list.push_back(k);
    }
    if (args.Has("json")) {
        ctx.out << list.dump(1) << "\n";
        return kExitOk;
    }
    if (list.empty()) {
        ctx.out << "No keyboard attached.\n";
        return kExitOk;
    }
    for (const auto& k : list) {
        ctx.out << "Keyboard " << k["slot"].get<int>() << ": " << k["product"].get<std::string>()
                << " (serial " << k["serial"].get<std::string>() << ")\n"
                << "  device " << k["vid"].get<std::string>() << ":" << k["pid"].get<std::string>()
                << " version " << k["version"].get<std::string>() << ", kind "
                << k["kind"].get<int>() << ", " << k["path"].get<std::string>() << "\n";
        if (k["stage"].is_null()) {
            ctx.out << "  controller: no answer\n";
        } else {
            ctx.out << "  controller: stage " << k["stage"].get<std::string>() << ", firmware V"
                    << k["firmware"].get<std::string>() << "\n";
        }
    }
    return kExitOk;
}

int RunScan(const Args& args, Context& ctx) {
    int status = kExitOk;
    auto selected = OpenSelectedKeyboard(ctx, status, true);
    if (!selected) {
        return status;
    }
    const int i = selected->index;
    const SessionSnapshot snap = selected->Dev().Snapshot();

    nlohmann::json slots = nlohmann::json::array();
    for (int s = 0; s < static_cast<int>(kKeySlots); ++s) {
        const SlotSnapshot& k = snap.slots[static_cast<size_t>(s)];
        if (!k.Present()) {
            continue;
        }
        const std::string uid = HexText(k.uid, 8);
        nlohmann::json names = nlohmann::json::array();
        for (uint8_t h : k.hid) {
            names.push_back(HidKeyName(h));
        }
        slots.push_back({{"slot", s},
                         {"uid", uid},
                         {"mac", k.shortMac},
                         {"stage", StageText(k.stage)},
                         {"codes", k.vk},
                         {"names", names},
                         {"hid", k.hid},
                         {"flag", k.flag},
                         {"color", ColourText(k.colour)},
                         {"firmware", VersionText(k.verHi, k.verLo)},
                         {"answered", k.answered}});
    }
    const std::vector<int> silent = snap.UnansweredSlots();
    const bool noAnswer = silent.size() == kKeySlots;
    nlohmann::json range = nullptr;
    if (snap.keyVerRangeKnown) {
        const auto& r = snap.keyVerRange;
        range = {{"min", VersionText(r[0], r[1])}, {"max", VersionText(r[2], r[3])}};
    }
    const char stage = snap.kbmcStage;
    const uint8_t hi = snap.kbmcVerHi;
    const uint8_t lo = snap.kbmcVerLo;
    const KeyCounts& counts = snap.counts;
    const nlohmann::json result = {
        {"device", i},
        {"kind", snap.kind},
        {"controller", {{"stage", StageText(stage)}, {"firmware", VersionText(hi, lo)}}},
        {"counts",
         {{"total", counts.total},
          {"assigned", counts.assigned},
          {"bootloader", counts.boot},
          {"unassigned", counts.blank}}},
        {"keyVersionRange", range},
        {"unanswered", silent},
        {"slots", slots}};
    // Rows of slots that did not answer are what the table held before: say so, and fail.
    status = silent.empty() ? kExitOk : kExitFailed;
    if (noAnswer) {
        ctx.err << "tavrikctl: keyboard " << i
                << " does not answer the scan: no slot answered, so its modules are unknown\n";
    } else if (!silent.empty()) {
        ctx.err << "tavrikctl: keyboard " << i << ": " << SlotListText(silent)
                << " did not answer the scan; their rows are from before\n";
    }
    if (args.Has("json")) {
        ctx.out << result.dump(1) << "\n";
        return status;
    }
    ctx.out << "Keyboard " << i << ": kind " << snap.kind << ", controller stage "
            << StageText(stage) << " V" << VersionText(hi, lo) << "\n"
            << "Keys: ";
    if (noAnswer) {
        ctx.out << "no answer\n";
        return status;
    }
    ctx.out << counts.total << " in all, " << counts.assigned << " assigned, " << counts.boot
            << " in bootloader, " << counts.blank << " unassigned\n";
    if (!range.is_null()) {
        ctx.out << "Key firmware: V" << range["min"].get<std::string>() << " to V"
                << range["max"].get<std::string>() << "\n";
    }
    ctx.out << "\nslot  uid         mac stage colour   firmware  layers 0..3\n";
    for (const auto& s : slots) {
        char line[80];
        std::snprintf(line, sizeof line, "%4d  %s %3d  %-4s  %s  V%-7s ", s["slot"].get<int>(),
                      s["uid"].get<std::string>().c_str(), s["mac"].get<int>(),
                      s["stage"].get<std::string>().c_str(), s["color"].get<std::string>().c_str(),
                      s["firmware"].get<std::string>().c_str());
        ctx.out << line;
        for (size_t l = 0; l < 4; ++l) {
            ctx.out << (l == 0 ? "" : " | ") << s["names"][l].get<std::string>();
        }
        ctx.out << (s["answered"].get<bool>() ? "" : "  (no answer)") << "\n";
    }
    return status;
}

}  // namespace

void AddDeviceCommands(std::vector<CommandDef>& table) {
    table.push_back(
        {"list",
         "[--json]",
         {},
         "List the attached keyboards",
         "For each attached keyboard: its slot, USB IDs and version number, keyboard kind,\n"
         "device path, product and serial strings, and the controller's stage and firmware.\n\n"
         "  --json  [{\"slot\", \"vid\", \"pid\", \"version\", \"kind\", \"path\", \"product\", "
         "\"serial\", \"stage\", \"firmware\"}]\n",
         {{"json"}},
         RunList});
    table.push_back(
        {"scan",
         "[--json]",
         {},
         "Scan the selected keyboard's key modules",
         "Runs one full scan of the keyboard chosen with --device: the key counts, the key\n"
         "firmware version range, and for every present slot its UID, short address, stage,\n"
         "key code and name per layer, colour and module firmware version.\n"
         "Slots that do not answer, even when asked a second time with a longer wait, are\n"
         "named on stderr and the exit status is 1: their rows are what was known before.\n\n"
         "  --json  {\"device\", \"kind\", \"controller\", \"counts\", \"keyVersionRange\", "
         "\"unanswered\": [slot...], \"slots\": [{..., \"answered\"}]}\n",
         {{"json"}},
         RunScan});
}

}  // namespace tavrik::cli

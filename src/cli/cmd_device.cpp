#include <array>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

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

// One present slot of a scan, in the words both outputs give.
struct ScanRow {
    int slot = 0;
    std::string uid;
    uint8_t mac = 0;
    std::string stage;
    std::array<uint8_t, 4> codes{};
    std::array<std::string, 4> names;
    std::array<uint8_t, 4> hid{};
    uint8_t flag = 0;
    std::string colour;
    std::string firmware;
    bool answered = false;
};

// What one scan of a keyboard learnt, printed as text or as JSON.
struct ScanReport {
    int device = 0;
    int kind = 0;
    std::string stage;
    std::string firmware;
    KeyCounts counts;
    std::optional<std::pair<std::string, std::string>> keyVersions;  // lowest, highest
    std::vector<int> unanswered;
    std::vector<ScanRow> rows;

    bool NoAnswer() const { return unanswered.size() == kKeySlots; }
};

// The report of keyboard `device` from its snapshot after the scan.
ScanReport ReportOfScan(int device, const SessionSnapshot& snap) {
    ScanReport report{device,
                      snap.kind,
                      StageText(snap.kbmcStage),
                      VersionText(snap.kbmcVerHi, snap.kbmcVerLo),
                      snap.counts,
                      std::nullopt,
                      snap.UnansweredSlots(),
                      {}};
    if (snap.keyVerRangeKnown) {
        const auto& r = snap.keyVerRange;
        report.keyVersions.emplace(VersionText(r[0], r[1]), VersionText(r[2], r[3]));
    }
    for (int s = 0; s < static_cast<int>(kKeySlots); ++s) {
        const auto& k = snap.slots[static_cast<size_t>(s)];
        if (!k.Present()) {
            continue;
        }
        ScanRow row{s,
                    HexText(k.uid, 8),
                    k.shortMac,
                    StageText(k.stage),
                    k.vk,
                    {},
                    k.hid,
                    k.flag,
                    ColourText(k.colour),
                    VersionText(k.verHi, k.verLo),
                    k.answered};
        for (size_t l = 0; l < 4; ++l) {
            row.names[l] = HidKeyName(k.hid[l]);
        }
        report.rows.push_back(std::move(row));
    }
    return report;
}

nlohmann::json ScanJson(const ScanReport& report) {
    nlohmann::json slots = nlohmann::json::array();
    for (const ScanRow& r : report.rows) {
        slots.push_back({{"slot", r.slot},
                         {"uid", r.uid},
                         {"mac", r.mac},
                         {"stage", r.stage},
                         {"codes", r.codes},
                         {"names", r.names},
                         {"hid", r.hid},
                         {"flag", r.flag},
                         {"color", r.colour},
                         {"firmware", r.firmware},
                         {"answered", r.answered}});
    }
    nlohmann::json range = nullptr;
    if (report.keyVersions) {
        range = {{"min", report.keyVersions->first}, {"max", report.keyVersions->second}};
    }
    const KeyCounts& counts = report.counts;
    return {{"device", report.device},
            {"kind", report.kind},
            {"controller", {{"stage", report.stage}, {"firmware", report.firmware}}},
            {"counts",
             {{"total", counts.total},
              {"assigned", counts.assigned},
              {"bootloader", counts.boot},
              {"unassigned", counts.blank}}},
            {"keyVersionRange", range},
            {"unanswered", report.unanswered},
            {"slots", slots}};
}

void PrintScan(std::ostream& out, const ScanReport& report) {
    out << "Keyboard " << report.device << ": kind " << report.kind << ", controller stage "
        << report.stage << " V" << report.firmware << "\n"
        << "Keys: ";
    if (report.NoAnswer()) {
        out << "no answer\n";
        return;
    }
    const KeyCounts& counts = report.counts;
    out << counts.total << " in all, " << counts.assigned << " assigned, " << counts.boot
        << " in bootloader, " << counts.blank << " unassigned\n";
    if (report.keyVersions) {
        out << "Key firmware: V" << report.keyVersions->first << " to V"
            << report.keyVersions->second << "\n";
    }
    out << "\nslot  uid         mac stage colour   firmware  layers 0..3\n";
    for (const ScanRow& r : report.rows) {
        char line[80];
        std::snprintf(line, sizeof line, "%4d  %s %3d  %-4s  %s  V%-7s ", r.slot, r.uid.c_str(),
                      r.mac, r.stage.c_str(), r.colour.c_str(), r.firmware.c_str());
        out << line;
        for (size_t l = 0; l < 4; ++l) {
            out << (l == 0 ? "" : " | ") << r.names[l];
        }
        out << (r.answered ? "" : "  (no answer)") << "\n";
    }
}

int RunScan(const Args& args, Context& ctx) {
    int status = kExitOk;
    auto selected = OpenSelectedKeyboard(ctx, status, true);
    if (!selected) {
        return status;
    }
    const ScanReport report = ReportOfScan(selected->index, selected->Dev().Snapshot());
    // Rows of slots that did not answer are what the table held before: say so, and fail.
    const int i = report.device;
    if (report.NoAnswer()) {
        ctx.err << "tavrikctl: keyboard " << i
                << " does not answer the scan: no slot answered, so its modules are unknown\n";
    } else if (!report.unanswered.empty()) {
        ctx.err << "tavrikctl: keyboard " << i << ": " << SlotListText(report.unanswered)
                << " did not answer the scan; their rows are from before\n";
    }
    if (args.Has("json")) {
        ctx.out << ScanJson(report).dump(1) << "\n";
    } else {
        PrintScan(ctx.out, report);
    }
    return report.unanswered.empty() ? kExitOk : kExitFailed;
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

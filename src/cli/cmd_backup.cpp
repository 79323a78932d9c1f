// backup and restore: a keyboard's key assignments, colours, macros and controller modes
// in a JSON file, put back module by module wherever the modules sit by then.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "cli/format.h"
#include "cli/keyboards.h"
#include "keys/keycodes.h"
#include "platform/atomic_file.h"

namespace tavrik::cli {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kFormatName = "tavrik-keyboard-backup";
constexpr int kFormatVersion = 1;

// A macro as far as its End entry, which is included.
using Macro = std::vector<MarcoEntry>;

struct ModuleState {
    uint32_t uid = 0;
    int slot = 0;
    char stage = 'A';
    std::array<uint8_t, 4> hid{};
    uint8_t flag = 0;
    // None when layer 0 has no assignment: the keyboard neither reports nor takes a colour
    // for such a key.
    std::optional<uint32_t> colour;
    std::optional<Macro> macro;  // none: no layer plays a macro
    bool macroUnread = false;    // a macro layer whose macro could not be read
};

struct Modes {
    bool nkro = false;
    bool overload = false;
    int modules = 0;
    int usbRate = 0;
};

struct KeyboardState {
    std::string product;
    std::string serial;
    int kind = 0;
    char stage = 0;
    int verHi = 0;
    int verLo = 0;
    Modes modes;
    std::vector<ModuleState> modules;  // in slot order
};

struct BadBackup {
    std::string message;
};

bool TakesColour(uint8_t layer0Hid) {
    const uint8_t vk = KeyCodeOfReportedHid(layer0Hid);
    return vk != 0 && vk != VK_WAIT_UPGRADE && vk != VK_WAIT_SET;
}

bool PlaysMacro(const std::array<uint8_t, 4>& hid) {
    return std::any_of(hid.begin(), hid.end(),
                       [](uint8_t h) { return KeyCodeOfReportedHid(h) == VK_MARCO; });
}

int StepCount(const Macro& m) {
    return static_cast<int>(m.size()) - 1;
}

// ---- Reading the keyboard ----

Macro MacroOfBuffer(const MarcoEntries& entries) {
    Macro m;
    for (const MarcoEntry& e : entries) {
        if (IsMarcoListEnd(e.flag)) {
            break;
        }
        m.push_back(e);
    }
    m.resize(std::min<size_t>(m.size(), kMarcoEntryCount - 1));
    m.push_back({MarcoFlag::End, 0, 0});
    return m;
}

// A slow or lost reply is worth two more tries before a macro counts as unreadable. A
// reply that comes after its read gave up would be taken for the answer to the next
// request, so the late ones are let in and dropped before trying again.
int ReadKeyMacro(CCCDev& dev, int slot, Macro& out) {
    int result = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        {
            std::lock_guard lock(dev.m_TableLock);
            dev.m_Marco = {};
        }
        result = dev.ReadMarco(slot);
        if (result == 0) {
            std::lock_guard lock(dev.m_TableLock);
            out = MacroOfBuffer(dev.m_Marco);
            return 0;
        }
    }
    return result;
}

// Scans keyboard i and reads what a backup holds. With `strict`, an unreadable macro is
// an error; otherwise the module is marked and the caller decides.
bool ReadKeyboard(Keyboards& keyboards, int i, Context& ctx, bool strict, KeyboardState& out) {
    if (!keyboards.ScanOnce(ctx, i)) {
        return false;
    }
    CCCDev& dev = keyboards.Session(i);
    // No further passes while the table is read and written: a pass would put the
    // keyboard's values back into slots the caller is about to write.
    dev.StopScanThread();

    KeyboardState s;
    s.product = keyboards.Transport(i).m_szProduct;
    s.serial = keyboards.Transport(i).m_szSerial;
    s.kind = dev.m_nKbdKind;
    uint8_t hi = 0, lo = 0;
    dev.GetKbmcVer(s.stage, hi, lo);
    s.verHi = hi;
    s.verLo = lo;
    if (s.stage != 'A') {
        ctx.err << "tavrikctl: the controller of keyboard " << i
                << " runs its bootloader; upgrade its firmware first\n";
        return false;
    }
    s.modes = {dev.m_bNkro != 0, dev.m_bOverload != 0, dev.m_nKeyMax.load(),
               static_cast<int>(dev.m_nUsbRate.load())};

    for (int slot = 0; slot < static_cast<int>(kKeySlots); ++slot) {
        const KeySlot k = dev.GetKeySlot(slot);
        if (!k.Present()) {
            continue;
        }
        ModuleState m;
        m.uid = k.uid;
        m.slot = slot;
        m.stage = k.type == 'B' ? 'B' : 'A';
        if (m.stage == 'A') {
            m.hid = k.hid;
            m.flag = k.flag;
            if (k.vk[0] != 0 && k.vk[0] != VK_WAIT_UPGRADE && k.vk[0] != VK_WAIT_SET) {
                m.colour = k.color & 0x00F0F0F0;
            }
            if (std::find(k.vk.begin(), k.vk.end(), VK_MARCO) != k.vk.end()) {
                Macro macro;
                if (const int r = ReadKeyMacro(dev, slot, macro); r != 0) {
                    if (strict) {
                        ctx.err << "tavrikctl: the macro of the key in slot " << slot << " ("
                                << HexText(k.uid, 8) << ") could not be read (" << r
                                << "); no backup was written\n";
                        return false;
                    }
                    m.macroUnread = true;
                } else {
                    m.macro = std::move(macro);
                }
            }
        }
        s.modules.push_back(std::move(m));
    }
    out = std::move(s);
    return true;
}

// ---- The file ----

// Product strings and paths need not be UTF-8; they must not stop a backup.
template <class J>
std::string Dump(const J& j) {
    return j.dump(-1, ' ', false, J::error_handler_t::replace);
}

template <class J = json>
J MacroJson(const Macro& m) {
    J list = J::array();
    for (const MarcoEntry& e : m) {
        list.push_back({{"flag", e.flag}, {"kv", e.kv}, {"delay", e.delay}});
    }
    return list;
}

// One line per module, so two backups compare well with diff.
std::string BackupText(const KeyboardState& s) {
    using ojson = nlohmann::ordered_json;
    const ojson head = {
        {"format", kFormatName},
        {"version", kFormatVersion},
        {"keyboard", {{"product", s.product}, {"serial", s.serial}, {"kind", s.kind}}},
        {"controller",
         {{"stage", std::string(1, s.stage)}, {"firmware", VersionText(s.verHi, s.verLo)}}},
        {"modes",
         {{"nkro", s.modes.nkro},
          {"overload", s.modes.overload},
          {"modules", s.modes.modules},
          {"usbRate", s.modes.usbRate}}}};
    std::string text = "{\n";
    for (const auto& [key, value] : head.items()) {
        text += " " + Dump(ojson(key)) + ": " + Dump(value) + ",\n";
    }
    text += " \"modules\": [";
    for (size_t n = 0; n < s.modules.size(); ++n) {
        const ModuleState& m = s.modules[n];
        ojson j = {
            {"uid", HexText(m.uid, 8)}, {"slot", m.slot}, {"stage", std::string(1, m.stage)}};
        if (m.stage == 'A') {
            j["hid"] = m.hid;
            j["flag"] = m.flag;
            j["color"] = m.colour ? ojson(ColourText(*m.colour)) : ojson(nullptr);
            j["macro"] = m.macro ? MacroJson<ojson>(*m.macro) : ojson(nullptr);
        }
        text += (n == 0 ? "\n  " : ",\n  ") + Dump(j);
    }
    return text + (s.modules.empty() ? "]\n}\n" : "\n ]\n}\n");
}

const json& Field(const json& obj, const char* key, const std::string& where) {
    if (!obj.is_object() || !obj.contains(key)) {
        throw BadBackup{where + ": '" + key + "' is missing"};
    }
    return obj[key];
}

int IntField(const json& obj, const char* key, int lo, int hi, const std::string& where) {
    const json& v = Field(obj, key, where);
    if (!v.is_number_integer() || v.get<int64_t>() < lo || v.get<int64_t>() > hi) {
        throw BadBackup{where + "." + key + ": expected a whole number " + std::to_string(lo) +
                        ".." + std::to_string(hi)};
    }
    return static_cast<int>(v.get<int64_t>());
}

bool BoolField(const json& obj, const char* key, const std::string& where) {
    const json& v = Field(obj, key, where);
    if (!v.is_boolean()) {
        throw BadBackup{where + "." + key + ": expected true or false"};
    }
    return v.get<bool>();
}

uint32_t ParseColour(const json& v, const std::string& where) {
    const std::string text = v.is_string() ? v.get<std::string>() : std::string();
    const auto rgb = text.size() == 7 && text[0] == '#'
                         ? ParseNumber("0x" + text.substr(1), 0, 0xFFFFFF)
                         : std::nullopt;
    if (!rgb) {
        throw BadBackup{where + ": expected a colour \"#RRGGBB\" or null"};
    }
    const auto c = static_cast<uint32_t>(*rgb);
    // #RRGGBB to 0x00BBGGRR; the LEDs keep four bits per channel.
    return ((c >> 16 & 0xFF) | (c & 0xFF00) | (c & 0xFF) << 16) & 0x00F0F0F0;
}

Macro ParseMacro(const json& v, const std::string& where) {
    if (!v.is_array() || v.empty() || v.size() > static_cast<size_t>(kMarcoEntryCount)) {
        throw BadBackup{where + ": expected 1.." + std::to_string(kMarcoEntryCount) + " entries"};
    }
    Macro m;
    for (size_t e = 0; e < v.size(); ++e) {
        const std::string at = where + "[" + std::to_string(e) + "]";
        const MarcoEntry entry{static_cast<uint8_t>(IntField(v[e], "flag", 0, 255, at)),
                               static_cast<uint8_t>(IntField(v[e], "kv", 0, 255, at)),
                               static_cast<uint16_t>(IntField(v[e], "delay", 0, 65535, at))};
        const bool last = e + 1 == v.size();
        if (last != (entry.flag == MarcoFlag::End) || (!last && IsMarcoListEnd(entry.flag))) {
            throw BadBackup{at + ": a macro ends with its only End entry (flag 0)"};
        }
        // What follows the End flag is not kept by the keyboard.
        m.push_back(last ? MarcoEntry{MarcoFlag::End, 0, 0} : entry);
    }
    return m;
}

ModuleState ParseModule(const json& j, const std::string& where) {
    ModuleState m;
    const json& uid = Field(j, "uid", where);
    std::optional<long> value;
    if (uid.is_string()) {
        value = ParseNumber(uid.get<std::string>(), 1, 0xFFFFFFFFL);
    } else if (uid.is_number_unsigned()) {
        value = ParseNumber(std::to_string(uid.get<uint64_t>()), 1, 0xFFFFFFFFL);
    }
    if (!value) {
        throw BadBackup{where + ".uid: expected a non-zero 32-bit UID such as \"0x1A2B3C4D\""};
    }
    m.uid = static_cast<uint32_t>(*value);
    m.slot = IntField(j, "slot", 0, static_cast<int>(kKeySlots) - 1, where);
    const json& stage = Field(j, "stage", where);
    if (stage != "A" && stage != "B") {
        throw BadBackup{where + ".stage: expected \"A\" or \"B\""};
    }
    m.stage = stage.get<std::string>()[0];
    if (m.stage == 'B') {
        return m;
    }
    const json& hid = Field(j, "hid", where);
    if (!hid.is_array() || hid.size() != 4) {
        throw BadBackup{where + ".hid: expected four HID values, layers 0..3"};
    }
    for (size_t l = 0; l < 4; ++l) {
        if (!hid[l].is_number_integer() || hid[l].get<int64_t>() < 0 ||
            hid[l].get<int64_t>() > 255) {
            throw BadBackup{where + ".hid[" + std::to_string(l) + "]: expected 0..255"};
        }
        m.hid[l] = static_cast<uint8_t>(hid[l].get<int64_t>());
    }
    m.flag = static_cast<uint8_t>(IntField(j, "flag", 0, 255, where));
    if (const json& c = Field(j, "color", where); !c.is_null()) {
        if (!TakesColour(m.hid[0])) {
            throw BadBackup{where +
                            ".color: a key without an assignment on layer 0 has no "
                            "colour of its own"};
        }
        m.colour = ParseColour(c, where + ".color");
    }
    if (const json& macro = Field(j, "macro", where); !macro.is_null()) {
        m.macro = ParseMacro(macro, where + ".macro");
    }
    if (PlaysMacro(m.hid) != m.macro.has_value()) {
        throw BadBackup{where + (m.macro ? ".macro: no layer of the key plays a macro"
                                         : ".macro: a layer plays a macro, but the macro is "
                                           "missing")};
    }
    return m;
}

KeyboardState FromJson(const json& j) {
    if (!j.is_object() || !j.contains("format") || j["format"] != kFormatName) {
        throw BadBackup{"not a keyboard backup"};
    }
    const int version = IntField(j, "version", 1, 1 << 30, "backup");
    if (version > kFormatVersion) {
        throw BadBackup{"backup format version " + std::to_string(version) +
                        " is newer than this tavrikctl reads (" + std::to_string(kFormatVersion) +
                        ")"};
    }
    KeyboardState s;
    if (const json& k = Field(j, "keyboard", "backup"); k.is_object()) {
        s.product = k.value("product", std::string());
        s.serial = k.value("serial", std::string());
        s.kind = k.value("kind", 0);
    }
    const json& modes = Field(j, "modes", "backup");
    s.modes.nkro = BoolField(modes, "nkro", "modes");
    s.modes.overload = BoolField(modes, "overload", "modes");
    s.modes.modules = IntField(modes, "modules", 0, static_cast<int>(kKeySlots), "modes");
    s.modes.usbRate = IntField(modes, "usbRate", 0, 255, "modes");
    const json& modules = Field(j, "modules", "backup");
    if (!modules.is_array()) {
        throw BadBackup{"modules: expected a list"};
    }
    std::set<uint32_t> uids;
    for (size_t n = 0; n < modules.size(); ++n) {
        const std::string where = "modules[" + std::to_string(n) + "]";
        ModuleState m = ParseModule(modules[n], where);
        if (!uids.insert(m.uid).second) {
            throw BadBackup{where + ".uid: " + HexText(m.uid, 8) + " appears twice"};
        }
        s.modules.push_back(std::move(m));
    }
    return s;
}

// ---- backup ----

int RunBackup(const Args& args, Context& ctx) {
    const auto& pos = args.Positional();
    if (pos.size() != 1) {
        ctx.err << "tavrikctl backup: expected FILE\n";
        return kExitUsage;
    }
    int status = kExitOk;
    auto selected = OpenSelectedKeyboard(ctx, status, false);
    if (!selected) {
        return status;
    }
    KeyboardState state;
    if (!ReadKeyboard(*selected->keyboards, selected->index, ctx, true, state)) {
        return kExitFailed;
    }
    std::string error;
    if (!WriteFileAtomically(pos[0], BackupText(state), &error)) {
        ctx.err << "tavrikctl backup: " << error << "\n";
        return kExitFailed;
    }
    const auto count = [&](auto pred) {
        return static_cast<int>(std::count_if(state.modules.begin(), state.modules.end(), pred));
    };
    const int boot = count([](const ModuleState& m) { return m.stage == 'B'; });
    const int macros = count([](const ModuleState& m) { return m.macro.has_value(); });
    if (args.Has("json")) {
        ctx.out << json{{"file", pos[0]},
                        {"device", selected->index},
                        {"modules", state.modules.size()},
                        {"bootloader", boot},
                        {"macros", macros}}
                       .dump(1, ' ', false, json::error_handler_t::replace)
                << "\n";
    } else {
        ctx.out << "Keyboard " << selected->index << " backed up to " << pos[0] << ": "
                << state.modules.size() << " modules (" << boot << " in bootloader, kept without "
                << "settings), " << macros << (macros == 1 ? " macro" : " macros") << "\n";
    }
    return kExitOk;
}

// ---- restore ----

enum class What { Nkro, UsbRate, Overload, Layers, Colour, Macro };

struct Change {
    Change(What w, uint32_t u, int s, const ModuleState* m, json f, json t)
        : what(w), uid(u), slot(s), want(m), from(std::move(f)), to(std::move(t)) {}

    What what = What::Layers;
    uint32_t uid = 0;
    int slot = -1;  // where the module sits now
    const ModuleState* want = nullptr;
    json from;
    json to;
    bool done = false;
    std::string failure;
};

struct Problem {
    uint32_t uid = 0;
    int slot = 0;
    std::string reason;
};

struct Plan {
    std::vector<Change> changes;
    std::vector<Problem> notPlaced;
    std::vector<const ModuleState*> unknown;  // attached, not in the backup
};

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

json LayersJson(const ModuleState& m) {
    return {{"hid", m.hid}, {"flag", m.flag}};
}

json MacroSide(const ModuleState& m) {
    if (m.macroUnread) {
        return "unreadable";
    }
    return m.macro ? MacroJson(*m.macro) : json(nullptr);
}

std::vector<Change> PlanModes(const Modes& want, const Modes& now) {
    std::vector<Change> c;
    if (want.nkro != now.nkro) {
        c.push_back(Change(What::Nkro, 0, -1, nullptr, now.nkro, want.nkro));
    }
    if (want.usbRate != now.usbRate) {
        c.push_back(Change(What::UsbRate, 0, -1, nullptr, now.usbRate, want.usbRate));
    }
    // Without overload the module count is the controller's standard one, not a setting.
    if (want.overload != now.overload || (want.overload && want.modules != now.modules)) {
        const auto side = [](const Modes& m) {
            return json{{"overload", m.overload}, {"modules", m.modules}};
        };
        c.push_back(Change(What::Overload, 0, -1, nullptr, side(now), side(want)));
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
                {w.uid, w.slot,
                 "not attached (slot " + std::to_string(w.slot) + " in the backup)"});
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
            plan.changes.push_back(
                Change(What::Layers, w.uid, n.slot, &w, LayersJson(n), LayersJson(w)));
        }
        if (w.colour && w.colour != n.colour) {
            plan.changes.push_back(Change(What::Colour, w.uid, n.slot, &w,
                                          n.colour ? json(ColourText(*n.colour)) : json(nullptr),
                                          ColourText(*w.colour)));
        }
        if (w.macro && (n.macroUnread || n.macro != w.macro)) {
            plan.changes.push_back(
                {What::Macro, w.uid, n.slot, &w, MacroSide(n), MacroJson(*w.macro)});
        }
    }
    for (const ModuleState& n : now.modules) {
        if (!known.count(n.uid)) {
            plan.unknown.push_back(&n);
        }
    }
}

bool IsModeChange(const Change& c) {
    return c.what == What::Nkro || c.what == What::UsbRate || c.what == What::Overload;
}

void ApplyMode(CCCDev& dev, const Modes& want, Change& c) {
    if (c.what == What::Nkro) {
        if (dev.SetNkro(want.nkro ? 1 : 0) == 0 && want.nkro) {
            c.failure = "the controller firmware is too old for full-key rollover";
            return;
        }
    } else if (c.what == What::UsbRate) {
        // The controller does not answer a rate change; the check after the restore does.
        dev.SetUsbRate(want.usbRate);
    } else {
        dev.SetOverload(want.overload ? 1 : 0, want.overload ? want.modules : 0);
    }
    c.done = true;
}

// The session writes nothing when the key's macro cannot be read back before a rewrite.
// Once late replies have come in, one more try often gets through.
template <class Write>
int WriteKeepingMacro(Write write) {
    int r = write();
    if (r == -3 || r == -4) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        r = write();
    }
    return r;
}

void ApplyToKey(CCCDev& dev, Change& c) {
    const ModuleState& w = *c.want;
    if (c.what == What::Layers) {
        std::array<uint8_t, 4> oldHid{}, oldVk{};
        uint8_t oldFlag = 0;
        {
            std::lock_guard lock(dev.m_TableLock);
            oldHid = dev.m_KeyHid[c.slot];
            oldVk = dev.m_KeyVk[c.slot];
            oldFlag = dev.m_KeyFlag[c.slot];
            dev.m_KeyHid[c.slot] = w.hid;
            for (size_t l = 0; l < 4; ++l) {
                dev.m_KeyVk[c.slot][l] = KeyCodeOfReportedHid(w.hid[l]);
            }
            dev.m_KeyFlag[c.slot] = w.flag;
        }
        if (const int r = WriteKeepingMacro([&] { return dev.WriteKeyConfig(c.slot, w.hid[0]); });
            r != 0) {
            std::lock_guard lock(dev.m_TableLock);
            dev.m_KeyHid[c.slot] = oldHid;
            dev.m_KeyVk[c.slot] = oldVk;
            dev.m_KeyFlag[c.slot] = oldFlag;
            c.failure = "the key's macro could not be read back (" + std::to_string(r) +
                        "), so the key was left unchanged";
            return;
        }
    } else if (c.what == What::Colour) {
        if (const int r = WriteKeepingMacro([&] { return dev.SetKeyColor(c.slot, *w.colour); });
            r != 0) {
            c.failure = "the key's macro could not be read back (" + std::to_string(r) +
                        "), so the colour was left unchanged";
            return;
        }
    } else {
        MarcoRecord record{};
        record.flag = 1;
        std::copy(w.macro->begin(), w.macro->end(), record.entries.begin());
        dev.SetMarcoContent(record);
        dev.WriteMarco(c.slot);
    }
    c.done = true;
}

// ---- restore's report ----

std::string LayersText(const json& side) {
    std::string text;
    for (size_t l = 0; l < 4; ++l) {
        std::string name(HidKeyName(side["hid"][l].get<uint8_t>()));
        name.erase(0, name.find_first_not_of(' '));
        name.erase(name.find_last_not_of(' ') + 1);
        text += (l == 0 ? "" : " | ") + (name.empty() ? std::string("-") : name);
    }
    return text + ", flag " + HexText(side["flag"].get<unsigned>(), 2);
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

std::string Subject(const Change& c) {
    switch (c.what) {
        case What::Nkro:
            return "full-key rollover";
        case What::UsbRate:
            return "USB rate";
        case What::Overload:
            return "overload";
        default:
            return HexText(c.uid, 8) + " slot " + std::to_string(c.slot) + " " + WhatName(c.what);
    }
}

void PrintReport(Context& ctx, const std::string& file, int device, bool dryRun,
                 const KeyboardState& want, const KeyboardState& now, const Plan& plan,
                 bool asJson) {
    if (asJson) {
        json changes = json::array();
        for (const Change& c : plan.changes) {
            json j = {{"what", WhatName(c.what)}, {"from", c.from}, {"to", c.to}};
            if (!IsModeChange(c)) {
                j["uid"] = HexText(c.uid, 8);
                j["slot"] = c.slot;
            }
            j["status"] = !c.failure.empty() ? "failed" : c.done ? "done" : "planned";
            if (!c.failure.empty()) {
                j["error"] = c.failure;
            }
            changes.push_back(std::move(j));
        }
        json notPlaced = json::array();
        for (const Problem& p : plan.notPlaced) {
            notPlaced.push_back(
                {{"uid", HexText(p.uid, 8)}, {"slot", p.slot}, {"reason", p.reason}});
        }
        json unknown = json::array();
        for (const ModuleState* m : plan.unknown) {
            unknown.push_back({{"uid", HexText(m->uid, 8)}, {"slot", m->slot}});
        }
        ctx.out << json{{"file", file},       {"device", device},       {"dryRun", dryRun},
                        {"changes", changes}, {"notPlaced", notPlaced}, {"notInBackup", unknown}}
                       .dump(1, ' ', false, json::error_handler_t::replace)
                << "\n";
        return;
    }
    ctx.out << (dryRun ? "Dry run: restoring " : "Restoring ") << file << " to keyboard " << device
            << " (" << want.modules.size() << " modules in the backup)\n";
    if (!want.serial.empty() && want.serial != now.serial) {
        ctx.out << "Note: the backup was taken from keyboard " << want.serial
                << "; modules are placed by their UIDs wherever they sit now.\n";
    }
    for (const Change& c : plan.changes) {
        ctx.out << "  " << Subject(c) << ": " << SideText(c.what, c.from) << " -> "
                << SideText(c.what, c.to);
        if (!c.failure.empty()) {
            ctx.out << "  FAILED: " << c.failure;
        }
        ctx.out << "\n";
    }
    if (!plan.notPlaced.empty()) {
        ctx.out << "Could not place:\n";
        for (const Problem& p : plan.notPlaced) {
            ctx.out << "  " << HexText(p.uid, 8) << ": " << p.reason << "\n";
        }
    }
    if (!plan.unknown.empty()) {
        ctx.out << "Not in the backup, left as they are:\n";
        for (const ModuleState* m : plan.unknown) {
            ctx.out << "  " << HexText(m->uid, 8) << " slot " << m->slot << "\n";
        }
    }
    const auto done = std::count_if(plan.changes.begin(), plan.changes.end(),
                                    [](const Change& c) { return c.done && c.failure.empty(); });
    if (plan.changes.empty()) {
        ctx.out << "Nothing to change.\n";
    } else if (dryRun) {
        ctx.out << plan.changes.size() << " changes would be written.\n";
    } else {
        ctx.out << done << " of " << plan.changes.size() << " changes written.\n";
    }
}

// Marks what the keyboard does not show after the restore. Differences that belong to a
// change or key already reported as failed are not reported twice.
void CheckResult(const KeyboardState& want, const KeyboardState& after, int marcoMax, Plan& plan) {
    Plan left;
    left.changes = PlanModes(want.modes, after.modes);
    PlanModules(want, after, marcoMax, left);
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
    for (const Problem& p : plan.notPlaced) {
        reported.insert(p.uid);
    }
    for (const Problem& p : left.notPlaced) {
        if (!reported.count(p.uid)) {
            plan.notPlaced.push_back(p);
        }
    }
}

int RunRestore(const Args& args, Context& ctx) {
    const auto& pos = args.Positional();
    if (pos.size() != 1) {
        ctx.err << "tavrikctl restore: expected FILE\n";
        return kExitUsage;
    }
    const std::string& file = pos[0];
    KeyboardState want;
    {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            ctx.err << "tavrikctl restore: cannot read '" << file << "'\n";
            return kExitFailed;
        }
        std::stringstream text;
        text << in.rdbuf();
        try {
            want = FromJson(json::parse(text.str()));
        } catch (const BadBackup& e) {
            ctx.err << "tavrikctl restore: " << file << " is not a valid backup: " << e.message
                    << "\n";
            return kExitBadData;
        } catch (const json::exception& e) {
            ctx.err << "tavrikctl restore: " << file << " is not a valid backup: " << e.what()
                    << "\n";
            return kExitBadData;
        }
    }

    int status = kExitOk;
    auto selected = OpenSelectedKeyboard(ctx, status, false);
    if (!selected) {
        return status;
    }
    Keyboards* keyboards = selected->keyboards.get();
    const int i = selected->index;
    CCCDev& dev = selected->Dev();
    KeyboardState now;
    if (!ReadKeyboard(*keyboards, i, ctx, false, now)) {
        return kExitFailed;
    }
    const bool dryRun = args.Has("dry-run");
    Plan plan;
    plan.changes = PlanModes(want.modes, now.modes);
    PlanModules(want, now, dev.m_nMarcoMax, plan);

    if (!dryRun && !plan.changes.empty()) {
        bool countChanged = false;
        for (Change& c : plan.changes) {
            if (IsModeChange(c)) {
                ApplyMode(dev, want.modes, c);
                countChanged |= c.what == What::Overload;
            }
        }
        if (countChanged) {
            // The module count decides which modules the controller serves: look again
            // before placing them.
            Plan modes;
            std::copy_if(plan.changes.begin(), plan.changes.end(),
                         std::back_inserter(modes.changes), IsModeChange);
            if (!ReadKeyboard(*keyboards, i, ctx, false, now)) {
                PrintReport(ctx, file, i, dryRun, want, now, modes, args.Has("json"));
                return kExitFailed;
            }
            PlanModules(want, now, dev.m_nMarcoMax, modes);
            plan = std::move(modes);
        }
        std::set<uint32_t> failedKeys;
        for (Change& c : plan.changes) {
            if (IsModeChange(c)) {
                continue;
            }
            if (failedKeys.count(c.uid)) {
                c.failure = "skipped after the key's earlier change failed";
                continue;
            }
            ApplyToKey(dev, c);
            if (!c.failure.empty()) {
                failedKeys.insert(c.uid);
            }
        }
        KeyboardState after;
        if (!ReadKeyboard(*keyboards, i, ctx, false, after)) {
            ctx.err << "tavrikctl restore: the keyboard could not be read again to check the "
                       "restore\n";
            PrintReport(ctx, file, i, dryRun, want, now, plan, args.Has("json"));
            return kExitFailed;
        }
        CheckResult(want, after, dev.m_nMarcoMax, plan);
    }
    PrintReport(ctx, file, i, dryRun, want, now, plan, args.Has("json"));
    const bool failed =
        !plan.notPlaced.empty() || std::any_of(plan.changes.begin(), plan.changes.end(),
                                               [](const Change& c) { return !c.failure.empty(); });
    if (failed) {
        ctx.err << "tavrikctl restore: not everything in " << file << " could be placed\n";
    }
    return failed ? kExitFailed : kExitOk;
}

}  // namespace

void AddBackupCommands(std::vector<CommandDef>& table) {
    table.push_back(
        {"backup",
         "FILE [--json]",
         "Save the selected keyboard's keys, colours, macros and modes to a file",
         "Scans the keyboard chosen with --device and writes, for every key module by its\n"
         "UID, its four layers, flag byte, colour and macro, and the controller's modes\n"
         "(full-key rollover, overload and module count, USB rate). A module in its\n"
         "bootloader is listed without settings. A macro that cannot be read fails the\n"
         "backup; an existing FILE is replaced only by a complete one. Format:\n"
         "docs/backup.md.\n\n"
         "  --json  {\"file\", \"device\", \"modules\", \"bootloader\", \"macros\"}\n",
         {{"json"}},
         RunBackup});
    table.push_back(
        {"restore",
         "FILE [--dry-run] [--json]",
         "Put a backup back on the selected keyboard",
         "Places every module of the backup by its UID, wherever it sits now, and writes\n"
         "only what differs: layers and flag byte, colour, macro, and the controller's\n"
         "modes. Afterwards the keyboard is read again and anything it did not take is\n"
         "reported. Modules of the backup that are not attached or run their bootloader\n"
         "are reported; attached modules the backup does not know are left as they are.\n"
         "Exit status 1 when something could not be placed, 2 for a file that is not a\n"
         "backup.\n\n"
         "  --dry-run  show what would change, write nothing\n"
         "  --json     {\"file\", \"device\", \"dryRun\", \"changes\": [{\"what\", \"uid\",\n"
         "             \"slot\", \"from\", \"to\", \"status\", \"error\"}], \"notPlaced\",\n"
         "             \"notInBackup\"}\n",
         {{"json"}, {"dry-run"}},
         RunRestore});
}

}  // namespace tavrik::cli

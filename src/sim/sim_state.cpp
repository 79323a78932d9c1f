#include "sim/sim_state.h"

#include <cstdio>
#include <limits>
#include <stdexcept>

#include "hid/device_table.h"

namespace tavrik::sim {
namespace {

using nlohmann::json;

constexpr uint32_t kColourMask = 0x00F0F0F0;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw std::invalid_argument(where + ": " + what);
}

std::string Join(const std::string& where, const std::string& key) {
    return where.empty() ? key : where + "." + key;
}

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

// The value of `key`, or null when it is missing or JSON null.
const json* Field(const json& obj, const char* key) {
    const auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) {
        return nullptr;
    }
    return &*it;
}

int64_t Integer(const json& v, const std::string& where, int64_t lo, int64_t hi) {
    int64_t n = 0;
    if (v.is_number_unsigned()) {
        const auto u = v.get<uint64_t>();
        if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            Fail(where, "out of range");
        }
        n = static_cast<int64_t>(u);
    } else if (v.is_number_integer()) {
        n = v.get<int64_t>();
    } else {
        Fail(where, "expected an integer");
    }
    if (n < lo || n > hi) {
        Fail(where, "must lie in " + std::to_string(lo) + ".." + std::to_string(hi));
    }
    return n;
}

// UIDs and colours read better in hex, so a "0x..." string is taken as well.
uint32_t Word(const json& v, const std::string& where) {
    if (!v.is_string()) {
        return static_cast<uint32_t>(Integer(v, where, 0, 0xFFFFFFFF));
    }
    const auto& s = v.get_ref<const std::string&>();
    if (s.size() < 3 || s.size() > 10 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) {
        Fail(where, "expected a number or a \"0x\" hex string");
    }
    uint32_t n = 0;
    for (size_t i = 2; i < s.size(); ++i) {
        const char c = s[i];
        int digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            Fail(where, "bad hex digit");
        }
        n = n << 4 | static_cast<uint32_t>(digit);
    }
    return n;
}

template <typename T>
void ReadInt(const json& obj, const char* key, const std::string& where, T& out, int64_t lo,
             int64_t hi) {
    if (const json* v = Field(obj, key)) {
        out = static_cast<T>(Integer(*v, Join(where, key), lo, hi));
    }
}

uint8_t Byte(const json& v, const std::string& where) {
    return static_cast<uint8_t>(Integer(v, where, 0, 255));
}

void ReadBool(const json& obj, const char* key, const std::string& where, bool& out) {
    if (const json* v = Field(obj, key)) {
        if (!v->is_boolean()) {
            Fail(Join(where, key), "expected true or false");
        }
        out = v->get<bool>();
    }
}

void ReadString(const json& obj, const char* key, const std::string& where, std::string& out) {
    if (const json* v = Field(obj, key)) {
        if (!v->is_string()) {
            Fail(Join(where, key), "expected a string");
        }
        out = v->get<std::string>();
    }
}

void ReadStage(const json& obj, const std::string& where, char& out) {
    if (const json* v = Field(obj, "stage")) {
        if (!v->is_string() || (*v != "A" && *v != "B")) {
            Fail(Join(where, "stage"), "expected \"A\" or \"B\"");
        }
        out = v->get_ref<const std::string&>()[0];
    }
}

SimVersion VersionPair(const json& v, const std::string& at) {
    if (!v.is_array() || v.size() != 2) {
        Fail(at, "expected [high, low]");
    }
    return {Byte(v[0], at + "[0]"), Byte(v[1], at + "[1]")};
}

void ReadVersion(const json& obj, const std::string& where, uint8_t& hi, uint8_t& lo) {
    if (const json* v = Field(obj, "version")) {
        const SimVersion pair = VersionPair(*v, Join(where, "version"));
        hi = pair[0];
        lo = pair[1];
    }
}

void ReadOptionalVersion(const json& obj, const char* key, std::optional<SimVersion>& out) {
    if (const json* v = Field(obj, key)) {
        out = VersionPair(*v, key);
    }
}

std::vector<uint8_t> Bytes(const json& v, const std::string& where, size_t maxCount) {
    if (!v.is_array() || v.size() > maxCount) {
        Fail(where, "expected a list of at most " + std::to_string(maxCount) + " bytes");
    }
    std::vector<uint8_t> out;
    for (size_t i = 0; i < v.size(); ++i) {
        out.push_back(Byte(v[i], where + "[" + std::to_string(i) + "]"));
    }
    return out;
}

void ReadMarco(const json& list, const std::string& where, SimMarco& marco) {
    if (!list.is_array()) {
        Fail(where, "expected a list of entries");
    }
    std::array<bool, kMarcoEntryCount> seen{};
    for (size_t i = 0; i < list.size(); ++i) {
        const auto at = where + "[" + std::to_string(i) + "]";
        const json& e = list[i];
        if (!e.is_object()) {
            Fail(at, "expected an object");
        }
        const json* number = Field(e, "entry");
        if (!number) {
            Fail(at, "entry number missing");
        }
        const auto n =
            static_cast<size_t>(Integer(*number, at + ".entry", 0, kMarcoEntryCount - 1));
        if (seen[n]) {
            Fail(at, "entry " + std::to_string(n) + " given twice");
        }
        seen[n] = true;
        MarcoEntry entry;
        ReadInt(e, "flag", at, entry.flag, 0, 255);
        ReadInt(e, "kv", at, entry.kv, 0, 255);
        ReadInt(e, "delay", at, entry.delay, 0, 0xFFFF);
        marco[n] = entry;
    }
}

std::pair<uint8_t, SimModule> ReadModule(const json& m, const std::string& where) {
    if (!m.is_object()) {
        Fail(where, "expected an object");
    }
    const json* slotField = Field(m, "slot");
    const json* uidField = Field(m, "uid");
    if (!slotField || !uidField) {
        Fail(where, "a module needs a slot and a uid");
    }
    const auto slot = static_cast<uint8_t>(Integer(*slotField, where + ".slot", 0, kKeySlots - 1));
    SimModule module;
    module.uid = Word(*uidField, where + ".uid");
    if (module.uid == 0) {
        Fail(where + ".uid", "must not be 0");
    }
    module.shortMac = static_cast<uint8_t>(slot + 1);
    ReadInt(m, "shortMac", where, module.shortMac, 1, 127);
    if (const json* hid = Field(m, "hid")) {
        const auto bytes = Bytes(*hid, where + ".hid", 4);
        if (bytes.size() != 4) {
            Fail(where + ".hid", "expected four HID values, layers 0..3");
        }
        std::copy(bytes.begin(), bytes.end(), module.hid.begin());
    }
    ReadInt(m, "flag", where, module.flag, 0, 255);
    if (const json* colour = Field(m, "colour")) {
        module.colour = Word(*colour, where + ".colour") & kColourMask;
    }
    ReadStage(m, where, module.stage);
    ReadVersion(m, where, module.verHi, module.verLo);
    if (const json* marco = Field(m, "marco")) {
        ReadMarco(*marco, where + ".marco", module.marco);
    }
    return {slot, module};
}

void ReadFaults(const json& f, const std::string& where, SimFaults& faults) {
    if (!f.is_object()) {
        Fail(where, "expected an object");
    }
    ReadInt(f, "dropNext", where, faults.dropNext, 0, std::numeric_limits<int>::max());
    if (const json* rate = Field(f, "dropRate")) {
        if (!rate->is_number() || rate->get<double>() < 0.0 || rate->get<double>() > 1.0) {
            Fail(where + ".dropRate", "expected a number in 0..1");
        }
        faults.dropRate = rate->get<double>();
    }
    ReadInt(f, "seed", where, faults.seed, 0, 0xFFFFFFFF);
    if (const json* codes = Field(f, "silentCodes")) {
        faults.silentCodes = Bytes(*codes, where + ".silentCodes", 256);
    }
    ReadBool(f, "wrongScanSlot", where, faults.wrongScanSlot);
    ReadBool(f, "wrongMarcoEntry", where, faults.wrongMarcoEntry);
    ReadInt(f, "extraReportEvery", where, faults.extraReportEvery, 0,
            std::numeric_limits<int>::max());
    if (const json* extra = Field(f, "extraReport")) {
        faults.extraReport = Bytes(*extra, where + ".extraReport", kPayloadSize);
        if (faults.extraReport.empty()) {
            Fail(where + ".extraReport", "needs at least the report code");
        }
    }
    ReadInt(f, "refuseChunk", where, faults.refuseChunk, 0, std::numeric_limits<int>::max());
    ReadInt(f, "stallBlock", where, faults.stallBlock, -1, kSimKbmcBlocks - 1);
    ReadBool(f, "stallKeyUpgrade", where, faults.stallKeyUpgrade);
    ReadInt(f, "vanishAfterChunks", where, faults.vanishAfterChunks, 0,
            std::numeric_limits<int>::max());
}

void ReadUsbOverrides(const json& u, const std::string& where, SimKeyboardState& s) {
    if (!u.is_object()) {
        Fail(where, "expected an object");
    }
    if (const json* v = Field(u, "vendorId")) {
        s.vendorId = static_cast<uint16_t>(Integer(*v, where + ".vendorId", 0, 0xFFFF));
    }
    if (const json* v = Field(u, "productId")) {
        s.productId = static_cast<uint16_t>(Integer(*v, where + ".productId", 0, 0xFFFF));
    }
    if (const json* v = Field(u, "release")) {
        s.release = static_cast<uint16_t>(Integer(*v, where + ".release", 0, 0xFFFF));
    }
    if (const json* v = Field(u, "interface")) {
        s.interfaceNumber = static_cast<int>(Integer(*v, where + ".interface", 0, 255));
    }
}

SimKeyboardState ReadState(const json& j) {
    if (!j.is_object()) {
        Fail("keyboard", "expected an object");
    }
    SimKeyboardState s;
    const std::string where;
    ReadInt(j, "row", where, s.row, 0, kSimRowCount - 1);
    if (const json* u = Field(j, "usb")) {
        ReadUsbOverrides(*u, "usb", s);
    }
    ReadString(j, "product", where, s.product);
    ReadString(j, "serial", where, s.serial);
    ReadStage(j, where, s.stage);
    ReadVersion(j, where, s.verHi, s.verLo);
    ReadInt(j, "usbRate", where, s.usbRate, 0, 255);
    ReadInt(j, "standardModules", where, s.standardModules, 0, kKeySlots);
    ReadInt(j, "configuredModules", where, s.configuredModules, 0, kKeySlots);
    ReadBool(j, "nkro", where, s.nkro);
    ReadInt(j, "hwVariant", where, s.hwVariant, 0, 3);
    ReadInt(j, "latencyMs", where, s.latencyMs, 0, kMaxLatencyMs);
    ReadInt(j, "restartMs", where, s.restartMs, 0, kMaxLatencyMs);
    ReadInt(j, "programQueries", where, s.programQueries, 0, 1000);
    ReadOptionalVersion(j, "upgradeToVersion", s.upgradeToVersion);
    ReadOptionalVersion(j, "keyUpgradeToVersion", s.keyUpgradeToVersion);
    if (const json* f = Field(j, "faults")) {
        ReadFaults(*f, "faults", s.faults);
    }
    if (const json* modules = Field(j, "modules")) {
        if (!modules->is_array() || modules->size() > kKeySlots) {
            Fail("modules", "expected a list of at most 90 modules");
        }
        for (size_t i = 0; i < modules->size(); ++i) {
            const auto at = "modules[" + std::to_string(i) + "]";
            auto [slot, module] = ReadModule((*modules)[i], at);
            if (s.modules[slot]) {
                Fail(at, "slot " + std::to_string(slot) + " is taken twice");
            }
            for (const auto& other : s.modules) {
                if (other && other->uid == module.uid) {
                    Fail(at, "uid " + Hex(module.uid) + " is used twice");
                }
                if (other && other->shortMac == module.shortMac) {
                    Fail(at, "shortMac " + std::to_string(module.shortMac) + " is used twice");
                }
            }
            s.modules[slot] = module;
        }
    }
    return s;
}

json MarcoToJson(const SimMarco& marco) {
    json list = json::array();
    for (size_t i = 0; i < marco.size(); ++i) {
        const auto& e = marco[i];
        if (e != kErasedMarcoEntry) {
            list.push_back({{"entry", i}, {"flag", e.flag}, {"kv", e.kv}, {"delay", e.delay}});
        }
    }
    return list;
}

json ModuleToJson(uint8_t slot, const SimModule& m) {
    json j = {
        {"slot", slot},
        {"uid", Hex(m.uid)},
        {"shortMac", m.shortMac},
        {"hid", m.hid},
        {"flag", m.flag},
        {"colour", Hex(m.colour)},
        {"stage", std::string(1, m.stage)},
        {"version", {m.verHi, m.verLo}},
    };
    json marco = MarcoToJson(m.marco);
    if (!marco.empty()) {
        j["marco"] = std::move(marco);
    }
    return j;
}

json FaultsToJson(const SimFaults& f) {
    return {
        {"dropNext", f.dropNext},
        {"dropRate", f.dropRate},
        {"seed", f.seed},
        {"silentCodes", f.silentCodes},
        {"wrongScanSlot", f.wrongScanSlot},
        {"wrongMarcoEntry", f.wrongMarcoEntry},
        {"extraReportEvery", f.extraReportEvery},
        {"extraReport", f.extraReport},
        {"refuseChunk", f.refuseChunk},
        {"stallBlock", f.stallBlock},
        {"stallKeyUpgrade", f.stallKeyUpgrade},
        {"vanishAfterChunks", f.vanishAfterChunks},
    };
}

}  // namespace

std::optional<SimUsbIds> SimRowIds(int row) {
    if (row < 0 || row >= kSimRowCount) {
        return std::nullopt;
    }
    const auto& r = kDeviceTable[static_cast<size_t>(row)];
    return SimUsbIds{r.vendorId, r.productId, r.version, r.interfaceNumber};
}

SimMarco ErasedMarco() {
    SimMarco m;
    m.fill(kErasedMarcoEntry);
    return m;
}

SimUsbIds SimKeyboardState::UsbIds() const {
    SimUsbIds ids = SimRowIds(row).value_or(*SimRowIds(0));
    ids.vendorId = vendorId.value_or(ids.vendorId);
    ids.productId = productId.value_or(ids.productId);
    ids.release = release.value_or(ids.release);
    ids.interfaceNumber = interfaceNumber.value_or(ids.interfaceNumber);
    return ids;
}

int SimKeyboardState::ModuleCount() const {
    int n = 0;
    for (const auto& m : modules) {
        n += m ? 1 : 0;
    }
    return n;
}

const SimModule* SimKeyboardState::ModuleByMac(uint8_t shortMac) const {
    for (const auto& m : modules) {
        if (m && m->shortMac == shortMac) {
            return &*m;
        }
    }
    return nullptr;
}

std::optional<SimKeyboardState> ParseSimKeyboardState(const json& j, std::string* error) {
    try {
        return ReadState(j);
    } catch (const std::exception& e) {
        if (error) {
            *error = e.what();
        }
        return std::nullopt;
    }
}

json SimKeyboardStateToJson(const SimKeyboardState& s) {
    json j = {
        {"row", s.row},
        {"product", s.product},
        {"serial", s.serial},
        {"stage", std::string(1, s.stage)},
        {"version", {s.verHi, s.verLo}},
        {"usbRate", s.usbRate},
        {"standardModules", s.standardModules},
        {"configuredModules", s.configuredModules},
        {"nkro", s.nkro},
        {"hwVariant", s.hwVariant},
        {"latencyMs", s.latencyMs},
        {"faults", FaultsToJson(s.faults)},
        {"restartMs", s.restartMs},
        {"programQueries", s.programQueries},
    };
    if (s.upgradeToVersion) {
        j["upgradeToVersion"] = *s.upgradeToVersion;
    }
    if (s.keyUpgradeToVersion) {
        j["keyUpgradeToVersion"] = *s.keyUpgradeToVersion;
    }
    json usb = json::object();
    if (s.vendorId) {
        usb["vendorId"] = *s.vendorId;
    }
    if (s.productId) {
        usb["productId"] = *s.productId;
    }
    if (s.release) {
        usb["release"] = *s.release;
    }
    if (s.interfaceNumber) {
        usb["interface"] = *s.interfaceNumber;
    }
    if (!usb.empty()) {
        j["usb"] = std::move(usb);
    }
    json modules = json::array();
    for (size_t slot = 0; slot < s.modules.size(); ++slot) {
        if (s.modules[slot]) {
            modules.push_back(ModuleToJson(static_cast<uint8_t>(slot), *s.modules[slot]));
        }
    }
    j["modules"] = std::move(modules);
    return j;
}

void to_json(json& j, const SimKeyboardState& state) {
    j = SimKeyboardStateToJson(state);
}

void from_json(const json& j, SimKeyboardState& state) {
    state = ReadState(j);
}

}  // namespace tavrik::sim

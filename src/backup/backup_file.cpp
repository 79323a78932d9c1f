#include "backup/backup_file.h"

#include <charconv>
#include <cstdio>
#include <set>

#include <nlohmann/json.hpp>

#include "platform/bounded_read.h"
#include "protocol/protocol.h"

namespace tavrik::backup {

namespace {

using nlohmann::json;

struct BadBackup {
    std::string message;
};

// Product strings need not be UTF-8; they must not stop a backup.
template <class J>
std::string Dump(const J& j) {
    return j.dump(-1, ' ', false, J::error_handler_t::replace);
}

nlohmann::ordered_json MacroJson(const Macro& m) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const MarcoEntry& e : m) {
        list.push_back({{"flag", e.flag}, {"kv", e.kv}, {"delay", e.delay}});
    }
    return list;
}

const json& Field(const json& obj, const char* key, const std::string& where) {
    if (!obj.is_object() || !obj.contains(key)) {
        throw BadBackup{where + ": '" + key + "' is missing"};
    }
    return obj[key];
}

// Whole numbers only: a fraction or an exponent is no count, and a huge one no int.
std::optional<int64_t> WholeNumber(const json& v) {
    if (v.is_number_unsigned()) {
        const uint64_t u = v.get<uint64_t>();
        return u > uint64_t(INT64_MAX) ? std::nullopt : std::optional<int64_t>(int64_t(u));
    }
    if (v.is_number_integer()) {
        return v.get<int64_t>();
    }
    return std::nullopt;
}

int IntValue(const json& v, int lo, int hi, const std::string& where) {
    const auto n = WholeNumber(v);
    if (!n || *n < lo || *n > hi) {
        throw BadBackup{where + ": expected a whole number " + std::to_string(lo) + ".." +
                        std::to_string(hi)};
    }
    return static_cast<int>(*n);
}

int IntField(const json& obj, const char* key, int lo, int hi, const std::string& where) {
    return IntValue(Field(obj, key, where), lo, hi, where + "." + key);
}

bool BoolField(const json& obj, const char* key, const std::string& where) {
    const json& v = Field(obj, key, where);
    if (!v.is_boolean()) {
        throw BadBackup{where + "." + key + ": expected true or false"};
    }
    return v.get<bool>();
}

// Information fields: absent is fine, anything but text is not.
std::string TextField(const json& obj, const char* key, const std::string& where) {
    if (!obj.contains(key)) {
        return {};
    }
    if (!obj[key].is_string()) {
        throw BadBackup{where + "." + key + ": expected text"};
    }
    return obj[key].get<std::string>();
}

// "0x" and hex digits, or decimal digits.
std::optional<uint32_t> ParseUid(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value == 0 ||
        value > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

uint32_t ParseColour(const json& v, const std::string& where) {
    const std::string text = v.is_string() ? v.get<std::string>() : std::string();
    uint32_t rgb = 0;
    const bool ok = text.size() == 7 && text[0] == '#' && [&] {
        const auto [end, ec] = std::from_chars(text.data() + 1, text.data() + 7, rgb, 16);
        return ec == std::errc() && end == text.data() + 7;
    }();
    if (!ok) {
        throw BadBackup{where + ": expected a colour \"#RRGGBB\" or null"};
    }
    // #RRGGBB to 0x00BBGGRR.
    return ((rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16) & kColourBits;
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
    std::optional<uint32_t> value;
    if (uid.is_string()) {
        value = ParseUid(uid.get<std::string>());
    } else if (uid.is_number_unsigned()) {
        value = ParseUid(std::to_string(uid.get<uint64_t>()));
    }
    if (!value) {
        throw BadBackup{where + ".uid: expected a non-zero 32-bit UID such as \"0x1A2B3C4D\""};
    }
    m.uid = *value;
    m.slot = IntField(j, "slot", 0, static_cast<int>(kKeySlots) - 1, where);
    const json& stage = Field(j, "stage", where);
    if (stage != "A" && stage != "B") {
        throw BadBackup{where + ".stage: expected \"A\" or \"B\""};
    }
    m.stage = stage.get<std::string>()[0];
    if (m.stage == 'B') {
        // A settings field would be dropped without a word: the backup is not what it says.
        for (const char* key : {"hid", "flag", "color", "macro"}) {
            if (j.contains(key)) {
                throw BadBackup{where + "." + key +
                                ": a module in its bootloader (stage \"B\") has no settings"};
            }
        }
        return m;
    }
    const json& hid = Field(j, "hid", where);
    if (!hid.is_array() || hid.size() != 4) {
        throw BadBackup{where + ".hid: expected four HID values, layers 0..3"};
    }
    for (size_t l = 0; l < 4; ++l) {
        m.hid[l] = static_cast<uint8_t>(
            IntValue(hid[l], 0, 255, where + ".hid[" + std::to_string(l) + "]"));
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
    if (!j.is_object() || !j.contains("format") || j["format"] != kBackupFormatName) {
        throw BadBackup{"not a keyboard backup"};
    }
    const int version = IntField(j, "version", 1, 1 << 30, "backup");
    if (version > kBackupFormatVersion) {
        throw BadBackup{"backup format version " + std::to_string(version) +
                        " is newer than this tavrikctl reads (" +
                        std::to_string(kBackupFormatVersion) + ")"};
    }
    KeyboardState s;
    const json& k = Field(j, "keyboard", "backup");
    if (!k.is_object()) {
        throw BadBackup{"keyboard: expected an object"};
    }
    s.product = TextField(k, "product", "keyboard");
    s.serial = TextField(k, "serial", "keyboard");
    if (k.contains("kind")) {
        s.kind = IntValue(k["kind"], 0, 255, "keyboard.kind");
    }
    // Information only, and not kept; but a file that says something odd here is no
    // backup of ours.
    if (j.contains("controller")) {
        const json& c = j["controller"];
        if (!c.is_object()) {
            throw BadBackup{"controller: expected an object"};
        }
        const std::string stage = TextField(c, "stage", "controller");
        if (stage != "" && stage != "A" && stage != "B") {
            throw BadBackup{"controller.stage: expected \"A\", \"B\" or \"\""};
        }
        (void)TextField(c, "firmware", "controller");
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
    // No keyboard has more modules than slots.
    if (modules.size() > kKeySlots) {
        throw BadBackup{"modules: " + std::to_string(modules.size()) + " modules, more than a " +
                        "keyboard holds (" + std::to_string(kKeySlots) + ")"};
    }
    std::set<uint32_t> uids;
    for (size_t n = 0; n < modules.size(); ++n) {
        const std::string where = "modules[" + std::to_string(n) + "]";
        ModuleState m = ParseModule(modules[n], where);
        if (!uids.insert(m.uid).second) {
            throw BadBackup{where + ".uid: " + UidText(m.uid) + " appears twice"};
        }
        s.modules.push_back(std::move(m));
    }
    return s;
}

}  // namespace

std::string UidText(uint32_t uid) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", uid);
    return buf;
}

std::string ColourHex(uint32_t colour) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02X%02X%02X", colour & 0xFF, (colour >> 8) & 0xFF,
                  (colour >> 16) & 0xFF);
    return buf;
}

std::string FormatBackup(const KeyboardState& s) {
    using ojson = nlohmann::ordered_json;
    const std::string stage = s.stage == 0 ? std::string() : std::string(1, s.stage);
    const ojson head = {
        {"format", kBackupFormatName},
        {"version", kBackupFormatVersion},
        {"keyboard", {{"product", s.product}, {"serial", s.serial}, {"kind", s.kind}}},
        {"controller",
         {{"stage", stage}, {"firmware", std::to_string(s.verHi) + "." + std::to_string(s.verLo)}}},
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
        ojson j = {{"uid", UidText(m.uid)}, {"slot", m.slot}, {"stage", std::string(1, m.stage)}};
        if (m.stage == 'A') {
            j["hid"] = m.hid;
            j["flag"] = m.flag;
            j["color"] = m.colour ? ojson(ColourHex(*m.colour)) : ojson(nullptr);
            j["macro"] = m.macro ? MacroJson(*m.macro) : ojson(nullptr);
        }
        text += (n == 0 ? "\n  " : ",\n  ") + Dump(j);
    }
    return text + (s.modules.empty() ? "]\n}\n" : "\n ]\n}\n");
}

ParsedBackup ParseBackup(std::string_view text) {
    ParsedBackup out;
    try {
        out.state = FromJson(json::parse(text));
    } catch (const BadBackup& e) {
        out.error = e.message;
    } catch (const json::exception& e) {
        out.error = e.what();
    }
    return out;
}

BackupFileStatus ReadBackupFile(const std::filesystem::path& path, KeyboardState& out,
                                std::string& error) {
    const BoundedRead read = ReadBoundedFile(path, kBackupFileMaxBytes);
    if (read.failure == ReadFailure::TooLarge) {
        error = "larger than " + SizeText(kBackupFileMaxBytes);
        return BackupFileStatus::Invalid;
    }
    if (!read.Ok()) {
        error = read.error;
        return BackupFileStatus::CannotRead;
    }
    const std::string& text = read.bytes;
    ParsedBackup parsed = ParseBackup(text);
    if (!parsed.state) {
        error = std::move(parsed.error);
        return BackupFileStatus::Invalid;
    }
    out = std::move(*parsed.state);
    return BackupFileStatus::Ok;
}

}  // namespace tavrik::backup

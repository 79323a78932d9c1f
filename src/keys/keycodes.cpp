#include "keys/keycodes.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>

namespace tavrik {

namespace {

constexpr std::array<uint8_t, 256> BuildKeyCodeToHid() {
    std::array<uint8_t, 256> t{};
    auto set = [&t](unsigned code, unsigned hid) { t[code] = static_cast<uint8_t>(hid); };
    auto run = [&t](unsigned firstCode, unsigned lastCode, unsigned firstHid) {
        for (unsigned c = firstCode; c <= lastCode; ++c) {
            t[c] = static_cast<uint8_t>(firstHid + (c - firstCode));
        }
    };
    set(0x01, 0xF6);  // mouse left, right, middle
    set(0x02, 0xF7);
    set(0x04, 0xF8);
    set(0x08, 0x2A);  // Backspace, Tab, Enter
    set(0x09, 0x2B);
    set(0x0D, 0x28);
    set(0x13, 0x48);  // Pause, Caps Lock, Esc, Space
    set(0x14, 0x39);
    set(0x1B, 0x29);
    set(0x20, 0x2C);
    set(0x21, 0x4B);  // Page Up, Page Down, End, Home
    set(0x22, 0x4E);
    set(0x23, 0x4D);
    set(0x24, 0x4A);
    set(0x25, 0x50);  // arrows: left, up, right, down
    set(0x26, 0x52);
    set(0x27, 0x4F);
    set(0x28, 0x51);
    set(0x2C, 0x46);  // Print Screen, Insert, Delete
    set(0x2D, 0x49);
    set(0x2E, 0x4C);
    set(0x30, 0x27);
    run(0x31, 0x39, 0x1E);
    run(0x3A, 0x3C, 0x01);  // the three state codes
    run(0x41, 0x5A, 0x04);
    set(0x5B, 0xE3);  // GUI keys, Application
    set(0x5C, 0xE7);
    set(0x5D, 0x65);
    set(0x60, 0x62);
    run(0x61, 0x69, 0x59);
    set(0x6A, 0x55);  // keypad * + Enter - . /
    set(0x6B, 0x57);
    set(0x6C, 0x58);
    set(0x6D, 0x56);
    set(0x6E, 0x63);
    set(0x6F, 0x54);
    run(0x70, 0x7B, 0x3A);  // F1..F12
    run(0x88, 0x8D, 0xF0);  // reserved functions
    set(0x90, 0x53);        // Num Lock, Scroll Lock
    set(0x91, 0x47);
    run(0x92, 0x9A, 0x87);  // international keys
    set(0xA0, 0xE1);        // shifts, ctrls, alts
    set(0xA1, 0xE5);
    set(0xA2, 0xE0);
    set(0xA3, 0xE4);
    set(0xA4, 0xE2);
    set(0xA5, 0xE6);
    set(0xB6, 0x80);  // media and application keys
    set(0xAC, 0x81);
    set(0xB4, 0x82);
    set(0xB7, 0x83);
    set(0xB5, 0x84);
    set(0xAD, 0x85);
    set(0xAE, 0x86);
    set(0xAF, 0x87);
    set(0xB2, 0x88);
    set(0xB3, 0x89);
    set(0xB1, 0x8A);
    set(0xB0, 0x8B);
    set(0xBA, 0x33);  // ; = , - . / `
    set(0xBB, 0x2E);
    set(0xBC, 0x36);
    set(0xBD, 0x2D);
    set(0xBE, 0x37);
    set(0xBF, 0x38);
    set(0xC0, 0x35);
    set(0xDB, 0x2F);  // [ \ ] '
    set(0xDC, 0x31);
    set(0xDD, 0x30);
    set(0xDE, 0x34);
    run(0xE0, 0xE7, 0xD0);  // L0..L3, LT0..LT3
    run(0xEC, 0xEF, 0xDC);  // K/LT0..K/LT3
    set(0xFE, 0xFE);
    set(0xFF, 0xFF);
    return t;
}

// Reverse table: key code 0xFF is deliberately not searched.
constexpr std::array<uint8_t, 256> BuildHidToKeyCode(const std::array<uint8_t, 256>& toHid) {
    std::array<uint8_t, 256> r{};
    std::array<bool, 256> found{};
    for (unsigned code = 0; code < 255; ++code) {
        const uint8_t hid = toHid[code];
        if (!found[hid]) {
            found[hid] = true;
            r[hid] = static_cast<uint8_t>(code);
        }
    }
    return r;
}

const std::array<std::string, 256>& NameTable() {
    static const std::array<std::string, 256> names = [] {
        std::array<std::string, 256> n;
        n[0x00] = std::string(" ");
        n[0x01] = std::string("wup");
        n[0x02] = std::string("wst");
        n[0x03] = std::string("Marco");
        for (unsigned h = 0x04; h <= 0x1D; ++h) {
            n[h] = std::string(1, static_cast<char>('A' + (h - 0x04)));
        }
        const char* digits[] = {"1!", "2@", "3#", "4$", "5%", "6^", "7&", "8*", "9(", "0)"};
        for (unsigned i = 0; i < 10; ++i) {
            n[0x1E + i] = std::string(digits[i]);
        }
        const std::pair<unsigned, const char*> fixed[] = {
            {0x28, "Enter"},
            {0x29, "Esc"},
            {0x2A, "Backspace"},
            {0x2B, "Tab"},
            {0x2C, "Space"},
            {0x2D, "-_"},
            {0x2E, "=+"},
            {0x2F, "[{"},
            {0x30, "]}"},
            {0x31, "\\|"},
            {0x32, " "},
            {0x33, ";:"},
            {0x34, "'\""},
            {0x35, "`~"},
            {0x36, ",<"},
            {0x37, ".>"},
            {0x38, "/?"},
            {0x39, "CapsLock"},
            {0x46, "PrtScreen"},
            {0x47, "ScreenLock"},
            {0x48, "Pause"},
            {0x49, "Insert"},
            {0x4A, "Home"},
            {0x4B, "PagUp"},
            {0x4C, "Delete"},
            {0x4D, "End"},
            {0x4E, "PagDown"},
            {0x4F, "Right Arrow"},
            {0x50, "Left Arrow"},
            {0x51, "Down Arrow"},
            {0x52, "Up Arrow"},
            {0x53, "Num"},
            {0x54, "/"},
            {0x55, "*"},
            {0x56, "-"},
            {0x57, "+"},
            {0x58, "KeyPad Enter"},
            {0x62, "0"},
            {0x63, "."},
            {0x64, " "},
            {0x65, "App"},
            {0x66, " "},
            {0x67, "="},
            {0x80, "PC"},
            {0x81, "IE"},
            {0x82, "eMail"},
            {0x83, "Calcu"},
            {0x84, "Music"},
            {0x85, "Mute"},
            {0x86, "Vol-"},
            {0x87, "Vol+"},
            {0x88, "Stop"},
            {0x89, "Play"},
            {0x8A, "Pre"},
            {0x8B, "Next"},
            {0xE0, "L Ctrl"},
            {0xE1, "L Shift"},
            {0xE2, "L Alt"},
            {0xE3, "L GUI"},
            {0xE4, "R Ctrl"},
            {0xE5, "R Shift"},
            {0xE6, "R Alt"},
            {0xE7, "R GUI"},
            {0xFE, "Block"},
            {0xFF, "Blank"},
        };
        for (const auto& [h, name] : fixed) {
            n[h] = std::string(name);
        }
        for (unsigned h = 0x3A; h <= 0x45; ++h) {
            n[h] = std::string("F").append(std::to_string(h - 0x3A + 1));
        }
        for (unsigned h = 0x59; h <= 0x61; ++h) {
            n[h] = std::to_string(h - 0x59 + 1);
        }
        for (unsigned i = 0; i < 4; ++i) {
            n[0xD0 + i] = std::string("L").append(std::to_string(i));
            n[0xD4 + i] = std::string("LT").append(std::to_string(i));
            n[0xDC + i] = std::string("K/LT").append(std::to_string(i));
        }
        // Everything else is named by its decimal value.
        for (unsigned h = 0; h < 256; ++h) {
            if (n[h].empty()) {
                n[h] = std::to_string(h);
            }
        }
        return n;
    }();
    return names;
}

constexpr std::array<uint8_t, 256> kHidToKeyCode = BuildHidToKeyCode(BuildKeyCodeToHid());

std::string Lower(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c != ' ') {
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

}  // namespace

const std::array<uint8_t, 256> KeyCodeToHid = BuildKeyCodeToHid();

uint8_t HidOfKeyCode(unsigned keyCode) {
    return KeyCodeToHid[keyCode & 0xFF];
}

uint8_t KeyCodeOfHid(uint8_t hid) {
    return kHidToKeyCode[hid];
}

uint8_t KeyCodeOfReportedHid(uint8_t hid) {
    if (hid == 0x00 || hid == 0xFF) {
        return VK_WAIT_SET;
    }
    if (hid == HID_MARCO) {
        return VK_MARCO;
    }
    const uint8_t code = KeyCodeOfHid(hid);
    return code == 0 ? VK_WAIT_SET : code;
}

std::string_view HidKeyNameChinese(uint8_t hid) {
    static constexpr std::array<std::string_view, 12> kMedia = {
        "我的电脑", "主页",  "邮件", "计算器", "播放器", "静音",
        "音量-",    "音量+", "停止", "播放",   "上一首", "下一首"};
    if (hid >= 0x80 && hid <= 0x8B) {
        return kMedia[hid - 0x80];
    }
    return hid == 0x2C ? std::string_view("空格") : std::string_view();
}

std::string_view HidKeyName(uint8_t hid) {
    return NameTable()[hid];
}

std::string KeyPicturePath(uint8_t hid, bool focused) {
    return std::string("res/uipics/keys/key-") + (focused ? "b" : "s") + std::to_string(hid) +
           ".png";
}

std::optional<long> ParseNumber(std::string_view text, long lo, long hi) {
    std::string_view digits = text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    long value = 0;
    const auto [end, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || value < lo ||
        value > hi) {
        return std::nullopt;
    }
    return value;
}

bool ParseHidValue(std::string_view text, uint8_t& hid) {
    if (text.empty()) {
        return false;
    }
    // Numbers first: "0x2C" or "44".
    if (const auto n = ParseNumber(text, 0, 0xFF)) {
        hid = static_cast<uint8_t>(*n);
        return true;
    }
    static const std::pair<const char*, uint8_t> aliases[] = {
        {"lshift", 0xE1},  {"rshift", 0xE5},      {"shift", 0xE1},       {"lctrl", 0xE0},
        {"rctrl", 0xE4},   {"ctrl", 0xE0},        {"lalt", 0xE2},        {"ralt", 0xE6},
        {"alt", 0xE2},     {"lgui", 0xE3},        {"rgui", 0xE7},        {"gui", 0xE3},
        {"lwin", 0xE3},    {"rwin", 0xE7},        {"win", 0xE3},         {"super", 0xE3},
        {"left", 0x50},    {"right", 0x4F},       {"up", 0x52},          {"down", 0x51},
        {"pageup", 0x4B},  {"pagedown", 0x4E},    {"pgup", 0x4B},        {"pgdn", 0x4E},
        {"escape", 0x29},  {"return", 0x28},      {"del", 0x4C},         {"ins", 0x49},
        {"caps", 0x39},    {"printscreen", 0x46}, {"scrolllock", 0x47},  {"numlock", 0x53},
        {"minus", 0x2D},   {"equal", 0x2E},       {"comma", 0x36},       {"period", 0x37},
        {"dot", 0x37},     {"slash", 0x38},       {"backslash", 0x31},   {"semicolon", 0x33},
        {"quote", 0x34},   {"grave", 0x35},       {"leftbracket", 0x2F}, {"rightbracket", 0x30},
        {"kpenter", 0x58}, {"application", 0x65}, {"menu", 0x65},        {"none", 0x00},
    };
    const std::string wanted = Lower(text);
    for (const auto& [alias, value] : aliases) {
        if (wanted == alias) {
            hid = value;
            return true;
        }
    }
    // Keypad keys are named like the main keys' characters, so they take a "kp" prefix.
    if (wanted.size() > 2 && wanted.compare(0, 2, "kp") == 0) {
        for (unsigned h = 0x54; h <= 0x63; ++h) {
            if (Lower(HidKeyName(static_cast<uint8_t>(h))) == wanted.substr(2)) {
                hid = static_cast<uint8_t>(h);
                return true;
            }
        }
    }
    // Names compare without case and spaces; blank names and plain numbers are skipped
    // (numbers were taken as values above).
    for (unsigned h = 0; h < 256; ++h) {
        const std::string_view name = HidKeyName(static_cast<uint8_t>(h));
        const bool numeric =
            std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (name == " " || numeric) {
            continue;
        }
        if (Lower(name) == wanted) {
            hid = static_cast<uint8_t>(h);
            return true;
        }
    }
    return false;
}

}  // namespace tavrik

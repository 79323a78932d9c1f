#include <gtest/gtest.h>

#include "keys/keycodes.h"

namespace tavrik {
namespace {

TEST(KeyCodes, ReverseLookupPrefersTheSmallestCode) {
    // International keys win over the media keys that share their HID values.
    EXPECT_EQ(KeyCodeOfHid(0x87), 0x92);
    EXPECT_EQ(KeyCodeOfHid(0x8B), 0x96);
    EXPECT_EQ(KeyCodeOfHid(0xFF), 0);  // code 0xFF is not searched
    EXPECT_EQ(KeyCodeOfHid(0xFE), 0xFE);
    EXPECT_EQ(KeyCodeOfHid(0x03), VK_MARCO);
    EXPECT_EQ(KeyCodeOfHid(0x00), 0x00);
    EXPECT_EQ(KeyCodeOfHid(0x04), 'A');
    EXPECT_EQ(KeyCodeOfHid(0x27), '0');
    EXPECT_EQ(KeyCodeOfHid(0xDC), 0xEC);
    EXPECT_EQ(KeyCodeOfHid(0xD9), 0);  // no function
    EXPECT_EQ(KeyCodeOfHid(0xC0), 0);  // media labels have no code
}

TEST(KeyCodes, ForwardTableSpotChecks) {
    EXPECT_EQ(HidOfKeyCode(0x10), 0);  // generic Shift, Ctrl, Alt
    EXPECT_EQ(HidOfKeyCode(0x11), 0);
    EXPECT_EQ(HidOfKeyCode(0x12), 0);
    EXPECT_EQ(HidOfKeyCode(0x0D), 0x28);
    EXPECT_EQ(HidOfKeyCode(0x6C), 0x58);  // keypad Enter has its own code
    EXPECT_EQ(HidOfKeyCode(0x7B), 0x45);  // F12
    EXPECT_EQ(HidOfKeyCode(0x9A), 0x8F);
    EXPECT_EQ(HidOfKeyCode(0xB0), 0x8B);
    EXPECT_EQ(HidOfKeyCode(0x5C), 0xE7);
    EXPECT_EQ(HidOfKeyCode(0x13C), HID_MARCO);  // only the low byte counts

    // Every code with a HID value round-trips unless another, smaller code shares it.
    int mapped = 0;
    for (unsigned code = 1; code < 255; ++code) {
        const uint8_t hid = HidOfKeyCode(code);
        if (hid == 0) {
            continue;
        }
        ++mapped;
        const uint8_t back = KeyCodeOfHid(hid);
        EXPECT_LE(back, code);
        EXPECT_EQ(HidOfKeyCode(back), hid);
    }
    // Counted from the code table by hand: 150 codes 1..254 carry a HID value.
    EXPECT_EQ(mapped, 150);
}

TEST(KeyCodes, ReportedValuesBecomeKeyCodes) {
    EXPECT_EQ(KeyCodeOfReportedHid(0x00), VK_WAIT_SET);
    EXPECT_EQ(KeyCodeOfReportedHid(0xFF), VK_WAIT_SET);
    EXPECT_EQ(KeyCodeOfReportedHid(0x03), VK_MARCO);
    EXPECT_EQ(KeyCodeOfReportedHid(0xD9), VK_WAIT_SET);
    EXPECT_EQ(KeyCodeOfReportedHid(0x01), VK_WAIT_UPGRADE);
    EXPECT_EQ(KeyCodeOfReportedHid(0xE1), 0xA0);
}

TEST(KeyCodes, Names) {
    // The media and launch keys are named at the values the key codes give them.
    EXPECT_EQ(HidKeyName(0x80), "PC");
    EXPECT_EQ(HidKeyName(0x87), "Vol+");
    EXPECT_EQ(HidKeyName(0xC0), "192");
    EXPECT_EQ(HidKeyName(0x32), " ");
    EXPECT_EQ(HidKeyName(0x00), " ");
    EXPECT_EQ(HidKeyName(0x31), "\\|");
    EXPECT_EQ(HidKeyName(0x34), "'\"");
    EXPECT_EQ(HidKeyName(0x35), "`~");
    EXPECT_EQ(HidKeyName(0x1E), "1!");
    EXPECT_EQ(HidKeyName(0x27), "0)");
    EXPECT_EQ(HidKeyName(0x45), "F12");
    EXPECT_EQ(HidKeyName(0x59), "1");
    EXPECT_EQ(HidKeyName(0x62), "0");
    EXPECT_EQ(HidKeyName(0x67), "=");
    EXPECT_EQ(HidKeyName(0x68), "104");
    EXPECT_EQ(HidKeyName(0xCF), "207");
    EXPECT_EQ(HidKeyName(0xDB), "219");
    EXPECT_EQ(HidKeyName(0xDF), "K/LT3");
    EXPECT_EQ(HidKeyName(0xE7), "R GUI");
    EXPECT_EQ(HidKeyName(0xE8), "232");
    EXPECT_EQ(HidKeyName(0xFD), "253");
    EXPECT_EQ(HidKeyName(0xFF), "Blank");
    for (unsigned h = 0; h < 256; ++h) {
        EXPECT_FALSE(HidKeyName(static_cast<uint8_t>(h)).empty()) << h;
    }
}

TEST(KeyCodes, PicturePaths) {
    EXPECT_EQ(KeyPicturePath(0x04, true), "res/uipics/keys/key-b4.png");
    EXPECT_EQ(KeyPicturePath(0xFF, false), "res/uipics/keys/key-s255.png");
}

TEST(KeyCodes, ParsesNamesAliasesAndNumbers) {
    const std::pair<const char*, int> cases[] = {
        {"A", 0x04},          {"a", 0x04},     {"L Shift", 0xE1}, {"LShift", 0xE1},
        {"lshift", 0xE1},     {"Enter", 0x28}, {"F5", 0x3E},      {"0x2C", 0x2C},
        {"44", 44},           {"1!", 0x1E},    {"kp1", 0x59},     {"kp/", 0x54},
        {"K/LT2", 0xDE},      {"Marco", 0x03}, {"Vol+", 0x87},    {"Space", 0x2C},
        {"Left Arrow", 0x50}, {"left", 0x50},  {"Blank", 0xFF},
    };
    for (const auto& [text, want] : cases) {
        uint8_t hid = 0xAA;
        ASSERT_TRUE(ParseHidValue(text, hid)) << text;
        EXPECT_EQ(hid, want) << text;
    }
    // Every name the name table gives a key with a key code reads back as that key, so
    // what `tavrikctl keys` lists is what set-key and the macro step words take.
    for (unsigned h = 0; h < 256; ++h) {
        const auto value = static_cast<uint8_t>(h);
        const std::string_view name = HidKeyName(value);
        // Plain numbers are read as values (keypad digits take "kp1").
        const bool numeric = name.find_first_not_of("0123456789") == std::string_view::npos;
        if (KeyCodeOfHid(value) == 0 || name == " " || numeric) {
            continue;
        }
        uint8_t parsed = 0;
        ASSERT_TRUE(ParseHidValue(name, parsed)) << name;
        EXPECT_EQ(HidKeyName(parsed), name) << h;
        EXPECT_NE(KeyCodeOfHid(parsed), 0) << name;
    }
    EXPECT_EQ(HidKeyName(HidOfKeyCode(0xAF)), "Vol+");
    EXPECT_EQ(HidKeyName(HidOfKeyCode(0xB3)), "Play");
    uint8_t hid = 0;
    EXPECT_FALSE(ParseHidValue("", hid));
    EXPECT_FALSE(ParseHidValue("0x100", hid));
    EXPECT_FALSE(ParseHidValue("256", hid));
    EXPECT_FALSE(ParseHidValue("NoSuchKey", hid));
    EXPECT_FALSE(ParseHidValue("-1", hid));
}

}  // namespace
}  // namespace tavrik

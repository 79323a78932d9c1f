#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string_view>

#include "keys/keycodes.h"
#include "keys/picker_find.h"
#include "keys/picker_table.h"

namespace tavrik {
namespace {

bool Overlap(const PickerKey& a, const PickerKey& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
           b.y < a.y + a.height;
}

TEST(PickerTable, EveryEntryIsAKeyInsideTheWindow) {
    const auto& t = PickerKeyTable();
    for (int i = 0; i < kPickerKeyCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(t[i].width, 41);
        EXPECT_GE(t[i].height, 30);
        EXPECT_GE(t[i].x, 0);
        EXPECT_GE(t[i].y, 0);
        EXPECT_LE(t[i].x + t[i].width, 1060);
        EXPECT_LE(t[i].y + t[i].height, 560);
    }
}

TEST(PickerTable, EnabledKeysDoNotOverlapAndPickDistinctCodes) {
    const auto& t = PickerKeyTable();
    std::set<uint8_t> codes;
    for (int i = 0; i < kPickerKeyCount; ++i) {
        if (!t[i].enabled) {
            continue;
        }
        SCOPED_TRACE(i);
        EXPECT_TRUE(codes.insert(t[i].keyCode).second) << "code picked twice";
        EXPECT_NE(HidOfKeyCode(t[i].keyCode), 0) << "code without HID value";
        for (int j = i + 1; j < kPickerKeyCount; ++j) {
            EXPECT_FALSE(t[j].enabled && Overlap(t[i], t[j])) << "overlaps " << j;
        }
    }
    EXPECT_EQ(codes.size(), 133u);
}

// A drawn key is offered when it picks a code the keyboard carries out: not a blank place
// (no code) nor one of the reserved functions 0x88..0x8D. The layer keys K/LT0..K/LT3
// only on layer 0, since a layer key on another layer could not switch back.
TEST(PickerTable, DisabledAndLayerZeroKeys) {
    int offered = 0;
    for (int i = 0; i < kPickerKeyCount; ++i) {
        SCOPED_TRACE(i);
        const uint8_t code = PickerKeyTable()[i].keyCode;
        const bool usable = code != 0 && !(code >= 0x88 && code <= 0x8D);
        const bool layerKey = HidKeyName(HidOfKeyCode(code)).starts_with("K/LT");
        EXPECT_EQ(PickerKeyTable()[i].enabled, usable);
        EXPECT_EQ(PickerKeyOffered(i, 0), usable);
        EXPECT_EQ(PickerKeyOffered(i, 2), usable && !layerKey);
        offered += usable ? 1 : 0;
    }
    EXPECT_EQ(offered, 133);
    EXPECT_EQ(HidKeyName(HidOfKeyCode(PickerKeyTable()[128].keyCode)), "K/LT0");
    EXPECT_EQ(HidKeyName(HidOfKeyCode(PickerKeyTable()[131].keyCode)), "K/LT3");
    EXPECT_FALSE(PickerKeyOffered(-1, 0));
    EXPECT_FALSE(PickerKeyOffered(kPickerKeyCount, 0));
}

// A pressed key finds its own hot spot: every offered entry by its code, on each layer,
// and nothing where the picker offers none.
TEST(PickerFind, EachOfferedEntryIsFoundByItsCodeAndByItsName) {
    for (const int layer : {0, 1}) {
        for (int i = 0; i < kPickerKeyCount; ++i) {
            SCOPED_TRACE(i);
            const uint8_t code = PickerKeyTable()[static_cast<size_t>(i)].keyCode;
            if (!PickerKeyOffered(i, layer)) {
                if (code != 0 && IsLayerOnlyKey(i)) {
                    EXPECT_EQ(PickerEntryOfKeyCode(code, layer), -1);
                }
                continue;
            }
            EXPECT_EQ(PickerEntryOfKeyCode(code, layer), i);
            const std::string_view name = HidKeyName(HidOfKeyCode(code));
            const PickerMatches byName = FindPickerKeys(name, layer);
            if (name.size() > 1 && std::isdigit(static_cast<unsigned char>(name[0])) &&
                std::isdigit(static_cast<unsigned char>(name[1]))) {
                continue;  // named only by its number
            }
            if (name.find_first_not_of(' ') == std::string_view::npos) {
                continue;  // a blank name
            }
            EXPECT_NE(std::find(byName.entries.begin(), byName.entries.end(), i),
                      byName.entries.end())
                << name;
        }
    }
    EXPECT_EQ(PickerEntryOfKeyCode(0x7C, 0), -1);  // F13: not on the picker's keyboard
    EXPECT_EQ(PickerEntryOfKeyCode(0, 0), -1);
}

TEST(PickerFind, CaseBlanksAndEmptyQueries) {
    EXPECT_TRUE(FindPickerKeys("", 0).entries.empty());
    EXPECT_TRUE(FindPickerKeys("  ", 0).entries.empty());
    const PickerMatches ctrl = FindPickerKeys("rctrl", 0);
    ASSERT_EQ(ctrl.entries.size(), 1u);
    EXPECT_EQ(ctrl.Pick(), PickerEntryOfKeyCode(0xA3, 0));
    EXPECT_EQ(FindPickerKeys("R CTRL", 0).Pick(), ctrl.Pick());
    // "Enter" is a whole name and part of "KeyPad Enter": the whole one is taken.
    const PickerMatches enter = FindPickerKeys("enter", 0);
    EXPECT_EQ(enter.entries.size(), 2u);
    EXPECT_EQ(enter.Pick(), PickerEntryOfKeyCode(0x0D, 0));
    EXPECT_EQ(FindPickerKeys("vol", 0).Pick(), -1);
}

}  // namespace
}  // namespace tavrik

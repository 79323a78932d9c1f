#include <gtest/gtest.h>

#include <set>

#include "keys/keycodes.h"
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

}  // namespace
}  // namespace tavrik

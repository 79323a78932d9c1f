// The layout on paper as data: what each key says per layer, where it sits, which slots
// are empty sockets.
#include <gtest/gtest.h>

#include "keys/keycodes.h"
#include "layout/layout_sheet.h"

namespace tavrik {
namespace {

using layout::LegendOf;
using Lines = std::vector<std::string>;

TEST(LayoutLegend, KeysSayWhatTheyDo) {
    EXPECT_EQ(LegendOf(0x04, -1), Lines{"A"});
    EXPECT_EQ(LegendOf(0x3E, -1), Lines{"F5"});
    EXPECT_EQ(LegendOf(HID_WAIT_SET, -1), Lines{"not set"});
    EXPECT_EQ(LegendOf(0x00, -1), Lines{"not set"});
    EXPECT_EQ(LegendOf(HID_MARCO, 8), Lines{"Macro: 8 steps"});
    EXPECT_EQ(LegendOf(HID_MARCO, 1), Lines{"Macro: 1 step"});
    EXPECT_EQ(LegendOf(HID_MARCO, -1), (Lines{"Macro", "(not read)"}));
    EXPECT_EQ(LegendOf(0xD1, -1), (Lines{"L1", "To layer 1"}));
    EXPECT_EQ(LegendOf(0xD6, -1), (Lines{"LT2", "Layer 2 while held"}));
    EXPECT_EQ(LegendOf(0xDF, -1), (Lines{"K/LT3", "Key; layer 3 while held"}));
    EXPECT_EQ(LegendOf(0xD9, -1), (Lines{"Layer key", "217"}));
}

TEST(LayoutSheetPlaces, ModulesSitWhereTheViewShowsThemAndTheRestAreSockets) {
    backup::KeyboardState state;
    backup::ModuleState a;
    a.uid = 1;
    a.slot = 0;
    a.hid = {0x04, 0xD6, HID_MARCO, 0};
    a.colour = 0x0000F0;
    a.macro = backup::Macro{{1, 4, 10}, {2, 4, 10}, {0, 0, 0}};
    backup::ModuleState b;
    b.uid = 2;
    b.slot = 50;
    b.stage = 'B';
    state.modules = {a, b};

    const auto sheet = layout::MakeSheet(state, {2, 0}, "KB", "2026-12-10");
    ASSERT_EQ(sheet.keys.size(), 90u);
    EXPECT_EQ(sheet.rows, 10);
    EXPECT_EQ(sheet.layers, (std::vector<int>{2, 0}));
    const auto& k0 = sheet.keys[0];
    EXPECT_EQ(k0.kind, layout::SlotKind::Module);
    EXPECT_EQ(k0.legend[1], (Lines{"LT2", "Layer 2 while held"}));
    EXPECT_EQ(k0.legend[2], Lines{"Macro: 2 steps"});
    EXPECT_EQ(k0.colour, 0x0000F0u);
    // Slot 50 is on the view's second page, row 0, column 5: the sheet's row 5.
    EXPECT_EQ(sheet.keys[50].row, 5);
    EXPECT_EQ(sheet.keys[50].column, 5);
    EXPECT_EQ(sheet.keys[50].kind, layout::SlotKind::Bootloader);
    EXPECT_EQ(sheet.keys[1].kind, layout::SlotKind::Empty);
    EXPECT_TRUE(sheet.keys[1].legend[0].empty());

    const auto onePage = layout::MakeSheet(state, {0}, "KB", "", 1);
    EXPECT_EQ(onePage.keys.size(), 45u) << "a one-page keyboard shows 45 slots";
    EXPECT_EQ(onePage.rows, 5);
}

TEST(LayoutOptions, LayersAndFormatsAreReadStrictly) {
    std::vector<int> layers;
    std::string error;
    ASSERT_TRUE(layout::ParseLayers("3,0", layers, error)) << error;
    EXPECT_EQ(layers, (std::vector<int>{3, 0}));
    for (const char* bad : {"", "4", "0,,1", "0,0", "1,", "x", "01", "-1"}) {
        EXPECT_FALSE(layout::ParseLayers(bad, layers, error)) << bad;
    }
    EXPECT_EQ(layout::FormatOfPath("/tmp/a.PDF"), layout::PaperFormat::Pdf);
    EXPECT_EQ(layout::FormatOfPath("x.svg"), layout::PaperFormat::Svg);
    EXPECT_EQ(layout::FormatOfPath("x.png"), layout::PaperFormat::Png);
    EXPECT_EQ(layout::FormatOfPath("x.pdf/y"), std::nullopt);
    EXPECT_EQ(layout::FormatOfPath("layout"), std::nullopt);
}

}  // namespace
}  // namespace tavrik

// The backup file and restore plans, worked out without a keyboard.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "backup/backup_file.h"
#include "backup/restore_plan.h"

namespace tavrik::backup {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

ModuleState Mod(uint32_t uid, int slot, char stage = 'A') {
    ModuleState m;
    m.uid = uid;
    m.slot = slot;
    m.stage = stage;
    return m;
}

KeyboardState SampleState() {
    KeyboardState s;
    s.product = "Tavrik Keyboard";
    s.serial = "SIM6AC1F425";
    s.kind = 3;
    s.stage = 'A';
    s.verHi = 1;
    s.verLo = 60;
    s.modes = {false, true, 60, 4};
    ModuleState plain = Mod(0x8A64CB80, 0);
    plain.hid = {4, 30, 0, 0};
    plain.colour = 0x00F000A0;
    ModuleState blank = Mod(0x23D4D1D5, 6);
    ModuleState macro = Mod(0xCADAF602, 8);
    macro.hid = {0, 3, 0, 0};
    macro.flag = 0x0F;
    macro.macro = Macro{{1, 11, 10}, {2, 11, 300}, {0, 0, 0}};
    ModuleState boot = Mod(0xF1D0F64C, 9, 'B');
    s.modules = {plain, blank, macro, boot};
    return s;
}

TEST(BackupFile, WhatIsWrittenReadsBackAndEarlierFilesStillLoad) {
    const KeyboardState s = SampleState();
    const std::string text = FormatBackup(s);
    // One module per line, so backups compare with diff.
    EXPECT_NE(text.find("\n  {\"uid\":\"0xCADAF602\",\"slot\":8,"), std::string::npos) << text;
    ParsedBackup back = ParseBackup(text);
    ASSERT_TRUE(back.state) << back.error;
    // The controller's stage and version are information only and are not read back.
    KeyboardState expected = s;
    expected.stage = 0;
    expected.verHi = expected.verLo = 0;
    EXPECT_EQ(*back.state, expected);

    // A file as the first version wrote it, with a plain-number UID and a macro whose End
    // entry carries leftovers the keyboard does not keep.
    const std::string old = R"({
 "format": "tavrik-keyboard-backup",
 "version": 1,
 "keyboard": {"product":"Tavrik Keyboard","serial":"SIM6AC1F425","kind":3},
 "controller": {"stage":"A","firmware":"1.60"},
 "modes": {"nkro":false,"overload":false,"modules":44,"usbRate":1},
 "modules": [
  {"uid":"0x8A64CB80","slot":0,"stage":"A","hid":[4,30,0,0],"flag":0,"color":"#F0F0F0","macro":null},
  {"uid":601084373,"slot":6,"stage":"A","hid":[0,0,0,0],"flag":0,"color":null,"macro":null},
  {"uid":"0xCADAF602","slot":8,"stage":"A","hid":[3,0,0,0],"flag":0,"color":"#F0F0F0",
   "macro":[{"flag":1,"kv":11,"delay":10},{"flag":2,"kv":11,"delay":10},{"flag":0,"kv":7,"delay":9}]},
  {"uid":"0xF1D0F64C","slot":9,"stage":"B"}
 ]
})";
    back = ParseBackup(old);
    ASSERT_TRUE(back.state) << back.error;
    ASSERT_EQ(back.state->modules.size(), 4u);
    EXPECT_EQ(back.state->modules[1].uid, 601084373u);
    EXPECT_EQ(back.state->modules[0].colour, 0x00F0F0F0u);
    EXPECT_EQ(back.state->modules[2].macro->back(), (MarcoEntry{0, 0, 0}));
    EXPECT_EQ(back.state->modules[3].stage, 'B');
}

TEST(BackupFile, ErrorsNameTheFieldAndNumbersAreCheckedBeforeUse) {
    const json base = json::parse(FormatBackup(SampleState()));
    const auto error = [&](auto change) {
        json j = base;
        change(j);
        const ParsedBackup p = ParseBackup(j.dump());
        EXPECT_FALSE(p.state) << j.dump();
        return p.error;
    };
    EXPECT_NE(error([](json& j) { j["modules"][2]["hid"][2] = 300; }).find("modules[2].hid[2]"),
              std::string::npos);
    // Numbers that are not whole, or beyond any int, are refused, not converted.
    EXPECT_NE(error([](json& j) { j["modules"][0]["hid"][0] = 4.5; }).find("modules[0].hid[0]"),
              std::string::npos);
    EXPECT_NE(error([](json& j) { j["keyboard"]["kind"] = 1e300; }).find("keyboard.kind"),
              std::string::npos);
    EXPECT_NE(
        error([](json& j) { j["modes"]["modules"] = 18446744073709551615u; }).find("modes.modules"),
        std::string::npos);
    EXPECT_NE(error([](json& j) { j["keyboard"]["serial"] = 5; }).find("keyboard.serial"),
              std::string::npos);
    EXPECT_NE(error([](json& j) {
                  j["modules"][2]["macro"][0]["delay"] = 70000;
              }).find("modules[2].macro[0]"),
              std::string::npos);
    EXPECT_NE(error([](json& j) {
                  j["modules"][2]["macro"] = json::array();
                  for (int i = 0; i < 66; ++i) {
                      j["modules"][2]["macro"].push_back({{"flag", 1}, {"kv", 4}, {"delay", 1}});
                  }
              }).find("modules[2].macro"),
              std::string::npos);
    EXPECT_NE(error([](json& j) { j["modules"][0]["uid"] = "0x100000000"; }).find("uid"),
              std::string::npos);
    // More modules than a keyboard has slots cannot have come from one.
    EXPECT_NE(error([](json& j) {
                  j["modules"] = json::array();
                  for (uint32_t u = 1; u <= 91; ++u) {
                      j["modules"].push_back({{"uid", u}, {"slot", 0}, {"stage", "B"}});
                  }
              }).find("modules"),
              std::string::npos);
    // Information fields of another shape, and settings a bootloader module cannot have,
    // are not passed over in silence.
    EXPECT_NE(error([](json& j) { j["keyboard"] = nullptr; }).find("keyboard"), std::string::npos);
    EXPECT_NE(error([](json& j) { j["controller"] = 5; }).find("controller"), std::string::npos);
    EXPECT_NE(error([](json& j) { j["controller"]["stage"] = "C"; }).find("controller.stage"),
              std::string::npos);
    EXPECT_NE(
        error([](json& j) {
            j["modules"][0] = {{"uid", "0x11"}, {"slot", 0}, {"stage", "B"}, {"hid", {4, 0, 0, 0}}};
        }).find("modules[0].hid"),
        std::string::npos);
    EXPECT_FALSE(ParseBackup(std::string(100000, '[')).state);
    EXPECT_FALSE(ParseBackup("").state);
}

TEST(BackupFile, OnlyRegularFilesOfBoundedSizeAreRead) {
    const fs::path dir = fs::path(::testing::TempDir()) / "backup_file_read";
    fs::remove_all(dir);
    fs::create_directories(dir);
    KeyboardState s;
    std::string error;
    EXPECT_EQ(ReadBackupFile(dir / "missing.json", s, error), BackupFileStatus::CannotRead);
    // A FIFO without a writer would block a reader for ever.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(ReadBackupFile(dir / "fifo", s, error), BackupFileStatus::CannotRead);
    EXPECT_EQ(ReadBackupFile(dir, s, error), BackupFileStatus::CannotRead);
    std::ofstream(dir / "huge.json") << std::string(kBackupFileMaxBytes + 1, ' ');
    EXPECT_EQ(ReadBackupFile(dir / "huge.json", s, error), BackupFileStatus::Invalid);
    std::ofstream(dir / "good.json") << FormatBackup(SampleState());
    ASSERT_EQ(ReadBackupFile(dir / "good.json", s, error), BackupFileStatus::Ok) << error;
    EXPECT_EQ(s.modules.size(), 4u);
    fs::remove_all(dir);
}

// ---- Restore plans ----

constexpr int kMarcoMax = 64;

ModuleState Key(uint32_t uid, int slot, std::array<uint8_t, 4> hid, uint32_t colour) {
    ModuleState m = Mod(uid, slot);
    m.hid = hid;
    m.colour = colour;
    return m;
}

ModuleState MacroKey(uint32_t uid, int slot, int steps) {
    ModuleState m = Mod(uid, slot);
    m.hid = {4, 3, 0, 0};
    m.colour = 0x00F0F0F0;
    m.macro = Macro(static_cast<size_t>(steps), MarcoEntry{1, 4, 10});
    m.macro->push_back({0, 0, 0});
    return m;
}

std::vector<std::string> Order(const Plan& plan) {
    std::vector<std::string> out;
    for (const Change& c : plan.changes) {
        out.push_back(std::string(WhatName(c.what)) +
                      (IsModeChange(c) ? "" : "@" + std::to_string(c.slot)));
    }
    return out;
}

TEST(RestorePlan, ModesFirstThenEachModuleByUidLayersColourMacro) {
    KeyboardState want, now;
    want.modes = {true, true, 60, 1};
    now.modes = {false, false, 44, 4};
    want.modules = {MacroKey(0xA, 0, 3), Key(0xB, 1, {4, 0, 0, 0}, 0x00F00000)};
    // Both moved; A lost its macro layer and colour, B only its colour.
    now.modules = {Key(0xB, 7, {4, 0, 0, 0}, 0x00000000), Key(0xA, 20, {0, 0, 0, 0}, 0)};
    now.modules[1].colour.reset();

    const Plan plan = MakePlan(want, now, kMarcoMax);
    EXPECT_EQ(Order(plan), (std::vector<std::string>{"nkro", "usbRate", "overload", "layers@20",
                                                     "color@20", "macro@20", "color@7"}));
    EXPECT_TRUE(plan.notPlaced.empty());
    EXPECT_TRUE(plan.unknown.empty());
    EXPECT_EQ(plan.changes[5].want.macro, want.modules[0].macro);
    EXPECT_EQ(SideText(What::Macro, plan.changes[5].to), "3 steps");
    EXPECT_EQ(SideText(What::Colour, plan.changes[4].from), "not set");

    // Nothing left to do once the keyboard is as the backup.
    EXPECT_TRUE(MakePlan(want, want, kMarcoMax).changes.empty());
}

TEST(RestorePlan, WhatCannotBePlacedAndWhatNeedsNoChange) {
    KeyboardState want, now;
    want.modes = now.modes = {false, false, 44, 1};
    // Without overload the module count is the controller's, not a setting.
    now.modes.modules = 60;
    ModuleState wasBoot = Mod(0x1, 1, 'B');
    ModuleState noColour = Key(0x5, 5, {0, 0, 0, 0}, 0);
    noColour.colour.reset();
    want.modules = {Key(0x0A, 0, {4, 0, 0, 0}, 0), wasBoot,  Key(0x2, 2, {4, 0, 0, 0}, 0),
                    MacroKey(0x3, 3, 30),          noColour, MacroKey(0x6, 6, 2)};
    ModuleState nowBoot = Mod(0x2, 12, 'B');
    ModuleState unread = MacroKey(0x6, 6, 2);
    unread.macro.reset();
    unread.macroUnread = true;
    now.modules = {Key(0x1, 1, {5, 0, 0, 0}, 0x10),       nowBoot, MacroKey(0x3, 3, 1),
                   Key(0x5, 5, {0, 0, 0, 0}, 0x00F00000), unread,  Key(0x99, 40, {4, 0, 0, 0}, 0)};

    const Plan plan = MakePlan(want, now, 24);
    ASSERT_EQ(plan.notPlaced.size(), 3u);
    EXPECT_EQ(plan.notPlaced[0].uid, 0x0Au);
    EXPECT_NE(plan.notPlaced[0].reason.find("not attached"), std::string::npos);
    EXPECT_EQ(plan.notPlaced[1].uid, 0x2u);
    EXPECT_EQ(plan.notPlaced[1].slot, 12);
    EXPECT_NE(plan.notPlaced[1].reason.find("bootloader"), std::string::npos);
    EXPECT_EQ(plan.notPlaced[2].uid, 0x3u);
    EXPECT_NE(plan.notPlaced[2].reason.find("30 steps; this keyboard holds 24"), std::string::npos);
    // A module backed up in its bootloader has nothing to restore; one with no colour in
    // the backup keeps its own; a macro that could not be read is written again.
    EXPECT_EQ(Order(plan), std::vector<std::string>{"macro@6"});
    EXPECT_EQ(SideText(What::Macro, plan.changes[0].from), "unreadable");
    ASSERT_EQ(plan.unknown.size(), 1u);
    EXPECT_EQ(plan.unknown[0].uid, 0x99u);
    EXPECT_EQ(plan.unknown[0].slot, 40);

    want.modes.overload = now.modes.overload = true;
    EXPECT_EQ(Order(MakePlan(want, now, 24))[0], "overload");
}

TEST(RestorePlan, CheckMarksWhatTheKeyboardDidNotTakeOnce) {
    KeyboardState want, before;
    want.modes = {true, false, 44, 1};
    before.modes = {false, false, 44, 1};
    want.modules = {Key(0xA, 0, {4, 0, 0, 0}, 0x00F00000), Key(0xB, 1, {5, 0, 0, 0}, 0),
                    MacroKey(0xC, 2, 2)};
    before.modules = {Key(0xA, 0, {4, 0, 0, 0}, 0), Key(0xB, 1, {6, 0, 0, 0}, 0),
                      Key(0xC, 2, {4, 0, 0, 0}, 0x00F0F0F0)};
    Plan plan = MakePlan(want, before, kMarcoMax);
    ASSERT_EQ(Order(plan),
              (std::vector<std::string>{"nkro", "color@0", "layers@1", "layers@2", "macro@2"}));
    for (Change& c : plan.changes) {
        c.done = true;
    }
    // The layers of C failed, so its macro never went; its differences are reported once.
    plan.changes[3].failure = "refused";
    plan.changes[4].failure = "skipped";

    KeyboardState after = before;
    after.modes.nkro = true;               // taken
    after.modules[0].colour = 0x00F00000;  // taken
    after.modules[1].flag = 9;             // layers taken, but the flag is not
    after.modules[1].hid = {5, 0, 0, 0};
    after.modules.erase(after.modules.begin() + 2);  // C went away meanwhile
    CheckResult(want, after, kMarcoMax, plan);

    EXPECT_TRUE(plan.changes[0].failure.empty());
    EXPECT_TRUE(plan.changes[1].failure.empty());
    EXPECT_EQ(plan.changes[2].failure, "the keyboard did not take it");
    EXPECT_EQ(plan.changes[3].failure, "refused");
    EXPECT_EQ(plan.changes.size(), 5u);
    ASSERT_EQ(plan.notPlaced.size(), 1u);
    EXPECT_EQ(plan.notPlaced[0].uid, 0xCu);
    EXPECT_FALSE(Succeeded(plan));
    EXPECT_EQ(DoneCount(plan), 2);

    // A difference nobody planned (a key changed behind the restore's back) is added.
    Plan clean = MakePlan(want, want, kMarcoMax);
    KeyboardState changed = want;
    changed.modules[1].hid[1] = 7;
    CheckResult(want, changed, kMarcoMax, clean);
    ASSERT_EQ(clean.changes.size(), 1u);
    EXPECT_EQ(clean.changes[0].failure, "still differs after the restore");

    // After the module count changed, the modes stay and the modules are planned again.
    const Plan again = ReplanModules(plan, want, want, kMarcoMax);
    EXPECT_EQ(Order(again), std::vector<std::string>{"nkro"});
    EXPECT_TRUE(again.changes[0].done);
}

}  // namespace
}  // namespace tavrik::backup

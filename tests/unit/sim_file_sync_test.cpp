// Several programs on one sim file: what one changes reaches the others, through the
// file's lock and a merge, and neither loses the other's changes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "app/keyboard_backend.h"
#include "cli_test_util.h"
#include "device/keyboard_hub.h"
#include "keyboard_rig.h"
#include "protocol/commands.h"
#include "protocol/protocol.h"
#include "sim/sim_backend.h"
#include "sim/sim_file.h"
#include "sim/sim_init.h"
#include "sim/sim_merge.h"

namespace tavrik {
namespace {

using sim::SimFileError;
using sim::SimFileKeyboard;
using test::Eventually;

std::vector<SimFileKeyboard> TwoKeyboards() {
    auto a = *sim::MakeInitialState(6, 2, 1, 50, 4);
    auto b = *sim::MakeInitialState(6, 0, 1, 50, 5);
    b.serial = "SECOND";
    return {{0, true, a, {}}, {1, false, b, {}}};
}

std::vector<SimFileKeyboard> Read(const std::filesystem::path& file) {
    std::vector<SimFileKeyboard> out;
    EXPECT_EQ(sim::ReadSimFile(file, out), SimFileError::None);
    return out;
}

// Sets a module's colour as the host does, through the vendor interface.
void SetColour(sim::SimBackend& backend, int index, uint8_t slot, Rgb4 rgb) {
    auto h = backend.Open(backend.VendorPath(index), nullptr);
    ASSERT_TRUE(h);
    const auto report = ToOutputReport(CmdSetKeyColor(slot, rgb));
    ASSERT_GT(h->Write(report.data(), report.size()), 0);
}

uint32_t ColourIn(const std::vector<SimFileKeyboard>& keyboards, int index, int slot) {
    for (const auto& k : keyboards) {
        if (k.index == index && k.state.modules[static_cast<size_t>(slot)]) {
            return k.state.modules[static_cast<size_t>(slot)]->colour;
        }
    }
    return 0xFFFFFFFF;
}

// A running program: a hub on the file's keyboards and the file's monitor, which it
// polls as an event loop would.
struct Program {
    test::NotifyRecorder rec;
    KeyboardHub hub;
    std::unique_ptr<DeviceMonitor> monitor;

    explicit Program(const std::filesystem::path& file)
        : hub(Load(file), rec, test::FastHub()), monitor(hub.MakeMonitor()) {
        hub.AttachPresent();
    }
    static std::unique_ptr<sim::SimBackend> Load(const std::filesystem::path& file) {
        std::string error;
        auto backend = SimulatedBackend(file, false, &error);
        EXPECT_TRUE(backend) << error;
        return backend;
    }
    // Runs the event loop until `done` holds (bounded).
    bool Until(const std::function<bool()>& done) {
        return Eventually([&] {
            hub.Handle(monitor->Wait(20));
            return done();
        });
    }
    uint32_t Uid(int slot, int key) { return hub.Session(slot).GetKeySlot(key).uid; }
};

std::vector<std::string> Ctl(const std::filesystem::path& file, std::vector<std::string> args) {
    args.insert(args.begin(), "--simulate=" + file.string());
    const auto r = testing::RunCtl(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return {r.out, r.err};
}

TEST(HubSimFile, AnotherProgramsChangesReachARunningProgram) {
    test::TempFolder dir;
    const auto file = dir.path / "kb.json";
    ASSERT_EQ(sim::WriteSimFile(file, TwoKeyboards()), SimFileError::None);
    Program p(file);
    ASSERT_NE(p.monitor, nullptr);
    ASSERT_EQ(p.hub.Count(), 1);

    Ctl(file, {"sim", "plug", "1"});
    ASSERT_TRUE(p.Until([&] { return p.hub.Count() == 2; }));
    EXPECT_EQ(p.hub.Transport(1).m_szSerial, "SECOND");

    Ctl(file, {"sim", "insert", "0", "70"});
    uint32_t uid = 0;
    ASSERT_TRUE(p.Until([&] { return (uid = p.Uid(0, 70)) != 0; }))
        << "the insert arrives as the keyboard's own report";
    const auto inFile = Read(file)[0].state.modules[70];
    ASSERT_TRUE(inFile);
    EXPECT_EQ(uid, inFile->uid);

    Ctl(file, {"sim", "press", "0", "70"});
    ASSERT_TRUE(p.Until([&] { return p.rec.Count(UM_KEY_RELEASED) == 1; }));
    EXPECT_EQ(p.rec.Of(UM_KEY_PRESSED).size(), 1u);

    Ctl(file, {"sim", "remove", "0", "70"});
    ASSERT_TRUE(p.Until([&] { return p.Uid(0, 70) == 0; }));

    Ctl(file, {"sim", "unplug", "1"});
    ASSERT_TRUE(p.Until([&] { return p.hub.Count() == 1; }));
    EXPECT_FALSE(p.hub.IsAttached(1));
    EXPECT_EQ(p.rec.Count(UM_KEY_PRESSED), 1u) << "a press is played once";
}

TEST(HubSimFile, WhatARunningProgramStoresReachesTheFileAndOtherPrograms) {
    test::TempFolder dir;
    const auto file = dir.path / "kb.json";
    ASSERT_EQ(sim::WriteSimFile(file, TwoKeyboards()), SimFileError::None);
    Program window(file);
    Program other(file);
    ASSERT_EQ(window.hub.Count(), 1);
    CCCDev& dev = window.hub.Session(0);
    dev.RequestScan();
    dev.StartScanThread();
    ASSERT_TRUE(window.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
    dev.PauseScan();
    int slot = 0;
    while (slot < 6 && (dev.GetKeySlot(slot).stage != 'A' || dev.GetKeySlot(slot).hid[0] == 0)) {
        ++slot;
    }
    ASSERT_LT(slot, 6) << "a key that takes a colour";

    const uint32_t want = 0x00A05030;
    ASSERT_EQ(dev.SetKeyColor(slot, want), 0);
    ASSERT_TRUE(Eventually([&] { return ColourIn(Read(file), 0, slot) == want; }))
        << "written back shortly, without a flush";
    ASSERT_TRUE(other.Until([&] {
        return sim::SimOf(other.hub.Backend())
                   ->StateOf(0)
                   ->modules[static_cast<size_t>(slot)]
                   ->colour == want;
    }));
    // Taken in quietly: no module report for a colour.
    EXPECT_EQ(other.rec.Count(UM_INFO_DLG_VK_CHANGE), 0u);
}

// Another program holds the file's lock while the file changes: the running program does
// not give the change up, it reads the file once the lock is let go.
TEST(HubSimFile, AChangeMadeWhileTheLockIsHeldIsTakenInOnceItIsLetGo) {
    test::TempFolder dir;
    const auto file = dir.path / "kb.json";
    ASSERT_EQ(sim::WriteSimFile(file, TwoKeyboards()), SimFileError::None);
    Program p(file);
    ASSERT_NE(p.monitor, nullptr);
    ASSERT_EQ(p.hub.Count(), 1);
    {
        sim::SimFileLock held(file);
        ASSERT_TRUE(held.Locked());
        auto keyboards = TwoKeyboards();
        keyboards[1].attached = true;
        ASSERT_EQ(sim::WriteSimFile(file, keyboards), SimFileError::None);
        // The event loop goes on while the lock is held (its sync waits elsewhere).
        for (int i = 0; i < 10; ++i) {
            p.hub.Handle(p.monitor->Wait(20));
        }
    }
    EXPECT_TRUE(p.Until([&] { return p.hub.Count() == 2; })) << "the view ends equal to the file";
}

TEST(SimFileLimits, NestingBeyondAnySimulatorFileIsRefusedNamingTheLimit) {
    std::string error;
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    EXPECT_FALSE(sim::ParseSimFile(deep, &error));
    EXPECT_NE(error.find("nested deeper than 16 levels"), std::string::npos) << error;
    // Brackets inside strings are text, not nesting.
    const std::string text = sim::FormatSimFile(TwoKeyboards());
    auto named = TwoKeyboards();
    named[0].state.product = std::string(40, '[') + "\"{";
    EXPECT_TRUE(sim::ParseSimFile(sim::FormatSimFile(named), &error)) << error;
    EXPECT_TRUE(sim::ParseSimFile(text, &error)) << error;
}

TEST(HubSimFile, TwoWritersNeverLoseEachOthersChanges) {
    test::TempFolder dir;
    const auto file = dir.path / "kb.json";
    auto keyboards = TwoKeyboards();
    keyboards[1].attached = true;
    ASSERT_EQ(sim::WriteSimFile(file, keyboards), SimFileError::None);
    sim::SimBackend a;
    sim::SimBackend b;
    ASSERT_EQ(a.LoadSimFile(file), SimFileError::None);
    ASSERT_EQ(b.LoadSimFile(file), SimFileError::None);

    // Both change keyboard 0 (other modules), B its keyboard 1 as well, at the same time
    // and saving as they go; a third program edits the file in between.
    auto paint = [](sim::SimBackend& backend, uint8_t first, bool second) {
        for (uint8_t i = 0; i < 3; ++i) {
            const auto s = static_cast<uint8_t>(first + i);
            SetColour(backend, 0, s, Rgb4{1, 2, s});
            if (second) {
                SetColour(backend, 1, i, Rgb4{4, 0, 0});
            }
            backend.Flush();
        }
    };
    std::thread ta(paint, std::ref(a), 0, false);
    std::thread tb(paint, std::ref(b), 3, true);
    Ctl(file, {"sim", "insert", "0", "50"});
    ta.join();
    tb.join();
    a.Flush();
    b.Flush();

    const auto merged = Read(file);
    ASSERT_EQ(merged.size(), 2u);
    for (uint8_t s = 0; s < 6; ++s) {
        EXPECT_EQ(ColourIn(merged, 0, s), FromRgb4(Rgb4{1, 2, s})) << int{s};
    }
    for (uint8_t s = 0; s < 3; ++s) {
        EXPECT_EQ(ColourIn(merged, 1, s), FromRgb4(Rgb4{4, 0, 0})) << int{s};
    }
    EXPECT_TRUE(merged[0].state.modules[50]) << "the third program's module stays";
}

TEST(HubSimFile, AFileBrokenByHandIsNeverOverwritten) {
    test::TempFolder dir;
    const auto file = dir.path / "kb.json";
    ASSERT_EQ(sim::WriteSimFile(file, TwoKeyboards()), SimFileError::None);
    sim::SimBackend backend;
    ASSERT_EQ(backend.LoadSimFile(file), SimFileError::None);
    std::ofstream(file) << "{\"keyboards\": [";
    SetColour(backend, 0, 1, Rgb4{9, 9, 9});
    EXPECT_EQ(backend.Flush(), SimFileError::Malformed);
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "{\"keyboards\": [");
}

TEST(HubSimFile, AFailedSaveIsToldByEveryFlushUntilOneSucceeds) {
    test::TempFolder dir;
    const auto file = dir.path / "kb.json";
    ASSERT_EQ(sim::WriteSimFile(file, TwoKeyboards()), SimFileError::None);
    const uint32_t before = ColourIn(Read(file), 0, 1);
    sim::SimBackend backend;
    ASSERT_EQ(backend.LoadSimFile(file), SimFileError::None);
    namespace fs = std::filesystem;
    fs::permissions(file, fs::perms::owner_read);
    // Whether the writer thread or the flush tries first, the flush tells.
    SetColour(backend, 0, 1, Rgb4{9, 9, 9});
    std::string error;
    EXPECT_EQ(backend.Flush(&error), SimFileError::WriteFailed);
    EXPECT_NE(error.find("read-only"), std::string::npos) << error;
    EXPECT_EQ(backend.Flush(), SimFileError::WriteFailed);
    EXPECT_EQ(ColourIn(Read(file), 0, 1), before);

    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(backend.Flush(&error), SimFileError::None) << error;
    EXPECT_NE(ColourIn(Read(file), 0, 1), before);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(SimFileLockTest, SecondHolderWaitsAndGivesUpAtItsLimit) {
    test::TempFolder dir;
    const auto file = dir.path / "kb.json";
    ASSERT_EQ(sim::WriteSimFile(file, TwoKeyboards()), SimFileError::None);
    {
        sim::SimFileLock held(file);
        ASSERT_TRUE(held.Locked()) << held.Error();
        sim::SimFileLock second(file, 30);
        EXPECT_FALSE(second.Locked());
        EXPECT_NE(second.Error().find("held by another program"), std::string::npos);
    }
    sim::SimFileLock again(file, 30);
    EXPECT_TRUE(again.Locked()) << "released with its holder";

    // A lock path that is not a regular file is refused, not followed.
    const auto odd = dir.path / "odd.json";
    std::filesystem::create_directory(dir.path / "odd.json.lock");
    sim::SimFileLock refused(odd, 30);
    EXPECT_FALSE(refused.Locked());
    // And an output that is not a regular file is never replaced.
    std::filesystem::create_directory(dir.path / "folder.json");
    EXPECT_EQ(sim::WriteSimFile(dir.path / "folder.json", TwoKeyboards()),
              SimFileError::WriteFailed);
    EXPECT_TRUE(std::filesystem::is_directory(dir.path / "folder.json"));
}

TEST(SimMerge, EachSideKeepsWhatOnlyItChanged) {
    const SimFileKeyboard base = TwoKeyboards()[0];
    SimFileKeyboard ours = base;
    SimFileKeyboard theirs = base;
    ours.state.modules[0]->colour = 0x00100000;    // only ours
    theirs.state.modules[1]->colour = 0x00200000;  // only theirs
    ours.state.modules[2]->colour = 0x00300000;    // both: ours wins
    theirs.state.modules[2]->colour = 0x00400000;
    theirs.state.modules[3].reset();  // a module pulled out elsewhere
    theirs.attached = false;          // and the keyboard unplugged
    ours.state.nkro = true;           // the controller changed here
    theirs.presses = {{1, 0, 0}};
    const auto merged = sim::MergeSimKeyboard(base, ours, theirs);
    ASSERT_TRUE(merged);
    EXPECT_EQ(merged->state.modules[0]->colour, 0x00100000u);
    EXPECT_EQ(merged->state.modules[1]->colour, 0x00200000u);
    EXPECT_EQ(merged->state.modules[2]->colour, 0x00300000u);
    EXPECT_FALSE(merged->state.modules[3]);
    EXPECT_FALSE(merged->attached);
    EXPECT_TRUE(merged->state.nkro);
    EXPECT_EQ(merged->presses.size(), 1u);

    // Unchanged here: the file's keyboard, or its absence, stands.
    EXPECT_EQ(sim::MergeSimKeyboard(base, base, theirs), theirs);
    EXPECT_EQ(sim::MergeSimKeyboard(base, base, std::nullopt), std::nullopt);
    // Changed here and gone there (the file was made anew): ours stands.
    EXPECT_EQ(sim::MergeSimKeyboard(base, ours, std::nullopt), ours);

    // Two new modules with one UID would make a file that does not load: ours whole.
    SimFileKeyboard clashOurs = base;
    SimFileKeyboard clashTheirs = base;
    sim::SimModule m = *base.state.modules[0];
    m.uid = 0xABCDEF01;
    m.shortMac = 100;
    clashOurs.state.modules[40] = m;
    m.shortMac = 101;
    clashTheirs.state.modules[41] = m;
    const auto safe = sim::MergeSimKeyboard(base, clashOurs, clashTheirs);
    ASSERT_TRUE(safe);
    EXPECT_TRUE(safe->state.modules[40]);
    EXPECT_FALSE(safe->state.modules[41]);
}

TEST(SimMerge, OneModuleAndTheControllerAreMergedFieldByField) {
    const SimFileKeyboard base = TwoKeyboards()[0];
    SimFileKeyboard ours = base;
    SimFileKeyboard theirs = base;
    auto& o = *ours.state.modules[0];
    auto& t = *theirs.state.modules[0];
    o.hid[1] = 0x3E;        // F5 on layer 1 here
    t.colour = 0x0000F000;  // green there
    t.hid[2] = 0x05;        // and B on layer 2
    o.marco[0] = {MarcoFlag::KeyDown, 0x04, 10};
    t.verLo = 7;
    o.flag = 3;  // both: ours, the later write, wins
    t.flag = 4;
    ours.state.usbRate = 2;  // each mode on its own
    theirs.state.nkro = true;
    theirs.state.verLo = 60;
    const auto merged = sim::MergeSimKeyboard(base, ours, theirs);
    ASSERT_TRUE(merged);
    const auto& m = *merged->state.modules[0];
    EXPECT_EQ(m.hid[1], 0x3E);
    EXPECT_EQ(m.hid[2], 0x05);
    EXPECT_EQ(m.hid[0], base.state.modules[0]->hid[0]);
    EXPECT_EQ(m.colour, 0x0000F000u);
    EXPECT_EQ(m.marco[0], (MarcoEntry{MarcoFlag::KeyDown, 0x04, 10}));
    EXPECT_EQ(m.verLo, 7);
    EXPECT_EQ(m.flag, 3);
    EXPECT_EQ(merged->state.usbRate, 2);
    EXPECT_TRUE(merged->state.nkro);
    EXPECT_EQ(merged->state.verLo, 60);

    // A module replaced on one side (another UID) is taken whole from that side.
    t.uid = 0x12345678;
    const auto replaced = sim::MergeSimKeyboard(base, ours, theirs);
    ASSERT_TRUE(replaced);
    EXPECT_EQ(*replaced->state.modules[0], *ours.state.modules[0]);
    ours.state.modules[0] = base.state.modules[0];
    EXPECT_EQ(*sim::MergeSimKeyboard(base, ours, theirs)->state.modules[0], t);
}

// What another program gave a key (its layers, its colour) reaches a running program's view,
// not only its simulated keyboard.
TEST(HubSimFile, AKeyChangedElsewhereReachesTheRunningProgramsView) {
    test::TempFolder dir;
    const auto file = dir.path / "kb.json";
    ASSERT_EQ(sim::WriteSimFile(file, TwoKeyboards()), SimFileError::None);
    Program window(file);
    ASSERT_EQ(window.hub.Count(), 1);
    ASSERT_TRUE(Read(file)[0].state.modules[0]);
    ASSERT_EQ(sim::EditSimFile(file,
                               [](std::vector<SimFileKeyboard>& k, std::string*) {
                                   k[0].state.modules[0]->hid[1] = 0x3E;  // F5
                                   return true;
                               }),
              SimFileError::None);
    ASSERT_TRUE(window.Until([&] { return window.hub.Session(0).GetKeySlot(0).hid[1] == 0x3E; }))
        << "the window's key table follows the file";

    // The keyboard has no report of its own for a colour: it must still reach the view
    // without waiting for a scan the user asks for.
    window.hub.Session(0).StartScanThread();
    ASSERT_TRUE(window.rec.WaitFor(UM_INFO_UPDATE_CHECK, 1)) << "the first scan settled";
    const uint32_t before = window.hub.Session(0).GetKeySlot(0).colour;
    const uint32_t green = before == 0x0000F000u ? 0x000000F0u : 0x0000F000u;
    ASSERT_EQ(sim::EditSimFile(file,
                               [&](std::vector<SimFileKeyboard>& k, std::string*) {
                                   k[0].state.modules[0]->colour = green;
                                   return true;
                               }),
              SimFileError::None);
    EXPECT_TRUE(window.Until([&] { return window.hub.Session(0).GetKeySlot(0).colour == green; }))
        << "a colour set by another program shows in the running program";
}

TEST(SimMerge, PressesRoundTripAndBadOnesAreRefused) {
    auto keyboards = TwoKeyboards();
    keyboards[0].presses = {{3, 5, 1}, {4, 6, 0}};
    const auto back = sim::ParseSimFile(sim::FormatSimFile(keyboards));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, keyboards);
    std::string error;
    for (const char* bad : {R"([{"presses": [{"seq": 2, "slot": 1}, {"seq": 2, "slot": 1}]}])",
                            R"([{"presses": [{"seq": 1, "slot": 90}]}])",
                            R"([{"presses": [{"seq": 1, "slot": 1, "layer": 4}]}])",
                            R"([{"presses": [{"slot": 1}]}])"}) {
        EXPECT_FALSE(sim::ParseSimFile(bad, &error)) << bad;
        EXPECT_NE(error.find("presses"), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace tavrik

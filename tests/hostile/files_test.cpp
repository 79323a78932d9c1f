// Input files that are not what they seem, outputs that cannot be written, and two
// programs on one simulated keyboard.
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "hostile.h"
#include "macro/marco_file.h"
#include "sim/sim_file.h"

namespace tavrik::hostile {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A sandbox with one simulated keyboard of 60 keys in its simulator file.
Sandbox WithKeyboard() {
    Sandbox box;
    const CtlRun init = box.Ctl({"sim", "init", box.SimFile().string()}, seconds(60), false);
    EXPECT_EQ(init.status, 0) << init.err;
    return box;
}

std::vector<sim::SimFileKeyboard> Keyboards(const Sandbox& box) {
    std::vector<sim::SimFileKeyboard> out;
    std::string error;
    EXPECT_EQ(sim::ReadSimFile(box.SimFile(), out, &error), sim::SimFileError::None) << error;
    return out;
}

TEST(HostileFiles, InputsThatAreNotRegularFilesAreRefusedAtOnce) {
    Sandbox box = WithKeyboard();
    ASSERT_EQ(::mkfifo((box / "in.fifo").c_str(), 0600), 0);
    const FileFacts fifo = Facts(box / "in.fifo");
    const FileFacts sim = Facts(box.SimFile());
    struct Case {
        std::vector<std::string> args;
        bool simulate;
        std::string named;
    };
    const std::vector<Case> cases = {
        {{"restore", "in.fifo"}, true, "in.fifo"},
        {{"restore", "/dev/zero"}, true, "/dev/zero"},
        {{"macro", "show", "in.fifo"}, false, "in.fifo"},
        {{"macro", "write", "0", "in.fifo"}, true, "in.fifo"},
        {{"firmware", "check", "in.fifo"}, false, "in.fifo"},
        {{"--simulate=in.fifo", "list"}, false, "in.fifo"},
    };
    for (const Case& c : cases) {
        const CtlRun r = box.Ctl(c.args, seconds(30), c.simulate);
        EXPECT_FALSE(r.timedOut) << c.args[0];
        EXPECT_EQ(r.status, 1) << c.args[0] << ": " << r.err;
        EXPECT_TRUE(Has(r.err, "'" + c.named + "' is not a regular file")) << r.err;
    }
    EXPECT_EQ(Facts(box / "in.fifo"), fifo);
    EXPECT_EQ(Facts(box.SimFile()), sim);

    // The settings file in the data folder is read before anything else.
    fs::create_directories(box / "home/data/Tavrik");
    ASSERT_EQ(::mkfifo((box / "home/data/Tavrik/ccsetup.ini").c_str(), 0600), 0);
    const CtlRun update =
        box.Ctl({"update", "check", "--server", "http://127.0.0.1:9/"}, seconds(60));
    EXPECT_FALSE(update.timedOut);
    EXPECT_EQ(Facts(box / "home/data/Tavrik/ccsetup.ini").type, unsigned(S_IFIFO));
}

TEST(HostileFiles, FilesLargerThanTheirKindAllowsAreRefusedNamingTheLimit) {
    Sandbox box = WithKeyboard();
    // Sparse: the size is what counts, not what is on the disk.
    for (const auto& [name, size] :
         {std::pair{"huge.json", 5u << 20}, {"huge-sim.json", 17u << 20}}) {
        box.WriteFile(name, "{");
        fs::resize_file(box / name, size);
    }
    CtlRun r = box.Ctl({"restore", "huge.json"}, seconds(60));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.err, "huge.json is not a valid backup: larger than 4 MiB")) << r.err;

    const FileFacts bigSim = Facts(box / "huge-sim.json");
    r = box.Ctl({"--simulate=huge-sim.json", "list"}, seconds(60), false);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.err, "'huge-sim.json' is larger than 4 MiB")) << r.err;
    EXPECT_EQ(Facts(box / "huge-sim.json"), bigSim);
}

TEST(HostileFiles, SimInitMakesNoFolderItWasNotAskedFor) {
    Sandbox box;
    CtlRun r = box.Ctl({"sim", "init", "nonexist/a.json"}, seconds(30), false);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "nonexist")) << r.err;
    EXPECT_FALSE(Facts(box / "nonexist").exists);
    // The data folder is ours to make.
    r = box.Ctl({"sim", "init"}, seconds(30), false);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Facts(box / "home/data/Tavrik").exists);
}

TEST(HostileFilesMacro, AMacroFileCutInsideItsListIsRefusedAndNothingIsWritten) {
    Sandbox box = WithKeyboard();
    CtlRun r = box.Ctl(
        {"macro", "make", "--mode", "Combination", "-o", "ctrl-c.tvm", "down:LCtrl", "down:C"},
        seconds(30), false);
    ASSERT_EQ(r.status, 0) << r.err;
    box.WriteFile("cut.tvm", box.ReadFile("ctrl-c.tvm").substr(0, 30));
    const FileFacts sim = Facts(box.SimFile());
    r = box.Ctl({"macro", "write", "0", "cut.tvm"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.err, "tavrikctl macro write: cut.tvm: the file holds no valid macro data"))
        << r.err;
    EXPECT_EQ(Facts(box.SimFile()), sim);
    r = box.Ctl({"macro", "show", "cut.tvm"}, seconds(30), false);
    EXPECT_EQ(r.status, 2);

    // The whole file, and one longer than a macro, still load.
    box.WriteFile("long.tvm", box.ReadFile("ctrl-c.tvm") + std::string(100, '\x07'));
    for (const char* name : {"ctrl-c.tvm", "long.tvm"}) {
        r = box.Ctl({"macro", "show", name}, seconds(30), false);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(Has(r.out, "Combination")) << r.out;
    }
}

TEST(HostileFilesSim, AChangeThatCannotBeSavedFailsTheCommand) {
    Sandbox box = WithKeyboard();
    fs::permissions(box.SimFile(), fs::perms::owner_read | fs::perms::group_read);
    const FileFacts before = Facts(box.SimFile());
    const CtlRun r = box.Ctl({"set-key", "0", "1", "B"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "could not be saved")) << r.err;
    EXPECT_TRUE(Has(r.err, "sim.json' is read-only")) << r.err;
    EXPECT_EQ(Facts(box.SimFile()), before);

    if (::geteuid() != 0) {  // root writes into any folder
        fs::permissions(box.SimFile(), fs::perms::owner_read | fs::perms::owner_write);
        fs::permissions(box.Dir(), fs::perms::owner_read | fs::perms::owner_exec);
        const FileFacts writable = Facts(box.SimFile());
        const CtlRun folder = box.Ctl({"set-key", "0", "1", "B"});
        fs::permissions(box.Dir(), fs::perms::owner_all);
        EXPECT_EQ(folder.status, 1);
        EXPECT_TRUE(Has(folder.err, "sim.json")) << folder.err;
        EXPECT_EQ(Facts(box.SimFile()), writable);
    }
}

TEST(HostileFilesSim, ALinkedSimulatorFileStaysALinkAndKeepsItsPermissions) {
    Sandbox box = WithKeyboard();
    fs::create_directories(box / "real");
    fs::rename(box.SimFile(), box / "real/sim.json");
    fs::permissions(box / "real/sim.json", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("real/sim.json", box.SimFile());
    const FileFacts link = Facts(box.SimFile());
    const std::string before = box.ReadFile("real/sim.json");

    const CtlRun r = box.Ctl({"set-key", "0", "1", "B"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Facts(box.SimFile()), link);
    const FileFacts real = Facts(box / "real/sim.json");
    EXPECT_EQ(real.mode, 0600u);
    EXPECT_NE(real.bytes, before);
    EXPECT_EQ(Keyboards(box).at(0).state.modules[0]->hid[1], 0x05);  // B
}

TEST(HostileFilesSim, TwoProgramsChangingOneKeyboardAtOnceLoseNothing) {
    Sandbox box = WithKeyboard();
    std::vector<int> slots;
    const auto initial = Keyboards(box).at(0).state;
    for (size_t s = 0; s < kKeySlots && slots.size() < 40; ++s) {
        // Keys with an assignment, so that they take a colour; none in its bootloader.
        const auto& m = initial.modules[s];
        if (m && m->stage == 'A' && m->hid[0] != 0) {
            slots.push_back(s);
        }
    }
    ASSERT_EQ(slots.size(), 40u);
    // Keys on layer 2 in one program, colours in the other, each on keys of its own.
    std::vector<CtlRun> keyRuns;
    std::vector<CtlRun> colourRuns;
    std::thread keys([&] {
        for (size_t i = 0; i < 20; ++i) {
            keyRuns.push_back(box.Ctl(
                {"set-key", std::to_string(slots[i]), "2", "F" + std::to_string(1 + i % 12)}));
        }
    });
    std::thread colours([&] {
        for (size_t i = 20; i < 40; ++i) {
            colourRuns.push_back(box.Ctl({"set-color", std::to_string(slots[i]),
                                          "#A0" + std::string(1, char('0' + i % 10)) + "0F0"}));
        }
    });
    keys.join();
    colours.join();
    for (const auto* runs : {&keyRuns, &colourRuns}) {
        for (const CtlRun& r : *runs) {
            EXPECT_EQ(r.status, 0) << r.err;
        }
    }
    const auto state = Keyboards(box).at(0).state;
    for (size_t i = 0; i < 20; ++i) {
        // F1..F12 are HID 0x3A..0x45.
        EXPECT_EQ(state.modules[size_t(slots[i])]->hid[2], 0x3A + i % 12) << "slot " << slots[i];
    }
    for (size_t i = 20; i < 40; ++i) {
        // 0x00BBGGRR with four bits per channel kept.
        const uint32_t green = uint32_t(i % 10) << 12;
        EXPECT_EQ(state.modules[size_t(slots[i])]->colour, 0xF000A0u | green)
            << "slot " << slots[i];
    }
}

// Two processes on one key module: different fields both stay, and where both change the
// same field one of the two values is in the file, whole.
TEST(HostileFilesSim, TwoProgramsChangingOneKeyModuleMergeFieldByField) {
    Sandbox box = WithKeyboard();
    std::vector<std::string> keys;  // two keys that take a colour
    const auto initial = Keyboards(box).at(0).state;
    for (size_t s = 0; s < kKeySlots && keys.size() < 2; ++s) {
        const auto& m = initial.modules[s];
        if (m && m->stage == 'A' && m->hid[0] != 0) {
            keys.push_back(std::to_string(s));
        }
    }
    ASSERT_EQ(keys.size(), 2u);
    const size_t first = std::stoul(keys[0]);
    const size_t second = std::stoul(keys[1]);
    const int rounds = 8;
    for (int r = 0; r < rounds; ++r) {
        const std::string key = "F" + std::to_string(1 + r % 12);
        const std::string colour = "#" + std::string(1, char('1' + r % 9)) + "0A0F0";
        CtlRun keyRun;
        CtlRun colourRun;
        std::thread a([&] { keyRun = box.Ctl({"set-key", keys[0], "1", key}); });
        std::thread b([&] { colourRun = box.Ctl({"set-color", keys[0], colour}); });
        a.join();
        b.join();
        ASSERT_EQ(keyRun.status, 0) << keyRun.err;
        ASSERT_EQ(colourRun.status, 0) << colourRun.err;
        const auto m = Keyboards(box).at(0).state.modules[first];
        ASSERT_TRUE(m);
        EXPECT_EQ(m->hid[1], 0x3A + r % 12) << "round " << r << ": the key was lost";
        // 0x00BBGGRR, four bits per channel kept.
        EXPECT_EQ(m->colour, 0xF0A000u | uint32_t(1 + r % 9) << 4)
            << "round " << r << ": the colour was lost";
    }
    for (int r = 0; r < rounds; ++r) {
        CtlRun red;
        CtlRun blue;
        std::thread a([&] { red = box.Ctl({"set-color", keys[1], "red"}); });
        std::thread b([&] { blue = box.Ctl({"set-color", keys[1], "blue"}); });
        a.join();
        b.join();
        ASSERT_EQ(red.status, 0) << red.err;
        ASSERT_EQ(blue.status, 0) << blue.err;
        const uint32_t c = Keyboards(box).at(0).state.modules[second]->colour;
        EXPECT_TRUE(c == 0x0000F0u || c == 0xF00000u) << std::hex << c;
        ASSERT_EQ(box.Ctl({"set-color", keys[1], "white"}).status, 0);
    }
}

// A link to the simulator file and its real name are one file: one lock (beside the
// target), so inserts through both at once all stay.
TEST(HostileFilesSim, ALinkAndTheRealNameShareOneLock) {
    Sandbox box = WithKeyboard();
    fs::create_symlink("sim.json", box / "link.json");
    std::vector<size_t> free;
    const auto initial = Keyboards(box).at(0).state;
    for (size_t s = 0; s < kKeySlots; ++s) {
        if (!initial.modules[s]) {
            free.push_back(s);
        }
    }
    ASSERT_GE(free.size(), 20u);
    std::vector<std::thread> runs;
    std::vector<CtlRun> results(free.size());
    for (size_t i = 0; i < free.size(); ++i) {
        runs.emplace_back([&, i] {
            const std::string file = (box / (i % 2 ? "link.json" : "sim.json")).string();
            results[i] =
                box.Ctl({"--simulate=" + file, "sim", "insert", "0", std::to_string(free[i])},
                        seconds(60), false);
        });
    }
    for (auto& t : runs) {
        t.join();
    }
    // Every wait for the lock has a limit: on a loaded machine a few of these may reach it.
    // They must say so and change nothing; every insert that was reported done is there.
    const auto state = Keyboards(box).at(0).state;
    std::array<int, 2> done{};
    for (size_t i = 0; i < free.size(); ++i) {
        const CtlRun& r = results[i];
        if (r.status == 0) {
            ++done[i % 2];
            EXPECT_TRUE(state.modules[free[i]]) << "slot " << free[i] << " was lost";
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.err.find("held by another program for too long"), std::string::npos)
                << r.err;
            EXPECT_FALSE(state.modules[free[i]]) << "slot " << free[i] << ": failed, yet written";
        }
    }
    EXPECT_GT(done[0], 0) << "none through the real name";
    EXPECT_GT(done[1], 0) << "none through the link";
    EXPECT_TRUE(fs::is_symlink(box / "link.json"));
    EXPECT_FALSE(Facts(box / "link.json.lock").exists);

    // Editing a file that is not there makes no lock file for it.
    const CtlRun missing =
        box.Ctl({"--simulate=missing.json", "sim", "press", "0", "0"}, seconds(30), false);
    EXPECT_NE(missing.status, 0);
    EXPECT_FALSE(Facts(box / "missing.json.lock").exists);
    EXPECT_FALSE(Facts(box / "missing.json").exists);
}

TEST(HostileFilesSim, APressNumberThatWouldWrapIsRefusedAndTheFileStaysReadable) {
    Sandbox box = WithKeyboard();
    size_t slot = 0;
    ASSERT_EQ(sim::EditSimFile(box.SimFile(),
                               [&](std::vector<sim::SimFileKeyboard>& k, std::string*) {
                                   while (!k[0].state.modules[slot]) {
                                       ++slot;
                                   }
                                   k[0].presses = {{UINT32_MAX, uint8_t(slot), 0}};
                                   return true;
                               }),
              sim::SimFileError::None);
    const FileFacts before = Facts(box.SimFile());
    const CtlRun r = box.Ctl({"sim", "press", "0", std::to_string(slot)});
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(Has(r.err, "press numbers are used up")) << r.err;
    EXPECT_EQ(Facts(box.SimFile()), before);
    EXPECT_EQ(box.Ctl({"sim", "show"}).status, 0);
}

}  // namespace
}  // namespace tavrik::hostile

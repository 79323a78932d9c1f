// Input files that are not what they seem, outputs that cannot be written, and two
// programs on one simulated keyboard.
#include <sys/stat.h>
#include <unistd.h>

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
    EXPECT_TRUE(Has(r.err, "'huge-sim.json' is larger than 16 MiB")) << r.err;
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

}  // namespace
}  // namespace tavrik::hostile

// tavrikctl sim plug/unplug/insert/remove/press/show on the simulator file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli_test_util.h"
#include "keyboard_rig.h"
#include "sim/sim_file.h"

namespace tavrik {
namespace {

using testing::RunCtl;

class CliSim : public ::testing::Test {
protected:
    test::TempFolder dir;
    std::string file = (dir.path / "sim.json").string();
    void SetUp() override {
        const auto r = RunCtl({"sim", "init", file, "--keys", "5", "--row", "1"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    testing::CliResult Sim(std::vector<std::string> args) {
        args.insert(args.begin(), "--simulate=" + file);
        return RunCtl(args);
    }
    std::vector<sim::SimFileKeyboard> Keyboards() {
        std::vector<sim::SimFileKeyboard> out;
        EXPECT_EQ(sim::ReadSimFile(file, out), sim::SimFileError::None);
        return out;
    }
    std::string Text() {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

// `--simulate=FILE sim init` makes the FILE that the next `--simulate=FILE scan` reads.
TEST_F(CliSim, InitWithoutFileWritesTheSimulateFile) {
    const std::string other = (dir.path / "other.json").string();
    auto r = RunCtl({"--simulate=" + other, "sim", "init", "--keys", "7"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(other), std::string::npos) << r.out;
    r = RunCtl({"--simulate=" + other, "scan", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
}

TEST_F(CliSim, PlugUnplugAndShow) {
    auto r = Sim({"sim", "plug", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "new keyboard 2 with 60 key modules plugged in\n");
    r = Sim({"sim", "unplug", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "keyboard 0 unplugged\n");
    EXPECT_EQ(Sim({"sim", "unplug", "0"}).out, "keyboard 0 was unplugged already\n");

    r = Sim({"sim", "show", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto list = nlohmann::json::parse(r.out);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["index"], 0);
    EXPECT_EQ(list[0]["attached"], false);
    EXPECT_EQ(list[0]["kind"], 2);
    EXPECT_EQ(list[0]["modules"], 5);
    EXPECT_EQ(list[0]["firmware"], "1.40");
    EXPECT_EQ(list[1]["index"], 2);
    EXPECT_EQ(list[1]["attached"], true);
    EXPECT_EQ(list[1]["serial"], "SIM00000003");

    r = Sim({"sim", "show"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("keyboard 0: unplugged, kind 2, controller A V1.40, 5 key modules"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("keyboard 2: plugged in"), std::string::npos) << r.out;

    // A program started now finds only the plugged-in keyboard.
    r = Sim({"list", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out).size(), 1u);
}

TEST_F(CliSim, InsertRemoveAndPressChangeTheFile) {
    auto r = Sim({"sim", "insert", "0", "40"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto k = Keyboards().at(0);
    ASSERT_TRUE(k.state.modules[40]);
    const auto& m = *k.state.modules[40];
    EXPECT_NE(m.uid, 0u);
    EXPECT_EQ(m.hid, (std::array<uint8_t, 4>{0, 0, 0, 0})) << "waiting for an assignment";
    for (int s = 0; s < 40; ++s) {
        if (const auto& other = k.state.modules[static_cast<size_t>(s)]) {
            EXPECT_NE(other->uid, m.uid);
            EXPECT_NE(other->shortMac, m.shortMac);
        }
    }
    EXPECT_NE(r.out.find("inserted at slot 40"), std::string::npos);

    ASSERT_EQ(Sim({"sim", "press", "0", "40", "--layer", "2"}).status, 0);
    ASSERT_EQ(Sim({"sim", "press", "0", "1"}).status, 0);
    k = Keyboards().at(0);
    ASSERT_EQ(k.presses.size(), 2u);
    EXPECT_EQ(k.presses[0], (sim::SimKeyPress{1, 40, 2}));
    EXPECT_EQ(k.presses[1], (sim::SimKeyPress{2, 1, 0}));
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(Sim({"sim", "press", "0", "1"}).status, 0);
    }
    k = Keyboards().at(0);
    EXPECT_EQ(k.presses.size(), sim::kSimMaxPresses) << "old presses make way";
    EXPECT_EQ(k.presses.back().seq, 22u);

    r = Sim({"sim", "remove", "0", "40"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(Keyboards().at(0).state.modules[40]);
}

TEST_F(CliSim, RefusalsLeaveTheFileAlone) {
    const std::string before = Text();
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    for (const auto& c : std::vector<Case>{
             {{"sim", "insert", "0", "0"}, 1, "has a module at slot 0 already"},
             {{"sim", "remove", "0", "80"}, 1, "has no module at slot 80"},
             {{"sim", "press", "0", "80"}, 1, "has no module at slot 80"},
             {{"sim", "press", "1", "0"}, 1, "keyboard 1 is not plugged in"},
             {{"sim", "unplug", "3"}, 1, "there is no keyboard 3"},
             {{"sim", "insert", "0", "90"}, 64, "SLOT (0..89)"},
             {{"sim", "plug", "4"}, 64, "keyboard 0..3"},
             {{"sim", "plug"}, 64, "expected N"},
             {{"sim", "press", "0", "1", "--layer", "4"}, 64, "--layer takes 0..3"},
         }) {
        const auto r = Sim(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[1];
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    EXPECT_EQ(Text(), before);

    // A missing or broken file is said so, never made up.
    auto r = RunCtl({"--simulate=" + (dir.path / "none.json").string(), "sim", "plug", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("sim init"), std::string::npos) << r.err;
    std::ofstream(file) << "[{\"row\": 7}]";
    r = Sim({"sim", "show"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("row"), std::string::npos) << r.err;
}

TEST_F(CliSim, EveryCommandHasHelp) {
    for (const char* cmd : {"plug", "unplug", "insert", "remove", "press", "show"}) {
        const auto r = RunCtl({"sim", cmd, "--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(std::string("usage: tavrikctl sim ") + cmd, 0), 0u) << r.out;
    }
    EXPECT_NE(RunCtl({"sim", "--help"}).out.find("sim press"), std::string::npos);
}

}  // namespace
}  // namespace tavrik

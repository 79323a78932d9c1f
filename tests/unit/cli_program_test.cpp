// Changing a simulated keyboard from the command line, checked by the next scan (a fresh
// process each time, as a user would run it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "cli_test_util.h"

namespace tavrik {
namespace {

using testing::RunCtl;

class CliDeviceProgram : public ::testing::Test {
protected:
    std::filesystem::path dir =
        std::filesystem::path(::testing::TempDir()) /
        ("cli_program_" +
         std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::string file = (dir / "sim.json").string();
    std::string sim = "--simulate=" + file;

    void SetUp() override {
        setenv("TAVRIK_SIM_PAUSE_SCALE", "0.05", 1);  // the 1.8 s mode settling and such
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        ASSERT_EQ(RunCtl({"sim", "init", file, "--keys", "10", "--version", "1.60"}).status, 0);
    }
    nlohmann::json Slot(int slot) {
        const auto r = RunCtl({sim, "scan", "--json"});
        EXPECT_EQ(r.status, 0) << r.err;
        const auto scan = nlohmann::json::parse(r.out);
        for (const auto& s : scan["slots"]) {
            if (s["slot"] == slot) {
                return s;
            }
        }
        ADD_FAILURE() << "no slot " << slot << " in " << r.out;
        return nullptr;
    }
    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), sim);
        const auto r = RunCtl(args);
        last = r.err;
        return r.status;
    }
    std::string last;
};

TEST_F(CliDeviceProgram, AMacroKeySurvivesTheRewriteOfItsOtherLayersAndColour) {
    const std::string m1 = (dir / "m1.tvm").string();
    const std::string m2 = (dir / "m2.tvm").string();
    ASSERT_EQ(RunCtl({"macro", "make", "--mode", "AutoLoop", "-o", m1, "tap:A", "tap:B"}).status,
              0);
    ASSERT_EQ(Run({"macro", "write", "2", m1, "--layer", "3"}), 0) << last;
    ASSERT_EQ(Run({"set-key", "2", "1", "F5"}), 0) << last;
    ASSERT_EQ(Run({"set-color", "2", "#10FF80"}), 0) << last;
    // A second macro layer on the same key is refused.
    EXPECT_EQ(Run({"macro", "write", "2", m1, "--layer", "0"}), 1);
    EXPECT_NE(last.find("slot 2: the key already plays a macro on another layer"),
              std::string::npos);

    ASSERT_EQ(Run({"macro", "read", "2", "-o", m2}), 0) << last;
    const auto shown = RunCtl({"macro", "show", m2, "--json"});
    const auto macro = nlohmann::json::parse(shown.out);
    EXPECT_EQ(macro["mode"], "AutoLoop");
    EXPECT_EQ(macro["steps"].size(), 4u);

    const auto s = Slot(2);
    EXPECT_EQ(s["names"][1], "F5");
    EXPECT_EQ(s["names"][3], "Marco");
    EXPECT_EQ(s["color"], "#10F080");
}

TEST_F(CliDeviceProgram, KeysColoursAndModesShowUpInTheNextScan) {
    ASSERT_EQ(Run({"set-key", "4", "0", "LT2"}), 0) << last;
    ASSERT_EQ(Run({"set-key", "4", "2", "0x70"}), 0) << last;  // F1 by key code
    ASSERT_EQ(Run({"set-color", "4", "cyan"}), 0) << last;
    auto s = Slot(4);
    EXPECT_EQ(s["names"][0], "LT2");
    EXPECT_EQ(s["names"][2], "F1");
    EXPECT_EQ(s["color"], "#00F0F0");
    EXPECT_EQ(s["flag"].get<int>() & 0x05, 0x05);  // layer key on 0, layer 2's bit

    ASSERT_EQ(Run({"mode", "nkro", "on"}), 0) << last;
    ASSERT_EQ(Run({"mode", "rate", "8"}), 0) << last;
    ASSERT_EQ(Run({"mode", "overload", "on", "--count", "70"}), 0) << last;
    const auto list = RunCtl({sim, "list", "--json"});
    EXPECT_EQ(list.status, 0);

    // Media keys by the names `keys` lists; `scan` names them too.
    ASSERT_EQ(Run({"set-key", "3", "2", "Vol+"}), 0) << last;
    ASSERT_EQ(Run({"set-key", "3", "0", "Play"}), 0) << last;
    s = Slot(3);
    EXPECT_EQ(s["names"][2], "Vol+");
    EXPECT_EQ(s["names"][0], "Play");

    EXPECT_EQ(Run({"set-key", "4", "1", "NoSuchKey"}), 64);
    EXPECT_EQ(Run({"set-key", "4", "1", "K/LT1"}), 64);  // layer 0 only
    EXPECT_EQ(Run({"set-key", "95", "0", "A"}), 64);
    EXPECT_EQ(Run({"set-color", "4", "#12345"}), 64);
    EXPECT_EQ(Run({"mode", "rate", "6"}), 64);
    EXPECT_EQ(Run({"mode", "overload", "on", "--count", "41"}), 64);
    EXPECT_EQ(Run({"set-key", "40", "0", "A"}), 1);  // no module there
    EXPECT_NE(last.find("slot 40: there is no key module in the slot"), std::string::npos);
}

}  // namespace
}  // namespace tavrik

// tavrikctl against simulated keyboards kept in a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "cli_test_util.h"

namespace tavrik {
namespace {

using testing::RunCtl;

class CliDevice : public ::testing::Test {
protected:
    // One folder per test: ctest runs the tests of this file side by side.
    std::filesystem::path dir =
        std::filesystem::path(::testing::TempDir()) /
        ("cli_device_" +
         std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::string file = (dir / "sim.json").string();
    void SetUp() override {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    std::string Sim() const { return "--simulate=" + file; }
};

TEST_F(CliDevice, ListAndScanShowTheSimulatedKeyboard) {
    auto r = RunCtl({"sim", "init", file, "--keys", "12", "--row", "1", "--version", "1.60"});
    ASSERT_EQ(r.status, 0) << r.err;

    r = RunCtl({Sim(), "list", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto list = nlohmann::json::parse(r.out);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["slot"], 0);
    EXPECT_EQ(list[0]["vid"], "0xBCD0");
    EXPECT_EQ(list[0]["version"], "0xCC01");
    EXPECT_EQ(list[0]["kind"], 2);
    EXPECT_EQ(list[0]["stage"], "A");
    EXPECT_EQ(list[0]["firmware"], "1.60");

    r = RunCtl({"scan", "--json", Sim()});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto scan = nlohmann::json::parse(r.out);
    EXPECT_EQ(scan["device"], 0);
    EXPECT_EQ(scan["kind"], 2);
    EXPECT_EQ(scan["controller"]["firmware"], "1.60");
    const auto& counts = scan["counts"];
    EXPECT_EQ(counts["total"], 12);
    EXPECT_EQ(counts["total"].get<int>(), counts["assigned"].get<int>() +
                                              counts["bootloader"].get<int>() +
                                              counts["unassigned"].get<int>());
    EXPECT_EQ(counts["bootloader"], 1);
    EXPECT_EQ(scan["keyVersionRange"]["min"], "0.0");  // the bootloader module
    ASSERT_EQ(scan["slots"].size(), 12u);
    const auto& s0 = scan["slots"][0];
    EXPECT_EQ(s0["slot"], 0);
    EXPECT_EQ(s0["uid"].get<std::string>().size(), 10u);
    EXPECT_EQ(s0["codes"].size(), 4u);
    EXPECT_EQ(s0["names"][0], "A");
    EXPECT_EQ(s0["hid"][0], 4);
    EXPECT_EQ(s0["codes"][0], 'A');
}

// Both outputs of a scan tell the same facts: every row of the JSON is a line of the text.
TEST_F(CliDevice, TheScansTextAndJsonAgree) {
    ASSERT_EQ(RunCtl({"sim", "init", file, "--keys", "15", "--seed", "4"}).status, 0);
    const auto json = RunCtl({Sim(), "scan", "--json"});
    const auto text = RunCtl({Sim(), "scan"});
    ASSERT_EQ(json.status, 0) << json.err;
    ASSERT_EQ(text.status, 0) << text.err;
    const auto scan = nlohmann::json::parse(json.out);
    const auto& c = scan["counts"];
    EXPECT_NE(text.out.find("Keyboard 0: kind " + std::to_string(scan["kind"].get<int>()) +
                            ", controller stage A V" +
                            scan["controller"]["firmware"].get<std::string>() + "\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("Keys: " + std::to_string(c["total"].get<int>()) + " in all, " +
                            std::to_string(c["assigned"].get<int>()) + " assigned, " +
                            std::to_string(c["bootloader"].get<int>()) + " in bootloader, " +
                            std::to_string(c["unassigned"].get<int>()) + " unassigned\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("Key firmware: V" + scan["keyVersionRange"]["min"].get<std::string>() +
                            " to V" + scan["keyVersionRange"]["max"].get<std::string>()),
              std::string::npos)
        << text.out;
    ASSERT_EQ(scan["slots"].size(), 15u);
    for (const auto& s : scan["slots"]) {
        const std::string layers =
            s["names"][0].get<std::string>() + " | " + s["names"][1].get<std::string>() + " | " +
            s["names"][2].get<std::string>() + " | " + s["names"][3].get<std::string>() + "\n";
        const auto at = text.out.find(s["uid"].get<std::string>());
        ASSERT_NE(at, std::string::npos) << s;
        const std::string line = text.out.substr(at, text.out.find('\n', at) + 1 - at);
        EXPECT_NE(line.find(s["color"].get<std::string>()), std::string::npos) << line;
        EXPECT_NE(line.find("V" + s["firmware"].get<std::string>()), std::string::npos) << line;
        EXPECT_EQ(line.substr(line.size() - layers.size()), layers) << line;
    }
}

TEST_F(CliDevice, EveryKindAndSizeScansTruthfully) {
    for (int row = 0; row < 4; ++row) {
        for (int keys : {0, 45, 90}) {
            ASSERT_EQ(RunCtl({"sim", "init", file, "--keys", std::to_string(keys), "--row",
                              std::to_string(row)})
                          .status,
                      0);
            const auto r = RunCtl({Sim(), "scan", "--json"});
            ASSERT_EQ(r.status, 0) << r.err;
            const auto scan = nlohmann::json::parse(r.out);
            EXPECT_EQ(scan["kind"], row + 1) << row << "/" << keys;
            EXPECT_EQ(scan["counts"]["total"], keys) << row << "/" << keys;
            EXPECT_EQ(scan["slots"].size(), static_cast<size_t>(keys));
            if (keys == 0) {
                EXPECT_TRUE(scan["keyVersionRange"].is_null());
            }
        }
    }
}

TEST_F(CliDevice, ClearErrors) {
    ASSERT_EQ(RunCtl({"sim", "init", file, "--keys", "3"}).status, 0);
    auto r = RunCtl({Sim(), "--device", "2", "scan"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no keyboard 2"), std::string::npos) << r.err;

    std::ofstream(dir / "broken.json") << "{ not json";
    r = RunCtl({"--simulate=" + (dir / "broken.json").string(), "list"});
    EXPECT_EQ(r.status, 2);  // bad input data, as any other file that is not what it says
    EXPECT_NE(r.err.find("cannot load the simulator file"), std::string::npos);

    EXPECT_EQ(RunCtl({"--device", "7", "list"}).status, 64);
    EXPECT_EQ(RunCtl({"--simulate=", "list"}).status, 64);
    EXPECT_EQ(RunCtl({"sim", "init", file, "--keys", "91"}).status, 64);
    EXPECT_EQ(RunCtl({"sim", "init", file, "--version", "1"}).status, 64);

    // A controller that never answers its version query.
    ASSERT_EQ(RunCtl({"sim", "init", file, "--keys", "3"}).status, 0);
    auto j = nlohmann::json::parse(std::ifstream(file));
    j["keyboards"][0]["faults"]["silentCodes"] = {0x30};
    std::ofstream(file) << j.dump();
    r = RunCtl({Sim(), "scan"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("does not answer"), std::string::npos) << r.err;
    r = RunCtl({Sim(), "list", "--json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(nlohmann::json::parse(r.out)[0]["firmware"].is_null());
}

}  // namespace
}  // namespace tavrik

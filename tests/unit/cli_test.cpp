#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "cli_test_util.h"
#include "protocol/fwimage.h"

namespace tavrik {
namespace {

using testing::RunCtl;

TEST(Cli, HelpAndUsageErrors) {
    auto r = RunCtl({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("firmware check"), std::string::npos);

    r = RunCtl({});
    EXPECT_EQ(r.status, 64);
    EXPECT_TRUE(r.out.empty());

    r = RunCtl({"frobnicate"});
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("unknown command"), std::string::npos);

    r = RunCtl({"firmware", "check", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--buffer-out"), std::string::npos);
    EXPECT_EQ(RunCtl({"help", "firmware", "check"}).out, r.out);

    r = RunCtl({"firmware", "check", "a.bin", "--bogus"});
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("unknown option --bogus"), std::string::npos);

    r = RunCtl({"firmware", "check", "a.bin", "--buffer-out"});
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("needs a value"), std::string::npos);

    EXPECT_EQ(RunCtl({"firmware"}).status, 64);
    EXPECT_EQ(RunCtl({"firmware", "--help"}).status, 0);
}

// Scripts match these lines: each command keeps its own words for a wrong number of
// arguments, says them before touching a keyboard or a file, and exits 64.
TEST(Cli, AWrongArgumentCountIsRefusedInEachCommandsWords) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    for (const auto& c : std::vector<Case>{
             {{"keys", "x"}, "tavrikctl keys: unexpected argument 'x'"},
             {{"list", "x", "y"}, "tavrikctl list: unexpected argument 'x'"},
             {{"scan", "x"}, "tavrikctl scan: unexpected argument 'x'"},
             {{"macro", "show"}, "tavrikctl macro show: expected one FILE"},
             {{"macro", "show", "a", "b"}, "tavrikctl macro show: expected one FILE"},
             {{"macro", "make", "--mode", "SingleShot", "-o", "never.tvm"},
              "tavrikctl macro make: no steps given. Nothing was written."},
             {{"macro", "read", "-o", "never.tvm"}, "tavrikctl macro read: expected SLOT -o FILE"},
             {{"macro", "read", "1"}, "tavrikctl macro read: expected SLOT -o FILE"},
             {{"macro", "write", "1"}, "tavrikctl macro write: expected SLOT FILE"},
             {{"macro", "write", "1", "a", "b"}, "tavrikctl macro write: expected SLOT FILE"},
             {{"firmware", "check"}, "tavrikctl firmware check: expected one FILE"},
             {{"backup"}, "tavrikctl backup: expected FILE"},
             {{"restore", "a", "b"}, "tavrikctl restore: expected FILE"},
             {{"set-key", "1", "2"}, "tavrikctl set-key: expected SLOT LAYER KEY"},
             {{"set-color", "1"}, "tavrikctl set-color: expected SLOT|all COLOR"},
             {{"mode", "nkro"},
              "tavrikctl mode: expected nkro on|off, overload on|off [--count N] or rate MS"},
             {{"mode", "turbo", "on"},
              "tavrikctl mode: expected nkro on|off, overload on|off [--count N] or rate MS"},
             {{"upgrade", "keys"}, "tavrikctl upgrade: expected controller|keys FILE"},
             {{"upgrade", "boot", "f.bin", "--yes"},
              "tavrikctl upgrade: expected controller|keys FILE"},
             {{"sim", "init", "a", "b"}, "tavrikctl sim init: expected at most one FILE"},
             {{"sim", "plug"}, "tavrikctl sim plug: expected N (keyboard 0..3)"},
             {{"sim", "unplug", "0", "1"}, "tavrikctl sim unplug: expected N (keyboard 0..3)"},
             {{"sim", "insert", "0"},
              "tavrikctl sim insert: expected N (keyboard 0..3) and SLOT (0..89)"},
             {{"sim", "remove", "0", "1", "2"},
              "tavrikctl sim remove: expected N (keyboard 0..3) and SLOT (0..89)"},
             {{"sim", "press"}, "tavrikctl sim press: expected N (keyboard 0..3) and SLOT (0..89)"},
             {{"sim", "show", "x"}, "tavrikctl sim show: takes no arguments"},
         }) {
        std::vector<std::string> args = {"--simulate=/nonexistent/tavrik-sim.json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = RunCtl(args);
        EXPECT_EQ(r.status, 64) << c.says;
        EXPECT_EQ(r.err, std::string(c.says) + "\n");
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    EXPECT_FALSE(std::filesystem::exists("never.tvm"));
}

TEST(Cli, KeysJsonListsBothTables) {
    const auto r = RunCtl({"keys", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["codes"].size(), 256u);
    ASSERT_EQ(j["hids"].size(), 256u);
    EXPECT_EQ(j["codes"][0x41]["hid"], 0x04);
    EXPECT_EQ(j["hids"][0x87]["code"], 0x92);
    EXPECT_EQ(j["hids"][0xE1]["name"], "L Shift");
    EXPECT_EQ(j["hids"][0x34]["name"], "'\"");

    EXPECT_EQ(RunCtl({"keys", "extra"}).status, 64);
}

class CliFirmware : public ::testing::Test {
protected:
    std::filesystem::path dir =
        std::filesystem::path(::testing::TempDir()) /
        ("cli_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    void SetUp() override {
        setenv("LC_ALL", "C", 1);  // the English texts
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    std::string Write(const std::string& name, size_t size, uint8_t fill) {
        const auto p = dir / name;
        std::ofstream(p, std::ios::binary) << std::string(size, static_cast<char>(fill));
        return p.string();
    }
};

TEST_F(CliFirmware, ReportsResultsAndErrors) {
    // All zero bytes descramble to a repeating 1,2,4,...,128 pattern: the controller sum
    // fails, so the check says -1 and the exit status says the data is refused.
    const auto zero = Write("zero.bin", kFwBufferSize, 0);
    auto r = RunCtl({"firmware", "check", zero, "--json"});
    EXPECT_EQ(r.status, 2);
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["result"], -1);
    EXPECT_EQ(j["accepted"], false);
    EXPECT_EQ(j["check"], "single");

    const auto out = (dir / "buffer.bin").string();
    r = RunCtl({"firmware", "check", zero, "--dual", "--buffer-out", out});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("dual-image check: -1"), std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(out), kFwBufferSize);

    r = RunCtl({"firmware", "check", Write("big.bin", kFwBufferSize + 1, 0)});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("larger than 147456"), std::string::npos);
    EXPECT_TRUE(r.out.empty());

    r = RunCtl({"firmware", "check", (dir / "missing.bin").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.bin' does not exist"), std::string::npos) << r.err;

    // The padded buffer never replaces the file it came from, under whatever name.
    const auto small = Write("small.bin", 1000, 0);
    std::filesystem::remove(dir / "small-link");
    std::filesystem::remove(dir / "small-hard");
    std::filesystem::create_symlink(small, dir / "small-link");
    std::filesystem::create_hard_link(small, dir / "small-hard");
    for (const char* other : {"small.bin", "small-link", "small-hard"}) {
        r = RunCtl({"firmware", "check", small, "--buffer-out", (dir / other).string()});
        EXPECT_EQ(r.status, 64) << other;
        EXPECT_NE(r.err.find("is the firmware file being checked"), std::string::npos) << r.err;
    }
    EXPECT_EQ(std::filesystem::file_size(small), 1000u);

    EXPECT_EQ(RunCtl({"firmware", "check"}).status, 64);
}

class CliMacro : public CliFirmware {};

TEST_F(CliMacro, MakeThenShowGivesBackModeAndSteps) {
    const auto file = (dir / "m.tvm").string();
    struct Case {
        std::vector<std::string> make;
        std::string mode;
        std::vector<std::array<int, 3>> steps;  // flag, kv, delay as shown
    };
    const Case cases[] = {
        {{"SingleShot", "loop:3", "tap:A", "endloop:20"},
         "SingleShot",
         {{5, 3, 10}, {1, 4, 10}, {2, 4, 10}, {6, 3, 20}}},
        {{"DualSec", "down:A", "switch", "up:A:500"},
         "DualSec",
         {{1, 4, 10}, {4, 0, 10}, {2, 4, 500}}},
        {{"ManualLoop", "tap:B"}, "ManualLoop", {{1, 5, 10}, {2, 5, 10}}},
        {{"AutoLoop", "down:0x04:30", "up:a"}, "AutoLoop", {{1, 4, 30}, {2, 4, 10}}},
        // Combination keeps only the key-downs and adds the releases in reverse order.
        {{"combination", "down:LCtrl:99", "down:C", "up:C"},
         "Combination",
         {{1, 0xE0, 10}, {1, 6, 10}, {2, 6, 10}, {2, 0xE0, 10}}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"macro", "make", "-o", file, "--mode"};
        args.insert(args.end(), c.make.begin(), c.make.end());
        const auto made = RunCtl(args);
        ASSERT_EQ(made.status, 0) << c.mode << ": " << made.err;
        const auto shown = RunCtl({"macro", "show", file, "--json"});
        ASSERT_EQ(shown.status, 0) << shown.err;
        const auto j = nlohmann::json::parse(shown.out);
        EXPECT_EQ(j["mode"], c.mode);
        EXPECT_EQ(j["switchPresent"], c.mode == "DualSec");
        ASSERT_EQ(j["steps"].size(), c.steps.size()) << c.mode;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            EXPECT_EQ(j["steps"][i]["flag"], c.steps[i][0]) << c.mode << " step " << i;
            EXPECT_EQ(j["steps"][i]["kv"], c.steps[i][1]) << c.mode << " step " << i;
            EXPECT_EQ(j["steps"][i]["delay"], c.steps[i][2]) << c.mode << " step " << i;
        }
    }
}

TEST_F(CliMacro, ShowsAHandMadeFileAsTheEditorWould) {
    std::string bytes = {0x43, 0x41, 0x4D, 0x43, 1, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0,
                         1,    0,    0,    0,    1, 4, 10, 0, 2, 4, 10, 0, 1, 5, 10, 0};
    bytes.resize(280, '\0');
    const auto file = dir / "hand.macro";
    std::ofstream(file, std::ios::binary) << bytes;
    const auto r = RunCtl({"macro", "show", file.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Mode: SingleShot, 3 steps\n\u2193  A \n    Delay 10 ms\n\u2191  A\n    Delay 10 ms\n"
              "\u2193  B \n    Delay 10 ms\n");
    EXPECT_EQ(RunCtl({"macro", "show", file.string(), "--limit", "2", "--json"}).out,
              RunCtl({"macro", "show", file.string(), "--limit=2", "--json"}).out);

    bytes[4] = 2;  // version 2
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    const auto bad = RunCtl({"macro", "show", file.string()});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(bad.out.empty());
    EXPECT_EQ(bad.err, "tavrikctl macro show: " + file.string() +
                           ": the file holds no valid macro data; it may be the wrong file, or "
                           "damaged\n");

    std::ofstream(file, std::ios::binary | std::ios::trunc);  // empty file
    EXPECT_EQ(RunCtl({"macro", "show", file.string()}).status, 2);
    EXPECT_EQ(RunCtl({"macro", "show", (dir / "none.tvm").string()}).status, 1);
    EXPECT_EQ(RunCtl({"macro", "show", file.string(), "--limit", "65"}).status, 64);
}

TEST_F(CliMacro, RefusedStepListsWriteNothing) {
    const auto file = dir / "refused.tvm";
    const std::vector<std::vector<std::string>> refused = {
        {"--mode", "DualSec", "tap:A"},               // no switch
        {"--mode", "SingleShot", "loop:3", "tap:A"},  // loop not closed
        {"--mode", "SingleShot", "loop:3", "endloop"},
        {"--mode", "SingleShot", "loop:1", "tap:A", "endloop"},
        {"--mode", "SingleShot", "down:NoSuchKey"},
        {"--mode", "SingleShot", "down:A:70000"},
        {"--mode", "SingleShot", "jump:3"},
    };
    for (auto args : refused) {
        args.insert(args.begin(), {"macro", "make", "-o", file.string()});
        const auto r = RunCtl(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_NE(r.err.find("Nothing was written"), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(file)) << args.back();
    }
    EXPECT_EQ(RunCtl({"macro", "make", "-o", file.string(), "--mode", "Bogus", "tap:A"}).status,
              64);
    EXPECT_EQ(RunCtl({"macro", "make", "-o", file.string(), "--mode", "SingleShot"}).status, 64);
    EXPECT_EQ(RunCtl({"macro", "make", "-o", file.string(), "--mode", "AutoLoop", "--delay", "5",
                      "tap:A"})
                  .status,
              64);
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(CliMacro, TheTerminalGetsPlainWordsAndACutIsWarnedOf) {
    const auto file = (dir / "m.tvm").string();
    auto made = RunCtl({"macro", "make", "-o", file, "--mode", "SingleShot", "down:A"});
    EXPECT_EQ(made.out, "wrote " + file + ": SingleShot, 1 step, 1 entry\n");

    std::vector<std::string> args = {"macro", "make", "-o", file, "--mode", "SingleShot", "loop:3"};
    for (int i = 0; i < 15; ++i) {
        args.push_back("tap:B");
    }
    args.push_back("endloop");
    ASSERT_EQ(RunCtl(args).status, 0);
    const auto whole = RunCtl({"macro", "show", file});
    EXPECT_EQ(whole.out.rfind("Mode: SingleShot, 32 steps\nMacro Loop Start (3)\n", 0), 0u)
        << whole.out;
    EXPECT_NE(whole.out.find("\nMacro Loop End\n"), std::string::npos);
    EXPECT_EQ(whole.out.find("Marco"), std::string::npos);
    EXPECT_TRUE(whole.err.empty()) << whole.err;

    const auto cut = RunCtl({"macro", "show", file, "--limit", "24"});
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(cut.err, "tavrikctl macro show: warning: " + file +
                           " holds 32 steps as SingleShot; --limit 24 shows it cut\n");
    EXPECT_EQ(cut.out.rfind("Mode: SingleShot, 24 steps\n", 0), 0u) << cut.out;
}

TEST_F(CliMacro, ARefusedStepSaysWhatIsWrongWithIt) {
    const auto file = dir / "refused.tvm";
    const std::pair<const char*, const char*> refused[] = {
        {"0:0", "'0:0': flag 0 ends a macro's list; it is not a step"},
        {"255:4", "flag 255 ends"},
        {"tap:A:70000", "'tap:A:70000': the delay is 10..60000 ms, not '70000'"},
        {"tap:A:0", "the delay is 10..60000 ms, not '0'"},
        {"down:A:", "'down:A:': a delay in milliseconds was expected after the colon"},
        {"endloop:x", "the delay is 10..60000 ms, not 'x'"},
        {"1:4:9", "the delay is 10..60000 ms, not '9'"},
        {"tap:Nope:100", "unknown key in 'tap:Nope:100'"},
    };
    for (const auto& [word, message] : refused) {
        const auto r =
            RunCtl({"macro", "make", "-o", file.string(), "--mode", "SingleShot", "tap:B", word});
        EXPECT_EQ(r.status, 2) << word;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("too many steps"), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(file)) << word;
    }
    // The bounds themselves are delays.
    EXPECT_EQ(RunCtl({"macro", "make", "-o", file.string(), "--mode", "SingleShot", "tap:A:10",
                      "tap:;::60000"})
                  .status,
              0);
}

}  // namespace
}  // namespace tavrik

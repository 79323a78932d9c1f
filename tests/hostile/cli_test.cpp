// The command line's words and rules as a user meets them: what it refuses, what it says,
// and that a refused command leaves the keyboard and every file as they were.
#include <gtest/gtest.h>

#include "hostile.h"

namespace tavrik::hostile {
namespace {

using std::chrono::seconds;

// A simulated keyboard in the sandbox's sim file.
void MakeKeyboard(const Sandbox& box, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"sim", "init", box.SimFile().string(), "--keys", "10"};
    args.insert(args.end(), extra.begin(), extra.end());
    const CtlRun r = box.Ctl(args, seconds(30), false);
    ASSERT_EQ(r.status, 0) << r.err;
}

TEST(HostileCliOutput, AMacroWrittenToStandardOutputIsTheMacroAlone) {
    Sandbox box;
    const CtlRun r =
        box.Ctl({"macro", "make", "--mode", "SingleShot", "-o", "/dev/stdout", "tap:A"},
                seconds(30), false);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.size(), 280u);
    EXPECT_EQ(r.out.substr(0, 4), "CAMC");
    EXPECT_NE(r.err.find("wrote /dev/stdout"), std::string::npos) << r.err;

    // A file of its own still gets the line on standard output.
    const CtlRun file =
        box.Ctl({"macro", "make", "--mode", "SingleShot", "-o", (box / "m.tvm").string(), "tap:A"},
                seconds(30), false);
    EXPECT_EQ(file.status, 0) << file.err;
    EXPECT_NE(file.out.find("wrote "), std::string::npos);
    EXPECT_TRUE(file.err.empty()) << file.err;
}

TEST(HostileCliArguments, ListAndScanTakeNoWords) {
    Sandbox box;
    MakeKeyboard(box);
    const FileFacts before = Facts(box.SimFile());
    for (const char* command : {"scan", "list", "keys"}) {
        const CtlRun r = box.Ctl({command, "extra"});
        EXPECT_EQ(r.status, 64) << command;
        EXPECT_NE(r.err.find("unexpected argument 'extra'"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    EXPECT_EQ(Facts(box.SimFile()), before);
}

}  // namespace
}  // namespace tavrik::hostile

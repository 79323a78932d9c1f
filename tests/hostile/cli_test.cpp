// The command line's words and rules as a user meets them: what it refuses, what it says,
// and that a refused command leaves the keyboard and every file as they were.
#include <gtest/gtest.h>

#include <algorithm>

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

namespace tavrik::hostile {
namespace {

TEST(HostileCliModes, ValuesTheControllerWouldNotRunAreRefusedBeforeAnythingIsSent) {
    Sandbox box;
    MakeKeyboard(box, {"--version", "1.60"});  // reports its module counts
    const FileFacts before = Facts(box.SimFile());
    const std::pair<std::vector<std::string>, const char*> refused[] = {
        {{"mode", "rate", "0"}, "1, 2, 3, 4, 5, 8 or 10 ms"},
        {{"mode", "rate", "7"}, "1, 2, 3, 4, 5, 8 or 10 ms"},
        {{"mode", "rate", "255"}, "1, 2, 3, 4, 5, 8 or 10 ms"},
        {{"mode", "overload", "off", "--count", "50"}, "a setting of overload mode"},
        {{"mode", "overload", "on", "--count", "91"}, "42..90"},
        {{"mode", "nkro", "on", "--count", "50"}, "--count belongs to overload"},
        // Within 42..90, but not above this controller's 44 standard modules.
        {{"mode", "overload", "on", "--count", "42"}, "above the controller's standard count"},
    };
    for (const auto& [args, message] : refused) {
        const CtlRun r = box.Ctl(args);
        EXPECT_EQ(r.status, 64) << args.back() << ": " << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(Facts(box.SimFile()), before) << args.back();
    }
    const CtlRun on = box.Ctl({"mode", "overload", "on", "--count", "45"});
    EXPECT_EQ(on.status, 0) << on.err;
    EXPECT_NE(on.out.find("overload on (45 modules)"), std::string::npos) << on.out;
}

// A backup of the sandbox's keyboard with other controller modes.
std::string BackupWithModes(const Sandbox& box, const std::string& modes) {
    const CtlRun b = box.Ctl({"backup", (box / "b.json").string()});
    EXPECT_EQ(b.status, 0) << b.err;
    std::string text = box.ReadFile("b.json");
    const std::string from =
        "\"modes\": {\"nkro\":false,\"overload\":false,\"modules\":44,"
        "\"usbRate\":1}";
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << text.substr(0, 300);
    if (at != std::string::npos) {
        text.replace(at, from.size(), "\"modes\": " + modes);
    }
    box.WriteFile("edited.json", text);
    return (box / "edited.json").string();
}

TEST(HostileCliRestore, ModesTheModeCommandRefusesAreInvalidDataAndNothingIsWritten) {
    Sandbox box;
    MakeKeyboard(box, {"--version", "1.60"});
    // Full-key rollover differs as well, so a restore that went on would write.
    const std::pair<const char*, const char*> refused[] = {
        {R"({"nkro":true,"overload":false,"modules":44,"usbRate":0})", "modes.usbRate 0"},
        {R"({"nkro":true,"overload":false,"modules":44,"usbRate":7})", "modes.usbRate 7"},
        {R"({"nkro":true,"overload":false,"modules":44,"usbRate":255})", "modes.usbRate 255"},
        {R"({"nkro":true,"overload":true,"modules":10,"usbRate":1})", "modes.modules 10"},
        // Not above the keyboard's own 44 standard modules: refused by the restore.
        {R"({"nkro":true,"overload":true,"modules":43,"usbRate":1})", "does not fit"},
    };
    for (const auto& [modes, message] : refused) {
        const std::string file = BackupWithModes(box, modes);
        const FileFacts before = Facts(box.SimFile());
        const CtlRun r = box.Ctl({"restore", file});
        EXPECT_EQ(r.status, 2) << modes << ": " << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(Facts(box.SimFile()), before) << modes;
    }
    const CtlRun fine =
        box.Ctl({"restore", BackupWithModes(
                                box, R"({"nkro":true,"overload":true,"modules":50,"usbRate":8})")});
    EXPECT_EQ(fine.status, 0) << fine.err << fine.out;
}

TEST(HostileCliSetKey, TheLayerThatPlaysTheMacroIsReplacedOnlyWhenAskedTo) {
    Sandbox box;
    MakeKeyboard(box);
    const std::string macro = (box / "m.tvm").string();
    ASSERT_EQ(box.Ctl({"macro", "make", "--mode", "SingleShot", "-o", macro, "tap:A"}).status, 0);
    ASSERT_EQ(box.Ctl({"macro", "write", "2", macro, "--layer", "1"}).status, 0);
    const FileFacts before = Facts(box.SimFile());

    const CtlRun refused = box.Ctl({"set-key", "2", "1", "B"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("slot 2: the layer plays the key's macro"), std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("--replace-macro"), std::string::npos) << refused.err;
    EXPECT_EQ(Facts(box.SimFile()), before);
    // Another layer of the same key keeps the macro.
    const CtlRun other = box.Ctl({"set-key", "2", "2", "C"});
    EXPECT_EQ(other.status, 0) << other.err;
    // Read to standard output: the macro's bytes alone.
    const CtlRun kept = box.Ctl({"macro", "read", "2", "-o", "/dev/stdout"});
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(kept.out.size(), 280u);

    const CtlRun replaced = box.Ctl({"set-key", "2", "1", "B", "--replace-macro"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_NE(replaced.out.find("the key's macro was removed"), std::string::npos) << replaced.out;
    const CtlRun gone = box.Ctl({"macro", "read", "2", "-o", (box / "gone.tvm").string()});
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.err.find("the key plays no macro"), std::string::npos) << gone.err;
}

TEST(HostileCliSetKey, AControllerInItsBootloaderIsNamedAsTheReason) {
    Sandbox box;
    MakeKeyboard(box);
    std::string sim = box.ReadFile("sim.json");
    const std::string from = "\"stage\": \"A\",\n      \"standardModules\"";
    ASSERT_NE(sim.find(from), std::string::npos);
    sim.replace(sim.find(from), from.size(), "\"stage\": \"B\",\n      \"standardModules\"");
    box.WriteFile("sim.json", sim);
    const FileFacts before = Facts(box.SimFile());
    const CtlRun r = box.Ctl({"set-key", "3", "0", "A"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the controller runs its bootloader"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("no key module"), std::string::npos) << r.err;
    EXPECT_EQ(Facts(box.SimFile()), before);
}

TEST(HostileCliTexts, ARefusedUpgradeImageSaysWhyInTheUsersLanguageOnOneLine) {
    for (const char* locale : {"C.UTF-8", "zh_CN.UTF-8"}) {
        Sandbox box;
        box.SetEnv(std::string("LC_ALL=") + locale);
        MakeKeyboard(box);
        box.WriteFile("ZPN31big.bin", std::string(147457, '\0'));
        const FileFacts before = Facts(box.SimFile());
        const CtlRun r = box.Ctl({"upgrade", "keys", (box / "ZPN31big.bin").string(), "--yes"});
        EXPECT_EQ(r.status, 2) << r.err;
        const bool chinese = locale[0] == 'z';
        EXPECT_NE(r.err.find(chinese ? "此文件不能用于升级: 文件比固件映像大"
                                     : "the file cannot be used for an upgrade: the file is "
                                       "larger than a firmware image"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find(chinese ? "the file" : "文件"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.find('\r'), std::string::npos);
        EXPECT_EQ(Facts(box.SimFile()), before);
    }
}

}  // namespace
}  // namespace tavrik::hostile

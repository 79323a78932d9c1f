// Outputs that are not ours to replace: a device node, a dangling link.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostile.h"

namespace tavrik::hostile {
namespace {

TEST(HostileOutputs, ADanglingLinkIsRefusedAndLeftAsItWas) {
    Sandbox box;
    ASSERT_EQ(::symlink("nowhere/macro.bin", (box / "link").c_str()), 0);
    const FileFacts before = Facts(box / "link");
    const CtlRun d = box.Ctl({"macro", "make", "--mode", "SingleShot", "-o", "link", "tap:A"},
                             std::chrono::seconds(30), false);
    EXPECT_NE(d.status, 0);
    EXPECT_NE(d.err.find("link"), std::string::npos) << d.err;
    EXPECT_EQ(Facts(box / "link"), before);
}

// A copy of /dev/null's node (needs root, as CI has): every command that writes a file
// writes into it and leaves it a device; a folder in its place is refused.
TEST(HostileOutputs, ADeviceNodeIsWrittenIntoAndNeverReplaced) {
    Sandbox box;
    const auto node = box / "fake";
    if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        GTEST_SKIP() << "making a device node needs root";
    }
    ASSERT_EQ(box.Ctl({"sim", "init", box.SimFile().string(), "--keys", "3"},
                      std::chrono::seconds(60), false)
                  .status,
              0);
    const FileFacts before = Facts(node);
    const std::vector<std::vector<std::string>> writers = {
        {"macro", "make", "--mode", "SingleShot", "-o", "fake", "tap:A"},
        {"backup", "fake"},
    };
    for (const auto& args : writers) {
        const bool simulate = args[0] == "backup";
        const CtlRun r = box.Ctl(args, std::chrono::seconds(60), simulate);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
        EXPECT_EQ(Facts(node), before) << args[0];
    }

    // A simulator file is read back later: a device is refused, not written into.
    const CtlRun sim = box.Ctl({"sim", "init", "fake"}, std::chrono::seconds(30), false);
    EXPECT_EQ(sim.status, 1);
    EXPECT_NE(sim.err.find("not a regular file"), std::string::npos) << sim.err;
    EXPECT_EQ(Facts(node), before);

    std::filesystem::create_directory(box / "folder");
    const CtlRun folder =
        box.Ctl({"macro", "make", "--mode", "SingleShot", "-o", "folder", "tap:A"},
                std::chrono::seconds(30), false);
    EXPECT_NE(folder.status, 0);
    EXPECT_NE(folder.err.find("folder"), std::string::npos) << folder.err;
    EXPECT_TRUE(std::filesystem::is_directory(box / "folder"));
}

}  // namespace
}  // namespace tavrik::hostile

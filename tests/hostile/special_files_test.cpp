// Outputs that are not ours to replace: a device node, a dangling link.
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace
}  // namespace tavrik::hostile

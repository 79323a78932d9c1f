// `tavrikctl upgrade` against a simulated keyboard on a fast clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <nlohmann/json.hpp>

#include "cli_test_util.h"
#include "firmware_test_image.h"
#include "protocol/fwimage.h"

namespace tavrik {
namespace {

using testing::GoodImage;
using testing::RunCtl;

class CliDeviceUpgrade : public ::testing::Test {
protected:
    std::filesystem::path dir =
        std::filesystem::path(::testing::TempDir()) /
        ("cli_upgrade_" +
         std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::string file = (dir / "sim.json").string();
    std::string sim = "--simulate=" + file;
    std::string image = (dir / "ZPN31newFw.bin").string();

    void SetUp() override {
        setenv("TAVRIK_SIM_PAUSE_SCALE", "0.01", 1);
        setenv("LC_ALL", "C", 1);                       // the English texts
        setenv("TAVRIK_SIM_REPLY_SLACK_MS", "500", 1);  // a loaded machine answers late
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        ASSERT_EQ(RunCtl({"sim", "init", file, "--keys", "6"}).status, 0);
        const auto bytes = GoodImage();
        std::ofstream(image, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    }
    void Fault(const std::string& name, int value) {
        auto j = nlohmann::json::parse(std::ifstream(file));
        j["keyboards"][0]["faults"][name] = value;
        std::ofstream(file) << j.dump();
    }
};

TEST_F(CliDeviceUpgrade, BothUpgradesRunToTheEnd) {
    auto r = RunCtl({sim, "upgrade", "keys", image, "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("100%"), std::string::npos);
    EXPECT_NE(r.out.find("The upgrade is done.\n"), std::string::npos);
    r = RunCtl({sim, "upgrade", "controller", image, "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("The upgrade is done.\n"), std::string::npos) << r.out;
}

TEST_F(CliDeviceUpgrade, RefusedFilesAndFaultsGiveTheirMessages) {
    // Kind 3 keyboards take only files whose path carries their marker.
    const std::string other = (dir / "firmware.bin").string();
    std::filesystem::copy_file(image, other);
    auto r = RunCtl({sim, "upgrade", "keys", other, "--yes"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tavrikctl upgrade: " + other +
                         ": the file cannot be used for an upgrade: this keyboard takes only "
                         "firmware files with ZPN31 in their name\n");

    // A damaged image is refused before anything is sent.
    const std::string bad = (dir / "ZPN31bad.bin").string();
    auto bytes = GoodImage();
    bytes[0x100] ^= 0x01;
    std::ofstream(bad, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    r = RunCtl({sim, "upgrade", "controller", bad, "--yes"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(bad + ": the file is no firmware this keyboard takes (check result -1)"),
              std::string::npos)
        << r.err;

    Fault("refuseChunk", 3);
    r = RunCtl({sim, "upgrade", "controller", image, "--yes"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("tavrikctl upgrade: the controller upgrade failed (error 2)"),
              std::string::npos)
        << r.err;
}

}  // namespace
}  // namespace tavrik

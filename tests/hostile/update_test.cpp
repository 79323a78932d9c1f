// tavrikctl update check against update servers that send nonsense, lose files, trickle or
// never answer: it must say what did not happen, exit 1, and leave the data folder alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "hostile.h"
#include "http_test_server.h"
#include "update/digest.h"

namespace tavrik::hostile {
namespace {

namespace fs = std::filesystem;
using test::HttpTestServer;
using Reply = HttpTestServer::Reply;

constexpr const char* kInfoPath = "/Update/second_latest_version.txt";
// Controller V1.20, keys V1.2: what `sim init --version 1.20` makes with few modules.
constexpr unsigned kFwCurrent = 1u << 24 | 20u << 16 | 1u << 8 | 2u;

class HostileUpdate : public ::testing::Test {
protected:
    Sandbox box;
    fs::path www = box / "www";
    fs::path data = box / "home" / "data" / "Tavrik";
    HttpTestServer server{www, std::chrono::seconds(120)};

    void SetUp() override {
        fs::create_directories(www / "Update");
        fs::create_directories(data);
        box.SetEnv(std::string("TAVRIK_UPDATE_SERVER=") + server.Url());
        box.SetEnv("no_proxy=127.0.0.1,localhost");
        box.SetEnv("NO_PROXY=127.0.0.1,localhost");
        ASSERT_EQ(box.Ctl({"sim", "init", box.SimFile().string(), "--keys", "5", "--row", "0",
                           "--version", "1.20"},
                          std::chrono::seconds(60), false)
                      .status,
                  0);
        // What an earlier run left: the settings, version information and images.
        Put("ccsetup.ini", "[Config1]\r\nExpMode=N\r\n");
        Put("second_latest_version.ini", "[upgrade_config]\r\nLatestAppVersion=300\r\n");
        Put("newFw.bin", "earlier controller image");
        Put("VL7BLFw.bin", "earlier boot image");
        Put("ZPN31newFw.bin", "earlier ZPN31 image");
    }
    void Put(const std::string& name, const std::string& bytes) {
        std::ofstream(data / name, std::ios::binary) << bytes;
    }
    void Serve(const std::string& path, const std::string& body) {
        std::ofstream(www / path.substr(1), std::ios::binary) << body;
    }
    std::string Info(const std::string& fwUrl, const std::string& md5) {
        return "[upgrade_config]\r\nLatestAppVersion=315\r\nLatestFwVersion=" +
               std::to_string(kFwCurrent) + "\r\nFwURL=" + fwUrl + "\r\nFwMd5=" + md5 + "\r\n";
    }
    // The data folder, file by file.
    std::map<std::string, FileFacts> DataFacts() const {
        std::map<std::string, FileFacts> facts;
        for (const auto& e : fs::directory_iterator(data)) {
            facts[e.path().filename().string()] = Facts(e.path());
        }
        return facts;
    }
    CtlRun Check(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"update", "check"};
        args.insert(args.end(), extra.begin(), extra.end());
        return box.Ctl(args, std::chrono::seconds(60));
    }
};

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(HostileUpdate, VersionInformationThatSaysNothingFailsTheCheck) {
    struct Case {
        std::string body;
        const char* reason;
    };
    std::string random(3000, '\0');
    for (size_t i = 0; i < random.size(); ++i) {
        random[i] = static_cast<char>(i * 131 + i / 7);
    }
    const Case cases[] = {
        {random, "LatestAppVersion is missing from [upgrade_config]"},
        {"hello world", "LatestAppVersion is missing from [upgrade_config]"},
        {"[upgrade_config]\r\nLatestAppVersion=400\r\nFwURL=/fw.bin\r\n",
         "LatestFwVersion is missing from [upgrade_config]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        Serve(kInfoPath, c.body);
        const auto before = DataFacts();
        const CtlRun r = Check();
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_TRUE(Has(r.err, "second_latest_version.txt is no version information: ")) << r.err;
        EXPECT_TRUE(Has(r.err, c.reason)) << r.err;
        EXPECT_TRUE(Has(r.out, "Update check failed")) << r.out;
        EXPECT_TRUE(Has(r.out, "Keyboard 0: controller not known, keys not known")) << r.out;
        EXPECT_FALSE(Has(r.out, "up to date")) << r.out;
        EXPECT_EQ(DataFacts(), before);
    }
}

TEST_F(HostileUpdate, FirmwareThatDoesNotArriveIsNoSuccess) {
    // With the image there the keyboard is up to date...
    const std::string image(4000, 'i');
    Serve("/fw.bin", image);
    Serve(kInfoPath, Info("/fw.bin", Md5Hex(image).value_or("")));
    CtlRun r = Check();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "Keyboard 0: controller up to date, keys up to date")) << r.out;

    // ...and with a link that 404s it is not known, and the check says so.
    Put("newFw.bin", "earlier controller image");
    Serve(kInfoPath, Info("/gone.bin", Md5Hex(image).value_or("")));
    const auto before = DataFacts();
    r = Check();
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "the download of VL7 new firmware failed: the server answered HTTP 404"))
        << r.err;
    EXPECT_TRUE(Has(r.out, "Update check incomplete")) << r.out;
    EXPECT_TRUE(Has(r.out, "Controller firmware: V1.20")) << r.out;
    EXPECT_TRUE(Has(r.out, "Download VL7 (newFw.bin): transfer failed")) << r.out;
    EXPECT_TRUE(Has(r.out, "Keyboard 0: controller not known, keys not known")) << r.out;
    EXPECT_FALSE(Has(r.out, "up to date")) << r.out;
    EXPECT_FALSE(Has(r.out, "Downloading")) << r.out;  // progress only on a terminal
    // A check the window counts as complete drops its version information; nothing else
    // changed.
    auto after = DataFacts();
    EXPECT_EQ(after.erase("second_latest_version.ini"), 0u);
    auto expected = before;
    expected.erase("second_latest_version.ini");
    EXPECT_EQ(after, expected);
}

TEST_F(HostileUpdate, SlowAndSilentServersEndAtTheTimeLimit) {
    const std::string image(4000, 'i');
    for (const auto mode : {Reply::Trickle, Reply::Stall}) {
        SCOPED_TRACE(mode == Reply::Trickle ? "trickle" : "stall");
        HttpTestServer slow(www, std::chrono::seconds(60));
        slow.Script(kInfoPath, Reply::Forever(mode));
        const auto before = DataFacts();
        const CtlRun r = Check({"--server", slow.Url(), "--timeout", "3"});
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_TRUE(
            Has(r.err, "the time limit of 3 s ran out while downloading " + slow.Url() + kInfoPath))
            << r.err;
        EXPECT_FALSE(Has(r.out, "up to date")) << r.out;
        EXPECT_EQ(DataFacts(), before);
    }
    // Also when the firmware image is the slow part; the earlier image stays.
    server.Script("/fw.bin", Reply::Forever(Reply::Trickle));
    Serve(kInfoPath, Info("/fw.bin", Md5Hex(image).value_or("")));
    const std::string info = Info("/fw.bin", Md5Hex(image).value_or(""));
    auto before = DataFacts();
    const CtlRun r = Check({"--timeout", "3"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "the time limit of 3 s ran out while downloading VL7 new firmware"))
        << r.err;
    EXPECT_TRUE(Has(r.out, "Download VL7 (newFw.bin): time limit")) << r.out;
    EXPECT_FALSE(Has(r.out, "up to date")) << r.out;
    // The version information of a failed check stays for the next one.
    auto after = DataFacts();
    EXPECT_EQ(after["second_latest_version.ini"].bytes, info);
    after.erase("second_latest_version.ini");
    before.erase("second_latest_version.ini");
    EXPECT_EQ(after, before);
}

TEST_F(HostileUpdate, TimeoutMustBeAPositiveNumber) {
    for (const char* bad : {"0", "-1", "soon", "3x"}) {
        SCOPED_TRACE(bad);
        const CtlRun r = Check({std::string("--timeout=") + bad});
        EXPECT_EQ(r.status, 64) << r.out << r.err;
        EXPECT_TRUE(Has(r.err, "--timeout takes a positive number of seconds")) << r.err;
        EXPECT_EQ(server.Count(kInfoPath), 0);
    }
}

}  // namespace
}  // namespace tavrik::hostile

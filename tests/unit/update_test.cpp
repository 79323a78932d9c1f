// The online update against a real HTTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "app/paths.h"
#include "cli/command.h"
#include "cli_test_util.h"
#include "device/session.h"
#include "http_test_server.h"
#include "log_capture.h"
#include "session_test_access.h"
#include "update/digest.h"
#include "update/update_check.h"
#include "update/update_rules.h"
#include "update/update_service.h"
#include "update/update_url.h"
#include "update/version_info.h"

namespace tavrik::cli {
void AddUpdateCommands(std::vector<CommandDef>& table);
}

namespace tavrik {
namespace {

namespace fs = std::filesystem;
using test::HttpTestServer;
using test::LogCapture;
using Reply = HttpTestServer::Reply;

std::string Md5Of(const std::string& data) {
    return Md5Hex(data).value_or("");
}

std::string Upper(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& p, const std::string& data) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << data;
}

std::string Image(size_t size, char seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>(seed + i * 7);
    }
    return s;
}

constexpr uint32_t Fw(int kHi, int kLo, int keyHi, int keyLo) {
    return static_cast<uint32_t>(kHi) << 24 | static_cast<uint32_t>(kLo) << 16 |
           static_cast<uint32_t>(keyHi) << 8 | static_cast<uint32_t>(keyLo);
}

// Waits until `pred` holds, at most `ms`.
template <typename Pred>
bool Eventually(Pred pred, int ms = 20000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(UpdateVersionInfo, ReadsLikeTheWindowsProfileFunctions) {
    const std::string longUrl(300, 'u');
    const auto v = ParseVersionInfo(
        "\xEF\xBB\xBF; comment\r\n[other]\r\nLatestAppVersion=999\r\n"
        "[ UPGRADE_CONFIG ]\r\n  latestappversion =  316 \r\nLatestAppVersion=400\r\n"
        "LatestFwVersion=12x\r\nFwURL=\"fw/new.bin\"\r\nFwMd5=\r\nFwBlURL=" +
        longUrl + "\r\nZPN31LatestFwVersion=99999999999\r\n");
    EXPECT_EQ(v.latestAppVersion, 316u);  // the first one in the right section
    EXPECT_EQ(v.latestFwVersion, 12u);    // the leading digits
    EXPECT_EQ(v.fwUrl, "fw/new.bin");
    EXPECT_EQ(v.fwMd5, "");
    EXPECT_EQ(v.fwBlUrl, std::string(259, 'u'));
    EXPECT_EQ(v.zpn31LatestFwVersion, UINT32_MAX);
    EXPECT_EQ(v.fwBlMd5, "notfound");
    EXPECT_EQ(v.zpn31FwUrl, "notfound");

    const auto empty = ParseVersionInfo("LatestAppVersion=500\n");  // outside any section
    EXPECT_EQ(empty.latestAppVersion, 10u);
    EXPECT_EQ(empty.latestFwVersion, 10u);
    EXPECT_EQ(Md5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(UpdateVersionInfo, FilesThatSayNothingAreRefused) {
    const std::string random = Image(500, 9);
    EXPECT_EQ(VersionInfoProblem(random), "LatestAppVersion is missing from [upgrade_config]");
    EXPECT_EQ(VersionInfoProblem("hello world"),
              "LatestAppVersion is missing from [upgrade_config]");
    EXPECT_EQ(VersionInfoProblem("[upgrade_config]\nLatestAppVersion=400\n"),
              "LatestFwVersion is missing from [upgrade_config]");
    EXPECT_EQ(VersionInfoProblem("[upgrade_config]\nLatestAppVersion=new\nLatestFwVersion=1\n"),
              "LatestAppVersion is not a number");
    EXPECT_EQ(VersionInfoProblem("[upgrade_config]\nLatestAppVersion=1\nLatestFwVersion=1\n"
                                 "ZPN31LatestFwVersion=\n"),
              "ZPN31LatestFwVersion is not a number");
    // In another section they do not count.
    EXPECT_NE(VersionInfoProblem("[x]\nLatestAppVersion=1\nLatestFwVersion=1\n"), "");
    EXPECT_EQ(VersionInfoProblem("[Upgrade_Config]\r\nLatestAppVersion = 10\r\n"
                                 "LatestFwVersion=10"),
              "");
}

TEST(UpdateRules, UpToDateOnlyWhenTheCheckKnows) {
    UpdateState state;
    state.latestKbmc = VersionWord(1, 20);
    state.latestKey = VersionWord(1, 3);
    const KeyboardFacts current{true, 'A', VersionWord(1, 20), 1, 5, VersionWord(1, 3)};
    const KeyboardFacts old{true, 'A', VersionWord(1, 10), 1, 5, VersionWord(1, 2)};
    const KeyboardFacts boot{true, 'B', 0, 1, 0, 0};
    const KeyboardFacts zpn31{true, 'A', VersionWord(1, 20), kZpn31Kind, 5, VersionWord(1, 3)};
    auto text = [](KeyboardVerdict v) {
        auto one = [](Verdict x) {
            return x == Verdict::UpToDate       ? "up"
                   : x == Verdict::Outdated     ? "old"
                   : x == Verdict::NotUpdatable ? "-"
                                                : "?";
        };
        return std::string(one(v.kbmc)) + "/" + one(v.keys);
    };

    CheckReport nothing;  // a failed check learnt no version
    EXPECT_EQ(text(JudgeAfterCheck(current, state, nothing)), "?/?");
    EXPECT_EQ(text(JudgeAfterCheck(boot, state, nothing)), "old/?");  // outdated whatever

    CheckReport verified;
    verified.kbmcKnown = verified.keyKnown = true;
    verified.downloads = {{FwKind::Vl7, FwOutcome::Verified, ""},
                          {FwKind::Vl7Bl, FwOutcome::TransferFailed, "HTTP 404"}};
    EXPECT_EQ(text(JudgeAfterCheck(current, state, verified)), "up/up");
    EXPECT_EQ(text(JudgeAfterCheck(old, state, verified)), "old/old");
    EXPECT_EQ(text(JudgeAfterCheck(zpn31, state, verified)), "?/up");  // no ZPN31 version
    KeyboardFacts kind2 = old;
    kind2.updatable = false;  // takes no online update: never compared
    EXPECT_EQ(text(JudgeAfterCheck(kind2, state, verified)), "-/-");

    CheckReport failed = verified;  // the image of these keyboards did not arrive
    failed.downloads[0] = {FwKind::Vl7, FwOutcome::TransferFailed, "HTTP 404"};
    EXPECT_EQ(text(JudgeAfterCheck(current, state, failed)), "?/?");
    EXPECT_EQ(text(JudgeAfterCheck(old, state, failed)), "old/old");
    EXPECT_EQ(CheckShortfall(failed), "the download of VL7 new firmware failed: HTTP 404");
    failed.end = CheckEnd::TimeLimit;
    failed.reason = "out of time";
    EXPECT_EQ(CheckShortfall(failed), "out of time");
}

TEST(UpdateRules, VersionWords) {
    EXPECT_FALSE(IsNewerTool(315, VersionWord(1, 59)));
    EXPECT_TRUE(IsNewerTool(316, VersionWord(1, 59)));
    EXPECT_FALSE(IsNewerTool(kVersionInfoAbsent, 0));
    EXPECT_FALSE(IsNewerTool(256, 0));

    EXPECT_TRUE(IsValidFwVersion(Fw(1, 20, 1, 3)));
    EXPECT_TRUE(IsValidFwVersion(Fw(1, 20, 0, 0)));
    EXPECT_TRUE(IsValidFwVersion(Fw(0, 0, 1, 1)));
    EXPECT_FALSE(IsValidFwVersion(256));
    EXPECT_FALSE(IsValidFwVersion(Fw(1, 0, 1, 0)));
    EXPECT_FALSE(IsValidFwVersion(kVersionInfoAbsent));
}

TEST(UpdateRules, OutdatedKeyboards) {
    UpdateState state;
    state.latestKbmc = VersionWord(1, 20);
    state.latestZpn31 = VersionWord(1, 40);
    state.latestKey = VersionWord(1, 3);
    auto judge = [&](KeyboardFacts f) { return JudgeKeyboard(f, state); };

    EXPECT_TRUE(judge({true, 'A', VersionWord(1, 10), 1, 0, 0}).kbmc);
    EXPECT_FALSE(judge({true, 'A', VersionWord(1, 20), 1, 0, 0}).kbmc);
    EXPECT_TRUE(judge({true, 'B', VersionWord(9, 9), 1, 0, 0}).kbmc);    // bootloader
    EXPECT_FALSE(judge({true, 'A', VersionWord(0, 99), 1, 0, 0}).kbmc);  // below 256
    EXPECT_TRUE(judge({true, 'A', VersionWord(1, 30), kZpn31Kind, 0, 0}).kbmc);
    EXPECT_FALSE(judge({false, 'B', 0, 1, 5, 0}).kbmc);  // not updatable

    EXPECT_TRUE(judge({true, 'A', 0, 1, 5, VersionWord(0, 0)}).keys);  // a bootloader module
    EXPECT_FALSE(judge({true, 'A', 0, 1, 5, VersionWord(1, 3)}).keys);
    EXPECT_FALSE(judge({true, 'A', 0, 1, 0, VersionWord(0, 0)}).keys);  // no modules
    state.latestKey = 0;                                                // keys at 0.0
    EXPECT_FALSE(judge({true, 'A', 0, 1, 5, VersionWord(0, 0)}).keys);

    // The session flags follow every judgement, also back to 0.
    CCCDev dev(0, nullptr);
    SessionTestAccess::SetVersion(dev, 'A', 1, 20);
    dev.SetNewVersionFlags(true, true);
    MarkOutdated(dev, state);
    EXPECT_FALSE(dev.Snapshot().kbmcNewVer);
    EXPECT_FALSE(dev.Snapshot().keyNewVer);

    const NewVersionFlags none[2]{}, key[2]{{0, 0}, {0, 1}};
    EXPECT_FALSE(BadgeWanted(false, none));
    EXPECT_TRUE(BadgeWanted(true, none));
    EXPECT_TRUE(BadgeWanted(false, key));
}

TEST(UpdateUrl, LinksResolveAgainstTheServer) {
    const std::string s = "http://127.0.0.1:8080/mirror/";
    EXPECT_EQ(ResolveLink(s, "fw/a.bin"), "http://127.0.0.1:8080/mirror/fw/a.bin");
    EXPECT_EQ(ResolveLink(s, "/fw/a.bin"), "http://127.0.0.1:8080/mirror/fw/a.bin");
    EXPECT_EQ(ResolveLink(s, "HTTPS://cdn.example/a.bin"), "HTTPS://cdn.example/a.bin");
    EXPECT_EQ(ResolveLink(s, "//cdn.example/a.bin"), "http://cdn.example/a.bin");
    EXPECT_EQ(ResolveLink(s, "file:///etc/passwd"), "");
    EXPECT_EQ(ResolveLink(s, "ftp://cdn.example/a.bin"), "");
    EXPECT_EQ(ResolveLink(s, "fw/a b.bin"), "");
    EXPECT_EQ(ResolveLink(s, ""), "");
    EXPECT_FALSE(IsUpdateUrl("http://"));
}

// The test suite of RFC 1321, appendix A.5, and lengths around the padding's edges.
TEST(UpdateDigest, Md5OfTheRfcSuite) {
    const std::pair<std::string, const char*> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {std::string("1234567890") + "1234567890" + "1234567890" + "1234567890" + "1234567890" +
             "1234567890" + "1234567890" + "1234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, digest] : suite) {
        EXPECT_EQ(Md5Hex(text), digest) << '"' << text << '"';
    }
    // 55, 56 and 64 bytes: the length still fits the last block, just does not, a full one.
    EXPECT_EQ(Md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(Md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(Md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
}

TEST(UpdateUrl, HostsAndPorts) {
    for (const char* good : {"http://example.org", "https://user:pw@example.org:8443/a?b#c",
                             "http://[::1]:8080/", "http://127.0.0.1:9/", "http://a.b:/x"}) {
        EXPECT_TRUE(IsUpdateUrl(good)) << good;
    }
    for (const char* bad : {"http://:80/", "http://user@/x", "http://[::1/", "http://[]/",
                            "http://host:99999/", "http://host:8a/", "http://ho\\st/",
                            "http://h\"st/", "https:///path", "ftp://example.org/"}) {
        EXPECT_FALSE(IsUpdateUrl(bad)) << bad;
    }
}

class UpdateCheck : public ::testing::Test {
protected:
    fs::path dir =
        fs::path(::testing::TempDir()) /
        ("update_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::path www = dir / "www";
    std::unique_ptr<HttpTestServer> server;
    UpdateConfig config;
    UpdateState state;
    LogCapture log;

    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(www);
        setenv("LOCALAPPDATA", (dir / "data").c_str(), 1);
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        unsetenv(kUpdateServerEnv);
        server = std::make_unique<HttpTestServer>(www);
        config = LoadUpdateConfig(DataFolder());
        config.server = server->Url();
        config.connectTimeoutS = 5;
    }
    fs::path Data(const std::string& name) const { return DataFolder() / name; }
    void Serve(const std::string& path, const std::string& body) { WriteFile(www / path, body); }
    // The entries given, and the numbers every version file must have when they lack them.
    void Info(const std::string& keys) {
        auto lacks = [&](const std::string& key) {
            return keys.rfind(key, 0) != 0 && keys.find("\n" + key) == std::string::npos;
        };
        Serve("Update/second_latest_version.txt",
              "[upgrade_config]\r\n" + keys +
                  (lacks("LatestAppVersion=") ? "\r\nLatestAppVersion=10" : "") +
                  (lacks("LatestFwVersion=") ? "\r\nLatestFwVersion=10" : "") + "\r\n");
    }
    std::string Entry(const std::string& prefix, uint32_t version, const std::string& url,
                      const std::string& md5) {
        return prefix + "LatestFwVersion=" + std::to_string(version) + "\r\n" + prefix +
               "FwURL=" + url + "\r\n" + prefix + "FwMd5=" + md5 + "\r\n";
    }
    // Files of the data folder other than the given ones: leftovers.
    std::vector<std::string> Others(std::initializer_list<std::string> expected) {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(DataFolder())) {
            const auto name = e.path().filename().string();
            if (std::find(expected.begin(), expected.end(), name) == expected.end()) {
                out.push_back(name);
            }
        }
        return out;
    }
    int Check(CheckReport* report = nullptr) {
        return OnlineUpdateCheck(config, state, nullptr, report);
    }
};

TEST_F(UpdateCheck, CompleteCheckPlacesEveryVerifiedImage) {
    const std::string vl7 = Image(147456, 1), bl = Image(1000, 2), zpn = Image(5000, 3);
    Serve("fw/vl7.bin", vl7);
    Serve("fw/bl.bin", bl);
    Serve("z/zpn.bin", zpn);
    server->Script("/moved", Reply::Redirect("/fw/bl.bin"));
    // Relative, redirected and absolute links; the boot image's digest in capitals.
    Info("LatestAppVersion=316\r\n" + Entry("", Fw(1, 20, 1, 3), "fw/vl7.bin", Md5Of(vl7)) +
         "FwBlURL=/moved\r\nFwBlMd5=" + Upper(Md5Of(bl)) + "\r\n" +
         Entry("ZPN31", Fw(1, 40, 0, 0), server->Url() + "/z/zpn.bin", Md5Of(zpn)));
    CheckReport report;
    std::vector<std::string> steps;  // the progress callback runs on this thread
    ASSERT_EQ(OnlineUpdateCheck(config, state, nullptr, &report,
                                [&](const TransferStep& s) {
                                    steps.push_back(s.what +
                                                    (s.phase == TransferStep::Start  ? " start"
                                                     : s.phase == TransferStep::Done ? " done"
                                                                                     : " failed"));
                                }),
              1);
    EXPECT_EQ(steps,
              (std::vector<std::string>{"version information start", "version information done",
                                        "VL7 new firmware start", "VL7 new firmware done",
                                        "VL7 BL new firmware start", "VL7 BL new firmware done",
                                        "ZPN31 new firmware start", "ZPN31 new firmware done"}));
    EXPECT_EQ(CheckShortfall(report), "");

    EXPECT_EQ(state.latestTool, VersionWord(1, 60));
    EXPECT_EQ(state.toolUpdateAvailable, 1);
    EXPECT_EQ(state.latestKbmc, VersionWord(1, 20));
    EXPECT_EQ(state.latestKey, VersionWord(1, 3));
    EXPECT_EQ(state.latestZpn31, VersionWord(1, 40));
    EXPECT_EQ(ReadFile(Data("newFw.bin")), vl7);
    EXPECT_EQ(ReadFile(Data("VL7BLFw.bin")), bl);
    EXPECT_EQ(ReadFile(Data("ZPN31newFw.bin")), zpn);
    EXPECT_TRUE(Others({"newFw.bin", "VL7BLFw.bin", "ZPN31newFw.bin"}).empty());
    ASSERT_EQ(report.downloads.size(), 3u);
    for (const auto& d : report.downloads) {
        EXPECT_EQ(d.outcome, FwOutcome::Verified) << FwKindName(d.kind);
    }
    for (const auto& r : server->Requests()) {
        EXPECT_NE(r.head.find("Cache-Control: no-cache"), std::string::npos) << r.path;
    }
    for (const char* line :
         {"Online Update check start", "Latest VL7 version is valid",
          "Start to download VL7 new firmware", "Download done for VL7 BL new firmware",
          "Latest ZPN31 version is valid", "Download done for ZPN31 new firmware"}) {
        EXPECT_TRUE(log.HasLine(line)) << line;
    }
}

TEST_F(UpdateCheck, MissingVersionInformationFailsTheCheck) {
    // Not on the server; larger than any version file; no server at all.
    EXPECT_EQ(Check(), 0);
    Info(std::string(70 * 1024, ';'));
    EXPECT_EQ(Check(), 0);
    config.server = HttpTestServer(www).Url();  // gone once this line ends
    EXPECT_EQ(Check(), 0);
    EXPECT_EQ(log.Count("Cannot download latest version info file"), 3u);
    EXPECT_EQ(state.latestKbmc, 0);
    EXPECT_TRUE(Others({"second_latest_version.ini"}).empty());
}

TEST_F(UpdateCheck, VersionRulesAndDebugLines) {
    config.debug = true;
    Info("LatestAppVersion=315\r\nLatestFwVersion=256\r\nZPN31LatestFwVersion=10\r\n");
    ASSERT_EQ(Check(), 1);
    EXPECT_EQ(state.toolUpdateAvailable, 0);
    EXPECT_EQ(state.latestTool, 0);
    EXPECT_EQ(state.latestKey, 0);
    for (const char* line : {"Tavrik App has not new version", "Latest VL7 version is invalid",
                             "Latest ZPN31 version is invalid"}) {
        EXPECT_TRUE(log.HasLine(line)) << line;
    }
    EXPECT_FALSE(fs::exists(Data("second_latest_version.ini")));  // removed after a full check
    EXPECT_EQ(server->Count("/Update/second_latest_version.txt"), 1);

    log.Clear();
    config.debug = false;
    ASSERT_EQ(Check(), 1);
    EXPECT_FALSE(log.Contains("Tavrik App has not new version"));
}

TEST_F(UpdateCheck, MissingLinksAndFailedTransfersArePassedOver) {
    server->Script("/broken", Reply::Status(500, "oops"));
    Info("LatestFwVersion=" + std::to_string(Fw(1, 20, 1, 3)) + "\r\nFwMd5=" + Md5Of("x") +
         "\r\nFwBlURL=/nothere.bin\r\nFwBlMd5=" + Md5Of("x") + "\r\n" +
         Entry("ZPN31", Fw(1, 40, 0, 0), "/broken", Md5Of("x")));
    CheckReport report;
    ASSERT_EQ(Check(&report), 1);
    EXPECT_EQ(state.latestKbmc, VersionWord(1, 20));  // recorded without an image
    EXPECT_EQ(state.latestZpn31, 0);                  // only after a verified image
    ASSERT_EQ(report.downloads.size(), 3u);
    EXPECT_EQ(report.downloads[0].outcome, FwOutcome::NoLink);
    EXPECT_EQ(report.downloads[1].outcome, FwOutcome::TransferFailed);
    EXPECT_EQ(report.downloads[2].outcome, FwOutcome::TransferFailed);
    for (const char* line :
         {"No new download link for VL7 new firmware", "Download fail for new VL7 BL new firmware",
          "Download fail for new ZPN31 new firmware"}) {
        EXPECT_TRUE(log.HasLine(line)) << line;
    }
    EXPECT_TRUE(Others({}).empty());

    // A link to another scheme or an entry without digest counts as no link.
    Info(Entry("", Fw(1, 20, 1, 3), "file:///etc/passwd", Md5Of("x")) +
         "ZPN31LatestFwVersion=" + std::to_string(Fw(1, 40, 0, 0)) + "\r\nZPN31FwURL=/z.bin\r\n");
    Serve("z.bin", "z");
    report = {};
    ASSERT_EQ(Check(&report), 1);
    EXPECT_EQ(report.downloads.back().outcome, FwOutcome::NoLink);
    EXPECT_TRUE(log.HasLine("No new download link for ZPN31 new firmware"));
    EXPECT_EQ(server->Count("/z.bin"), 0);
}

TEST_F(UpdateCheck, RejectedImageNeverReachesTheUpgradeFile) {
    struct Case {
        std::string image;
        bool badDigest;
        bool noDigest;
        const char* line;
        FwOutcome outcome;
    };
    const Case cases[] = {
        {Image(147457, 4), false, false, "VL7 new firmware file is too big", FwOutcome::TooBig},
        {Image(3000, 5), true, false, "VL7 new firmware Checksum is incorrect",
         FwOutcome::DigestDiffers},
        {Image(3000, 6), false, true, "Fail to calculate VL7 new firmware file checksum",
         FwOutcome::DigestFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        WriteFile(Data("newFw.bin"), "earlier good image");
        Serve("fw.bin", c.image);
        Info(Entry("", Fw(1, 20, 1, 3), "fw.bin", c.badDigest ? Md5Of("other") : Md5Of(c.image)) +
             Entry("ZPN31", Fw(1, 40, 0, 0), "z.bin", Md5Of("z")));
        config.digest = [&](const fs::path& p) {
            return c.noDigest ? std::nullopt : Md5HexOfFile(p);
        };
        state.latestKbmc = 0;
        CheckReport report;
        EXPECT_EQ(Check(&report), 0);
        EXPECT_TRUE(log.HasLine(c.line));
        ASSERT_EQ(report.downloads.size(), 1u);  // the check ended there
        EXPECT_EQ(report.downloads[0].outcome, c.outcome);
        EXPECT_EQ(ReadFile(Data("newFw.bin")), "earlier good image");
        EXPECT_EQ(state.latestKbmc, 0);
        EXPECT_TRUE(Others({"newFw.bin", "second_latest_version.ini"}).empty());
    }
    EXPECT_EQ(server->Count("/z.bin"), 0);
}

TEST_F(UpdateCheck, OversizedDownloadIsStoppedEarly) {
    server->Script("/endless", Reply::Forever(Reply::Endless));
    server->Script("/declared", Reply::Status(200, Image(300000, 7)));
    for (const char* path : {"/endless", "/declared"}) {
        SCOPED_TRACE(path);
        Info(Entry("", Fw(1, 20, 1, 3), path, Md5Of("x")));
        CheckReport report;
        EXPECT_EQ(Check(&report), 0);
        ASSERT_EQ(report.downloads.size(), 1u);
        EXPECT_EQ(report.downloads[0].outcome, FwOutcome::TooBig);
        EXPECT_FALSE(fs::exists(Data("newFw.bin")));
    }
    // The endless body offers 256 MiB; no more than the socket buffers held went out.
    ASSERT_TRUE(Eventually([&] { return server->Requests().back().path == "/declared"; }));
    for (const auto& r : server->Requests()) {
        if (r.path == "/endless") {
            EXPECT_LT(r.bytesSent, 16u << 20);
        }
    }
}

TEST_F(UpdateCheck, SettingsAndEnvironmentChooseTheServer) {
    WriteFile(Data("ccsetup.ini"),
              "[config1]\nupdateserver = " + server->Url() + "/mirror\nExpMode=Y\n");
    Serve("mirror/Update/exp_latest_version.txt",
          "[upgrade_config]\nLatestAppVersion=10\nLatestFwVersion=10\n");
    auto c = LoadUpdateConfig(DataFolder());
    EXPECT_EQ(c.server, server->Url() + "/mirror");
    EXPECT_EQ(c.VersionInfoFile(), Data("exp_latest_version.ini"));
    EXPECT_EQ(OnlineUpdateCheck(c, state), 1);

    setenv(kUpdateServerEnv, "ftp://127.0.0.1/", 1);  // not http(s): passed over
    EXPECT_EQ(LoadUpdateConfig(DataFolder()).server, server->Url() + "/mirror");
    setenv(kUpdateServerEnv, "https://updates.example", 1);
    EXPECT_EQ(LoadUpdateConfig(DataFolder()).server, "https://updates.example");
    unsetenv(kUpdateServerEnv);

    WriteFile(Data("ccsetup.ini"), "[Config1]\nExpMode=y\n");  // exact "Y" only
    c = LoadUpdateConfig(DataFolder());
    EXPECT_FALSE(c.expMode);
    EXPECT_EQ(c.server, kDefaultUpdateServer);
}

TEST_F(UpdateCheck, UnusableVersionInformationKeepsTheEarlierFile) {
    WriteFile(Data("second_latest_version.ini"), "earlier");
    for (const std::string& body : {Image(2000, 10), std::string("hello world"),
                                    std::string("[upgrade_config]\r\nLatestAppVersion=400\r\n")}) {
        Serve("Update/second_latest_version.txt", body);
        CheckReport report;
        EXPECT_EQ(Check(&report), 0);
        EXPECT_EQ(report.end, CheckEnd::BadVersionInfo);
        EXPECT_NE(report.reason.find("second_latest_version.txt is no version information: "),
                  std::string::npos)
            << report.reason;
        EXPECT_FALSE(report.info);
        EXPECT_EQ(ReadFile(Data("second_latest_version.ini")), "earlier");
        EXPECT_TRUE(Others({"second_latest_version.ini"}).empty());
    }
    EXPECT_EQ(state.toolUpdateAvailable, 0);
    EXPECT_TRUE(log.Contains("LatestFwVersion"));  // the problem is named
    EXPECT_FALSE(log.Contains("Cannot download latest version info file"));
}

TEST_F(UpdateCheck, SlowServersMeetTheLimits) {
    // The server serves one connection at a time: a fresh one for each case, so that a
    // slow reply still going out cannot hold up the next case.
    auto slowServer = [&](const std::string& path, Reply::Mode mode) {
        server = std::make_unique<HttpTestServer>(www);
        config.server = server->Url();
        server->Script(path, Reply::Forever(mode));
    };
    // Too slow for a second: a firmware transfer fails and is passed over.
    config.lowSpeedSeconds = 1;
    slowServer("/slow.bin", Reply::Trickle);
    Info(Entry("", Fw(1, 20, 1, 3), "slow.bin", Md5Of("x")));
    CheckReport report;
    EXPECT_EQ(Check(&report), 1);
    ASSERT_EQ(report.downloads.size(), 2u);
    EXPECT_EQ(report.downloads[0].outcome, FwOutcome::TransferFailed);
    EXPECT_NE(CheckShortfall(report).find("too slow"), std::string::npos) << CheckShortfall(report);

    // The time limit covers the whole check: it ends the check in whichever download.
    config.lowSpeedSeconds = 60;
    config.checkLimit = std::chrono::milliseconds(2500);
    state.latestKbmc = 0;
    for (const auto mode : {Reply::Stall, Reply::Trickle}) {
        slowServer("/slow.bin", mode);
        report = {};
        EXPECT_EQ(Check(&report), 0);
        EXPECT_EQ(report.end, CheckEnd::TimeLimit);
        EXPECT_EQ(report.reason,
                  "the time limit of 2.5 s ran out while downloading VL7 new firmware");
        EXPECT_EQ(state.latestKbmc, 0);
        EXPECT_FALSE(fs::exists(Data("newFw.bin")));
    }
    slowServer("/Update/second_latest_version.txt", Reply::Stall);
    report = {};
    EXPECT_EQ(Check(&report), 0);
    EXPECT_EQ(report.end, CheckEnd::TimeLimit);
    EXPECT_NE(report.reason.find("the time limit of 2.5 s ran out while downloading http"),
              std::string::npos)
        << report.reason;
}

// The window side, as the prompt thread sees it.
class FakeWindow : public UpdateWindow {
public:
    std::array<std::atomic<CCCDev*>, 4> sessions{};
    std::atomic<bool> foreground{true};
    std::atomic<int> redraws{0};
    std::mutex mutex;
    std::vector<int> asked, selected;

    CCCDev* Session(int slot) override { return sessions[static_cast<size_t>(slot)]; }
    bool IsForeground() override { return foreground; }
    void RedrawSettingsButton() override { ++redraws; }
    void SelectKeyboard(int slot) override {
        std::lock_guard lock(mutex);
        selected.push_back(slot);
    }
    bool AskUser(int slot) override {
        std::lock_guard lock(mutex);
        asked.push_back(slot);
        return false;
    }
    std::vector<int> Asked() {
        std::lock_guard lock(mutex);
        return asked;
    }
};

class UpdateService : public UpdateCheck {
protected:
    FakeWindow window;
    UpdateTimings fast;
    void SetUp() override {
        UpdateCheck::SetUp();
        fast.retryMs = 20;
        fast.idleTickMs = 5;
        fast.scanPollMs = 5;
        fast.scanPollCount = 3;
        fast.upgradePollMs = 5;
        fast.keyboardPollMs = 5;
        fast.settingsPollMs = 5;
        fast.promptPauseMs = 1;
    }
};

TEST_F(UpdateService, FailedCheckIsRetriedThenOutdatedKeyboardsAreAsked) {
    CCCDev oldController(0, nullptr), oldKeys(1, nullptr), current(2, nullptr);
    for (CCCDev* d : {&oldController, &oldKeys, &current}) {
        SessionTestAccess::SetVersion(*d, 'A', 1, 20);
    }
    SessionTestAccess::SetVersion(oldController, 'A', 1, 10);
    SessionTestAccess::SetKeyTotal(oldKeys, 5);  // its lowest key version is 0.0
    window.sessions[0] = &oldController;
    window.sessions[1] = &oldKeys;
    window.sessions[2] = &current;

    const std::string info = "/Update/second_latest_version.txt";
    server->Script(info, Reply::Status(200, "hello world"));  // says nothing: a failed check
    Info(Entry("", Fw(1, 20, 1, 3), "none", "none"));
    OnlineUpdateService service(config, window, fast);
    service.Start();
    ASSERT_TRUE(Eventually([&] { return server->Count(info) >= 2; }));
    EXPECT_EQ(service.PromptRounds(), 0);  // the prompt waits for a complete check
    server->Unscript(info);

    ASSERT_TRUE(
        Eventually([&] { return service.PromptRounds() == 1 && service.IsPromptSuspended(); }));
    EXPECT_EQ(window.Asked(), (std::vector<int>{0, 1}));
    EXPECT_EQ(window.selected, (std::vector<int>{0, 1}));
    EXPECT_EQ(service.State().badge, 1);
    EXPECT_TRUE(oldController.Snapshot().kbmcNewVer);
    EXPECT_TRUE(oldKeys.Snapshot().keyNewVer);
    EXPECT_FALSE(current.Snapshot().kbmcNewVer || current.Snapshot().keyNewVer);

    // With the settings window open the badge is set but nobody is asked.
    service.State().settingsOpen = 1;
    const int redraws = window.redraws;
    service.ResumePrompt();
    ASSERT_TRUE(
        Eventually([&] { return service.PromptRounds() == 2 && service.IsPromptSuspended(); }));
    EXPECT_EQ(window.Asked().size(), 2u);
    EXPECT_GT(window.redraws, redraws);

    // After an upgrade elsewhere the badge goes.
    oldController.SetNewVersionFlags(false, false);
    oldKeys.SetNewVersionFlags(false, false);
    service.RefreshUpdateBadge();
    EXPECT_EQ(service.State().badge, 0);
}

TEST_F(UpdateService, ChecksAgainAfterAWeekOfTicks) {
    fast.recheckAfterS = 120;  // three ticks of 60 s
    Info("");
    OnlineUpdateService service(config, window, fast);
    service.Start();
    ASSERT_TRUE(Eventually([&] { return service.Checks() >= 3; }));
    EXPECT_EQ(service.State().toolUpdateAvailable, 0);
}

TEST_F(UpdateService, WaitsForScansAndUpgradesWithinTheirLimits) {
    CCCDev dev(0, nullptr);
    SessionTestAccess::SetVersion(dev, 'B', 0, 0);
    window.sessions[0] = &dev;
    OnlineUpdateService service(config, window, fast);
    SessionTestAccess::SetScanState(dev, kScanRequested);
    EXPECT_EQ(service.UpdateNeeded(), 0);  // still scanning after the last round
    EXPECT_EQ(service.UpdatePrompt(), 0);
    SessionTestAccess::SetScanState(dev, kScanIdle);
    EXPECT_EQ(service.UpdateNeeded(), 1);  // a bootloader controller is outdated
    SessionTestAccess::SetUpgrading(dev, true);
    const auto start = std::chrono::steady_clock::now();
    service.WaitUpgradesIdle();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5 * 99));
    SessionTestAccess::SetUpgrading(dev, false);
}

TEST_F(UpdateService, StopsPromptlyWhateverTheThreadsAreDoing) {
    // A server that never answers: the check hangs in its download.
    server->Script("/Update/second_latest_version.txt", Reply::Forever(Reply::Stall));
    {
        OnlineUpdateService service(config, window);
        service.Start();
        ASSERT_TRUE(Eventually([&] { return server->Requests().size() == 1; }));
        const auto start = std::chrono::steady_clock::now();
        service.Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }
    // After a complete check: the online thread in its minute's wait, the prompt thread
    // waiting for a keyboard to ask about the new tool.
    server = std::make_unique<HttpTestServer>(www);
    config.server = server->Url();
    Info("LatestAppVersion=400\r\n");
    OnlineUpdateService service(config, window);
    service.Start();
    ASSERT_TRUE(Eventually([&] { return service.PromptRounds() == 1; }));
    const auto start = std::chrono::steady_clock::now();
    service.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

class UpdateCli : public UpdateCheck {
protected:
    int Run(std::vector<std::string> argv, std::string& out, bool simulate = true) {
        std::vector<cli::CommandDef> table;
        cli::AddUpdateCommands(table);
        std::string error;
        const auto args = cli::Args::Parse(argv, table.at(0).options, error);
        if (!args) {
            ADD_FAILURE() << error;
            return -1;
        }
        std::ostringstream o, e;
        cli::Context ctx{o, e, {}};
        ctx.global.simulate = simulate;
        ctx.global.simFile = (dir / "sim.json").string();
        const int status = table.at(0).run(*args, ctx);
        out = o.str();
        return status;
    }
};

TEST_F(UpdateCli, ReportsVersionsDownloadsAndOutdatedKeyboards) {
    ASSERT_EQ(testing::RunCtl({"sim", "init", (dir / "sim.json").string(), "--keys", "12", "--row",
                               "0", "--version", "1.10"})
                  .status,
              0);
    const std::string image = Image(2000, 8);
    Serve("fw.bin", image);
    Info("LatestAppVersion=316\r\n" + Entry("", Fw(1, 20, 1, 3), "fw.bin", Md5Of(image)));
    std::string out;
    ASSERT_EQ(Run({"--server", server->Url(), "--json"}, out), 0) << out;
    EXPECT_EQ(nlohmann::json::parse(out), nlohmann::json::parse(R"({
        "complete": true, "error": null,
        "tool": {"current": "1.59", "latest": "1.60", "updateAvailable": true},
        "controller": "1.20", "keys": "1.3", "zpn31": null,
        "downloads": [{"kind": "VL7", "file": "newFw.bin", "outcome": "verified", "detail": null},
                      {"kind": "VL7 BL", "file": "VL7BLFw.bin", "outcome": "no link",
                       "detail": "no usable address or digest"}],
        "keyboards": [{"slot": 0, "controllerOutdated": true, "keysOutdated": true}]})"));
    EXPECT_EQ(ReadFile(Data("newFw.bin")), image);

    fs::remove(www / "Update" / "second_latest_version.txt");
    ASSERT_EQ(Run({"--server", server->Url()}, out, false), 1);
    EXPECT_NE(out.find("Update check failed"), std::string::npos) << out;

    for (const char* bad : {"0", "-3", "abc", "5s", "nan", "inf", "1e9", " 5", "0.0001"}) {
        EXPECT_EQ(Run({std::string("--timeout=") + bad}, out, false), cli::kExitUsage) << bad;
    }
    EXPECT_EQ(Run({"--server", server->Url(), "--timeout", "2.5"}, out, false), 1);
}

}  // namespace
}  // namespace tavrik

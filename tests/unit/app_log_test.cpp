#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "app/app_globals.h"
#include "app/applog.h"
#include "app/paths.h"
#include "app/settings.h"
#include "app_test_env.h"
#include "log/log.h"
#include "log_capture.h"
#include "platform/log_file_sink.h"

namespace tavrik {
namespace {

using test::AppTestEnv;
using test::ReadAll;
using test::WriteAll;

std::filesystem::path LogFile() {
    return DataFolder() / kLogFileName;
}

size_t Count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

TEST(AppLog, SizeRuleAtTheBoundary) {
    AppTestEnv env;
    std::filesystem::create_directories(DataFolder());
    WriteAll(LogFile(), "old line\n");
    std::filesystem::resize_file(LogFile(), kLogSizeLimit);
    ASSERT_TRUE(SetUpLog());
    ShutDownLog();
    // Kept at start-up; the first line that would take it past the limit empties it.
    EXPECT_LE(std::filesystem::file_size(LogFile()), kLogSizeLimit);
    EXPECT_EQ(ReadAll(LogFile()).find("old line"), std::string::npos);

    std::filesystem::resize_file(LogFile(), kLogSizeLimit + 1);
    ASSERT_TRUE(SetUpLog());
    DlgLog("after the cut");
    ShutDownLog();
    const std::string text = ReadAll(LogFile());
    EXPECT_LT(text.size(), 1000u);
    EXPECT_EQ(text.rfind("Log file created at: ", 0), 0u);
    EXPECT_EQ(text.find("old line"), std::string::npos);
    EXPECT_NE(text.find("after the cut"), std::string::npos);
}

TEST(AppLog, TwoRunsAppendToOneFile) {
    AppTestEnv env;
    ASSERT_TRUE(SetUpLog());
    DlgLog("Tavrik App Start\n");
    ShutDownLog();
    ASSERT_TRUE(SetUpLog());
    AppLog("second run");
    ShutDownLog();

    const std::string text = ReadAll(LogFile());
    const size_t firstHeader = text.find("Log file created at: ");
    const size_t firstLine = text.find(" TavrikDlg:");
    const size_t secondHeader = text.find("Log file created at: ", firstHeader + 1);
    const size_t secondLine = text.find(" Tavrik:");
    ASSERT_EQ(firstHeader, 0u);
    ASSERT_NE(secondHeader, std::string::npos);
    EXPECT_LT(firstLine, secondHeader);
    EXPECT_LT(secondHeader, secondLine);
    // glog's line format; the message's own line break is not doubled.
    EXPECT_NE(text.find("] Tavrik App Start\nLog file created at: "), std::string::npos);
    EXPECT_TRUE(std::regex_search(
        text, std::regex("\nI[0-9]{8} [0-9:]{8}\\.[0-9]{6} +[0-9]+ TavrikDlg:[0-9]+\\] ")));
    EXPECT_EQ(text.back(), '\n');

    // One fixed file: no dated files, no symbolic links beside it.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(DataFolder())) {
        names.push_back(e.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{kLogFileName});
}

TEST(AppLog, DebugLinesOnlyWithTheDebugSetting) {
    AppTestEnv env;
    const auto settingsFile = DataFolder() / kSettingsFileName;
    WriteAll(settingsFile, "[Config1]\nLanguage=en\n");
    ASSERT_TRUE(SetUpLog());
    DlgLog("Tavrik App Start\n");
    AppSettings quiet;
    quiet.LoadSettings(false);
    DlgDebugLog("CommandLine=tavrik -auto\n");
    ShutDownLog();
    std::string text = ReadAll(LogFile());
    EXPECT_EQ(Count(text, "Tavrik App Start"), 1u);
    EXPECT_EQ(Count(text, "CommandLine="), 0u);
    EXPECT_EQ(Count(text, "Config: Close to Min"), 0u);

    WriteAll(settingsFile, "[Config1]\nLanguage=en\nOemDebugLevel=Debug\n");
    ASSERT_TRUE(SetUpLog());
    AppSettings verbose;
    verbose.LoadSettings(false);
    EXPECT_TRUE(verbose.Debug());
    DlgDebugLog("CommandLine=tavrik -auto\n");
    // Once the window closes, its lines are dropped.
    g_bAppExit = 1;
    DlgLog("after exit");
    DlgDebugLog("after exit");
    ShutDownLog();
    text = ReadAll(LogFile());
    EXPECT_EQ(Count(text, "CommandLine=tavrik -auto"), 1u);
    EXPECT_EQ(Count(text, "Config: Close to Min is true"), 1u);
    EXPECT_EQ(Count(text, "Current config is autoboot disable"), 1u);
    EXPECT_EQ(Count(text, "after exit"), 0u);
}

TEST(AppLog, AFolderThatCannotBeMadeLeavesNoLog) {
    AppTestEnv env;
    WriteAll(env.Root() / "plain-file", "x");
    env.Set("LOCALAPPDATA", (env.Root() / "plain-file").string());
    EXPECT_FALSE(SetUpLog());
    DlgLog("goes nowhere");  // and does not fail
    AppLog("goes nowhere");
    ShutDownLog();
    EXPECT_TRUE(std::filesystem::is_regular_file(env.Root() / "plain-file"));
}

TEST(AppLog, ALogThatIsNoRegularFileIsLeftAlone) {
    AppTestEnv env;
    std::filesystem::create_directories(LogFile().parent_path());
    // No reader: an open for writing would wait for one.
    ASSERT_EQ(::mkfifo(LogFile().c_str(), 0600), 0);
    EXPECT_FALSE(SetUpLog());
    AppLog("goes nowhere");
    ShutDownLog();
    EXPECT_TRUE(std::filesystem::is_fifo(LogFile()));
}

// A program that logs without end (a file rewritten in a loop by another program) keeps its
// log within the limit, and says a repeated warning once, then only how often it came.
TEST(AppLog, TheLimitHoldsWhileRunningAndRepeatsAreCounted) {
    AppTestEnv env;
    ASSERT_TRUE(SetUpLog());
    const auto file = DataFolder() / "capped.log";
    auto sink = LogFileSink::Open(file, "Tavrik", 4096);
    ASSERT_TRUE(sink);
    google::AddLogSink(sink.get());
    test::LogCapture capture;
    RepeatedWarning warning(std::chrono::hours(1));
    for (int i = 0; i < 400; ++i) {
        warning.Warn("Simulated keyboards not taken from the file: garbage");
        AppLog("a line of the log that goes on and on " + std::to_string(i));
    }
    EXPECT_EQ(warning.Logged(), 1);
    warning.Over();
    EXPECT_EQ(warning.Logged(), 2);
    google::RemoveLogSink(sink.get());
    sink.reset();
    ShutDownLog();
    EXPECT_LE(std::filesystem::file_size(file), 4096u);
    const std::string text = ReadAll(file);
    EXPECT_EQ(text.find("goes on and on 0\n"), std::string::npos) << "the oldest lines went";
    EXPECT_NE(text.find("goes on and on 399"), std::string::npos) << "the newest lines stay";
    EXPECT_EQ(capture.Count("not taken from the file: garbage"), 2u);
    EXPECT_EQ(capture.CountWithAll({"garbage", "399"}), 1u)
        << "the closing line counts the repeats not logged";
}

}  // namespace
}  // namespace tavrik

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "app/app_globals.h"
#include "app/paths.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app_test_env.h"
#include "platform/instance_lock.h"

namespace tavrik {
namespace {

using namespace std::chrono_literals;
using test::AppTestEnv;
using test::ReadAll;
using test::WriteAll;

// Waits at most `limit` for a child process; its exit status, or -1.
int WaitChild(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(10ms);
    }
    return -1;
}

bool WaitFor(const std::atomic<int>& value, int wanted, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (value != wanted && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(10ms);
    }
    return value == wanted;
}

TEST(AppInstance, SecondCopyIsFoundAndRaisesTheFirst) {
    AppTestEnv env;
    const auto lockFile = env.Root() / "t.lock";
    InstanceLock first(lockFile, "tavrik");
    ASSERT_FALSE(first.IsAlreadyRunning());
    std::atomic<int> shown{0};
    ASSERT_TRUE(first.StartListening([&] { ++shown; }));

    InstanceLock second(lockFile, "tavrik");
    EXPECT_TRUE(second.IsAlreadyRunning());
    EXPECT_TRUE(second.AskFirstToShow(5s));
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(second.AskFirstToShow(5s));
    EXPECT_EQ(shown, 2);

    // Another lock file is another instance: no request reaches this one.
    InstanceLock other(env.Root() / "other.lock", "tavrik");
    EXPECT_FALSE(other.IsAlreadyRunning());
    EXPECT_FALSE(other.AskFirstToShow(100ms));
    EXPECT_EQ(shown, 2);
}

TEST(AppInstance, NoWindowToRaiseStillEndsTheRequest) {
    AppTestEnv env;
    const auto lockFile = env.Root() / "t.lock";
    InstanceLock first(lockFile, "tavrik");
    ASSERT_FALSE(first.IsAlreadyRunning());  // holds the lock, never listens
    InstanceLock second(lockFile, "tavrik");
    ASSERT_TRUE(second.IsAlreadyRunning());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(second.AskFirstToShow(300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

TEST(AppInstance, LockOfACrashedCopyDoesNotBlock) {
    AppTestEnv env;
    const auto lockFile = env.Root() / "t.lock";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Takes the lock and ends without releasing anything, as a crash would.
        auto* lock = new InstanceLock(lockFile, "tavrik");
        ::_exit(lock->IsAlreadyRunning() ? 1 : 0);
    }
    ASSERT_EQ(WaitChild(child, 10s), 0);
    ASSERT_TRUE(std::filesystem::exists(lockFile));
    InstanceLock next(lockFile, "tavrik");
    EXPECT_FALSE(next.IsAlreadyRunning());
}

TEST(AppInstance, ALockThatCannotBeMadeLetsTheToolStart) {
    AppTestEnv env;
    InstanceLock lock(env.Root() / "no" / "such" / "folder" / "t.lock", "tavrik");
    EXPECT_FALSE(lock.IsAlreadyRunning());
    EXPECT_FALSE(lock.StartListening([] {}));
}

TEST(AppStartup, AutoBootArgument) {
    EXPECT_TRUE(IsAutoBoot({"-auto"}));
    EXPECT_TRUE(IsAutoBoot({"-AUTO"}));
    EXPECT_TRUE(IsAutoBoot({"-Auto"}));
    EXPECT_FALSE(IsAutoBoot({}));
    EXPECT_FALSE(IsAutoBoot({"-auto", "x"}));
    EXPECT_FALSE(IsAutoBoot({"auto"}));
    EXPECT_FALSE(IsAutoBoot({"-autostart"}));
}

TEST(AppStartup, FirstCopyReadsTheLanguageSecondCopyLogsAndLeaves) {
    AppTestEnv env;
    WriteAll(DataFolder() / kSettingsFileName, "[Config1]\nLanguage=en\n");
    const char* argv[] = {"tavrik", "-AUTO"};
    Application first(2, argv, StartOptions{.changeWorkingFolder = false});
    EXPECT_TRUE(first.AutoBoot());
    EXPECT_EQ(first.CommandLine(), "tavrik -AUTO");
    ASSERT_TRUE(first.Start());
    EXPECT_EQ(g_strLanguage, "en");
    std::atomic<int> shown{0};
    ASSERT_TRUE(first.Instance().StartListening([&] { ++shown; }));

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const char* childArgv[] = {"tavrik"};
        Application second(1, childArgv,
                           StartOptions{.changeWorkingFolder = false, .showRequestLimit = 5s});
        const bool runs = second.Start();
        second.Exit();
        ::_exit(runs ? 1 : 0);
    }
    EXPECT_EQ(WaitChild(child, 20s), 0);
    EXPECT_TRUE(WaitFor(shown, 1, 5s));
    first.Exit();

    // Both copies wrote to the one log file, the second one while the first held it open.
    const std::string text = ReadAll(DataFolder() / kLogFileName);
    const size_t line = text.find(" Tavrik:");
    ASSERT_NE(line, std::string::npos);
    EXPECT_NE(text.find("] 应用程序已经运行\n", line), std::string::npos);
    EXPECT_EQ(text.find("Log file created at: "), 0u);
    EXPECT_NE(text.find("Log file created at: ", 1), std::string::npos);
}

// A data folder that cannot be written (here: a file stands where a folder should be, which
// holds for root too): the running copy is still found, through the runtime folder.
TEST(AppStartup, AnUnwritableDataFolderKeepsOneCopyThroughTheRuntimeFolder) {
    AppTestEnv env;
    WriteAll(env.Root() / "file", "not a folder");
    env.Set("LOCALAPPDATA", (env.Root() / "file").string());
    env.Set("XDG_RUNTIME_DIR", (env.Root() / "run").string());
    std::filesystem::create_directories(env.Root() / "run");
    EXPECT_FALSE(FolderWritable(DataFolder()));
    const auto lockPath = InstanceLockFile();
    EXPECT_EQ(lockPath.parent_path(), env.Root() / "run");
    InstanceLock first(lockPath, "tavrik");
    EXPECT_FALSE(first.IsAlreadyRunning());
    InstanceLock second(InstanceLockFile(), "tavrik");
    EXPECT_TRUE(second.IsAlreadyRunning());
    // Another data folder is another running copy.
    env.Set("LOCALAPPDATA", (env.Root() / "file" / "other").string());
    EXPECT_NE(InstanceLockFile(), lockPath);
}

}  // namespace
}  // namespace tavrik

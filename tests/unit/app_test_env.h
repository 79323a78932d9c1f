// Gives each application-shell test folders of its own (data, autostart, resources) through
// the environment, and puts the shared values back as a fresh start has them. ctest runs
// every test in a process of its own, possibly at the same time, so names carry the test
// name and the process id.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/app_globals.h"
#include "app/applog.h"
#include "app/paths.h"

namespace tavrik::test {

class AppTestEnv {
public:
    AppTestEnv() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = std::filesystem::temp_directory_path() /
                ("tavrik-app-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
                 std::to_string(::getpid()));
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
        Set("LOCALAPPDATA", (root_ / "local").string());
        Set("XDG_CONFIG_HOME", (root_ / "config").string());
        g_bAppExit = 0;
        g_nLanguage = 0;
        g_strLanguage = "zh-cn";
        SetDlgDebugLog(false);
    }
    ~AppTestEnv() {
        ShutDownLog();
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                ::unsetenv(it->first.c_str());
            }
        }
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    AppTestEnv(const AppTestEnv&) = delete;
    AppTestEnv& operator=(const AppTestEnv&) = delete;

    void Set(const std::string& name, const std::string& value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name.c_str(), value.c_str(), 1);
    }

    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path Data() const { return DataFolder(); }

private:
    std::filesystem::path root_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The resource root set for one test and put back at its end, even when the test stops at a
// failed ASSERT: a root left behind would point later tests of the same process at
// another test's texts.
class ResourceRootScope {
public:
    explicit ResourceRootScope(const std::filesystem::path& root) : before_(ResourceRoot()) {
        SetResourceRoot(root);
    }
    ~ResourceRootScope() { SetResourceRoot(before_); }
    ResourceRootScope(const ResourceRootScope&) = delete;
    ResourceRootScope& operator=(const ResourceRootScope&) = delete;

private:
    std::filesystem::path before_;
};

inline std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

}  // namespace tavrik::test

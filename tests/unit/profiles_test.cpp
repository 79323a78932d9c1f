// Profiles: the names users give them, the folder both front ends share, the preview's
// words, and `tavrikctl profile` against a simulated keyboard.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "backup/profiles.h"
#include "cli_test_util.h"

namespace tavrik {
namespace {

using backup::Change;
using backup::Placement;
using backup::Plan;
using backup::ProfileNameRefusal;
using backup::ProfileStore;
using backup::What;
using nlohmann::json;
using testing::RunCtl;

namespace fs = std::filesystem;

fs::path TestDir(const std::string& prefix) {
    const fs::path dir = fs::path(::testing::TempDir()) /
                         (prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

TEST(ProfileNames, PathsControlCharactersAndEmptyNamesAreRefused) {
    for (const char* ok : {"Gaming", "work 2", "Ümlaut-ß", "a.b", "x_y (copy)"}) {
        EXPECT_EQ(ProfileNameRefusal(ok), "") << ok;
    }
    EXPECT_EQ(ProfileNameRefusal(std::string(64, 'a')), "") << "64 bytes are allowed";
    for (const std::string& bad :
         {std::string(), std::string("   "), std::string("../etc/passwd"), std::string("a/b"),
          std::string("a\\b"), std::string(".hidden"), std::string(".."), std::string(" lead"),
          std::string("trail "), std::string("tab\there"), std::string("nul\0x", 5),
          std::string("new\nline"), std::string("a:b"), std::string("what?"),
          std::string(65, 'a')}) {
        EXPECT_NE(ProfileNameRefusal(bad), "") << json(bad).dump();
    }
    EXPECT_EQ(ProfileNameRefusal("a/b"), "a profile name may not contain '/'");
}

TEST(ProfileStoreFiles, ListsRenamesAndDeletesOnlyProfiles) {
    const fs::path dir = TestDir("profiles_");
    const ProfileStore store(dir / "profiles");
    EXPECT_TRUE(store.List().empty()) << "a missing folder is an empty list";
    std::string error;
    ASSERT_TRUE(store.Prepare(error)) << error;
    for (const char* name : {"b", "a", ".a.json.tmp-1", "notes.txt", ".hidden"}) {
        std::ofstream(store.Folder() / (std::string(name) + ".json")) << "{}";
    }
    fs::create_directory(store.Folder() / "folder.json");
    std::ofstream(store.Folder() / "notes.txt") << "x";
    std::vector<std::string> names;
    for (const auto& p : store.List()) {
        names.push_back(p.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "notes.txt"}));

    EXPECT_FALSE(store.Rename("a", "b", error));
    EXPECT_EQ(error, "a profile named \"b\" already exists");
    EXPECT_FALSE(store.Rename("a", "../a", error));
    EXPECT_FALSE(store.Rename("zz", "c", error));
    EXPECT_EQ(error, "there is no profile named \"zz\"");
    ASSERT_TRUE(store.Rename("a", "c", error)) << error;
    EXPECT_FALSE(store.Exists("a"));
    EXPECT_TRUE(store.Exists("c"));
    EXPECT_FALSE(store.Remove("../profiles/c", error));
    EXPECT_TRUE(store.Exists("c"));
    ASSERT_TRUE(store.Remove("c", error)) << error;
    EXPECT_FALSE(store.Exists("c"));
    EXPECT_FALSE(store.Remove("folder", error)) << "a folder is no profile";
    EXPECT_TRUE(fs::is_directory(store.Folder() / "folder.json"));
}

TEST(ProfilePreview, SaysWhatWouldChangeAndWhichModulesDoNotMatch) {
    Plan plan;
    EXPECT_EQ(backup::PlanSummary(plan), "nothing to change");
    EXPECT_EQ(backup::MissingModulesText(plan), "");
    EXPECT_EQ(backup::UnsavedModulesText(plan), "");
    const auto add = [&](What w, json to = nullptr) {
        Change c;
        c.what = w;
        c.to = std::move(to);
        plan.changes.push_back(std::move(c));
    };
    for (int i = 0; i < 12; ++i) {
        add(What::Layers);
    }
    for (int i = 0; i < 3; ++i) {
        add(What::Colour);
    }
    add(What::Macro);
    add(What::Nkro, true);
    EXPECT_EQ(backup::PlanSummary(plan), "12 keys, 3 colours, 1 macro, rollover on");

    plan.notPlaced.push_back({0x1A2B3C4D, 3, "not attached (slot 3 in the backup)", true});
    plan.notPlaced.push_back({0x11111111, 5, "runs its bootloader", false});
    plan.unknown.push_back({0x12345678, 30, ""});
    EXPECT_EQ(backup::MissingModulesText(plan), "1 saved module is not attached: 0x1A2B3C4D");
    EXPECT_EQ(backup::UnsavedModulesText(plan),
              "1 attached module has no saved state and stays as it is: 0x12345678 (slot 30)");
}

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class CliDeviceProfile : public ::testing::Test {
protected:
    fs::path dir = TestDir("cli_profile_");
    std::string file = (dir / "sim.json").string();
    std::string sim = "--simulate=" + file;
    const char* oldData = std::getenv("LOCALAPPDATA");
    std::string savedData = oldData ? oldData : "";

    void SetUp() override {
        setenv("TAVRIK_SIM_PAUSE_SCALE", "0.05", 1);
        setenv("LOCALAPPDATA", (dir / "data").c_str(), 1);
        ASSERT_EQ(RunCtl({"sim", "init", file, "--keys", "12"}).status, 0);
    }
    void TearDown() override {
        if (oldData) {
            setenv("LOCALAPPDATA", savedData.c_str(), 1);
        } else {
            unsetenv("LOCALAPPDATA");
        }
    }
    testing::CliResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), sim);
        return RunCtl(args);
    }
    json Modules() {
        const json j = json::parse(ReadText(file));
        return j["keyboards"][0]["modules"];
    }
};

TEST_F(CliDeviceProfile, SavedProfileBringsEveryKeyBackAndNamesModulesThatDoNotMatch) {
    ASSERT_EQ(Run({"profile", "save", "Gaming"}).status, 0);
    EXPECT_TRUE(fs::is_regular_file(dir / "data" / "Tavrik" / "profiles" / "Gaming.json"));
    auto list = Run({"profile", "list", "--json"});
    ASSERT_EQ(list.status, 0);
    EXPECT_EQ(json::parse(list.out)[0]["name"], "Gaming");
    const json before = Modules();

    ASSERT_EQ(Run({"set-key", "3", "0", "F5"}).status, 0);
    ASSERT_EQ(Run({"set-key", "4", "1", "B"}).status, 0);
    ASSERT_EQ(Run({"set-color", "5", "#00F000"}).status, 0);
    ASSERT_NE(Modules(), before);
    auto dry = Run({"profile", "restore", "Gaming", "--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.out.find("(2 keys, 1 colour)"), std::string::npos) << dry.out;
    auto r = Run({"profile", "restore", "Gaming"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Modules(), before);

    // A module taken out and another put in: named, and the new one left alone.
    ASSERT_EQ(Run({"sim", "remove", "0", "2"}).status, 0);
    ASSERT_EQ(Run({"sim", "insert", "0", "40"}).status, 0);
    ASSERT_EQ(Run({"set-key", "40", "0", "Q"}).status, 0);
    r = Run({"profile", "restore", "Gaming", "--json"});
    EXPECT_EQ(r.status, 1);
    const json report = json::parse(r.out);
    ASSERT_EQ(report["notPlaced"].size(), 1u) << r.out;
    EXPECT_NE(report["notPlaced"][0]["reason"].get<std::string>().find("not attached"),
              std::string::npos);
    ASSERT_EQ(report["notInBackup"].size(), 1u);
    EXPECT_EQ(report["notInBackup"][0]["slot"], 40);
    EXPECT_TRUE(report["changes"].empty()) << "nothing written to a module without saved state";
}

TEST_F(CliDeviceProfile, NamesThatAreNotProfilesAreRefusedBeforeAnythingHappens) {
    auto r = Run({"profile", "save", "../escape"});
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("may not contain '/'"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "data" / "Tavrik" / "escape.json"));
    r = Run({"profile", "restore", "missing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no profile named \"missing\""), std::string::npos) << r.err;
    ASSERT_EQ(Run({"profile", "save", "one"}).status, 0);
    ASSERT_EQ(Run({"profile", "save", "two"}).status, 0);
    EXPECT_EQ(Run({"profile", "rename", "one", "two"}).status, 1);
    EXPECT_EQ(Run({"profile", "rename", "one", "three"}).status, 0);
    EXPECT_EQ(Run({"profile", "delete", "two"}).status, 0);
    auto list = Run({"profile", "list"});
    EXPECT_EQ(list.out.find("two"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("three"), std::string::npos) << list.out;
}

}  // namespace
}  // namespace tavrik

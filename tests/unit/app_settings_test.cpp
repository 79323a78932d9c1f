#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "app/app_globals.h"
#include "app/autoboot.h"
#include "app/paths.h"
#include "app/profile_ini.h"
#include "app/settings.h"
#include "app_test_env.h"
#include "platform/xdg_autostart.h"

namespace tavrik {
namespace {

using test::AppTestEnv;
using test::ReadAll;
using test::WriteAll;

std::string Config(const std::string& key) {
    return ReadProfileString(DataFolder() / kSettingsFileName, kSettingsSection, key,
                             kProfileNotFound);
}

// Settings whose language question is answered `english` and counted.
struct Answering {
    AppSettings settings;
    int asked = 0;
    int notes = 0;
    explicit Answering(bool english) {
        settings.SetHooks({[this, english](const std::string& title, const std::string& text) {
                               ++asked;
                               EXPECT_EQ(title, "Tavrik");
                               EXPECT_NE(text.find("English"), std::string::npos);
                               return english;
                           },
                           [this](const std::string&, const std::string&) { ++notes; }});
    }
};

TEST(AppSettings, FirstRunWritesDefaultsMakesTheEntryAndAsksTheLanguage) {
    AppTestEnv env;
    Answering a(true);
    a.settings.LoadSettings(/*autoBoot=*/false);

    EXPECT_FALSE(a.settings.SettingsFileExisted());
    EXPECT_EQ(Config("AutoStart"), "Y");
    EXPECT_EQ(Config("MinAfterStart"), "Y");
    EXPECT_EQ(Config("AutoUpgrade"), "Y");
    const std::string day = Config("LastUpdate");
    ASSERT_TRUE(std::regex_match(day, std::regex("[0-3][0-9][0-9]")));
    EXPECT_GE(std::stoi(day), 1);
    EXPECT_LE(std::stoi(day), 366);
    EXPECT_EQ(a.asked, 1);
    EXPECT_EQ(a.notes, 0) << "the answer was stored: nothing to say";
    EXPECT_EQ(Config("Language"), "en");
    EXPECT_EQ(g_nLanguage, 2);
    EXPECT_EQ(g_strLanguage, "en");  // this very run already shows English

    EXPECT_EQ(IsAutoBootEntryPresent(), 1);
    EXPECT_EQ(a.settings.GetAutoStart(), 1);
    EXPECT_EQ(a.settings.GetMinAfterStart(), 1);
    EXPECT_EQ(a.settings.GetAutoUpgrade(), 1);
    EXPECT_TRUE(a.settings.CloseToTray());
    EXPECT_FALSE(a.settings.Debug());
    EXPECT_FALSE(a.settings.ExpMode());
    EXPECT_FALSE(a.settings.OneClickProgramKey());
    EXPECT_EQ(a.settings.VersionInfoFile().filename(), "second_latest_version.ini");
}

TEST(AppSettings, FirstRunStartedWithAutoWritesNoEntry) {
    AppTestEnv env;
    Answering a(false);
    a.settings.LoadSettings(/*autoBoot=*/true);
    EXPECT_EQ(Config("AutoStart"), "Y");
    EXPECT_FALSE(std::filesystem::exists(AutoBootEntryFile()));
    EXPECT_EQ(a.settings.GetAutoStart(), 1);
    EXPECT_EQ(Config("Language"), "zh-cn");
    EXPECT_EQ(g_nLanguage, 1);
    EXPECT_EQ(g_strLanguage, "zh-cn");
}

TEST(AppSettings, ValuesCountOnlyInTheirExactSpelling) {
    AppTestEnv env;
    ASSERT_EQ(SetAutoBootEntry(), 1);
    WriteAll(DataFolder() / kSettingsFileName,
             "[Config1]\nAutoStart=y\nMinAfterStart=yes\nAutoUpgrade=Y\nOemDebugLevel=debug\n"
             "ExpMode=Y\nMFGOneClickProgramKey=Y\nLanguage=EN\n");
    Answering a(true);
    a.settings.LoadSettings(false);

    EXPECT_TRUE(a.settings.SettingsFileExisted());
    EXPECT_EQ(a.settings.GetAutoStart(), 0);
    EXPECT_FALSE(std::filesystem::exists(AutoBootEntryFile()));
    EXPECT_EQ(a.settings.GetMinAfterStart(), 0);
    EXPECT_EQ(a.settings.GetAutoUpgrade(), 1);
    EXPECT_FALSE(a.settings.Debug());
    EXPECT_TRUE(a.settings.ExpMode());
    EXPECT_EQ(a.settings.VersionInfoFile().filename(), "exp_latest_version.ini");
    EXPECT_TRUE(a.settings.OneClickProgramKey());
    EXPECT_EQ(a.asked, 1);  // "EN" is no language
    // An existing file is never given first-run defaults.
    EXPECT_EQ(Config("LastUpdate"), "notfound");
}

TEST(AppSettings, CloseToTrayFollowsCloseToMinAndMinAfterStart) {
    AppTestEnv env;
    const auto file = DataFolder() / kSettingsFileName;
    struct Case {
        const char* lines;
        bool closeToTray;
    } cases[] = {
        {"AutoStart=N\nLanguage=en\n", true},                     // no CloseToMin
        {"CloseToMin=n\nLanguage=en\n", true},                    // only "N" is off
        {"CloseToMin=N\nMinAfterStart=N\nLanguage=en\n", false},  //
        {"CloseToMin=N\nMinAfterStart=Y\nLanguage=en\n", true},   // needed for hiding
    };
    for (const Case& c : cases) {
        WriteAll(file, std::string("[Config1]\n") + c.lines);
        AppSettings s;
        s.LoadSettings(false);
        EXPECT_EQ(s.CloseToTray(), c.closeToTray) << c.lines;
    }
}

TEST(AppSettings, UnknownLanguageIsAskedUntilAnswered) {
    AppTestEnv env;
    const auto file = DataFolder() / kSettingsFileName;
    WriteAll(file, "[Config1]\nLanguage=fr\n");
    {
        AppSettings silent;  // no window: nothing asked, nothing written
        silent.LoadSettings(false);
        EXPECT_EQ(g_nLanguage, 0);
        EXPECT_EQ(Config("Language"), "fr");
    }
    {
        Answering a(false);
        a.settings.LoadSettings(false);
        EXPECT_EQ(a.asked, 1);
        EXPECT_EQ(Config("Language"), "zh-cn");
        EXPECT_EQ(g_strLanguage, "zh-cn");
    }
    Answering again(true);
    again.settings.LoadSettings(false);
    EXPECT_EQ(again.asked, 0);
    EXPECT_EQ(g_nLanguage, 1);
    EXPECT_EQ(GetLanguageSetting(), "zh-cn");
}

// The answer to the language question cannot be stored (a file stands where the data
// folder should be, which holds for root too): the user hears why and where, in the
// language chosen, instead of meeting the question again at every start without a word.
TEST(AppSettings, AnAnswerThatCannotBeStoredIsSaidWithTheFolder) {
    AppTestEnv env;
    WriteAll(env.Root() / "file", "not a folder");
    env.Set("LOCALAPPDATA", (env.Root() / "file").string());
    const test::ResourceRootScope root(
        std::filesystem::path(__FILE__).parent_path().parent_path().parent_path());
    AppSettings settings;
    std::vector<std::string> notes;
    settings.SetHooks(
        {[](const std::string&, const std::string&) { return true; },
         [&](const std::string&, const std::string& text) { notes.push_back(text); }});
    settings.LoadSettings(false);
    EXPECT_EQ(g_strLanguage, "en");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0],
              "Settings cannot be saved: this folder cannot be written:\n" + DataFolder().string());
}

TEST(AppSettings, SetLanguageTakesOnlyOneOrTwo) {
    AppTestEnv env;
    const auto file = DataFolder() / kSettingsFileName;
    WriteAll(file, "[Config1]\r\nLanguage=zh-cn\r\n");
    AppSettings s;
    s.LoadSettings(false);
    int language = 0;
    ASSERT_EQ(s.GetLanguage(language), 1);
    EXPECT_EQ(language, 1);

    EXPECT_EQ(s.SetLanguage(3), 0);
    EXPECT_EQ(s.SetLanguage(0), 0);
    EXPECT_EQ(ReadAll(file), "[Config1]\r\nLanguage=zh-cn\r\n");
    EXPECT_EQ(g_nLanguage, 1);

    EXPECT_EQ(s.SetLanguage(2), 1);
    EXPECT_EQ(ReadAll(file), "[Config1]\r\nLanguage=en\r\n");
    EXPECT_EQ(g_nLanguage, 2);
    EXPECT_EQ(g_strLanguage, "zh-cn");  // the texts change at the next start

    std::string title, text;
    s.SetHooks({{}, [&](const std::string& t, const std::string& x) { title = t, text = x; }});
    s.ShowLanguageRestartNote();
    EXPECT_EQ(title, ApplicationName());
    EXPECT_NE(text.find("restart"), std::string::npos);
}

TEST(AppAutostart, CreatePresentOtherTextAndDelete) {
    AppTestEnv env;
    const auto entry = AutoBootEntryFile();
    EXPECT_EQ(entry, env.Root() / "config" / "autostart" / "org.tavrik.Tavrik.desktop");
    EXPECT_EQ(IsAutoBootEntryPresent(), 0);

    ASSERT_EQ(SetAutoBootEntry(), 1);
    EXPECT_EQ(IsAutoBootEntryPresent(), 1);
    const std::string text = ReadAll(entry);
    EXPECT_NE(text.find("\nExec=" + ExePath().string() + " -auto\n"), std::string::npos);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);

    // Left by an older install: counts as absent, and turning autostart on rewrites it.
    WriteAll(entry, "[Desktop Entry]\nType=Application\nExec=/old/place/tavrik -auto\n");
    EXPECT_EQ(IsAutoBootEntryPresent(), 0);
    AppSettings s;
    s.SetAutoStart(true);
    EXPECT_EQ(IsAutoBootEntryPresent(), 1);
    EXPECT_EQ(Config("AutoStart"), "Y");

    // Turning it off removes any entry of ours, whatever it runs.
    WriteAll(entry, "[Desktop Entry]\nExec=/old/place/tavrik -auto\n");
    s.SetAutoStart(false);
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_EQ(Config("AutoStart"), "N");
    EXPECT_EQ(DeleteAutoBootEntry(), 1);  // nothing left to delete is no failure
}

TEST(AppAutostart, ExecLineMatchesOnlyInTheMainGroup) {
    AppTestEnv env;
    const auto entry = env.Root() / "e.desktop";
    WriteAll(entry, "[Desktop Action x]\nExec=/p -auto\n[Desktop Entry]\nExec=/p -auto \n");
    EXPECT_FALSE(AutostartEntryMatches(entry, "/p -auto"));
    WriteAll(entry, "[Desktop Action x]\nExec=/q\n[Desktop Entry]\nName=x\nExec=/p -auto\n");
    EXPECT_TRUE(AutostartEntryMatches(entry, "/p -auto"));
}

TEST(AppAutostart, PathsAreQuotedAndKeptWhole) {
    EXPECT_EQ(DesktopExecValue("/usr/bin/tavrik", "-auto"), "/usr/bin/tavrik -auto");
    EXPECT_EQ(DesktopExecValue("/opt/My Tools/tavrik", "-auto"), "\"/opt/My Tools/tavrik\" -auto");
    // Inside quotes $ and \ are escaped, and the entry's string escapes double a backslash.
    EXPECT_EQ(DesktopExecValue("/a$b\\c", "-auto"), "\"/a\\\\$b\\\\\\\\c\" -auto");
    EXPECT_EQ(DesktopExecValue("/a/100%/t", "-auto"), "/a/100%%/t -auto");

    // No 259-character limit: a deep path is written and matched in full.
    AppTestEnv env;
    const std::string deep = "/" + std::string(300, 'd') + "/tavrik";
    const auto entry = env.Root() / "deep.desktop";
    ASSERT_TRUE(WriteAutostartEntry(entry, "tavrik", DesktopExecValue(deep, "-auto")));
    EXPECT_TRUE(AutostartEntryMatches(entry, deep + " -auto"));
    EXPECT_FALSE(AutostartEntryMatches(entry, deep.substr(0, 259)));
}

TEST(AppIni, ReadsWithTheWindowsRules) {
    const std::string text =
        "\xEF\xBB\xBF; comment\n[config1]\nAUTOSTART = Y \nkey=a=b;c\nquoted=\"two words \"\n"
        "single='x'\nhalf=\"x\ndup=first\ndup=second\n[CONFIG1]\ndup=third\nlate=1\n";
    auto get = [&](const char* key) { return ProfileStringFromText(text, "Config1", key, "nf"); };
    EXPECT_EQ(get("AutoStart"), "Y");
    EXPECT_EQ(get("KEY"), "a=b;c");
    EXPECT_EQ(get("quoted"), "two words ");
    EXPECT_EQ(get("single"), "x");
    EXPECT_EQ(get("half"), "\"x");
    EXPECT_EQ(get("dup"), "first");
    EXPECT_EQ(get("late"), "1");
    EXPECT_EQ(get("missing"), "nf");
    EXPECT_EQ(ProfileStringFromText(text, "Config2", "AutoStart", "nf"), "nf");

    const std::string ascii(300, 'a');
    EXPECT_EQ(ProfileStringFromText("[s]\nk=" + ascii, "s", "k", ""), std::string(259, 'a'));
    std::string chinese;
    for (int i = 0; i < 300; ++i) {
        chinese += "键";
    }
    const std::string cut = ProfileStringFromText("[s]\nk=" + chinese + "\n", "s", "k", "");
    EXPECT_EQ(cut.size(), 259u * 3);  // whole characters only
    EXPECT_EQ(chinese.rfind(cut, 0), 0u);
    EXPECT_EQ(ProfileStringFromText("", "s", "k", ascii).size(), 259u);
}

TEST(AppIni, WritesChangeOneLineOnly) {
    const std::string text =
        "; head\r\n\r\n[Config1]\r\nAutoStart=Y\r\ngarbage line\r\nautostart=Z\r\n"
        "Other = 1  \r\n; about Sec2\r\n[Sec2]\r\nk=v";
    EXPECT_EQ(SetProfileStringInText(text, "CONFIG1", "AUTOSTART", "N"),
              "; head\r\n\r\n[Config1]\r\nAutoStart=N\r\ngarbage line\r\nautostart=Z\r\n"
              "Other = 1  \r\n; about Sec2\r\n[Sec2]\r\nk=v");
    EXPECT_EQ(SetProfileStringInText(text, "Config1", "New", "x"),
              "; head\r\n\r\n[Config1]\r\nAutoStart=Y\r\ngarbage line\r\nautostart=Z\r\n"
              "Other = 1  \r\nNew=x\r\n; about Sec2\r\n[Sec2]\r\nk=v");
    EXPECT_EQ(SetProfileStringInText(text, "Sec2", "k2", "w"), text + "\r\nk2=w");
    EXPECT_EQ(SetProfileStringInText(text, "Sec3", "k", "w"), text + "\r\n[Sec3]\r\nk=w\r\n");
    EXPECT_EQ(SetProfileStringInText("", "Config1", "A", "Y"), "[Config1]\nA=Y\n");
}

TEST(AppIni, RefusesWritesThatWouldNotReadBack) {
    EXPECT_FALSE(SetProfileStringInText("", "Config1", "Key", "a\nLanguage=en"));
    EXPECT_FALSE(SetProfileStringInText("", "Config1", "Key=x", "1"));
    EXPECT_FALSE(SetProfileStringInText("", "Con]fig1", "Key", "1"));
    EXPECT_FALSE(SetProfileStringInText("", "Config1", "Key", " padded"));
    EXPECT_FALSE(SetProfileStringInText(std::string("[Config1]\0x=1\n", 14), "Config1", "k", "1"));
    // A section header broken over two lines reads as a section: adding a second one would
    // leave the old value in force, so nothing is written.
    EXPECT_FALSE(SetProfileStringInText("[\nConfig1]\nAutoStart=Y\n", "Config1", "AutoStart", "N"));

    AppTestEnv env;
    const auto file = env.Root() / "new" / "folder" / "x.ini";
    ASSERT_TRUE(WriteProfileString(file, "Config1", "A", "1"));
    EXPECT_EQ(ReadAll(file), "[Config1]\nA=1\n");
    // Not an INI file of ours: left alone.
    const auto big = env.Root() / "big.ini";
    WriteAll(big, "[Config1]\n" + std::string(kProfileFileMax, ';'));
    EXPECT_FALSE(WriteProfileString(big, "Config1", "A", "1"));
    EXPECT_EQ(std::filesystem::file_size(big), kProfileFileMax + 10);
    EXPECT_EQ(ReadProfileString(big, "Config1", "A", "nf"), "nf");
}

// Files at rest are parsed once and kept; every change must still be seen at the next read.
TEST(AppIni, AFileKeptFromAnEarlierReadIsReadAgainWhenItChanges) {
    AppTestEnv env;
    const auto file = env.Root() / "kept.ini";
    const auto now = std::filesystem::file_time_type::clock::now();
    const auto rest = [&](int hoursAgo) {
        std::filesystem::last_write_time(file, now - std::chrono::hours(hoursAgo));
    };
    const auto read = [&] { return ReadProfileString(file, "S", "k", "nf"); };
    WriteAll(file, "[s]\nK=one\n");
    rest(3);
    EXPECT_EQ(read(), "one");
    EXPECT_EQ(read(), "one");
    // In place, the same size, an older time.
    {
        std::ofstream out(file, std::ios::in | std::ios::out | std::ios::binary);
        out << "[s]\nK=two\n";
    }
    rest(4);
    EXPECT_EQ(read(), "two");
    // Another size, the same time.
    WriteAll(file, "[s]\nK=three\n");
    rest(4);
    EXPECT_EQ(read(), "three");
    // Another file put in its place with the same size and time.
    const auto other = env.Root() / "other.ini";
    WriteAll(other, "[s]\nK=four!\n");
    std::filesystem::last_write_time(other, now - std::chrono::hours(4));
    std::filesystem::rename(other, file);
    EXPECT_EQ(read(), "four!");
    // Changed again within the same moment it was written: never kept until it rests.
    WriteAll(file, "[s]\nK=five\n");
    EXPECT_EQ(read(), "five");
    WriteAll(file, "[s]\nK=six!\n");
    EXPECT_EQ(read(), "six!");
    std::filesystem::remove(file);
    EXPECT_EQ(read(), "nf");
    std::filesystem::create_directory(file);
    EXPECT_EQ(read(), "nf");
}

}  // namespace
}  // namespace tavrik

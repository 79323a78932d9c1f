#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/paths.h"
#include "app/profile_ini.h"
#include "app/texts.h"
#include "app_test_env.h"
#include "device/session_result.h"
#include "log_capture.h"

namespace tavrik {
namespace {

using test::AppTestEnv;
using test::ReadAll;
using test::ResourceRootScope;
using test::WriteAll;

// Every key the tool reads, by section.
const std::map<std::string, std::vector<std::string>> kRequiredKeys = {
    {"PromptInfo",
     {"connected",
      "marcoFileNotSaved",
      "InfoMarcoInvalid",
      "InfoMarcoStepNotAllowed",
      "InfoMarcoSwitchOnlyDualSec",
      "InfoMarcoNoKeyDown",
      "InfoMarcoDelayTooLong",
      "alreadyRunning",
      "settingsNotSaved",
      "waiting",
      "scanning",
      "scanningKeys",
      "plsinstallkey",
      "scanresult",
      "mainPrompt1",
      "mainPrompt2",
      "devRemove",
      "askUser",
      "vkPrompt1",
      "limitationMarcoCount",
      "MarcoDlgPrompt1",
      "InfoAutoLoopNotSupport",
      "InfoDelSwitchFlagFirst",
      "InfoDelayIsTooLongInMarco",
      "InfoFlagForDualSecMarcoHadExist",
      "InfoMarcoLoopLimitation",
      "InfoMarcoLoopRange",
      "InfoMarcoMaxNumReach",
      "InfoNoDelayChangeForLastMarco",
      "InfoNoFlagForDualSecMarco",
      "InfoNoMarcoDelayRange",
      "InfoNoMarcoItemSelect",
      "InfoOverLoadRange",
      "InfoOutOfRange"}},
    {"SetupPromptInfo",
     {"startWithWin",
      "minAfterStart",
      "checkUpdate",
      "NkroModePrompt",
      "OverLoadSupport",
      "usbReportRate",
      "InfoLanguageSwitch",
      "curVer",
      "newVer",
      "appVer",
      "ctrlVer",
      "keyVer",
      "noUpdate",
      "downloadNow",
      "verChkFail",
      "updateManual",
      "updateNow",
      "Q1",
      "Q2",
      "Q3",
      "Q4",
      "Q1URL",
      "Q2URL",
      "Q3URL",
      "Q4URL"}},
    {"ButtonStr",
     {"KeyBoardCommonName",
      "LayerName",
      "ShowNextPage",
      "ShowPrePage",
      "chAllColor",
      "chOneColor",
      "MarcoSetting",
      "StartRecordMarco",
      "StopRecordMarco",
      "ClearRecordMarco",
      "SaveRecordMarco",
      "ReadRecordMarco",
      "SaveRecordMarcoToFile",
      "ReadRecordMarcoFromFile",
      "InsertGuiDown",
      "InsertGuiUp",
      "InsertKeyUpFlag",
      "InsertMarcoLoopStartFlag",
      "InsertMarcoLoopEndFlag",
      "DelOneMarcoEntry",
      "ChangeMarcoDelay",
      "InfoDefaultDelay",
      "InfoRecordDelay",
      "MacroModeSingleShot",
      "MacroModeDualSec",
      "MacroModeManualLoop",
      "MacroModeAutoLoop",
      "MacroModeCombination",
      "KeyBoardIdxInfo1",
      "KeyBoardIdxInfo2",
      "LanguageChs",
      "LanguageEn",
      "usbReportSpeed"}},
    {"TaskBar", {"KBName", "exit"}},
    {"CommandLine",
     {"macroFileInvalid", "upgradeInvalidFile", "upgradeNameWithoutMarker", "upgradeTooLarge",
      "upgradeNotFirmware", "upgradeConfirm", "upgradeNothingChanged", "upgradeDone",
      "upgradeBigChange", "upgradeControllerFailed", "upgradeKeysFailed"}},
};

// The texts used as printf formats, with the conversions each must take. Every other text
// is either shown as it is or handed to a fixed format as a %s argument ("%s %d" for
// askUser, KeyBoardCommonName and KeyBoardIdxInfo1, "%s%d" for LayerName, "<- %d%s ->" for
// usbReportSpeed), so it must hold no directive at all.
const std::map<std::string, std::string> kFormats = {{"scanresult", "dddd"},
                                                     {"upgradeNotFirmware", "d"},
                                                     {"upgradeControllerFailed", "d"},
                                                     {"upgradeKeysFailed", "d"}};

// The conversion letters of a printf format; "?" for a directive this check does not allow
// (argument numbers, '*' widths, unknown letters).
std::string Conversions(const std::string& format) {
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            continue;
        }
        if (++i < format.size() && format[i] == '%') {
            continue;
        }
        while (i < format.size() &&
               std::string("-+ #0123456789.").find(format[i]) != std::string::npos) {
            ++i;
        }
        while (i < format.size() && (format[i] == 'l' || format[i] == 'h')) {
            ++i;
        }
        if (i >= format.size()) {
            out += '?';
            break;
        }
        const char c = format[i] == 'i' ? 'd' : format[i];
        out += std::string("dus").find(c) != std::string::npos ? c : '?';
    }
    return out;
}

bool ValidUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80         ? 1
                         : (c >> 5) == 6  ? 2
                         : (c >> 4) == 14 ? 3
                         : (c >> 3) == 30 ? 4
                                          : 0;
        if (n == 0 || i + n > s.size()) {
            return false;
        }
        for (size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += n;
    }
    return true;
}

std::filesystem::path ShippedRoot() {
    return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
}

TEST(Texts, LookupRules) {
    AppTestEnv env;
    const ResourceRootScope root(env.Root());
    const auto file = env.Root() / "res" / "lang" / "en" / "strings.ini";
    WriteAll(file, "[PROMPTINFO]\nwaiting=Waiting for a keyboard\nlong=" + std::string(300, 'x') +
                       "\n[ButtonStr]\nLAYERNAME=\"Layer \"\n[TaskBar]\nexit=Exit\n");

    EXPECT_EQ(GetPromptText("waiting", "en"), "Waiting for a keyboard");
    EXPECT_EQ(GetButtonText("LayerName", "en"), "Layer ");
    EXPECT_EQ(GetTaskBarText("EXIT", "en"), "Exit");
    EXPECT_EQ(GetPromptText("long", "en"), std::string(259, 'x'));
    EXPECT_EQ(GetSetupPromptText("waiting", "en"), "");  // other section
    EXPECT_EQ(GetPromptText("nothing", "en"), "");

    // Read anew at every fetch: a removed key is empty at once.
    WriteAll(file, "[PromptInfo]\nconnected=Connected\n");
    EXPECT_EQ(GetPromptText("waiting", "en"), "");
    EXPECT_EQ(GetPromptText("connected", "en"), "Connected");

    // A language without a folder, and codes that are no plain folder name: English,
    // never a file outside the tables.
    EXPECT_EQ(GetPromptText("connected", "fr"), "Connected");
    WriteAll(env.Root() / "res" / "strings.ini", "[PromptInfo]\nconnected=Outside\n");
    EXPECT_EQ(GetPromptText("connected", "../.."), "Connected");
    EXPECT_EQ(GetPromptText("connected", ""), "Connected");
    // A text missing in a language's table is the English one; missing in both, empty.
    WriteAll(env.Root() / "res" / "lang" / "zh-cn" / "strings.ini", "[PromptInfo]\nwaiting=W\n");
    EXPECT_EQ(GetPromptText("waiting", "zh-cn"), "W");
    test::LogCapture log;
    EXPECT_EQ(GetPromptText("connected", "zh-cn"), "Connected");
    EXPECT_EQ(GetPromptText("connected", "zh-cn"), "Connected");
    EXPECT_EQ(log.CountWithAll({"zh-cn/strings.ini", "[PromptInfo]", "connected"}), 1u)
        << "logged once, naming table and key";
    EXPECT_EQ(GetPromptText("nothing", "zh-cn"), "");
    EXPECT_TRUE(TextTableFile("en/../..").empty());
}

// Refusals reach the window and tavrikctl in the user's language; a code added without
// its Chinese words shows up here.
TEST(Texts, EveryRefusalHasChineseWordsAndEnglishFromTheCode) {
    const ResourceRootScope root(ShippedRoot());
    for (int r = 0; r >= -40; --r) {
        const std::string en = SessionResultText(r);
        EXPECT_EQ(SessionResultText(r, "en"), en) << r;
        const std::string zh = SessionResultText(r, "zh-cn");
        EXPECT_NE(zh, en) << r;
        EXPECT_TRUE(ValidUtf8(zh)) << r;
    }
}

class TextsShipped : public ::testing::TestWithParam<const char*> {};

TEST_P(TextsShipped, HoldEveryKeyWithTheRightDirectives) {
    const auto file = ShippedRoot() / "res" / "lang" / GetParam() / "strings.ini";
    const std::string text = ReadAll(file);
    ASSERT_FALSE(text.empty()) << file;
    EXPECT_TRUE(ValidUtf8(text));
    EXPECT_NE(text.rfind("\xEF\xBB\xBF", 0), 0u);

    for (const auto& [section, keys] : kRequiredKeys) {
        for (const std::string& key : keys) {
            const std::string value = ProfileStringFromText(text, section, key, "");
            EXPECT_FALSE(value.empty()) << section << "/" << key;
            EXPECT_LT(value.size(), 260u) << key;  // well inside the 259-character buffer
            const auto format = kFormats.find(key);
            EXPECT_EQ(Conversions(value), format == kFormats.end() ? "" : format->second)
                << section << "/" << key << ": " << value;
            if (format == kFormats.end()) {
                EXPECT_EQ(value.find('%'), std::string::npos) << key;
            }
            if (key.size() == 5 && key.substr(2) == "URL") {
                EXPECT_EQ(value.rfind("https://", 0), 0u) << key;
            }
        }
    }
    char line[300];
    std::snprintf(line, sizeof line,
                  ProfileStringFromText(text, "PromptInfo", "scanresult", "").c_str(), 5, 3, 1, 0);
    const std::string filled = line;
    const size_t five = filled.find('5'), three = filled.find('3'), one = filled.find('1');
    EXPECT_TRUE(five < three && three < one && one < filled.find('0')) << filled;
}

INSTANTIATE_TEST_SUITE_P(Texts, TextsShipped, ::testing::Values("en", "zh-cn"),
                         [](const auto& info) {
                             return std::string(info.param) == "en" ? "English" : "Chinese";
                         });

}  // namespace
}  // namespace tavrik

// An edited table must never crash the window through its format places.
TEST(Texts, FillNumbersTakesOnlyDecimalPlacesInOrder) {
    EXPECT_EQ(tavrik::FillNumbers("%d in total, %d assigned, %d boot, %d blank", {5, 3, 1, 0}),
              "5 in total, 3 assigned, 1 boot, 0 blank");
    EXPECT_EQ(tavrik::FillNumbers("%s %n %d%% %d %d", {7, 8}), "%s %n 7%% 8 %d");
    EXPECT_EQ(tavrik::FillNumbers("trailing %", {1}), "trailing %");
}

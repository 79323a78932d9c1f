#include "app/settings.h"

#include <cstdio>
#include <ctime>
#include <system_error>

#include "app/app_globals.h"
#include "app/applog.h"
#include "app/autoboot.h"
#include "app/profile_ini.h"
#include "app/texts.h"

namespace tavrik {

const char* const kLanguageQuestionTitle = "Tavrik";

const char* const kLanguageQuestionText =
    "Do you want to run this application with English Language?\n"
    "Click Yes if you want to use English\n"
    "You can also switch Language setting in setup page\n"
    "\n"
    "本程序默认为中文界面，请问客官是否要使用英文界面，使用中文请选\"否\" \n"
    "以后您可以到设置界面切换语言\n";

const char* const kLanguageRestartNoteText =
    "You have changed system Language, please restart to take effect. (Goto task bar, right "
    "click Tavrik icon to exit)\n"
    "你已经更改了系统语言，请重新启动应用程序（右下角任务栏塔维克图标点右键退出程序）\n";

namespace {

constexpr const char* kChinese = "zh-cn";
constexpr const char* kEnglish = "en";

std::string DayOfYear() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char text[16];
    std::snprintf(text, sizeof text, "%03d", tm.tm_yday + 1);
    return text;
}

}  // namespace

std::string GetLanguageSetting(const std::filesystem::path& settingsFile) {
    return ReadProfileString(settingsFile, kSettingsSection, "Language", kChinese);
}

std::string GetLanguageSetting() {
    return GetLanguageSetting(DataFolder() / kSettingsFileName);
}

WindowPosition SettleWindowPosition(bool settingsFileExisted, int left, int top) {
    if (!settingsFileExisted || left < 0 || top < 0) {
        return {};
    }
    return {left, top};
}

AppSettings::AppSettings(std::filesystem::path dataFolder) : dataFolder_(std::move(dataFolder)) {}

std::string AppSettings::Read(const char* key) const {
    return ReadProfileString(SettingsFile(), kSettingsSection, key, kProfileNotFound);
}

// A failed write is not reported: the option in memory keeps its new value.
void AppSettings::Write(const char* key, const std::string& value) const {
    WriteProfileString(SettingsFile(), kSettingsSection, key, value);
}

std::filesystem::path AppSettings::VersionInfoFile() const {
    return dataFolder_ / (expMode_ ? "exp_latest_version.ini" : "second_latest_version.ini");
}

void AppSettings::LoadSettings(bool autoBoot) {
    std::error_code ec;
    fileExisted_ = std::filesystem::exists(SettingsFile(), ec);
    SetDlgDebugLog(false);
    if (!fileExisted_) {
        DlgDebugLog("Config File doesn't exist, create default");
        Write("AutoStart", "Y");
        Write("MinAfterStart", "Y");
        Write("AutoUpgrade", "Y");
        Write("LastUpdate", DayOfYear());
        autoStart_ = true;
        if (!autoBoot) {
            SetAutoBootEntry();
        }
        minAfterStart_ = true;
        closeToTray_ = true;
        autoUpgrade_ = true;
        AskLanguage();
        return;
    }

    debug_ = Read("OemDebugLevel") == "Debug";
    if (debug_) {
        SetDlgDebugLog(true);
    }
    expMode_ = Read("ExpMode") == "Y";

    if (Read("AutoStart") == "Y") {
        DlgDebugLog("Current config is autoboot enabled");
        autoStart_ = true;
        if (!IsAutoBootEntryPresent()) {
            SetAutoBootEntry();
        }
    } else {
        DlgDebugLog("Current config is autoboot disable");
        autoStart_ = false;
        // The entry carries our name, so any entry left (an older install's path, too)
        // would still start a copy at log-in: it goes whatever its text.
        DeleteAutoBootEntry();
    }

    if (Read("CloseToMin") == "N") {
        closeToTray_ = false;
        DlgDebugLog("Config: Close to Min is false");
    } else {
        closeToTray_ = true;
        DlgDebugLog("Config: Close to Min is true");
    }

    if (Read("MinAfterStart") == "Y") {
        DlgDebugLog("Config: Minimum after start is true");
        minAfterStart_ = true;
        closeToTray_ = true;  // hiding after start needs the tray
    } else {
        DlgDebugLog("Config: Minimum after start is false");
        minAfterStart_ = false;
    }

    autoUpgrade_ = Read("AutoUpgrade") == "Y";
    oneClick_ = Read("MFGOneClickProgramKey") == "Y";

    const std::string language = Read("Language");
    if (language == kChinese) {
        g_nLanguage = 1;
    } else if (language == kEnglish) {
        g_nLanguage = 2;
    } else {
        AskLanguage();
    }
}

void AppSettings::AskLanguage() {
    if (!hooks_.askLanguage) {
        return;
    }
    const bool english = hooks_.askLanguage(kLanguageQuestionTitle, kLanguageQuestionText);
    SetLanguage(english ? 2 : 1);
    // The answer itself, not a re-read of the file: when the write fails the texts of this
    // run still follow the choice, in step with g_nLanguage.
    g_strLanguage = english ? kEnglish : kChinese;
    // A data folder that cannot be written brings the question back at every start; the
    // user is told why, and where, in the language just chosen.
    if (Read("Language") != g_strLanguage && hooks_.restartNote) {
        hooks_.restartNote(
            kLanguageQuestionTitle,
            GetPromptText("settingsNotSaved", g_strLanguage) + "\n" + dataFolder_.string());
    }
}

bool AppSettings::SetAutoStart(bool on) {
    autoStart_ = on;
    Write("AutoStart", on ? "Y" : "N");
    if (on) {
        if (!IsAutoBootEntryPresent()) {
            SetAutoBootEntry();
        }
    } else {
        DeleteAutoBootEntry();
    }
    return on;
}

bool AppSettings::SetMinAfterStart(bool on) {
    minAfterStart_ = on;
    Write("MinAfterStart", on ? "Y" : "N");
    return on;
}

bool AppSettings::SetAutoUpgrade(bool on) {
    autoUpgrade_ = on;
    Write("AutoUpgrade", on ? "Y" : "N");
    return on;
}

int AppSettings::SetLanguage(int language) {
    if (language != 1 && language != 2) {
        return 0;
    }
    g_nLanguage = language;
    Write("Language", language == 1 ? kChinese : kEnglish);
    return 1;
}

int AppSettings::GetLanguage(int& language) const {
    const int current = g_nLanguage;
    if (current != 1 && current != 2) {
        return 0;
    }
    language = current;
    return 1;
}

void AppSettings::ShowLanguageRestartNote() const {
    if (hooks_.restartNote) {
        hooks_.restartNote(ApplicationName(), kLanguageRestartNoteText);
    }
}

}  // namespace tavrik

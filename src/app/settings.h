// The tool's options in ccsetup.ini (data folder, section Config1): loaded once while the
// main window initialises, changed afterwards only through the setters, which write through
// at once. Values count only when they equal the expected text exactly ("Y", not "y").
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "app/paths.h"

namespace tavrik {

inline constexpr const char* kSettingsSection = "Config1";

// Compiled-in message box texts of the language question and the restart note.
extern const char* const kLanguageQuestionTitle;
extern const char* const kLanguageQuestionText;
extern const char* const kLanguageRestartNoteText;

// What the window side supplies. Both may be left empty (no window): the question is then
// not asked and the language stays unsettled; the note is not shown.
struct SettingsHooks {
    // A Yes/No message box owned by the (still hidden) main window; true for Yes (English).
    std::function<bool(const std::string& title, const std::string& text)> askLanguage;
    // An OK message box: the note after a language change, and the word that an answer
    // to the language question could not be stored.
    std::function<void(const std::string& title, const std::string& text)> restartNote;
};

// Language of Config1, "zh-cn" when absent.
std::string GetLanguageSetting(const std::filesystem::path& settingsFile);
std::string GetLanguageSetting();  // from the data folder's settings file

// The stored window position to use: none (-1, -1) on the first run (no settings file) or
// when either stored edge is negative.
struct WindowPosition {
    int left = -1;
    int top = -1;
};
WindowPosition SettleWindowPosition(bool settingsFileExisted, int left, int top);

class AppSettings {
public:
    explicit AppSettings(std::filesystem::path dataFolder = DataFolder());

    void SetHooks(SettingsHooks hooks) { hooks_ = std::move(hooks); }

    // Reads the file, or writes the first-run defaults when it is missing; brings the
    // autostart entry in line; settles g_nLanguage (and g_strLanguage after the question).
    // `autoBoot`: the tool was started with "-auto".
    void LoadSettings(bool autoBoot);
    // False when LoadSettings found no file (the first run).
    bool SettingsFileExisted() const { return fileExisted_; }

    // Setters of the settings window; each returns its argument.
    bool SetAutoStart(bool on);
    bool SetMinAfterStart(bool on);  // close-to-tray is left as it is
    bool SetAutoUpgrade(bool on);
    // 1 (Chinese) or 2 (English): g_nLanguage and Language are set, returns 1; g_strLanguage
    // is left, so the texts change at the next start. Other values change nothing: 0.
    int SetLanguage(int language);
    // 1 with `language` set when g_nLanguage is 1 or 2, else 0.
    int GetLanguage(int& language) const;
    void ShowLanguageRestartNote() const;

    int GetAutoStart() const { return autoStart_ ? 1 : 0; }
    int GetMinAfterStart() const { return minAfterStart_ ? 1 : 0; }
    int GetAutoUpgrade() const { return autoUpgrade_ ? 1 : 0; }
    bool CloseToTray() const { return closeToTray_; }
    bool Debug() const { return debug_; }
    bool ExpMode() const { return expMode_; }
    bool OneClickProgramKey() const { return oneClick_; }

    const std::filesystem::path& DataFolderPath() const { return dataFolder_; }
    std::filesystem::path SettingsFile() const { return dataFolder_ / kSettingsFileName; }
    // second_latest_version.ini, or exp_latest_version.ini with ExpMode on.
    std::filesystem::path VersionInfoFile() const;
    std::filesystem::path ControllerFirmwareFile() const { return dataFolder_ / "newFw.bin"; }
    std::filesystem::path Zpn31FirmwareFile() const { return dataFolder_ / "ZPN31newFw.bin"; }
    std::filesystem::path BootloaderFirmwareFile() const { return dataFolder_ / "VL7BLFw.bin"; }

private:
    std::string Read(const char* key) const;
    void Write(const char* key, const std::string& value) const;
    void AskLanguage();

    std::filesystem::path dataFolder_;
    SettingsHooks hooks_;
    bool fileExisted_ = false;
    bool autoStart_ = false;
    bool minAfterStart_ = false;
    bool closeToTray_ = false;
    bool autoUpgrade_ = false;
    bool debug_ = false;
    bool expMode_ = false;
    bool oneClick_ = false;
};

}  // namespace tavrik

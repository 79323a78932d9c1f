// Settings file bytes through the settings load, the INI reader and the INI writer.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/paths.h"
#include "app/profile_ini.h"
#include "app/settings.h"
#include "fuzz_require.h"

namespace {

using tavrik::fuzz::Require;

using namespace tavrik;

std::filesystem::path Folder() {
    static const std::filesystem::path dir = [] {
        char name[] = "/tmp/tavrik-fuzz-settings-XXXXXX";
        Require(::mkdtemp(name) != nullptr);
        const std::filesystem::path d = name;
        ::setenv("LOCALAPPDATA", d.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (d / "config").c_str(), 1);
        std::filesystem::create_directories(DataFolder());
        return d;
    }();
    return dir;
}

const char* const kKeys[] = {"AutoStart", "MinAfterStart", "CloseToMin", "AutoUpgrade",
                             "Language",  "OemDebugLevel", "ExpMode",    "MFGOneClickProgramKey",
                             "LastUpdate"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Folder();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path file = DataFolder() / kSettingsFileName;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;

    for (const char* key : kKeys) {
        const std::string v = ReadProfileString(file, kSettingsSection, key, kProfileNotFound);
        Require(v == ProfileStringFromText(text, kSettingsSection, key, kProfileNotFound));
        Require(CutProfileText(v) == v);
    }

    AppSettings settings;
    settings.SetHooks(
        {[size](const std::string&, const std::string&) { return size % 2 == 0; }, {}});
    settings.LoadSettings(/*autoBoot=*/true);
    Require(!settings.GetMinAfterStart() || settings.CloseToTray());

    // A write either is refused or reads back, leaving the other settings as they were.
    for (const char* key : {"AutoStart", "Language", "NewKey"}) {
        const auto out = SetProfileStringInText(text, kSettingsSection, key, "Y");
        if (!out) {
            continue;
        }
        Require(ProfileRawValue(*out, kSettingsSection, key) == "Y");
        for (const char* other : kKeys) {
            if (std::string(other) != key) {
                Require(ProfileStringFromText(*out, kSettingsSection, other, "?") ==
                        ProfileStringFromText(text, kSettingsSection, other, "?"));
            }
        }
    }
    return 0;
}

#include "update/update_config.h"

#include <cstdlib>

#include "update/ini_text.h"
#include "update/update_log.h"
#include "update/update_url.h"

namespace tavrik {

namespace {

constexpr size_t kSettingsMaxBytes = 1024 * 1024;

}  // namespace

std::string UpdateConfig::VersionInfoUrl() const {
    return ResolveLink(
        server, expMode ? "/Update/exp_latest_version.txt" : "/Update/second_latest_version.txt");
}

std::string UpdateConfig::InstallerUrl() const {
    return ResolveLink(server, "/download/TavrikSetup.zip");
}

std::filesystem::path UpdateConfig::VersionInfoFile() const {
    return dataFolder / (expMode ? "exp_latest_version.ini" : "second_latest_version.ini");
}

UpdateConfig LoadUpdateConfig(const std::filesystem::path& dataFolder) {
    UpdateConfig config;
    config.dataFolder = dataFolder;
    const std::string settings =
        ReadSmallFile(dataFolder / kSettingsFile, kSettingsMaxBytes).value_or(std::string());
    config.expMode = IniString(settings, "Config1", "ExpMode", kIniNotFound) == "Y";
    config.debug = IniString(settings, "Config1", "OemDebugLevel", kIniNotFound) == "Debug";

    auto consider = [&](const std::string& address, const char* from) {
        if (IsUpdateUrl(address)) {
            config.server = address;
        } else {
            TV_UPDLOG("Update server address from %s is not an http(s) address, ignored", from);
        }
    };
    if (auto setting = IniLookup(settings, "Config1", kUpdateServerKey);
        setting && !setting->empty()) {
        consider(*setting, "the settings file");
    }
    if (const char* env = std::getenv(kUpdateServerEnv); env != nullptr && *env != '\0') {
        consider(env, kUpdateServerEnv);
    }
    return config;
}

}  // namespace tavrik

// Where the online update looks and where it keeps its files.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tavrik {

// No update server is operated yet: the default host cannot resolve, so a check fails
// quietly until a deployment sets the setting or the environment variable.
inline constexpr const char* kDefaultUpdateServer = "https://update.tavrik.invalid";
inline constexpr const char* kUpdateServerEnv = "TAVRIK_UPDATE_SERVER";
inline constexpr const char* kUpdateServerKey = "UpdateServer";  // in [Config1] of ccsetup.ini

inline constexpr const char* kSettingsFile = "ccsetup.ini";
inline constexpr const char* kFwFile = "newFw.bin";
inline constexpr const char* kZpn31FwFile = "ZPN31newFw.bin";
inline constexpr const char* kBlFwFile = "VL7BLFw.bin";

// MD5 of a file as 32 lower-case hexadecimal digits; empty when it cannot be computed.
using DigestFn = std::function<std::optional<std::string>(const std::filesystem::path&)>;

struct UpdateConfig {
    std::filesystem::path dataFolder;
    std::string server = kDefaultUpdateServer;  // base address, http(s)
    bool expMode = false;                       // the experimental version information
    bool debug = false;                         // debug log lines
    long connectTimeoutS = 15;
    // The whole check, every download included, ends by then.
    std::chrono::milliseconds checkLimit{std::chrono::seconds(60)};
    // A transfer slower than this many bytes a second for this long fails.
    long lowSpeedBytes = 100;
    long lowSpeedSeconds = 15;
    DigestFn digest;  // empty: MD5 of the file

    std::string VersionInfoUrl() const;
    // Where the tool's installer is downloaded from (the window's "download" button).
    std::string InstallerUrl() const;
    std::filesystem::path VersionInfoFile() const;
};

// The configuration of the tool: the data folder, ExpMode, OemDebugLevel and the server
// address from ccsetup.ini, where the environment variable overrides the setting. An
// address that is not http(s) is passed over with a log line.
UpdateConfig LoadUpdateConfig(const std::filesystem::path& dataFolder);

}  // namespace tavrik

#include "update/update_check.h"

#include <chrono>
#include <string>

#include "update/downloader.h"
#include "update/ini_text.h"
#include "update/update_log.h"
#include "update/update_rules.h"

namespace tavrik {

namespace {

bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel != nullptr && cancel->load();
}

// Staged files left by a run that ended in the middle of a download. Recent ones may be
// another copy's download in progress.
void RemoveStaleStagedFiles(const std::filesystem::path& folder) {
    std::error_code ec;
    const auto limit = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (IsAtomicFileTemporary(entry.path()) && entry.is_regular_file(ec) &&
            entry.last_write_time(ec) < limit) {
            std::filesystem::remove(entry.path(), ec);
        }
    }
}

bool FetchVersionInfo(const UpdateConfig& config, const std::atomic<bool>* cancel,
                      std::string& text) {
    const std::string url = config.VersionInfoUrl();
    if (url.empty()) {
        return false;
    }
    auto staged = StageDownload(config.VersionInfoFile());
    if (!staged) {
        return false;
    }
    FetchLimits limits;
    limits.maxBytes = kVersionInfoMaxBytes;
    limits.connectTimeoutS = config.connectTimeoutS;
    limits.totalTimeoutS = config.totalTimeoutS;
    limits.cancel = cancel;
    std::string detail;
    if (Fetch(url, staged->Fd(), limits, &detail) != FetchStatus::Ok) {
        TV_UPDLOG_D(config.debug, "%s: %s", url.c_str(), detail.c_str());
        return false;
    }
    if (!staged->Commit()) {
        return false;
    }
    auto data = ReadSmallFile(config.VersionInfoFile(), kVersionInfoMaxBytes);
    if (!data) {
        return false;
    }
    text = std::move(*data);
    return true;
}

}  // namespace

int OnlineUpdateCheck(const UpdateConfig& config, UpdateState& state,
                      const std::atomic<bool>* cancel, CheckReport* report) {
    TV_UPDLOG("Online Update check start");
    std::error_code ec;
    std::filesystem::create_directories(config.dataFolder, ec);
    RemoveStaleStagedFiles(config.dataFolder);

    std::string text;
    if (!FetchVersionInfo(config, cancel, text)) {
        TV_UPDLOG("Cannot download latest version info file");
        return 0;
    }
    const VersionInfo info = ParseVersionInfo(text);
    if (report != nullptr) {
        report->info = info;
    }

    const uint32_t app = info.latestAppVersion;
    if (IsNewerTool(app, state.toolVersion)) {
        state.latestTool = VersionWord(static_cast<int>(app >> 8), static_cast<int>(app));
        state.toolUpdateAvailable = 1;
    } else {
        TV_UPDLOG_D(config.debug, "Tavrik App has not new version");
    }

    // Runs one download and says whether the check may go on.
    auto download = [&](FwKind kind, const std::string& link, const std::string& md5) {
        const FwOutcome o = DownloadFirmware(kind, link, md5, config, cancel);
        if (report != nullptr) {
            report->downloads.push_back({kind, o});
        }
        return std::make_pair(o, IsPassedOver(o) && !Cancelled(cancel));
    };

    const uint32_t fw = info.latestFwVersion;
    if (IsValidFwVersion(fw)) {
        TV_UPDLOG("Latest VL7 version is valid");
        if (!download(FwKind::Vl7, info.fwUrl, info.fwMd5).second) {
            return 0;
        }
        state.latestKbmc = FwKbmcPart(fw);
        state.latestKey = FwKeyPart(fw);
        if (!download(FwKind::Vl7Bl, info.fwBlUrl, info.fwBlMd5).second) {
            return 0;
        }
    } else {
        TV_UPDLOG_D(config.debug, "Latest VL7 version is invalid");
    }

    const uint32_t z = info.zpn31LatestFwVersion;
    if (IsValidFwVersion(z)) {
        TV_UPDLOG("Latest ZPN31 version is valid");
        const auto [outcome, goOn] = download(FwKind::Zpn31, info.zpn31FwUrl, info.zpn31FwMd5);
        if (!goOn) {
            return 0;
        }
        if (outcome == FwOutcome::Verified) {
            state.latestZpn31 = FwKbmcPart(z);
        }
    } else {
        TV_UPDLOG_D(config.debug, "Latest ZPN31 version is invalid");
    }

    if (Cancelled(cancel)) {
        return 0;
    }
    std::filesystem::remove(config.VersionInfoFile(), ec);
    return 1;
}

}  // namespace tavrik

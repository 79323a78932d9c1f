#include "update/update_check.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "update/ini_text.h"
#include "update/update_log.h"
#include "update/update_rules.h"

namespace tavrik {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kVersionInfoStep = "version information";

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

std::string LimitText(std::chrono::milliseconds limit) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(limit.count()) / 1000.0);
    return std::string("the time limit of ") + text + " s ran out";
}

// One check's way through: its limits and what it tells.
struct Run {
    const UpdateConfig& config;
    const std::atomic<bool>* cancel;
    const TransferProgress& progress;
    CheckReport& report;
    Clock::time_point deadline;

    FetchLimits Limits(size_t maxBytes) const {
        FetchLimits limits;
        limits.maxBytes = maxBytes;
        limits.connectTimeoutS = config.connectTimeoutS;
        limits.deadline = deadline;
        limits.lowSpeedBytes = config.lowSpeedBytes;
        limits.lowSpeedSeconds = config.lowSpeedSeconds;
        limits.cancel = cancel;
        return limits;
    }
    void Tell(TransferStep::Phase phase, std::string detail = {}, size_t bytes = 0) const {
        if (progress) {
            progress({phase, kVersionInfoStep, std::move(detail), bytes});
        }
    }
    int Fail(CheckEnd end, std::string reason) {
        report.end = end;
        report.reason = std::move(reason);
        return 0;
    }
};

// The version information, when it arrived and is one. It takes the place of an earlier
// copy only then, so a server that sends anything else leaves the data folder as it was.
std::optional<std::string> FetchVersionInfo(Run& run) {
    const UpdateConfig& config = run.config;
    const std::string url = config.VersionInfoUrl();
    if (url.empty()) {
        run.Fail(CheckEnd::NoVersionInfo, "the update server address is not usable");
        return std::nullopt;
    }
    run.Tell(TransferStep::Start);
    auto staged = StageDownload(config.VersionInfoFile());
    if (!staged) {
        run.Tell(TransferStep::Failed, "cannot create a file in the data folder");
        run.Fail(CheckEnd::NoVersionInfo,
                 "cannot create the version information file in " + config.dataFolder.string());
        return std::nullopt;
    }
    const FetchResult fetched = Fetch(url, staged->Fd(), run.Limits(kVersionInfoMaxBytes));
    if (fetched.status != FetchStatus::Ok) {
        TV_UPDLOG_D(config.debug, "%s: %s", url.c_str(), fetched.detail.c_str());
        run.Tell(TransferStep::Failed, fetched.detail);
        if (fetched.status == FetchStatus::TimeLimit) {
            run.Fail(CheckEnd::TimeLimit,
                     LimitText(config.checkLimit) + " while downloading " + url);
        } else if (fetched.status == FetchStatus::Cancelled) {
            run.Fail(CheckEnd::Cancelled, "the check was stopped");
        } else {
            run.Fail(CheckEnd::NoVersionInfo, "cannot download " + url + ": " + fetched.detail);
        }
        return std::nullopt;
    }
    auto text = ReadSmallFile(staged->Path(), kVersionInfoMaxBytes);
    if (!text) {
        run.Tell(TransferStep::Failed, "cannot read it back");
        run.Fail(CheckEnd::NoVersionInfo, "cannot read back the version information of " + url);
        return std::nullopt;
    }
    if (const std::string problem = VersionInfoProblem(*text); !problem.empty()) {
        TV_UPDLOG("Latest version info file is not usable: %s", problem.c_str());
        run.Tell(TransferStep::Failed, problem);
        run.Fail(CheckEnd::BadVersionInfo, url + " is no version information: " + problem);
        return std::nullopt;
    }
    if (!staged->Commit()) {
        run.Tell(TransferStep::Failed, "cannot store it");
        run.Fail(CheckEnd::NoVersionInfo,
                 "cannot store the version information as " + config.VersionInfoFile().string());
        return std::nullopt;
    }
    run.Tell(TransferStep::Done, {}, fetched.bytes);
    return text;
}

}  // namespace

int OnlineUpdateCheck(const UpdateConfig& config, UpdateState& state,
                      const std::atomic<bool>* cancel, CheckReport* reportOut,
                      const TransferProgress& progress) {
    CheckReport local;
    CheckReport& report = reportOut != nullptr ? *reportOut : local;
    report = {};
    Run run{config, cancel, progress, report, Clock::now() + config.checkLimit};

    TV_UPDLOG("Online Update check start");
    std::error_code ec;
    std::filesystem::create_directories(config.dataFolder, ec);
    RemoveStaleStagedFiles(config.dataFolder);

    const auto text = FetchVersionInfo(run);
    if (!text) {
        if (report.end != CheckEnd::BadVersionInfo) {
            TV_UPDLOG("Cannot download latest version info file");
        }
        return 0;
    }
    const VersionInfo info = ParseVersionInfo(*text);
    report.info = info;

    const uint32_t app = info.latestAppVersion;
    if (IsNewerTool(app, state.toolVersion)) {
        state.latestTool = VersionWord(static_cast<int>(app >> 8), static_cast<int>(app));
        state.toolUpdateAvailable = 1;
    } else {
        TV_UPDLOG_D(config.debug, "Tavrik App has not new version");
    }

    // Runs one download and says whether the check may go on.
    auto download = [&](FwKind kind, const std::string& link, const std::string& md5) {
        FwDownload d = DownloadFirmware(kind, link, md5, config, run.Limits(0), progress);
        report.downloads.push_back({kind, d.outcome, d.detail});
        const std::string what = std::string(FwKindName(kind)) + " new firmware";
        if (Cancelled(cancel)) {
            run.Fail(CheckEnd::Cancelled, "the check was stopped");
        } else if (d.outcome == FwOutcome::TimeLimit) {
            run.Fail(CheckEnd::TimeLimit,
                     LimitText(config.checkLimit) + " while downloading " + what);
        } else if (!IsPassedOver(d.outcome)) {
            run.Fail(CheckEnd::ImageRejected, what + " was refused: " + d.detail);
        }
        return std::make_pair(d.outcome, report.end == CheckEnd::Complete);
    };

    const uint32_t fw = info.latestFwVersion;
    if (IsValidFwVersion(fw)) {
        TV_UPDLOG("Latest VL7 version is valid");
        if (!download(FwKind::Vl7, info.fwUrl, info.fwMd5).second) {
            return 0;
        }
        state.latestKbmc = FwKbmcPart(fw);
        state.latestKey = FwKeyPart(fw);
        report.kbmcKnown = true;
        report.keyKnown = true;
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
            report.zpn31Known = true;
        }
    } else {
        TV_UPDLOG_D(config.debug, "Latest ZPN31 version is invalid");
    }

    if (Cancelled(cancel)) {
        return run.Fail(CheckEnd::Cancelled, "the check was stopped");
    }
    std::filesystem::remove(config.VersionInfoFile(), ec);
    return 1;
}

std::string CheckShortfall(const CheckReport& report) {
    if (report.end != CheckEnd::Complete) {
        return report.reason;
    }
    for (const auto& d : report.downloads) {
        if (d.outcome != FwOutcome::Verified && d.outcome != FwOutcome::NoLink) {
            return std::string("the download of ") + FwKindName(d.kind) +
                   " new firmware failed: " + d.detail;
        }
    }
    return {};
}

KeyboardVerdict JudgeAfterCheck(const KeyboardFacts& facts, const UpdateState& state,
                                const CheckReport& report) {
    if (!facts.updatable) {
        return {Verdict::NotUpdatable, Verdict::NotUpdatable};
    }
    const bool zpn31 = facts.kind == kZpn31Kind;
    // Controller and keys of a keyboard are upgraded from one image.
    const FwKind image = zpn31 ? FwKind::Zpn31 : FwKind::Vl7;
    bool imageFailed = false;
    for (const auto& d : report.downloads) {
        imageFailed = imageFailed || (d.kind == image && d.outcome != FwOutcome::Verified &&
                                      d.outcome != FwOutcome::NoLink);
    }
    const Outdated o = JudgeKeyboard(facts, state);
    // A controller in its bootloader is outdated whatever the check learnt.
    auto verdict = [&](bool known, bool outdated) {
        if (outdated) {
            return Verdict::Outdated;
        }
        return known && !imageFailed ? Verdict::UpToDate : Verdict::Unknown;
    };
    return {verdict(zpn31 ? report.zpn31Known : report.kbmcKnown, o.kbmc),
            verdict(report.keyKnown, o.keys)};
}

}  // namespace tavrik

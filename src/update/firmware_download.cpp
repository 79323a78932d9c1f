#include "update/firmware_download.h"

#include "protocol/fwimage.h"
#include "update/digest.h"
#include "update/downloader.h"
#include "update/ini_text.h"
#include "update/update_log.h"
#include "update/update_url.h"

namespace tavrik {

const char* FwKindName(FwKind kind) {
    switch (kind) {
        case FwKind::Vl7:
            return "VL7";
        case FwKind::Vl7Bl:
            return "VL7 BL";
        case FwKind::Zpn31:
            return "ZPN31";
    }
    return "?";
}

const char* FwFileName(FwKind kind) {
    switch (kind) {
        case FwKind::Vl7:
            return kFwFile;
        case FwKind::Vl7Bl:
            return kBlFwFile;
        case FwKind::Zpn31:
            return kZpn31FwFile;
    }
    return "";
}

const char* FwOutcomeName(FwOutcome outcome) {
    switch (outcome) {
        case FwOutcome::Verified:
            return "verified";
        case FwOutcome::TransferFailed:
            return "transfer failed";
        case FwOutcome::TooBig:
            return "too big";
        case FwOutcome::DigestFailed:
            return "digest failed";
        case FwOutcome::DigestDiffers:
            return "digest differs";
        case FwOutcome::NoLink:
            return "no link";
        case FwOutcome::TimeLimit:
            return "time limit";
    }
    return "?";
}

FwDownload DownloadFirmware(FwKind kind, const std::string& link, const std::string& md5,
                            const UpdateConfig& config, FetchLimits limits,
                            const TransferProgress& progress) {
    const char* name = FwKindName(kind);
    const std::string url = link == kIniNotFound || md5 == kIniNotFound || md5.empty()
                                ? std::string()
                                : ResolveLink(config.server, link);
    if (url.empty()) {
        TV_UPDLOG("No new download link for %s new firmware", name);
        return {FwOutcome::NoLink, "no usable address or digest"};
    }

    const std::string what = std::string(name) + " new firmware";
    TransferStep step{TransferStep::Start, what, {}, 0};
    if (progress) {
        progress(step);
    }
    // Every way out says how the step ended.
    auto end = [&](FwOutcome outcome, std::string detail) {
        step.phase = outcome == FwOutcome::Verified ? TransferStep::Done : TransferStep::Failed;
        step.detail = detail;
        if (progress) {
            progress(step);
        }
        return FwDownload{outcome, std::move(detail)};
    };

    TV_UPDLOG("Start to download %s new firmware", name);
    auto staged = StageDownload(config.dataFolder / FwFileName(kind));
    if (!staged) {
        TV_UPDLOG("Download fail for new %s new firmware", name);
        return end(FwOutcome::TransferFailed, "cannot create a file in the data folder");
    }
    limits.maxBytes = kFwBufferSize;
    const FetchResult fetched = Fetch(url, staged->Fd(), limits);
    step.bytes = fetched.bytes;
    switch (fetched.status) {
        case FetchStatus::Ok:
            break;
        case FetchStatus::TooBig:
            TV_UPDLOG("%s new firmware file is too big", name);
            return end(FwOutcome::TooBig, fetched.detail);
        case FetchStatus::TimeLimit:
        case FetchStatus::Failed:
        case FetchStatus::Cancelled:
            TV_UPDLOG_D(config.debug, "%s: %s", url.c_str(), fetched.detail.c_str());
            TV_UPDLOG("Download fail for new %s new firmware", name);
            return end(fetched.status == FetchStatus::TimeLimit ? FwOutcome::TimeLimit
                                                                : FwOutcome::TransferFailed,
                       fetched.detail);
    }
    TV_UPDLOG("Download done for %s new firmware", name);

    const auto digest =
        config.digest ? config.digest(staged->Path()) : Md5HexOfFile(staged->Path());
    if (!digest) {
        TV_UPDLOG("Fail to calculate %s new firmware file checksum", name);
        return end(FwOutcome::DigestFailed, "its MD5 digest cannot be computed");
    }
    if (!SameDigest(*digest, md5)) {
        TV_UPDLOG("%s new firmware Checksum is incorrect", name);
        return end(FwOutcome::DigestDiffers, "its MD5 digest differs from the one announced");
    }
    if (!staged->Commit()) {
        TV_UPDLOG("Cannot store %s new firmware as %s", name, FwFileName(kind));
        TV_UPDLOG("Download fail for new %s new firmware", name);
        return end(FwOutcome::TransferFailed,
                   std::string("cannot store it as ") + FwFileName(kind));
    }
    return end(FwOutcome::Verified, {});
}

}  // namespace tavrik

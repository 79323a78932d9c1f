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
    }
    return "?";
}

FwOutcome DownloadFirmware(FwKind kind, const std::string& link, const std::string& md5,
                           const UpdateConfig& config, const std::atomic<bool>* cancel) {
    const char* name = FwKindName(kind);
    const std::string url = link == kIniNotFound || md5 == kIniNotFound || md5.empty()
                                ? std::string()
                                : ResolveLink(config.server, link);
    if (url.empty()) {
        TV_UPDLOG("No new download link for %s new firmware", name);
        return FwOutcome::NoLink;
    }

    TV_UPDLOG("Start to download %s new firmware", name);
    auto staged = StageDownload(config.dataFolder / FwFileName(kind));
    if (!staged) {
        TV_UPDLOG("Download fail for new %s new firmware", name);
        return FwOutcome::TransferFailed;
    }
    FetchLimits limits;
    limits.maxBytes = kFwBufferSize;
    limits.connectTimeoutS = config.connectTimeoutS;
    limits.totalTimeoutS = config.totalTimeoutS;
    limits.cancel = cancel;
    std::string detail;
    switch (Fetch(url, staged->Fd(), limits, &detail)) {
        case FetchStatus::Ok:
            break;
        case FetchStatus::TooBig:
            TV_UPDLOG("%s new firmware file is too big", name);
            return FwOutcome::TooBig;
        case FetchStatus::Failed:
        case FetchStatus::Cancelled:
            TV_UPDLOG_D(config.debug, "%s: %s", url.c_str(), detail.c_str());
            TV_UPDLOG("Download fail for new %s new firmware", name);
            return FwOutcome::TransferFailed;
    }
    TV_UPDLOG("Download done for %s new firmware", name);

    const auto digest =
        config.digest ? config.digest(staged->Path()) : Md5HexOfFile(staged->Path());
    if (!digest) {
        TV_UPDLOG("Fail to calculate %s new firmware file checksum", name);
        return FwOutcome::DigestFailed;
    }
    if (!SameDigest(*digest, md5)) {
        TV_UPDLOG("%s new firmware Checksum is incorrect", name);
        return FwOutcome::DigestDiffers;
    }
    if (!staged->Commit()) {
        TV_UPDLOG("Cannot store %s new firmware as %s", name, FwFileName(kind));
        TV_UPDLOG("Download fail for new %s new firmware", name);
        return FwOutcome::TransferFailed;
    }
    return FwOutcome::Verified;
}

}  // namespace tavrik

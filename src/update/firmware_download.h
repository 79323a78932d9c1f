// One firmware image from the update server: downloaded into a staged file, checked for
// size and digest, and only then put where the upgrade takes it. A file that fails any
// check is removed and an earlier good file stays in place.
#pragma once

#include <string>

#include "update/downloader.h"
#include "update/update_config.h"

namespace tavrik {

enum class FwKind { Vl7, Vl7Bl, Zpn31 };

enum class FwOutcome {
    Verified,
    TransferFailed,
    TooBig,
    DigestFailed,  // the digest could not be computed
    DigestDiffers,
    NoLink,     // address or digest missing, or the address unusable
    TimeLimit,  // the check's time ran out
};

const char* FwKindName(FwKind kind);           // "VL7", "VL7 BL", "ZPN31"
const char* FwFileName(FwKind kind);           // "newFw.bin", "VL7BLFw.bin", "ZPN31newFw.bin"
const char* FwOutcomeName(FwOutcome outcome);  // "verified", "transfer failed", ...

// Outcomes after which the update check goes on; the others end it as failed. A failed
// transfer is passed over so that the versions the server names still count.
constexpr bool IsPassedOver(FwOutcome o) {
    return o == FwOutcome::Verified || o == FwOutcome::TransferFailed || o == FwOutcome::NoLink;
}

struct FwDownload {
    FwOutcome outcome = FwOutcome::NoLink;
    std::string detail;  // why it failed, in one line
};

// `link` and `md5` as the version-information file gives them; `limits` without the size,
// which is the firmware buffer's. `progress` may be empty.
FwDownload DownloadFirmware(FwKind kind, const std::string& link, const std::string& md5,
                            const UpdateConfig& config, FetchLimits limits,
                            const TransferProgress& progress);

}  // namespace tavrik

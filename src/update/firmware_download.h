// One firmware image from the update server: downloaded into a staged file, checked for
// size and digest, and only then put where the upgrade takes it. A file that fails any
// check is removed and an earlier good file stays in place.
#pragma once

#include <atomic>
#include <string>

#include "update/update_config.h"

namespace tavrik {

enum class FwKind { Vl7, Vl7Bl, Zpn31 };

enum class FwOutcome {
    Verified,
    TransferFailed,
    TooBig,
    DigestFailed,  // the digest could not be computed
    DigestDiffers,
    NoLink,  // address or digest missing, or the address unusable
};

const char* FwKindName(FwKind kind);           // "VL7", "VL7 BL", "ZPN31"
const char* FwFileName(FwKind kind);           // "newFw.bin", "VL7BLFw.bin", "ZPN31newFw.bin"
const char* FwOutcomeName(FwOutcome outcome);  // "verified", "transfer failed", ...

// Outcomes after which the update check goes on; the others end it as failed.
constexpr bool IsPassedOver(FwOutcome o) {
    return o == FwOutcome::Verified || o == FwOutcome::TransferFailed || o == FwOutcome::NoLink;
}

// `link` and `md5` as the version-information file gives them.
FwOutcome DownloadFirmware(FwKind kind, const std::string& link, const std::string& md5,
                           const UpdateConfig& config, const std::atomic<bool>* cancel);

}  // namespace tavrik

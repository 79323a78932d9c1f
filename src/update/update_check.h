// One online update check: the version information, the newest tool and firmware
// versions, and the firmware images it names.
#pragma once

#include <atomic>
#include <optional>
#include <vector>

#include "update/firmware_download.h"
#include "update/update_config.h"
#include "update/update_state.h"
#include "update/version_info.h"

namespace tavrik {

struct FwDownloadRecord {
    FwKind kind = FwKind::Vl7;
    FwOutcome outcome = FwOutcome::NoLink;
};

// What a check saw, for tavrikctl.
struct CheckReport {
    std::optional<VersionInfo> info;  // empty when the version information did not arrive
    std::vector<FwDownloadRecord> downloads;
};

// Returns 1 when the check was complete, 0 when it failed (it is then repeated later):
// no version information, a firmware image too big or with the wrong digest, or `cancel`
// rose. Records the latest versions in `state`; a failed check clears nothing.
int OnlineUpdateCheck(const UpdateConfig& config, UpdateState& state,
                      const std::atomic<bool>* cancel = nullptr, CheckReport* report = nullptr);

}  // namespace tavrik

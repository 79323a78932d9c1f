// One online update check: the version information, the newest tool and firmware
// versions, and the firmware images it names.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "update/downloader.h"
#include "update/firmware_download.h"
#include "update/update_config.h"
#include "update/update_state.h"
#include "update/version_info.h"

namespace tavrik {

struct KeyboardFacts;

struct FwDownloadRecord {
    FwKind kind = FwKind::Vl7;
    FwOutcome outcome = FwOutcome::NoLink;
    std::string detail;  // why it failed
};

enum class CheckEnd {
    Complete,
    NoVersionInfo,   // it did not arrive
    BadVersionInfo,  // it arrived but is no version information
    ImageRejected,   // an image too big or with the wrong digest
    TimeLimit,       // the check's time ran out
    Cancelled,
};

// What a check saw, for tavrikctl.
struct CheckReport {
    std::optional<VersionInfo> info;  // empty when no usable version information arrived
    std::vector<FwDownloadRecord> downloads;
    CheckEnd end = CheckEnd::Complete;
    std::string reason;  // why the check failed, in one line
    // The latest versions this check recorded in the state.
    bool kbmcKnown = false;
    bool keyKnown = false;
    bool zpn31Known = false;
};

// Returns 1 when the check was complete, 0 when it failed (it is then repeated later):
// no usable version information, a firmware image too big or with the wrong digest, the
// time limit, or `cancel` rose. Records the latest versions in `state`; a failed check
// clears nothing. `progress` hears of every download as it starts and ends.
int OnlineUpdateCheck(const UpdateConfig& config, UpdateState& state,
                      const std::atomic<bool>* cancel = nullptr, CheckReport* report = nullptr,
                      const TransferProgress& progress = {});

// What the check did not do, in one line: why it failed, or else the first download that
// failed. Empty when it did everything the version information asked for. A complete check
// passes over a failed transfer (the window goes by the versions), but it is no success.
std::string CheckShortfall(const CheckReport& report);

// A keyboard part as the check leaves it. Up to date only when the check learnt the latest
// version and the image for the keyboard did not fail to arrive. Keyboards that take no
// online update are not compared at all.
enum class Verdict { UpToDate, Outdated, Unknown, NotUpdatable };
struct KeyboardVerdict {
    Verdict kbmc = Verdict::Unknown;
    Verdict keys = Verdict::Unknown;
};
KeyboardVerdict JudgeAfterCheck(const KeyboardFacts& facts, const UpdateState& state,
                                const CheckReport& report);

}  // namespace tavrik

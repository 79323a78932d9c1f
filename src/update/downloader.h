// Downloads over HTTP(S), into a staged file that takes its final name only when the caller
// accepts it. The transfer runs in the helper program tavrik-fetch, so this process never
// loads the transfer and TLS libraries.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/atomic_file.h"

namespace tavrik {

enum class FetchStatus {
    Ok,
    Failed,     // no connection, an HTTP error, too slow, a local write error
    TooBig,     // more than the limit; the transfer was stopped there
    Cancelled,  // the stop flag rose
    TimeLimit,  // the deadline passed
};

struct FetchLimits {
    size_t maxBytes = 0;
    long connectTimeoutS = 15;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    // Slower than this many bytes a second for this long is a failure.
    long lowSpeedBytes = 100;
    long lowSpeedSeconds = 15;
    const std::atomic<bool>* cancel = nullptr;
};

struct FetchResult {
    FetchStatus status = FetchStatus::Failed;
    std::string detail;  // why it failed, in one line
    size_t bytes = 0;    // received and written
};

// The downloads of a check as they happen: one call as each starts and one as it ends.
struct TransferStep {
    enum Phase { Start, Done, Failed } phase = Start;
    std::string what;    // "version information", "VL7 new firmware"
    std::string detail;  // Failed: why, in one line
    size_t bytes = 0;    // Done: how many arrived
};
using TransferProgress = std::function<void(const TransferStep&)>;

// A download lands in a temporary file beside its target and takes the target's name only
// when the caller commits it. It is read back before that, so a FIFO or a device is never a
// target.
std::optional<AtomicFile> StageDownload(const std::filesystem::path& target);

// Downloads `url` into the open file `fd`, following redirects, asking caches for a fresh
// copy. Returns within the limits' deadline plus a few seconds, or soon after a cancel.
FetchResult Fetch(const std::string& url, int fd, const FetchLimits& limits);

// The helper beside this executable (a build tree) or in <prefix>/libexec/tavrik (an
// installed bin/); empty when neither is there.
std::filesystem::path FetchHelperPath();

}  // namespace tavrik

// Downloads over HTTP(S) with libcurl, into a staged file that takes its final name only
// when the caller accepts it.
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/atomic_file.h"

namespace tavrik {

enum class FetchStatus {
    Ok,
    Failed,     // no connection, an HTTP error, a time limit, a local write error
    TooBig,     // more than the limit; the transfer was stopped there
    Cancelled,  // the stop flag rose
};

struct FetchLimits {
    size_t maxBytes = 0;
    long connectTimeoutS = 15;
    long totalTimeoutS = 120;
    const std::atomic<bool>* cancel = nullptr;
};

// A download lands in a temporary file beside its target and takes the target's name only
// when the caller commits it. It is read back before that, so a FIFO or a device is never a
// target.
std::optional<AtomicFile> StageDownload(const std::filesystem::path& target);

// Downloads `url` into the open file `fd`, following redirects, asking caches for a fresh
// copy. `detail` says why a failed transfer failed.
FetchStatus Fetch(const std::string& url, int fd, const FetchLimits& limits,
                  std::string* detail = nullptr);

}  // namespace tavrik

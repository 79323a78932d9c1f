// Downloads over HTTP(S) with libcurl, into a staged file that takes its final name only
// when the caller accepts it.
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

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

// A file in the target's folder under a unique temporary name. It is removed when this
// object goes away, unless Commit moved it over the target.
class StagedFile {
public:
    static std::optional<StagedFile> Create(const std::filesystem::path& target);
    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&&) = delete;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    ~StagedFile();

    int Fd() const { return fd_; }
    const std::filesystem::path& Path() const { return path_; }
    // Flushes the file to disk and renames it over the target in one step.
    bool Commit();

private:
    StagedFile(std::filesystem::path target, std::filesystem::path path, int fd)
        : target_(std::move(target)), path_(std::move(path)), fd_(fd) {}

    std::filesystem::path target_;
    std::filesystem::path path_;
    int fd_ = -1;
    bool committed_ = false;
};

// Downloads `url` into the open file `fd`, following redirects, asking caches for a fresh
// copy. `detail` says why a failed transfer failed.
FetchStatus Fetch(const std::string& url, int fd, const FetchLimits& limits,
                  std::string* detail = nullptr);

}  // namespace tavrik

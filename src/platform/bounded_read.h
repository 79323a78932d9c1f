// The one way files from outside are read (macros, backups, settings, text tables,
// firmware images, the simulator file, downloads): only a regular file, and only up to a
// limit that suits its kind.
//
// The file is opened without blocking, so a FIFO or a terminal in its place cannot hold
// the reader at the open; what the open descriptor then is decides (no race with a file
// swapped in between a check and the open). Everything but a regular file is refused, as
// is a file larger than the limit, unless the caller takes only its first bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tavrik {

enum class ReadFailure {
    None,
    NotFound,
    CannotOpen,  // permission, a dangling link, ...
    NotRegular,  // a FIFO, a device, a folder, a socket
    TooLarge,    // more than the limit (only when the rest is not ignored)
    CannotRead,
};

// What a file longer than the limit gives.
enum class BeyondLimit {
    Refuse,  // TooLarge
    Ignore,  // its first `limit` bytes
};

// What tells one version of a file from another without reading it. Every write moves the
// change time, and a replaced file is another inode.
struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modifiedNs = 0;  // since the epoch
    int64_t changedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of the file `path` names now; none when it cannot be looked at.
std::optional<FileStamp> StampOfFile(const std::filesystem::path& path);

struct BoundedRead {
    ReadFailure failure = ReadFailure::None;
    std::string bytes;
    // What is wrong with the file: "is not a regular file", "is larger than 4 MiB";
    // `error` names the file as well: "'/x/y' is not a regular file".
    std::string why;
    std::string error;
    FileStamp stamp;  // of the file read, taken before its bytes
    bool Ok() const { return failure == ReadFailure::None; }
};

BoundedRead ReadBoundedFile(const std::filesystem::path& path, size_t limit,
                            BeyondLimit beyond = BeyondLimit::Refuse);

// "4 MiB", "64 KiB", "280 bytes": how a limit is shown to the user.
std::string SizeText(size_t bytes);

}  // namespace tavrik

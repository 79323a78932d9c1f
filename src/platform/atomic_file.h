// The one way files we own are written: a reader sees the old file or the new one, never
// half of either.
//
// What happens to the output path, by what it is now:
//  - nothing there: the file is created (folder must exist), 0666 less the umask;
//  - a regular file: the bytes go to a temporary file in the same folder, which is
//    flushed to disk, given the old file's permissions (and owner, when allowed), and
//    renamed over it; then the folder is flushed so the rename itself survives a crash.
//    A file we may not write into (for root: one without any write permission) is
//    refused: its owner made it read-only;
//  - a symbolic link: followed to the file it finally names, which is replaced as above;
//    the link stays. A link to nothing is refused: where it points is not ours to create;
//  - a FIFO or a character device (a terminal, /dev/stdout, /dev/null): written into as a
//    stream, never replaced, so "-o /dev/null" as root leaves /dev/null a device. A FIFO
//    without a reader is waited for a few seconds, then refused. Callers that read the
//    file back (downloads) refuse streams;
//  - anything else (a folder, a socket, a block device): refused.
// On any failure the temporary is removed, the old file is untouched and the error names
// the step and the path that failed.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

enum class FileWriteFailure {
    None,
    Refused,       // the path names something that is not ours to replace
    CannotCreate,  // no temporary could be made (missing folder, no permission)
    CannotWrite,   // writing, flushing or renaming failed
};

enum class StreamTargets { Write, Refuse };

class AtomicFile {
public:
    // Nothing, with `error` and `failure` set, when the path cannot be written.
    static std::optional<AtomicFile> Open(const std::filesystem::path& path,
                                          std::string* error = nullptr,
                                          FileWriteFailure* failure = nullptr,
                                          StreamTargets streams = StreamTargets::Write);
    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&&) = delete;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    // Removes the temporary unless Commit published it.
    ~AtomicFile();

    int Fd() const { return fd_; }
    bool IsStream() const { return stream_; }
    // Where the bytes go until Commit: the temporary, or the stream itself.
    const std::filesystem::path& Path() const { return temp_; }
    // What Commit replaces: the output path with its links followed.
    const std::filesystem::path& Target() const { return target_; }

    bool Write(std::string_view bytes, std::string* error = nullptr);
    // Flushes and renames the temporary over the target (a stream is only closed). Once.
    bool Commit(std::string* error = nullptr);

private:
    AtomicFile(std::filesystem::path target, std::filesystem::path temp, int fd, bool stream)
        : target_(std::move(target)), temp_(std::move(temp)), fd_(fd), stream_(stream) {}
    void Discard();

    std::filesystem::path target_;
    std::filesystem::path temp_;
    int fd_ = -1;
    bool stream_ = false;
    bool finished_ = false;
    bool failed_ = false;
};

// Open, Write and Commit in one.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* error = nullptr, FileWriteFailure* failure = nullptr);

// A temporary that AtomicFile leaves only when the process died before it could remove
// it: its name starts with "." and has ".tmp-" in it.
bool IsAtomicFileTemporary(const std::filesystem::path& path);

}  // namespace tavrik

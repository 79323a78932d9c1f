// The sim file: every simulated keyboard of a run, so that separate runs of the window
// and the command-line tool work on the same keyboards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_state.h"

namespace tavrik::sim {

inline constexpr int kSimMaxKeyboards = 4;
inline constexpr int kSimFileFormat = 1;

// A key pressed and released from another program (`tavrikctl sim press`). Sequence
// numbers grow per keyboard, so a running program replays only presses it has not seen.
struct SimKeyPress {
    uint32_t seq = 0;
    uint8_t slot = 0;
    uint8_t layer = 0;  // the layer the keyboard is on: a layer key there reports as one

    friend bool operator==(const SimKeyPress&, const SimKeyPress&) = default;
};
inline constexpr size_t kSimMaxPresses = 16;  // older ones are dropped

struct SimFileKeyboard {
    int index = 0;         // 0..3, the backend slot it goes to
    bool attached = true;  // false: kept, but unplugged
    SimKeyboardState state;
    std::vector<SimKeyPress> presses;  // oldest first

    friend bool operator==(const SimFileKeyboard&, const SimFileKeyboard&) = default;
};

// Busy: another program held the file's lock past the limit. Refused: an edit said no.
enum class SimFileError { None, NotFound, Unreadable, Malformed, WriteFailed, Busy, Refused };

// Never throws; on refusal `error` says what and where.
std::optional<std::vector<SimFileKeyboard>> ParseSimFile(std::string_view text,
                                                         std::string* error = nullptr);
std::string FormatSimFile(const std::vector<SimFileKeyboard>& keyboards);

SimFileError ReadSimFile(const std::filesystem::path& path, std::vector<SimFileKeyboard>& out,
                         std::string* error = nullptr);
// Replaces `path` atomically (platform/atomic_file.h), so a reader never sees half a file.
// A stream or anything else that is not a regular file is left alone (WriteFailed).
SimFileError WriteSimFile(const std::filesystem::path& path,
                          const std::vector<SimFileKeyboard>& keyboards,
                          std::string* error = nullptr);

// The highest press sequence number of a keyboard, 0 when none.
uint32_t LastPressSeq(const SimFileKeyboard& keyboard);

// The name every program uses for the file at `path`: absolute, with symbolic links
// resolved (of the file itself when it exists, else of its folder), so that a link and
// its target share one lock and one watch, and a write replaces the target, not the link.
std::filesystem::path ResolveSimFilePath(const std::filesystem::path& path);

// Programs that read, change and write the sim file hold this lock around it, so no two
// of them interleave. It is an flock on "<file>.lock" beside the file (the file itself is
// replaced by rename, so it cannot carry the lock). Waits at most `limitMs`.
inline constexpr int kSimFileLockLimitMs = 5000;
class SimFileLock {
public:
    SimFileLock(const std::filesystem::path& file, int limitMs = kSimFileLockLimitMs);
    ~SimFileLock();
    SimFileLock(const SimFileLock&) = delete;
    SimFileLock& operator=(const SimFileLock&) = delete;
    bool Locked() const { return fd_ >= 0; }
    const std::string& Error() const { return error_; }

private:
    int fd_ = -1;
    std::string error_;
};

// Under the lock: reads the file, lets `change` edit the keyboards (false: leave the
// file as it is, Refused) and writes it back. A missing file is NotFound, and no lock
// file is made for it. `change` reports its own refusal through `error`.
SimFileError EditSimFile(
    const std::filesystem::path& path,
    const std::function<bool(std::vector<SimFileKeyboard>&, std::string*)>& change,
    std::string* error = nullptr);

}  // namespace tavrik::sim

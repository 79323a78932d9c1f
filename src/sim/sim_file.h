// The sim file: every simulated keyboard of a run, so that separate runs of the window
// and the command-line tool work on the same keyboards.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_state.h"

namespace tavrik::sim {

inline constexpr int kSimMaxKeyboards = 4;
inline constexpr int kSimFileFormat = 1;

struct SimFileKeyboard {
    int index = 0;         // 0..3, the backend slot it goes to
    bool attached = true;  // false: kept, but unplugged
    SimKeyboardState state;

    friend bool operator==(const SimFileKeyboard&, const SimFileKeyboard&) = default;
};

enum class SimFileError { None, NotFound, Unreadable, Malformed, WriteFailed };

// Never throws; on refusal `error` says what and where.
std::optional<std::vector<SimFileKeyboard>> ParseSimFile(std::string_view text,
                                                         std::string* error = nullptr);
std::string FormatSimFile(const std::vector<SimFileKeyboard>& keyboards);

SimFileError ReadSimFile(const std::filesystem::path& path, std::vector<SimFileKeyboard>& out,
                         std::string* error = nullptr);
// Writes a temporary file beside `path` and renames it over `path`, so a reader never
// sees half a file.
SimFileError WriteSimFile(const std::filesystem::path& path,
                          const std::vector<SimFileKeyboard>& keyboards,
                          std::string* error = nullptr);

}  // namespace tavrik::sim

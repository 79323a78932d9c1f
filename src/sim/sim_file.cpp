#include "sim/sim_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/atomic_file.h"
#include "platform/bounded_read.h"

namespace tavrik::sim {
namespace {

using nlohmann::json;

// Four keyboards of 90 keys, each key holding a macro of 64 steps, take about 3.2 MiB;
// anything bigger is not a sim file. Nesting: the file is six levels deep (root,
// keyboards, keyboard, modules, module, macro entry); deeper is refused before parsing,
// whose cost grows with it.
constexpr size_t kMaxFileSize = 4u << 20;
constexpr int kMaxNesting = 16;

// The deepest nesting of arrays and objects, counted outside strings; stops at `limit` + 1.
int NestingDepth(std::string_view text, int limit) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
            if (deepest > limit) {
                return deepest;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

void SetError(std::string* error, std::string text) {
    if (error) {
        *error = std::move(text);
    }
}

bool ParsePresses(const json& list, std::vector<SimKeyPress>& out) {
    if (!list.is_array() || list.size() > kSimMaxPresses) {
        return false;
    }
    for (const json& p : list) {
        if (!p.is_object()) {
            return false;
        }
        const auto seq = p.find("seq");
        const auto slot = p.find("slot");
        const auto layer = p.find("layer");
        if (seq == p.end() || !seq->is_number_unsigned() || *seq > 0xFFFFFFFFu || slot == p.end() ||
            !slot->is_number_unsigned() || *slot >= kKeySlots ||
            (layer != p.end() && (!layer->is_number_unsigned() || *layer > 3))) {
            return false;
        }
        SimKeyPress press{seq->get<uint32_t>(), slot->get<uint8_t>(),
                          layer == p.end() ? uint8_t{0} : layer->get<uint8_t>()};
        if (!out.empty() && press.seq <= out.back().seq) {
            return false;
        }
        out.push_back(press);
    }
    return true;
}

std::optional<std::vector<SimFileKeyboard>> ParseKeyboards(const json& root, std::string* error) {
    const json* list = &root;
    if (root.is_object()) {
        const auto format = root.find("format");
        if (format != root.end() && *format != kSimFileFormat) {
            SetError(error, "format: only format 1 is known");
            return std::nullopt;
        }
        const auto it = root.find("keyboards");
        if (it == root.end()) {
            SetError(error, "keyboards: missing");
            return std::nullopt;
        }
        list = &*it;
    }
    if (!list->is_array() || list->size() > kSimMaxKeyboards) {
        SetError(error, "keyboards: expected a list of at most 4 keyboards");
        return std::nullopt;
    }
    std::vector<SimFileKeyboard> out;
    std::array<bool, kSimMaxKeyboards> taken{};
    for (size_t i = 0; i < list->size(); ++i) {
        const auto where = "keyboards[" + std::to_string(i) + "]";
        const json& entry = (*list)[i];
        std::string stateError;
        auto state = ParseSimKeyboardState(entry, &stateError);
        if (!state) {
            SetError(error, where + "." + stateError);
            return std::nullopt;
        }
        SimFileKeyboard k;
        k.index = static_cast<int>(i);
        k.state = std::move(*state);
        if (const auto it = entry.find("index"); it != entry.end()) {
            if (!it->is_number_integer() || *it < 0 || *it >= kSimMaxKeyboards) {
                SetError(error, where + ".index: must lie in 0..3");
                return std::nullopt;
            }
            k.index = it->get<int>();
        }
        if (const auto it = entry.find("attached"); it != entry.end()) {
            if (!it->is_boolean()) {
                SetError(error, where + ".attached: expected true or false");
                return std::nullopt;
            }
            k.attached = it->get<bool>();
        }
        if (const auto it = entry.find("presses"); it != entry.end()) {
            if (!ParsePresses(*it, k.presses)) {
                SetError(error, where +
                                    ".presses: expected at most 16 {seq, slot 0..89, layer 0..3}, "
                                    "seq rising");
                return std::nullopt;
            }
        }
        if (taken[static_cast<size_t>(k.index)]) {
            SetError(error, where + ".index: " + std::to_string(k.index) + " is used twice");
            return std::nullopt;
        }
        taken[static_cast<size_t>(k.index)] = true;
        out.push_back(std::move(k));
    }
    return out;
}

}  // namespace

std::optional<std::vector<SimFileKeyboard>> ParseSimFile(std::string_view text,
                                                         std::string* error) {
    if (NestingDepth(text, kMaxNesting) > kMaxNesting) {
        SetError(error, "nested deeper than " + std::to_string(kMaxNesting) +
                            " levels, more than a simulator file has");
        return std::nullopt;
    }
    try {
        return ParseKeyboards(json::parse(text), error);
    } catch (const std::exception& e) {
        SetError(error, std::string("not valid JSON: ") + e.what());
        return std::nullopt;
    }
}

std::string FormatSimFile(const std::vector<SimFileKeyboard>& keyboards) {
    json list = json::array();
    for (const auto& k : keyboards) {
        json entry = SimKeyboardStateToJson(k.state);
        entry["index"] = k.index;
        entry["attached"] = k.attached;
        if (!k.presses.empty()) {
            json presses = json::array();
            for (const auto& p : k.presses) {
                presses.push_back({{"seq", p.seq}, {"slot", p.slot}, {"layer", p.layer}});
            }
            entry["presses"] = std::move(presses);
        }
        list.push_back(std::move(entry));
    }
    const json root = {{"format", kSimFileFormat}, {"keyboards", std::move(list)}};
    return root.dump(2) + "\n";
}

SimFileError ReadSimFile(const std::filesystem::path& path, std::vector<SimFileKeyboard>& out,
                         std::string* error) {
    const BoundedRead read = ReadBoundedFile(path, kMaxFileSize);
    switch (read.failure) {
        case ReadFailure::None:
            break;
        case ReadFailure::NotFound:
            SetError(error, read.error);
            return SimFileError::NotFound;
        case ReadFailure::TooLarge:
            SetError(error, read.error + ", too large for a simulator file");
            return SimFileError::Malformed;
        default:
            SetError(error, read.error);
            return SimFileError::Unreadable;
    }
    std::string parseError;
    auto keyboards = ParseSimFile(read.bytes, &parseError);
    if (!keyboards) {
        SetError(error, path.string() + ": " + parseError);
        return SimFileError::Malformed;
    }
    out = std::move(*keyboards);
    return SimFileError::None;
}

SimFileError WriteSimFile(const std::filesystem::path& path,
                          const std::vector<SimFileKeyboard>& keyboards, std::string* error) {
    std::string why;
    FileWriteFailure failure = FileWriteFailure::None;
    // Programs read the file back, so a stream in its place is refused, not written into.
    auto file = AtomicFile::Open(path, &why, &failure, StreamTargets::Refuse);
    if (!file || !file->Write(FormatSimFile(keyboards), &why) || !file->Commit(&why)) {
        SetError(error, why);
        return SimFileError::WriteFailed;
    }
    return SimFileError::None;
}

uint32_t LastPressSeq(const SimFileKeyboard& keyboard) {
    return keyboard.presses.empty() ? 0 : keyboard.presses.back().seq;
}

SimFileLock::SimFileLock(const std::filesystem::path& file, int limitMs) {
    std::filesystem::path lockPath = file;
    lockPath += ".lock";
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error_ = lockPath.string() + ": " + (fd < 0 ? std::strerror(errno) : "not a regular file");
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= until) {
            error_ = lockPath.string() + (errno == EWOULDBLOCK
                                              ? ": held by another program for too long"
                                              : std::string(": ") + std::strerror(errno));
            ::close(fd);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    fd_ = fd;
}

SimFileLock::~SimFileLock() {
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }
}

std::filesystem::path ResolveSimFilePath(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::path whole = std::filesystem::absolute(path, ec);
    if (ec) {
        return path;
    }
    if (auto real = std::filesystem::canonical(whole, ec); !ec) {
        return real;
    }
    if (auto folder = std::filesystem::canonical(whole.parent_path(), ec); !ec) {
        return folder / whole.filename();
    }
    return whole;
}

SimFileError EditSimFile(
    const std::filesystem::path& given,
    const std::function<bool(std::vector<SimFileKeyboard>&, std::string*)>& change,
    std::string* error) {
    const std::filesystem::path path = ResolveSimFilePath(given);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        SetError(error, "'" + given.string() + "' does not exist");
        return SimFileError::NotFound;
    }
    SimFileLock lock(path);
    if (!lock.Locked()) {
        SetError(error, lock.Error());
        return SimFileError::Busy;
    }
    // Read and written by the name given (the same file), so that errors name it.
    std::vector<SimFileKeyboard> keyboards;
    if (const auto read = ReadSimFile(given, keyboards, error); read != SimFileError::None) {
        return read;
    }
    if (!change(keyboards, error)) {
        return SimFileError::Refused;
    }
    // Never a file that the next reader refuses.
    std::string why;
    if (!ParseSimFile(FormatSimFile(keyboards), &why)) {
        SetError(error, "the change would make a file that cannot be read again: " + why);
        return SimFileError::Refused;
    }
    return WriteSimFile(given, keyboards, error);
}

}  // namespace tavrik::sim

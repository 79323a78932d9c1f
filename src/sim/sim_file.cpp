#include "sim/sim_file.h"

#include <array>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "platform/atomic_file.h"

namespace tavrik::sim {
namespace {

using nlohmann::json;

// Far more than four full keyboards take; anything bigger is not a sim file.
constexpr std::uintmax_t kMaxFileSize = 16u << 20;

void SetError(std::string* error, std::string text) {
    if (error) {
        *error = std::move(text);
    }
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
        list.push_back(std::move(entry));
    }
    const json root = {{"format", kSimFileFormat}, {"keyboards", std::move(list)}};
    return root.dump(2) + "\n";
}

SimFileError ReadSimFile(const std::filesystem::path& path, std::vector<SimFileKeyboard>& out,
                         std::string* error) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        SetError(error, path.string() + ": no such file");
        return SimFileError::NotFound;
    }
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxFileSize) {
        SetError(error, path.string() + (ec ? ": cannot be read" : ": too large for a sim file"));
        return SimFileError::Unreadable;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        SetError(error, path.string() + ": cannot be read");
        return SimFileError::Unreadable;
    }
    std::string parseError;
    auto keyboards = ParseSimFile(text.str(), &parseError);
    if (!keyboards) {
        SetError(error, path.string() + ": " + parseError);
        return SimFileError::Malformed;
    }
    out = std::move(*keyboards);
    return SimFileError::None;
}

SimFileError WriteSimFile(const std::filesystem::path& path,
                          const std::vector<SimFileKeyboard>& keyboards, std::string* error) {
    if (!WriteFileAtomically(path, FormatSimFile(keyboards), error)) {
        return SimFileError::WriteFailed;
    }
    return SimFileError::None;
}

}  // namespace tavrik::sim

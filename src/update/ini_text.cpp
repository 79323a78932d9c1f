#include "update/ini_text.h"

#include <fstream>

namespace tavrik {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Takes the next line off `text`, without its line break.
std::string_view NextLine(std::string_view& text) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    return line;
}

}  // namespace

std::optional<std::string> IniLookup(std::string_view text, std::string_view section,
                                     std::string_view key) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    bool inSection = false;
    while (!text.empty()) {
        const std::string_view line = Trim(NextLine(text));
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            const size_t close = line.find(']');
            inSection = close != std::string_view::npos &&
                        SameName(Trim(line.substr(1, close - 1)), section);
            continue;
        }
        const size_t eq = line.find('=');
        if (!inSection || eq == std::string_view::npos ||
            !SameName(Trim(line.substr(0, eq)), key)) {
            continue;
        }
        std::string_view value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return std::string(value.substr(0, kIniValueMax));
    }
    return std::nullopt;
}

std::string IniString(std::string_view text, std::string_view section, std::string_view key,
                      std::string_view fallback) {
    auto value = IniLookup(text, section, key);
    return value ? std::move(*value) : std::string(fallback);
}

uint32_t IniUInt(std::string_view text, std::string_view section, std::string_view key,
                 uint32_t fallback) {
    const auto value = IniLookup(text, section, key);
    if (!value) {
        return fallback;
    }
    uint64_t n = 0;
    for (char c : *value) {
        if (c < '0' || c > '9') {
            break;
        }
        n = n * 10 + static_cast<uint64_t>(c - '0');
        if (n > UINT32_MAX) {
            return UINT32_MAX;
        }
    }
    return static_cast<uint32_t>(n);
}

std::optional<std::string> ReadSmallFile(const std::filesystem::path& file, size_t maxBytes) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string data;
    char buf[4096];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        data.append(buf, static_cast<size_t>(in.gcount()));
        if (data.size() > maxBytes) {
            return std::nullopt;
        }
    }
    if (in.bad()) {
        return std::nullopt;
    }
    return data;
}

}  // namespace tavrik

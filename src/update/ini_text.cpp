#include "update/ini_text.h"

#include "app/profile_ini.h"

#include <fstream>

namespace tavrik {

std::optional<std::string> IniLookup(std::string_view text, std::string_view section,
                                     std::string_view key) {
    if (!ProfileRawValue(text, section, key)) {
        return std::nullopt;
    }
    return ProfileStringFromText(text, section, key, {});
}

std::string IniString(std::string_view text, std::string_view section, std::string_view key,
                      std::string_view fallback) {
    return ProfileStringFromText(text, section, key, fallback);
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

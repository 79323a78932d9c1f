#include "update/ini_text.h"

#include "app/profile_ini.h"
#include "platform/bounded_read.h"

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
    BoundedRead read = ReadBoundedFile(file, maxBytes);
    if (!read.Ok()) {
        return std::nullopt;
    }
    return std::move(read.bytes);
}

}  // namespace tavrik

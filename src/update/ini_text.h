// Reading single values out of INI text with the rules of the Windows profile functions,
// which the settings file and the version-information file were written for: section and
// key names ignore letter case, a value is the rest of its line after '=' with the blanks
// around it and one pair of enclosing quotes removed, cut to 259 characters; the first
// occurrence counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

inline constexpr size_t kIniValueMax = 259;
// What a missing string reads as where the caller gives no better default.
inline constexpr std::string_view kIniNotFound = "notfound";

// Empty when the section or the key is not there.
std::optional<std::string> IniLookup(std::string_view text, std::string_view section,
                                     std::string_view key);

// The value, or `fallback` when the key is missing.
std::string IniString(std::string_view text, std::string_view section, std::string_view key,
                      std::string_view fallback);

// The decimal number the value starts with (0 when it starts with none), saturated to 32
// bits; `fallback` when the key is missing.
uint32_t IniUInt(std::string_view text, std::string_view section, std::string_view key,
                 uint32_t fallback);

// The whole file when it is a regular file that can be read and holds at most `maxBytes`
// (platform/bounded_read.h).
std::optional<std::string> ReadSmallFile(const std::filesystem::path& file, size_t maxBytes);

}  // namespace tavrik

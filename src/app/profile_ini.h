// INI files read and written with the rules of the Windows profile functions, which the
// settings file and the text tables were made for: section and key names ignore letter case,
// a value is the rest of its line after '=' without the blanks around it and without one
// pair of enclosing quotes, the first occurrence of a key counts, and a value is cut to 259
// characters (a 260-character buffer).
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

inline constexpr size_t kProfileTextMax = 259;
// The default the settings file is read with.
inline constexpr std::string_view kProfileNotFound = "notfound";
// Larger files are not INI files of ours: read as missing, never rewritten.
inline constexpr size_t kProfileFileMax = 1 << 20;

// `text` cut to at most kProfileTextMax characters (UTF-8 sequences are kept whole).
std::string CutProfileText(std::string_view text);

// The value of `key` in `section` of INI text, before the quote and length rules; empty
// when missing.
std::optional<std::string> ProfileRawValue(std::string_view text, std::string_view section,
                                           std::string_view key);

// The value as the profile functions give it, or `fallback` when the key is missing; both
// cut to kProfileTextMax characters.
std::string ProfileStringFromText(std::string_view text, std::string_view section,
                                  std::string_view key, std::string_view fallback);

// The same from a file; a missing, unreadable or oversized file gives `fallback`. A file
// that has rested a while is parsed once and kept until it changes (its size, times or
// inode), so reading option after option costs one look at the file each.
std::string ReadProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key, std::string_view fallback);

// INI text with key=value set in section: the first such key line of the first such section
// is rewritten, else the line is added after the section's last key, else the section is
// added at the end. Every other line stays as it was. Empty when the write is refused: a
// name or value that would not read back the same (line breaks, '=' or ']' in a name,
// blanks around the value), or text whose other values would read differently afterwards.
std::optional<std::string> SetProfileStringInText(std::string_view text, std::string_view section,
                                                  std::string_view key, std::string_view value);

// Sets key=value in the file as above, creating the file and its folder when missing. The
// file is replaced whole through a temporary file, so a failed write leaves the old one.
// False when refused or when the file cannot be read or written.
bool WriteProfileString(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view value);

}  // namespace tavrik

// MD5 digests of downloaded files.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

// 32 lower-case hexadecimal digits; empty when the file cannot be read.
std::optional<std::string> Md5HexOfFile(const std::filesystem::path& file);
std::optional<std::string> Md5Hex(std::string_view data);

// Letter case ignored: a server that writes its digests in capitals means the same digest.
bool SameDigest(std::string_view a, std::string_view b);

}  // namespace tavrik

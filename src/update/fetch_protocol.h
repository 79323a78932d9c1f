// What passes between a program and its download helper (tavrik-fetch): the limits as
// arguments, and one result line on a descriptor of its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "update/downloader.h"

namespace tavrik {

// The helper writes its result line here; standard output carries the body.
inline constexpr int kFetchResultFd = 3;

// The helper's arguments after its name: the address, then the five limits. A deadline
// becomes the milliseconds left (at least 1), none becomes 0.
std::vector<std::string> FetchArguments(const std::string& url, const FetchLimits& limits);
// The five limits from argv[2..6]; none when one is not a number.
std::optional<FetchLimits> ParseFetchLimits(char* const* five);

// "<status> <bytes> <detail>\n", the detail on one line.
std::string FormatFetchResult(const FetchResult& result);
std::optional<FetchResult> ParseFetchResult(const std::string& line);

}  // namespace tavrik

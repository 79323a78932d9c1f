#include "update/fetch_protocol.h"

#include <array>
#include <charconv>
#include <chrono>
#include <string_view>

namespace tavrik {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::array<std::string_view, 5> kStatusNames = {"ok", "failed", "too-big", "cancelled",
                                                          "time-limit"};

bool ParseNumber(std::string_view text, long long& out) {
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && out >= 0;
}

}  // namespace

std::vector<std::string> FetchArguments(const std::string& url, const FetchLimits& limits) {
    long long leftMs = 0;
    if (limits.deadline != Clock::time_point::max()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(limits.deadline - Clock::now());
        leftMs = std::max<long long>(1, left.count());
    }
    return {url,
            std::to_string(limits.maxBytes),
            std::to_string(limits.connectTimeoutS),
            std::to_string(leftMs),
            std::to_string(limits.lowSpeedBytes),
            std::to_string(limits.lowSpeedSeconds)};
}

std::optional<FetchLimits> ParseFetchLimits(char* const* five) {
    std::array<long long, 5> n{};
    for (size_t i = 0; i < n.size(); ++i) {
        if (!ParseNumber(five[i], n[i])) {
            return std::nullopt;
        }
    }
    FetchLimits limits;
    limits.maxBytes = static_cast<size_t>(n[0]);
    limits.connectTimeoutS = static_cast<long>(n[1]);
    if (n[2] > 0) {
        limits.deadline = Clock::now() + std::chrono::milliseconds(n[2]);
    }
    limits.lowSpeedBytes = static_cast<long>(n[3]);
    limits.lowSpeedSeconds = static_cast<long>(n[4]);
    return limits;
}

std::string FormatFetchResult(const FetchResult& result) {
    std::string detail = result.detail;
    for (char& c : detail) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return std::string(kStatusNames.at(static_cast<size_t>(result.status))) + " " +
           std::to_string(result.bytes) + " " + detail + "\n";
}

std::optional<FetchResult> ParseFetchResult(const std::string& line) {
    const size_t a = line.find(' ');
    const size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
    if (b == std::string::npos || line.empty() || line.back() != '\n') {
        return std::nullopt;
    }
    FetchResult result;
    const std::string_view name(line.data(), a);
    size_t index = 0;
    while (index < kStatusNames.size() && kStatusNames[index] != name) {
        ++index;
    }
    long long bytes = 0;
    if (index == kStatusNames.size() || !ParseNumber({line.data() + a + 1, b - a - 1}, bytes)) {
        return std::nullopt;
    }
    result.status = static_cast<FetchStatus>(index);
    result.bytes = static_cast<size_t>(bytes);
    result.detail = line.substr(b + 1, line.size() - b - 2);
    return result;
}

}  // namespace tavrik

#include "update/update_url.h"

#include <algorithm>
#include <string_view>

namespace tavrik {

namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        const char c = s[i] >= 'A' && s[i] <= 'Z' ? static_cast<char>(s[i] - 'A' + 'a') : s[i];
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

bool HasHttpScheme(std::string_view s) {
    return StartsWithNoCase(s, "http://") || StartsWithNoCase(s, "https://");
}

// "name:" before any '/', '?' or '#': the link brings a scheme of its own.
bool HasScheme(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == ':') {
            return i > 0;
        }
        const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!alpha && !(i > 0 && other)) {
            return false;
        }
    }
    return false;
}

bool IsPortText(std::string_view s) {
    if (s.size() > 5) {
        return false;
    }
    unsigned port = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
        port = port * 10 + static_cast<unsigned>(c - '0');
    }
    return port <= 65535;
}

bool IsHostText(std::string_view s) {
    for (char c : s) {
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && c != '-' && c != '.' && c != '_' && c != '~' && c != '%') {
            return false;
        }
    }
    return !s.empty();
}

// The host of "scheme://[user@]host[:port][/...]": a name or IPv4 address, or an IPv6
// address in brackets, and a port of digits.
bool HasHost(std::string_view url) {
    const size_t start = url.find("://") + 3;
    const size_t end = std::min(url.find_first_of("/?#", start), url.size());
    std::string_view authority = url.substr(start, end - start);
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos || close == 1) {
            return false;
        }
        for (char c : authority.substr(1, close - 1)) {
            const bool hex =
                (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            if (!hex && c != ':' && c != '.') {
                return false;
            }
        }
        const std::string_view rest = authority.substr(close + 1);
        return rest.empty() || (rest.front() == ':' && IsPortText(rest.substr(1)));
    }
    const size_t colon = authority.find(':');
    return IsHostText(authority.substr(0, colon)) &&
           (colon == std::string_view::npos || IsPortText(authority.substr(colon + 1)));
}

}  // namespace

bool IsUpdateUrl(const std::string& url) {
    if (!HasHttpScheme(url)) {
        return false;
    }
    for (unsigned char c : url) {
        if (c <= 0x20 || c >= 0x7F) {
            return false;
        }
    }
    return HasHost(url);
}

std::string ResolveLink(const std::string& server, const std::string& link) {
    std::string url;
    if (link.empty()) {
        return {};
    }
    if (HasHttpScheme(link)) {
        url = link;
    } else if (HasScheme(link)) {
        return {};
    } else if (link.rfind("//", 0) == 0) {
        const size_t colon = server.find(':');
        if (colon == std::string::npos) {
            return {};
        }
        url = server.substr(0, colon + 1) + link;
    } else {
        std::string_view base = server;
        while (!base.empty() && base.back() == '/') {
            base.remove_suffix(1);
        }
        std::string_view rest = link;
        while (!rest.empty() && rest.front() == '/') {
            rest.remove_prefix(1);
        }
        url = std::string(base) + "/" + std::string(rest);
    }
    return IsUpdateUrl(url) ? url : std::string();
}

}  // namespace tavrik

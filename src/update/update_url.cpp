#include "update/update_url.h"

#include <curl/curl.h>

#include <memory>
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

struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct TextDeleter {
    void operator()(char* p) const { curl_free(p); }
};

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
    std::unique_ptr<CURLU, UrlDeleter> u(curl_url());
    if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return false;
    }
    char* raw = nullptr;
    if (curl_url_get(u.get(), CURLUPART_HOST, &raw, 0) != CURLUE_OK) {
        return false;
    }
    std::unique_ptr<char, TextDeleter> host(raw);
    return host && host.get()[0] != '\0';
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

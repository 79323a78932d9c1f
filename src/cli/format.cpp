#include "cli/format.h"

#include <cstdio>
#include <cstdlib>

#include "app/texts.h"

namespace tavrik::cli {

std::string HexText(unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, value);
    return buf;
}

std::string VersionText(int hi, int lo) {
    return std::to_string(hi) + "." + std::to_string(lo);
}

std::string ColourText(uint32_t colour) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02X%02X%02X", colour & 0xFF, (colour >> 8) & 0xFF,
                  (colour >> 16) & 0xFF);
    return buf;
}

std::string CountText(long n, std::string_view one, std::string_view many) {
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

std::string CliLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return std::string_view(value).rfind("zh", 0) == 0 ? "zh-cn" : "en";
        }
    }
    return "en";
}

std::string CliText(std::string_view key) {
    std::string text = GetCommandLineText(key, CliLanguage());
    if (text.empty()) {
        text = GetCommandLineText(key, "en");
    }
    return text.empty() ? std::string(key) : text;
}

std::string CliText(std::string_view key, int number) {
    std::string text = CliText(key);
    const std::string value = std::to_string(number);
    for (size_t at = text.find("%d"); at != std::string::npos;
         at = text.find("%d", at + value.size())) {
        text.replace(at, 2, value);
    }
    return text;
}

}  // namespace tavrik::cli

#include "cli/format.h"

#include <cstdio>

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

}  // namespace tavrik::cli

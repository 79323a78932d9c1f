// How tavrikctl writes numbers, versions and colours, the same in every command.
#pragma once

#include <cstdint>
#include <string>

namespace tavrik::cli {

// "0x04" with `digits` hex digits.
std::string HexText(unsigned value, int digits);
// "1.40" from a version's two bytes.
std::string VersionText(int hi, int lo);
// "#RRGGBB" from a 0x00BBGGRR colour.
std::string ColourText(uint32_t colour);

}  // namespace tavrik::cli

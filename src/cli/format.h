// How tavrikctl writes numbers, versions and colours, the same in every command.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrik::cli {

// "0x04" with `digits` hex digits.
std::string HexText(unsigned value, int digits);
// "1.40" from a version's two bytes.
std::string VersionText(int hi, int lo);
// "#RRGGBB" from a 0x00BBGGRR colour.
std::string ColourText(uint32_t colour);
// "1 step", "3 steps".
std::string CountText(long n, std::string_view one, std::string_view many);

// The language tavrikctl speaks: "zh-cn" when the locale (the first of LC_ALL,
// LC_MESSAGES and LANG that is set) is a Chinese one, else "en".
std::string CliLanguage();
// A text of the CommandLine section of the text tables in that language: the English one
// when the table lacks it, the key itself when both do.
std::string CliText(std::string_view key);
// The same with every "%d" replaced by `number`. The tables can be edited, so a text is
// never used as a printf format.
std::string CliText(std::string_view key, int number);

}  // namespace tavrik::cli

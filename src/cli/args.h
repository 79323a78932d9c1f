// A small getopt-like parser: long options ("--json", "--delay 5", "--delay=5"),
// their one-letter forms ("-o FILE"), and positionals; "--" ends the options.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "keys/keycodes.h"  // ParseNumber

namespace tavrik::cli {

struct OptionSpec {
    std::string name;  // without the dashes
    bool takesValue = false;
    char shortName = 0;
};

class Args {
public:
    // On a malformed command line, returns nothing and says why in `error`.
    static std::optional<Args> Parse(const std::vector<std::string>& argv,
                                     const std::vector<OptionSpec>& specs, std::string& error);

    bool Has(const std::string& name) const { return options_.count(name) != 0; }
    std::string Get(const std::string& name, const std::string& fallback = {}) const;
    const std::vector<std::string>& Positional() const { return positional_; }

private:
    std::map<std::string, std::string> options_;
    std::vector<std::string> positional_;
};

}  // namespace tavrik::cli

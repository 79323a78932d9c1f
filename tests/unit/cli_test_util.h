// Runs tavrikctl in-process and captures what it prints.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace tavrik::testing {

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline CliResult RunCtl(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    CliResult r;
    r.status = RunCli(args, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

}  // namespace tavrik::testing

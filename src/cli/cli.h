// tavrikctl: results go to `out`, errors to `err`; the return value is the exit status.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tavrik {

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tavrik

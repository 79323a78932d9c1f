// What to tell a user whose keyboard is attached but whose hidraw node this user may not
// open: the nodes, the udev rule file and where it goes, and the udevadm commands. Both
// front ends print the same facts from here.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

inline constexpr const char* kUdevRuleName = "70-tavrik.rules";
// Where a rule copied by hand goes, and where the package puts it.
inline constexpr const char* kUdevLocalRulesDir = "/etc/udev/rules.d";
inline constexpr const char* kUdevPackageRulesDir = "/usr/lib/udev/rules.d";

struct UdevRuleFacts {
    // The rule where udev reads it (a copy in /etc or the package's), empty when none.
    std::filesystem::path active;
    // A copy of the rule to install: the one `make install` put under its prefix or the
    // one beside a build tree's executable; empty when neither is found.
    std::filesystem::path copy;
};

// Looks for the rule in udev's rule folders (under `root`, "/" on a real system) and for a
// copy shipped with this executable.
UdevRuleFacts FindUdevRule(const std::filesystem::path& root = "/");

// The message for keyboards at `nodes` that exist but may not be opened, in `language`
// (the text tables): one paragraph, no newline. Empty when `nodes` is empty.
std::string DeniedKeyboardsText(const std::vector<std::string>& nodes, const UdevRuleFacts& rule,
                                std::string_view language = "en");

}  // namespace tavrik

#include "app/udev_access.h"

#include <system_error>

#include "app/paths.h"

namespace tavrik {

namespace {

bool IsRegular(const std::filesystem::path& file) {
    std::error_code ec;
    return std::filesystem::is_regular_file(file, ec);
}

std::string JoinNodes(const std::vector<std::string>& nodes) {
    std::string text;
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (i > 0) {
            text += i + 1 == nodes.size() ? " and " : ", ";
        }
        text += nodes[i];
    }
    return text;
}

}  // namespace

UdevRuleFacts FindUdevRule(const std::filesystem::path& root) {
    UdevRuleFacts facts;
    // In udev's order: a copy in /etc overrides the package's.
    for (const char* dir :
         {kUdevLocalRulesDir, "/run/udev/rules.d", kUdevPackageRulesDir, "/lib/udev/rules.d"}) {
        const std::filesystem::path file =
            root / std::filesystem::path(dir).relative_path() / kUdevRuleName;
        if (IsRegular(file)) {
            facts.active = std::filesystem::path(dir) / kUdevRuleName;
            break;
        }
    }
    const std::filesystem::path exeFolder = ExePath().parent_path();
    if (!exeFolder.empty()) {
        // Installed under a prefix udev does not read (/usr/local), or a build tree.
        for (const auto& file : {exeFolder.parent_path() / "lib/udev/rules.d" / kUdevRuleName,
                                 exeFolder / kUdevRuleName}) {
            if (IsRegular(file)) {
                facts.copy = file;
                break;
            }
        }
    }
    return facts;
}

std::string DeniedKeyboardsText(const std::vector<std::string>& nodes, const UdevRuleFacts& rule) {
    if (nodes.empty()) {
        return {};
    }
    std::string text = JoinNodes(nodes) +
                       (nodes.size() == 1 ? " is a keyboard" : " are keyboards") +
                       ", but this user may not open " + (nodes.size() == 1 ? "it" : "them") +
                       " (permission denied). ";
    const std::string reload = "sudo udevadm control --reload && sudo udevadm trigger";
    if (!rule.active.empty()) {
        // The rule is in place but has not reached the node: udev was not told, or the
        // user is not at the machine's own seat (the rule opens nodes to that user only).
        text += "The udev rule " + rule.active.string() + " is installed; apply it: " + reload +
                ", then plug the keyboard in again. It lets in the user logged in at this "
                "machine's own screen, not one logged in from elsewhere.";
        return text;
    }
    const std::string source = rule.copy.empty()
                                   ? std::string(kUdevRuleName) + " (packaging/udev in the sources)"
                                   : rule.copy.string();
    text +=
        std::string("Install the udev rule ") + source + " into " + kUdevLocalRulesDir +
        " (the package installs it into " + kUdevPackageRulesDir + "): sudo cp " +
        (rule.copy.empty() ? std::string("packaging/udev/") + kUdevRuleName : rule.copy.string()) +
        " " + kUdevLocalRulesDir + "/ && " + reload + "; then plug the keyboard in again.";
    return text;
}

}  // namespace tavrik

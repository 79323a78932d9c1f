#include "app/udev_access.h"

#include <system_error>

#include "app/paths.h"
#include "app/texts.h"

namespace tavrik {

namespace {

bool IsRegular(const std::filesystem::path& file) {
    std::error_code ec;
    return std::filesystem::is_regular_file(file, ec);
}

std::string JoinNodes(const std::vector<std::string>& nodes, const std::string& lastJoin) {
    std::string text;
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (i > 0) {
            text += i + 1 == nodes.size() ? " " + lastJoin + " " : ", ";
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

std::string DeniedKeyboardsText(const std::vector<std::string>& nodes, const UdevRuleFacts& rule,
                                std::string_view language) {
    if (nodes.empty()) {
        return {};
    }
    const auto words = [language](const char* key) { return GetPromptText(key, language); };
    std::string text = FillTexts(words(nodes.size() == 1 ? "deniedNode" : "deniedNodes"),
                                 {JoinNodes(nodes, words("deniedNodesAnd"))}) +
                       " ";
    const std::string reload = "sudo udevadm control --reload && sudo udevadm trigger";
    if (!rule.active.empty()) {
        // The rule is in place but has not reached the node: udev was not told, or the
        // user is not at the machine's own seat (the rule opens nodes to that user only).
        return text + FillTexts(words("deniedApplyRule"), {rule.active.string(), reload});
    }
    const std::string source = rule.copy.empty()
                                   ? FillTexts(words("deniedRuleInSources"), {kUdevRuleName})
                                   : rule.copy.string();
    const std::string from =
        rule.copy.empty() ? std::string("packaging/udev/") + kUdevRuleName : rule.copy.string();
    return text +
           FillTexts(words("deniedInstallRule"), {source, kUdevLocalRulesDir, kUdevPackageRulesDir,
                                                  from, kUdevLocalRulesDir, reload});
}

}  // namespace tavrik

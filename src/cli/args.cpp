#include "cli/args.h"

namespace tavrik::cli {

std::optional<Args> Args::Parse(const std::vector<std::string>& argv,
                                const std::vector<OptionSpec>& specs, std::string& error) {
    Args args;
    auto findLong = [&specs](const std::string& name) -> const OptionSpec* {
        for (const auto& s : specs) {
            if (s.name == name) {
                return &s;
            }
        }
        return nullptr;
    };
    auto findShort = [&specs](char c) -> const OptionSpec* {
        for (const auto& s : specs) {
            if (s.shortName != 0 && s.shortName == c) {
                return &s;
            }
        }
        return nullptr;
    };
    bool optionsEnded = false;
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            args.positional_.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionSpec* spec = nullptr;
        std::optional<std::string> inlineValue;
        if (a.rfind("--", 0) == 0) {
            std::string name = a.substr(2);
            if (const auto eq = name.find('='); eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                name.resize(eq);
            }
            spec = findLong(name);
        } else if (a.size() == 2) {
            spec = findShort(a[1]);
        }
        if (spec == nullptr) {
            error = "unknown option " + a;
            return std::nullopt;
        }
        if (!spec->takesValue) {
            if (inlineValue) {
                error = "option --" + spec->name + " takes no value";
                return std::nullopt;
            }
            args.options_[spec->name] = "";
            continue;
        }
        if (inlineValue) {
            args.options_[spec->name] = *inlineValue;
        } else if (i + 1 < argv.size()) {
            args.options_[spec->name] = argv[++i];
        } else {
            error = "option --" + spec->name + " needs a value";
            return std::nullopt;
        }
    }
    return args;
}

std::string Args::Get(const std::string& name, const std::string& fallback) const {
    const auto it = options_.find(name);
    return it == options_.end() ? fallback : it->second;
}

}  // namespace tavrik::cli

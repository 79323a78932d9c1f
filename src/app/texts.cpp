#include "app/texts.h"

#include <algorithm>

#include "app/paths.h"
#include "app/profile_ini.h"

namespace tavrik {

namespace {

// The code comes from the user-editable settings file and becomes a folder name.
bool PlainFolderName(std::string_view code) {
    return !code.empty() && code.size() <= 32 && std::all_of(code.begin(), code.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

std::string Fetch(std::string_view section, std::string_view key, std::string_view language) {
    const std::filesystem::path file = TextTableFile(language);
    return file.empty() ? std::string() : ReadProfileString(file, section, key, "");
}

}  // namespace

std::filesystem::path TextTableFile(std::string_view language) {
    if (!PlainFolderName(language)) {
        return {};
    }
    return ResourceRoot() / "res" / "lang" / std::string(language) / "strings.ini";
}

std::string GetPromptText(std::string_view key, std::string_view language) {
    return Fetch("PromptInfo", key, language);
}

std::string GetSetupPromptText(std::string_view key, std::string_view language) {
    return Fetch("SetupPromptInfo", key, language);
}

std::string GetButtonText(std::string_view key, std::string_view language) {
    return Fetch("ButtonStr", key, language);
}

std::string GetTaskBarText(std::string_view key, std::string_view language) {
    return Fetch("TaskBar", key, language);
}

std::string GetCommandLineText(std::string_view key, std::string_view language) {
    return Fetch("CommandLine", key, language);
}

std::string GetSessionResultText(std::string_view key, std::string_view language) {
    return Fetch("SessionResult", key, language);
}

std::string FillNumbers(std::string_view text, std::initializer_list<long> numbers) {
    std::string out;
    auto next = numbers.begin();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 'd' && next != numbers.end()) {
            out += std::to_string(*next++);
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace tavrik

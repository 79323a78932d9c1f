#include "app/texts.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <vector>

#include "app/paths.h"
#include "app/profile_ini.h"
#include "device/session_result.h"
#include "log/log.h"

namespace tavrik {

namespace {

// The code comes from the user-editable settings file and becomes a folder name.
bool PlainFolderName(std::string_view code) {
    return !code.empty() && code.size() <= 32 && std::all_of(code.begin(), code.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

constexpr std::string_view kFallbackLanguage = "en";

// Each missing text is logged once per run, not at every repaint.
void LogMissingOnce(const std::filesystem::path& file, std::string_view language,
                    std::string_view section, std::string_view key) {
    static std::mutex mutex;
    static std::set<std::string> said;
    std::string what = file.string() + "|" + std::string(language) + "|" + std::string(section) +
                       "|" + std::string(key);
    {
        std::lock_guard lock(mutex);
        if (said.size() >= 1000 || !said.insert(what).second) {
            return;
        }
    }
    LogLine("Tavrik", __LINE__,
            "Text table " +
                (file.empty() ? "for language '" + std::string(language) + "'"
                              : "'" + file.string() + "'") +
                " has no [" + std::string(section) + "] " + std::string(key) +
                (language == kFallbackLanguage ? "" : "; the English text is used"));
}

std::string FetchFrom(std::string_view section, std::string_view key, std::string_view language) {
    const std::filesystem::path file = TextTableFile(language);
    std::string text = file.empty() ? std::string() : ReadProfileString(file, section, key, "");
    if (text.empty()) {
        LogMissingOnce(file, language, section, key);
    }
    return text;
}

// A table or text missing in the user's language falls back to the English one, so a
// button never goes blank.
std::string Fetch(std::string_view section, std::string_view key, std::string_view language) {
    std::string text = FetchFrom(section, key, language);
    if (text.empty() && language != kFallbackLanguage) {
        text = FetchFrom(section, key, kFallbackLanguage);
    }
    return text;
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

std::string SessionResultText(int result, std::string_view language) {
    std::string text = GetSessionResultText(SessionResultKey(result), language);
    return text.empty() ? std::string(SessionResultText(result)) : text;
}

namespace {

std::string Fill(std::string_view text, char kind, const std::vector<std::string>& values) {
    std::string out;
    auto next = values.begin();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == kind && next != values.end()) {
            out += *next++;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::string FillNumbers(std::string_view text, std::initializer_list<long> numbers) {
    std::vector<std::string> values;
    for (const long n : numbers) {
        values.push_back(std::to_string(n));
    }
    return Fill(text, 'd', values);
}

std::string FillTexts(std::string_view text, std::initializer_list<std::string_view> values) {
    return Fill(text, 's', std::vector<std::string>(values.begin(), values.end()));
}

}  // namespace tavrik

// The user-interface texts: res/lang/<language>/strings.ini under the resource root, one
// section per user. A table is parsed once and kept while its file stays the same, so an
// edited text still shows at its next use. A text missing (or empty) in the language's
// table, or a language without a table, gives the English text, and the first miss of each
// text is logged naming the table and key; a text missing in English too gives the empty
// text.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tavrik {

// The text file of a language code; empty for a code that is not a plain folder name.
std::filesystem::path TextTableFile(std::string_view language);

// Section PromptInfo: status, prompt and message texts.
std::string GetPromptText(std::string_view key, std::string_view language);
// Section SetupPromptInfo: the settings window and the update prompt.
std::string GetSetupPromptText(std::string_view key, std::string_view language);
// Section ButtonStr: captions.
std::string GetButtonText(std::string_view key, std::string_view language);
// Section TaskBar: the tray tip and menu.
std::string GetTaskBarText(std::string_view key, std::string_view language);
// Section CommandLine: messages of tavrikctl.
std::string GetCommandLineText(std::string_view key, std::string_view language);
// Why an operation on a keyboard was refused ("SessionResult" section).
std::string GetSessionResultText(std::string_view key, std::string_view language);
// A session's result (device/session_result.h) in `language`, or in English where the
// tables have none.
std::string SessionResultText(int result, std::string_view language);

// `text` with its "%d" places filled by `numbers` in order; places beyond the numbers and
// every other '%' stay as they are. The tables can be edited, so a text is never used as a
// printf format.
std::string FillNumbers(std::string_view text, std::initializer_list<long> numbers);
// The same with "%s" places and texts (paths, commands).
std::string FillTexts(std::string_view text, std::initializer_list<std::string_view> values);

}  // namespace tavrik

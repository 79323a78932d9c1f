// The program with windows: its start-up, its run and its end.
#pragma once

#include <string>
#include <vector>

namespace tavrik::ui {

// Exit status for an option the program does not know (EX_USAGE).
inline constexpr int kExitUnknownOption = 64;

// What the program's own options ask for; the autostart argument ("-auto", any case)
// goes to the application shell, anything else is an unknown option.
struct UiArgs {
    bool simulate = false;
    std::string simFile;  // empty: the default file in the data folder
    bool help = false;
    bool version = false;
    std::string error;  // a bad option
    bool unknownOption = false;
    std::vector<std::string> shellArgs;
};

UiArgs ParseUiArgs(int argc, const char* const* argv);

// main(): returns the process's exit code.
int RunTavrik(int argc, char** argv);

}  // namespace tavrik::ui

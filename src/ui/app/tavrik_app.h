// The program with windows: its start-up, its run and its end.
#pragma once

#include <string>
#include <vector>

namespace tavrik::ui {

// What the program's own options ask for; the rest goes to the application shell
// ("-auto").
struct UiArgs {
    bool simulate = false;
    std::string simFile;  // empty: the default file in the data folder
    bool help = false;
    bool version = false;
    std::string error;  // a bad option
    std::vector<std::string> shellArgs;
};

UiArgs ParseUiArgs(int argc, const char* const* argv);

// main(): returns the process's exit code.
int RunTavrik(int argc, char** argv);

}  // namespace tavrik::ui

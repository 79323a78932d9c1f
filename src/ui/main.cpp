// The program with windows.
#include "ui/app/tavrik_app.h"

int main(int argc, char** argv) {
    return tavrik::ui::RunTavrik(argc, argv);
}

// One look for every window of the program: the dark palette of the main window and its
// fonts on the standard dialogs too (message boxes, the number input, the colour and file
// choosers), set once on the application instead of per dialog.
#pragma once

class QApplication;

namespace tavrik::ui {

void ApplyAppStyle(QApplication& app);

}  // namespace tavrik::ui

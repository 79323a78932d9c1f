// The main window's "Print" and "Profiles" buttons: each opens its dialog (made on
// first use) for the keyboard selected at the click, which it then keeps.
#pragma once

#include <functional>

class QWidget;

namespace tavrik {
class KeyboardHub;
}

namespace tavrik::ui {

// `hub` gives the window's hub, or null before it has one.
void AddToolButtons(QWidget* window, std::function<KeyboardHub*()> hub);

// The dialogs on the selected keyboard, modal; also what the buttons do.
void OpenLayoutDialog(QWidget* window, KeyboardHub* hub);
void OpenProfileDialog(QWidget* window, KeyboardHub* hub);

}  // namespace tavrik::ui

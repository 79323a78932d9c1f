#include "ui/common/key_event_code.h"

#include <QKeyEvent>

#include "keys/native_keys.h"
#include "macro/marco_editor.h"

namespace tavrik::ui {
namespace {

// Key codes for a key whose physical code the platform did not give (some test and remote
// platforms): letters and digits share their numbers with Qt's, modifiers stay generic.
uint8_t FallbackKeyCode(int key, bool& extended) {
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z)) {
        return static_cast<uint8_t>(key);
    }
    switch (key) {
        case Qt::Key_Shift:
            return kKeyCodeShift;
        case Qt::Key_Control:
            return kKeyCodeCtrl;
        case Qt::Key_Alt:
            return kKeyCodeAlt;
        case Qt::Key_Enter:
            extended = true;
            return kKeyCodeEnter;
        case Qt::Key_Return:
            return kKeyCodeEnter;
        case Qt::Key_Escape:
            return 0x1B;
        case Qt::Key_Space:
            return 0x20;
        case Qt::Key_Tab:
            return 0x09;
        case Qt::Key_Backspace:
            return 0x08;
        default:
            return 0;
    }
}

}  // namespace

KeyEventCode KeyCodeOfEvent(const QKeyEvent& event) {
    KeyEventCode code;
    code.keyCode = KeyCodeOfXkbKeycode(event.nativeScanCode());
    code.physical = code.keyCode != 0;
    if (!code.physical) {
        code.keyCode = FallbackKeyCode(event.key(), code.extended);
    }
    return code;
}

}  // namespace tavrik::ui

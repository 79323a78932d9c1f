// What a key button of the keyboard view (CMyButton) needs from the window that holds it
// (the main window), and the one way it tells that window what the user chose. The button
// finds the nearest ancestor that implements this; it never touches a session itself.
#pragma once

#include <QPoint>
#include <QString>
#include <array>
#include <cstdint>

#include "device/keyboard_ref.h"

namespace tavrik::ui {

// What the picker is opened with for one slot, read from the selected keyboard's snapshot.
struct KeyPickInputs {
    int layer = 0;                        // the keyboard's current layer
    std::array<uint8_t, 4> layerCodes{};  // the slot's key codes on layers 0..3
    QString context;                      // "KB 1 · key 12 · layer 2"
};

// What the macro editor is opened with.
struct MarcoEditInputs {
    int slot = 0;
    int layer = 0;
    uint8_t keyCode = 0;
    uint32_t colour = 0;
    QPoint position;
    KeyboardRef keyboard;  // the keyboard the key was clicked on
};

class MyButtonHost {
public:
    virtual ~MyButtonHost() = default;
    // Every other selected key button of the shown page loses its selection.
    virtual void DeselectKeys(int slot) = 0;
    // The physical key blinks (colour white) / stops blinking and shows `colour` again.
    virtual void LedHighlightOn(int slot, uint32_t colour) = 0;
    virtual void LedHighlightOff(int slot, uint32_t colour) = 0;
    // The top-left corner of the main window on the screen: where dialogs open.
    virtual QPoint DialogPosition() const = 0;
    virtual KeyPickInputs PickInputs(int slot) const = 0;
    // The keyboard shown now, by identity: the picker's choice is for that one.
    virtual KeyboardRef ShownKeyboard() const { return {}; }
    // True while `ref` is still attached. Otherwise the user is told (in the user's
    // language) that the keyboard went, and the choice made for it is dropped; other
    // keyboards coming and going do not matter.
    virtual bool ConfirmKeyboard(const KeyboardRef& /*ref*/) { return true; }
    // Runs the macro editor for the slot (modal) on the selected keyboard; the key code a
    // written macro gives the key reaches the view through the engine's notification.
    virtual void RunMarcoEditor(const MarcoEditInputs& inputs) = 0;
    // The user picked a key code or a colour for the slot's key, for the keyboard shown
    // (ConfirmKeyboard said it stayed): the window writes it.
    virtual void KeyCodePicked(int slot, int keyCode) = 0;
    virtual void KeyColourPicked(int slot, uint32_t colour) = 0;
};

}  // namespace tavrik::ui

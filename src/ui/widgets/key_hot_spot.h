// A key of the key code picker's keyboard picture: invisible until the mouse is on it,
// then a magenta frame; a key the user found (pressed, or searched by name) is marked
// with a frame of its own. A click emits picked() with the key code it stands for.
#pragma once

#include "ui/widgets/pic_button.h"

namespace tavrik::ui {

class CKeyButton : public CPicButton {
    Q_OBJECT
public:
    CKeyButton(QWidget* parent, int keyCode);
    int KeyCode() const { return keyCode_; }
    void SetMarked(bool on);
    bool Marked() const { return marked_; }

Q_SIGNALS:
    void picked(int keyCode);

protected:
    void paintEvent(QPaintEvent* event) override;
    void OnClick() override;

private:
    int keyCode_;
    bool marked_ = false;
};

}  // namespace tavrik::ui

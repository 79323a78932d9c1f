// A key of the key code picker's keyboard picture: invisible until the mouse is on it,
// then a magenta frame. A click emits picked() with the key code it stands for.
#pragma once

#include "ui/widgets/pic_button.h"

namespace tavrik::ui {

class CKeyButton : public CPicButton {
    Q_OBJECT
public:
    CKeyButton(QWidget* parent, int keyCode);
    int KeyCode() const { return keyCode_; }

Q_SIGNALS:
    void picked(int keyCode);

protected:
    void paintEvent(QPaintEvent* event) override;
    void OnClick() override;

private:
    int keyCode_;
};

}  // namespace tavrik::ui

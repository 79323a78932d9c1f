// The on/off switch: a pill with a knob, purple when on, black when off. A click toggles it
// and sends UM_CHECK_BUTTON (wParam 0, lParam = the switch's number) to its window.
#pragma once

#include "ui/widgets/pic_button.h"

namespace tavrik::ui {

class CMyCheckButton : public CPicButton {
    Q_OBJECT
public:
    CMyCheckButton(QWidget* parent, int number = 0, bool on = false, const QString& caption = {});
    bool State() const { return on_; }
    void SetState(bool on);
    int Number() const { return number_; }
    void SetNumber(int number) { number_ = number; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void OnClick() override;

private:
    int number_;
    bool on_;
};

}  // namespace tavrik::ui

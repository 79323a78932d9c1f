#include "ui/widgets/keyboard_tab.h"

#include <QPainter>

#include "ui/widgets/control_codes.h"
#include "ui/widgets/notify_sink.h"

namespace tavrik::ui {

CKeyBoardButton::CKeyBoardButton(QWidget* parent, const QString& caption, uint32_t code, int value)
    : CPicButton(parent, caption), code_(code), value_(value) {
    SetFocusOnRightClick(true);
    Describe();
}

void CKeyBoardButton::Describe() {
    setAccessibleDescription(disabled_ ? "disabled" : selected_ ? "selected" : QString());
    update();
}

void CKeyBoardButton::SetDisabled(bool disabled) {
    disabled_ = disabled;
    Describe();
}

void CKeyBoardButton::SetSelected(bool selected) {
    selected_ = selected;
    Describe();
}

void CKeyBoardButton::SetTextColor(const QColor& color) {
    textColor_ = color;
    update();
}

void CKeyBoardButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (disabled_) {
        painter.fillRect(rect(), ColorOf(kPanelGrey));
        return;
    }
    DrawTextButton(painter, rect(), text(), ButtonLook{selected_, Hovered(), Focused(), false},
                   textColor_);
}

void CKeyBoardButton::OnClick() {
    if (!disabled_) {
        SendToOwner(this, code_, 0, value_);
    }
}

}  // namespace tavrik::ui

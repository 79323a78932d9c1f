#include "ui/widgets/check_button.h"

#include <QPainter>

#include "ui/widgets/control_codes.h"
#include "ui/widgets/notify_sink.h"

namespace tavrik::ui {

CMyCheckButton::CMyCheckButton(QWidget* parent, int number, bool on, const QString& caption)
    : CPicButton(parent, caption), number_(number), on_(on) {
    // Screen readers see a checkable button with its state.
    setCheckable(true);
    setChecked(on);
    setFocusPolicy(Qt::NoFocus);
}

void CMyCheckButton::SetState(bool on) {
    on_ = on;
    setChecked(on);
    update();
}

void CMyCheckButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect s = rect().adjusted(4, 4, -4, -4);
    const int h = s.height();
    const QColor body = on_ ? ColorOf(kSwitchPurple) : QColor(Qt::black);
    painter.setPen(body);
    painter.setBrush(body);
    painter.drawRect(
        QRect(QPoint(s.left() + h / 2, s.top() + 1), QPoint(s.right() - h / 2, s.bottom() - 2)));
    const QRect leftEnd(s.left(), s.top(), h, h);
    const QRect rightEnd(s.right() - h + 1, s.top(), h, h);
    painter.drawEllipse(leftEnd);
    painter.drawEllipse(rightEnd);
    painter.setPen(Qt::white);
    painter.setBrush(Qt::white);
    painter.drawEllipse((on_ ? rightEnd : leftEnd).adjusted(5, 5, -5, -5));
}

void CMyCheckButton::OnClick() {
    // QAbstractButton toggled its checked state already; ours is the one that counts.
    SetState(!on_);
    SendToOwner(this, UM_CHECK_BUTTON, 0, number_);
}

}  // namespace tavrik::ui

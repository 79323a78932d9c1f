#include "ui/widgets/key_hot_spot.h"

#include <QPainter>

#include "keys/keycodes.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/notify_sink.h"

namespace tavrik::ui {

CKeyButton::CKeyButton(QWidget* parent, int keyCode) : CPicButton(parent), keyCode_(keyCode) {
    const std::string_view name = HidKeyName(HidOfKeyCode(static_cast<unsigned>(keyCode) & 0xFF));
    setAccessibleName(name.empty() ? QString("Key 0x%1").arg(keyCode, 2, 16, QChar('0'))
                                   : QString::fromUtf8(name.data(), qsizetype(name.size())));
    setFocusPolicy(Qt::NoFocus);
}

void CKeyButton::SetMarked(bool on) {
    if (marked_ != on) {
        marked_ = on;
        update();
    }
}

void CKeyButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (marked_) {
        DrawFrame(painter, rect(), ColorOf(kMarkYellow), 3);
    }
    if (Hovered()) {
        DrawFrame(painter, rect(), ColorOf(kMagenta), marked_ ? 2 : 4);
    }
}

void CKeyButton::OnClick() {
    Q_EMIT picked(keyCode_);
}

}  // namespace tavrik::ui

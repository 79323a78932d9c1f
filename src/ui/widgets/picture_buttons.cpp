#include "ui/widgets/picture_buttons.h"

#include <QPainter>

#include "ui/widgets/control_codes.h"
#include "ui/widgets/notify_sink.h"

namespace tavrik::ui {

CPictureButton::CPictureButton(QWidget* parent, const QString& picture, const QString& role)
    : CPicButton(parent), picture_(picture) {
    setAccessibleName(role.isEmpty() ? QString("Picture") : role);
    setFocusPolicy(Qt::NoFocus);
}

void CPictureButton::SetPicture(const QString& picture) {
    picture_ = picture;
    update();
}

void CPictureButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    DrawPicture(painter, rect().adjusted(4, 4, -4, -4), picture_);
}

void CPictureButton::OnClick() {
    OpenLink();
}

CLogoButton::CLogoButton(QWidget* parent) : CPicButton(parent) {
    setAccessibleName("Logo");
    setFocusPolicy(Qt::NoFocus);
}

void CLogoButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawPictureAt(painter, QPoint(0, 0), "res/uipics/logo.png");
}

CBackgroundButton::CBackgroundButton(QWidget* parent) : CPicButton(parent) {
    setAccessibleName("Background");
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CBackgroundButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawPictureAt(painter, QPoint(0, 0), "res/uipics/bg.png");
}

CPromptPictureButton::CPromptPictureButton(QWidget* parent, const std::array<QString, 3>& pictures)
    : CPicButton(parent), pictures_(pictures) {
    setAccessibleName("Prompt picture");
    setFocusPolicy(Qt::NoFocus);
    // Painted whole each time; Qt's backing store already double-buffers it.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool CPromptPictureButton::SetState(int state) {
    if (state < 0 || state > 2) {
        return false;
    }
    state_ = state;
    update();
    return true;
}

void CPromptPictureButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ColorOf(kPanelGrey));
    DrawPictureAt(painter, QPoint(0, 0), pictures_[state_]);
}

}  // namespace tavrik::ui

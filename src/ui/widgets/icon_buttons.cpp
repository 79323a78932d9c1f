#include "ui/widgets/icon_buttons.h"

#include <QMetaObject>
#include <QPainter>

#include "ui/widgets/control_codes.h"
#include "ui/widgets/notify_sink.h"
#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {

CIconButton::CIconButton(QWidget* parent, const QString& picture, const QString& role)
    : CPicButton(parent), picture_(picture) {
    setAccessibleName(role);
    setFocusPolicy(Qt::NoFocus);
    // "Close" -> "tipClose": what the icon does, in the user's language.
    const std::string key = "tip" + role.toStdString();
    setToolTip(ButtonText(key.c_str()));
}

void CIconButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    PaintUnder(painter);
    // A button without a picture draws its icon itself (PaintOver).
    if (!picture_.isEmpty()) {
        DrawPicture(painter, rect().adjusted(4, 4, -4, -4), picture_);
    }
    DrawFrame(painter, rect(), ColorOf(Hovered() ? kMagenta : kPanelGrey), 4);
    PaintOver(painter);
}

CBackButton::CBackButton(QWidget* parent)
    : CIconButton(parent, "res/uipics/back_icon.png", "Back") {}

void CBackButton::OnClick() {
    SendToOwner(this, UM_BACK);
    window()->close();
}

CCloseButton::CCloseButton(QWidget* parent, bool closeDirectly)
    : CIconButton(parent, "res/uipics/close_icon.png", "Close"), closeDirectly_(closeDirectly) {}

void CCloseButton::OnClick() {
    if (closeDirectly_) {
        window()->close();
    } else {
        SendToOwner(this, UM_HIDE_TO_TRAY);
    }
}

CRefreshButton::CRefreshButton(QWidget* parent)
    : CIconButton(parent, "res/uipics/refresh_icon.png", "Refresh") {}

void CRefreshButton::OnClick() {
    SendToOwner(this, UM_REFRESH_SCAN);
}

CSetupButton::CSetupButton(QWidget* parent)
    : CIconButton(parent, "res/uipics/setting_icon.png", "Settings") {}

void CSetupButton::SetBadge(bool on) {
    if (badge_.exchange(on) != on) {
        // Everything but the flag happens on the button's own thread.
        QMetaObject::invokeMethod(
            this,
            [this] {
                setAccessibleDescription(Badge() ? "Update available" : QString());
                update();
            },
            Qt::QueuedConnection);
    }
}

void CSetupButton::OnClick() {
    Q_EMIT openSettings();
}

QRect CSetupButton::BadgeRect() const {
    return QRect(width() - 15, 0, 15, 15);
}

void CSetupButton::PaintUnder(QPainter& painter) {
    if (!Badge()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(ColorOf(kPanelGrey));
        painter.drawEllipse(BadgeRect());
    }
}

void CSetupButton::PaintOver(QPainter& painter) {
    if (Badge()) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(ColorOf(kBadgeRed), 1));
        painter.setBrush(ColorOf(kBadgeRed));
        painter.drawEllipse(BadgeRect().adjusted(0, 0, -1, -1));
    }
}

}  // namespace tavrik::ui

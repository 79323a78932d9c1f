#include "ui/widgets/pic_button.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <algorithm>

#include "ui/widgets/control_codes.h"
#include "ui/widgets/notify_sink.h"

namespace tavrik::ui {

CPicButton::CPicButton(QWidget* parent, const QString& caption) : QAbstractButton(parent) {
    setText(caption);
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_Hover, false);
    connect(this, &QAbstractButton::clicked, this, [this] { OnClick(); });
}

void CPicButton::enterEvent(QEnterEvent* event) {
    SetHovered(true);
    QAbstractButton::enterEvent(event);
}

void CPicButton::leaveEvent(QEvent* event) {
    SetHovered(false);
    QAbstractButton::leaveEvent(event);
}

void CPicButton::SetHovered(bool on) {
    if (hovered_ != on) {
        hovered_ = on;
        update();
    }
}

void CPicButton::focusInEvent(QFocusEvent* event) {
    QAbstractButton::focusInEvent(event);
    update();
}

void CPicButton::focusOutEvent(QFocusEvent* event) {
    QAbstractButton::focusOutEvent(event);
    update();
}

void CPicButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton && focusOnRight_) {
        setFocus(Qt::MouseFocusReason);
        update();
    }
    QAbstractButton::mouseReleaseEvent(event);
}

// The keyboard does not press these controls: Space and Enter belong to the window's key
// handling (a held key must never fire a picker or an upgrade).
void CPicButton::keyPressEvent(QKeyEvent* event) {
    event->ignore();
}

QStringList UiFontFamilies() {
    return {"Microsoft YaHei", "WenQuanYi Micro Hei", "Noto Sans CJK SC", "Sans Serif"};
}

QFont UiFont(int height, int width, int weight) {
    QFont font;
    font.setFamilies(UiFontFamilies());
    // A cell height holds the glyphs and their leading; the em is about 0.8 of it.
    const int pixel = std::max(6, height * 4 / 5);
    font.setPixelSize(pixel);
    // An average character of this family is about half an em wide.
    const int natural = std::max(1, pixel / 2);
    font.setStretch(std::clamp(width * 100 / natural, 50, 200));
    font.setWeight(static_cast<QFont::Weight>(std::clamp(weight / 10 * 10, 100, 900)));
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QFont TextButtonFont(int clientHeight) {
    return UiFont(clientHeight * 8 / 10, 10, 700);
}

QFont LabelFont() {
    return UiFont(22, 9, 400);
}

void DrawTextButton(QPainter& painter, const QRect& rect, const QString& caption, bool highlight,
                    const QColor& textColor) {
    const QColor grey = ColorOf(kPanelGrey);
    painter.fillRect(rect, grey);
    const int l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
    QPen pen(highlight ? ColorOf(kMagenta) : Qt::white, 4);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPolygon(
        QPolygon({QPoint(l + 4, t), QPoint(r - 4, t), QPoint(r, t + 4), QPoint(r, b - 4),
                  QPoint(r - 4, b), QPoint(l + 4, b), QPoint(l, b - 4), QPoint(l, t + 4)}));
    painter.setFont(TextButtonFont(rect.height()));
    painter.setPen(textColor);
    painter.drawText(rect.adjusted(5, 2, -5, -5), Qt::AlignHCenter | Qt::AlignVCenter, caption);
}

ClickSdMsgButton::ClickSdMsgButton(QWidget* parent, const QString& caption, uint32_t code)
    : CPicButton(parent, caption), code_(code) {
    SetFocusOnRightClick(true);
}

void ClickSdMsgButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawTextButton(painter, rect(), text(), Focused() || Hovered());
}

void ClickSdMsgButton::OnClick() {
    SendToOwner(this, code_);
}

}  // namespace tavrik::ui

#include "ui/widgets/pic_button.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <algorithm>

#include "ui/pictures/picture_cache.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/notify_sink.h"
#include "ui/widgets/ui_prompts.h"

namespace tavrik::ui {

CPicButton::CPicButton(QWidget* parent, const QString& caption) : QAbstractButton(parent) {
    setText(caption);
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_Hover, false);
    connect(this, &QAbstractButton::clicked, this, [this] { OnClick(); });
}

void CPicButton::SetLink(const QString& address) {
    link_ = address;
    setCursor(link_.isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
    setAccessibleDescription(link_);
}

void CPicButton::OpenLink() {
    if (!link_.isEmpty()) {
        UiPrompts::OpenLink(link_);
    }
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

namespace {
// Text and outline of the selected plate, and the focus line.
constexpr QRgb kSelectedPlate = 0xF2F2F2;
constexpr QRgb kSelectedCaption = 0x1A1A1E;
constexpr QRgb kFocusLine = 0x66D9FF;
constexpr QRgb kDisabledCaption = 0xA8A8A8;
constexpr QRgb kLink = 0xC2ECFF;
}  // namespace

QColor LinkColor() {
    return QColor(kLink);
}

QColor PlateColor(const ButtonLook& look) {
    return look.selected ? QColor(kSelectedPlate) : ColorOf(kPanelGrey);
}

QColor CaptionColor(const ButtonLook& look, const QColor& textColor) {
    if (look.selected) {
        return QColor(kSelectedCaption);
    }
    return look.disabled ? QColor(kDisabledCaption) : textColor;
}

void DrawTextButton(QPainter& painter, const QRect& rect, const QString& caption,
                    const ButtonLook& look, const QColor& textColor) {
    painter.fillRect(rect, PlateColor(look));
    const int l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
    const QColor outline = look.hovered && !look.disabled ? ColorOf(kMagenta)
                           : look.disabled                ? ColorOf(kDisabledCaption)
                                                          : QColor(Qt::white);
    QPen pen(outline, 4);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPolygon(
        QPolygon({QPoint(l + 4, t), QPoint(r - 4, t), QPoint(r, t + 4), QPoint(r, b - 4),
                  QPoint(r - 4, b), QPoint(l + 4, b), QPoint(l, b - 4), QPoint(l, t + 4)}));
    if (look.focused && !look.disabled) {
        QPen focus(QColor(kFocusLine), 2, Qt::DashLine);
        painter.setPen(focus);
        painter.drawRect(rect.adjusted(5, 5, -6, -6));
    }
    const QRect box = rect.adjusted(5, 2, -5, -5);
    painter.setFont(FittedFont(TextButtonFont(rect.height()), caption, box.width()));
    painter.setPen(CaptionColor(look, textColor));
    painter.drawText(box, Qt::AlignHCenter | Qt::AlignVCenter, caption);
}

// Captions are sized for short words; a longer one (English for a Chinese two-character
// word) is drawn smaller rather than cut off.
QFont FittedFont(QFont font, const QString& text, int width) {
    while (font.pixelSize() > 8 && QFontMetrics(font).horizontalAdvance(text) > width) {
        font.setPixelSize(font.pixelSize() - 1);
    }
    return font;
}

void DrawPicture(QPainter& painter, const QRect& target, const QString& name) {
    const QPixmap pixmap = Pictures::Get(name, painter.device()->devicePixelRatioF());
    if (!pixmap.isNull()) {
        painter.drawPixmap(target, pixmap);
    }
}

void DrawPictureAt(QPainter& painter, const QPoint& at, const QString& name) {
    const QPixmap pixmap = Pictures::Get(name, painter.device()->devicePixelRatioF());
    if (!pixmap.isNull()) {
        painter.drawPixmap(at, pixmap);
    }
}

void DrawFrame(QPainter& painter, const QRect& rect, const QColor& color, int width) {
    QPen pen(color, width);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // A pen is centred on its path: move the path in by half the width.
    const qreal half = width / 2.0;
    painter.drawRect(QRectF(rect).adjusted(half, half, -half, -half));
}

CTextButton::CTextButton(QWidget* parent, const QString& caption) : CPicButton(parent, caption) {
    SetFocusOnRightClick(true);
}

void CTextButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawTextButton(painter, rect(), text(), ButtonLook{false, Hovered(), Focused(), !isEnabled()});
}

ClickSdMsgButton::ClickSdMsgButton(QWidget* parent, const QString& caption, uint32_t code)
    : CTextButton(parent, caption), code_(code) {}

void ClickSdMsgButton::OnClick() {
    SendToOwner(this, code_);
}

}  // namespace tavrik::ui

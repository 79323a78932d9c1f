#include "ui/widgets/result_show_button.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <algorithm>

#include "keys/keycodes.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/notify_sink.h"
#include "ui/widgets/ui_prompts.h"

namespace tavrik::ui {
namespace {

struct TextPlace {
    int height, width, left, top;
};

// Longer names get a smaller font, so the longest still fits the cap; five characters
// and more share the smallest.
TextPlace PlaceFor(int length) {
    static constexpr TextPlace kPlaces[] = {{30, 15, 30, 20}, {30, 15, 37, 26}, {30, 15, 32, 26},
                                            {28, 12, 25, 26}, {24, 10, 25, 30}, {20, 8, 25, 30}};
    return kPlaces[std::clamp(length, 0, 5)];
}

// A key cap seen from above: a wide top edge, sides narrowing a little towards a rounded
// bottom.
QPolygon CapShape(const QRect& r) {
    const int l = r.left() + 2, t = r.top() + 2, rt = r.right() - 2, b = r.bottom() - 2;
    const int mid = t + (b - t) * 2 / 3;
    return QPolygon({QPoint(l + 6, t), QPoint(rt - 6, t), QPoint(rt, t + 6), QPoint(rt, mid),
                     QPoint(rt - 3, b - 4), QPoint(rt - 8, b), QPoint(l + 8, b),
                     QPoint(l + 3, b - 4), QPoint(l, mid), QPoint(l, t + 6)});
}

}  // namespace

CResultShowButton::CResultShowButton(QWidget* parent, const QString& caption)
    : CPicButton(parent, caption), fill_(kPanelGrey) {
    SetFocusOnRightClick(true);
    UpdateAccessibleName();
}

void CResultShowButton::SetKeyValue(int hid) {
    hid_ = hid > 255 || hid < 0 ? 0 : hid;
    UpdateAccessibleName();
    update();
}

void CResultShowButton::SetFillColor(uint32_t colorref) {
    fill_ = colorref & 0xFFFFFF;
    update();
}

QString CResultShowButton::ShownText() const {
    if (hid_ == 0) {
        return text();
    }
    const std::string_view name = HidKeyName(static_cast<uint8_t>(hid_));
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

void CResultShowButton::UpdateAccessibleName() {
    setAccessibleName("Chosen key: " + ShownText());
}

void CResultShowButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ColorOf(kPanelGrey));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 3));
    painter.setBrush(ColorOf(fill_));
    painter.drawPolygon(CapShape(rect()));
    if (Hovered()) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        DrawFrame(painter, rect(), ColorOf(kMagenta), 2);
        painter.setRenderHint(QPainter::Antialiasing);
    }
    const QString shown = ShownText();
    const TextPlace place = PlaceFor(static_cast<int>(shown.size()));
    const QFont font = UiFont(place.height, place.width, 800);
    // Black glyphs traced in white stay readable on any fill colour.
    const QFontMetrics metrics(font);
    QPainterPath path;
    path.addText(place.left, place.top + metrics.ascent(), font, shown);
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(Qt::black);
    painter.drawPath(path);
}

void CResultShowButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton && rect().contains(event->position().toPoint())) {
        setFocus(Qt::MouseFocusReason);
        if (const auto chosen = UiPrompts::ChooseColor(window(), ColorOf(fill_))) {
            SetFillColor(ColorRefOf(*chosen));
        }
        event->accept();
        return;
    }
    CPicButton::mouseReleaseEvent(event);
}

}  // namespace tavrik::ui

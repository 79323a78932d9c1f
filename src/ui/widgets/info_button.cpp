#include "ui/widgets/info_button.h"

#include <QPainter>

#include "ui/widgets/control_codes.h"
#include "ui/widgets/notify_sink.h"

namespace tavrik::ui {

CInfoButton::CInfoButton(QWidget* parent, const QString& text) : CPicButton(parent, text) {
    SetFocusOnRightClick(true);
}

void CInfoButton::SetTextColor(const QColor& color) {
    textColor_ = color;
    update();
}

void CInfoButton::SetAlignment(Qt::Alignment alignment) {
    alignment_ = alignment;
    update();
}

void CInfoButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ColorOf(kPanelGrey));
    QFont font = LabelFont();
    // A link looks like one, not only by its colour.
    font.setUnderline(!Link().isEmpty());
    painter.setFont(font);
    painter.setPen(textColor_);
    painter.drawText(rect(), static_cast<int>(alignment_), text());
}

void CInfoButton::OnClick() {
    OpenLink();
}

}  // namespace tavrik::ui

#include "ui/widgets/selectors.h"

#include "ui/widgets/ui_texts.h"

#include <QMouseEvent>
#include <QPainter>

#include "app/app_globals.h"
#include "app/texts.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/notify_sink.h"

namespace tavrik::ui {
CSelectorButton::CSelectorButton(QWidget* parent, std::vector<int> table, uint32_t code)
    : CPicButton(parent), table_(std::move(table)), code_(code) {
    SetFocusOnRightClick(true);
    value_ = table_.empty() ? 0 : table_.front();
}

void CSelectorButton::SetValue(int value) {
    value_ = value;
    Refresh();
}

bool CSelectorButton::SetPosition(int position) {
    if (position < 0 || position >= static_cast<int>(table_.size())) {
        return false;
    }
    position_ = position;
    return true;
}

int CSelectorButton::PositionOf(int value) const {
    for (size_t i = 0; i < table_.size(); ++i) {
        if (table_[i] == value) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void CSelectorButton::Refresh() {
    setText("<- " + ValueText(value_) + " ->");
    update();
}

void CSelectorButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawTextButton(painter, rect(), text(), ButtonLook{false, Hovered(), Focused(), false});
}

void CSelectorButton::mouseReleaseEvent(QMouseEvent* event) {
    clickX_ = event->position().toPoint().x();
    CPicButton::mouseReleaseEvent(event);
}

void CSelectorButton::OnClick() {
    if (table_.empty()) {
        return;
    }
    const int count = static_cast<int>(table_.size());
    position_ = clickX_ < width() / 2 ? (position_ + 1) % count : (position_ + count - 1) % count;
    value_ = table_[position_];
    Refresh();
    SendToOwner(this, code_, 0, value_);
    setFocus(Qt::MouseFocusReason);
}

CUsbPollButton::CUsbPollButton(QWidget* parent)
    : CSelectorButton(parent, {1, 2, 3, 4, 5, 8, 10}, UM_USB_POLL_CHANGE),
      unit_(ButtonText("usbReportSpeed")) {
    setAccessibleName("USB report rate");
    Refresh();
}

QString CUsbPollButton::ValueText(int value) const {
    return value > 0 ? QString::number(1000 / value) + unit_ : QString();
}

CLanguageSelButton::CLanguageSelButton(QWidget* parent)
    : CSelectorButton(parent, {1, 2}, UM_LANGUAGE_SELECT),
      chinese_(ButtonText("LanguageChs")),
      english_(ButtonText("LanguageEn")) {
    setAccessibleName("Language");
    Refresh();
}

QString CLanguageSelButton::ValueText(int value) const {
    return value == 1 ? chinese_ : value == 2 ? english_ : QString();
}

}  // namespace tavrik::ui

#include "ui/widgets/keyboard_dialog.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "ui/pictures/picture_cache.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/info_button.h"
#include "ui/widgets/picture_buttons.h"
#include "ui/widgets/ui_prompts.h"
#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {

QPoint PlaceDialog(const QPoint& wanted, const QSize& size) {
    if (wanted.x() >= 0 && wanted.y() >= 0) {
        return wanted;
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect work = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size);
    return {work.x() + work.width() - size.width(), work.y() + work.height() - size.height()};
}

KeyboardDialog::KeyboardDialog(KeyboardGuard keyboard, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), keyboard_(std::move(keyboard)) {
    setWindowTitle("Tavrik");
    setModal(true);
    setFixedSize(kKeyboardDialogWidth, kKeyboardDialogHeight);
    setAttribute(Qt::WA_InputMethodEnabled, false);

    closeButton_ = new CCloseButton(this, true);
    closeButton_->setGeometry(Ltrb(974, 30, 1014, 70));
    backButton_ = new CBackButton(this);
    backButton_->setGeometry(Ltrb(50, 30, 90, 70));
    logo_ = new CLogoButton(this);
    logo_->setGeometry(Ltrb(450, 30, 610, 62));
    context_ = new CInfoButton(this);
    context_->setGeometry(Ltrb(100, 38, 440, 64));
    context_->setAccessibleName("Editing");
}

KeyboardDialog::~KeyboardDialog() = default;

int KeyboardDialog::RunModal() {
    Prepare();
    return Exec();
}

void KeyboardDialog::Prepare() {
    prepared_ = true;
    PrepareControls();
    move(PlaceDialog(m_position, size()));
}

void KeyboardDialog::showEvent(QShowEvent* event) {
    if (!prepared_) {
        Prepare();
    }
    QDialog::showEvent(event);
}

void KeyboardDialog::SetContext(int slot, int layer) {
    contextSlot_ = slot;
    contextLayer_ = layer;
    context_->setText(keyboard_.Context(slot, layer));
}

bool KeyboardDialog::KeyboardStays() {
    if (check_) {
        return check_();
    }
    if (!keyboard_.Bound() || !keyboard_.Gone()) {
        return true;
    }
    context_->setText(keyboard_.Context(contextSlot_, contextLayer_));
    UiPrompts::Message(this, keyboard_.GoneText());
    return false;
}

void KeyboardDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ColorOf(kPanelGrey));
    const QPixmap background = Pictures::Get("res/uipics/bg.png", devicePixelRatioF());
    if (!background.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(rect(), background);
    }
}

}  // namespace tavrik::ui

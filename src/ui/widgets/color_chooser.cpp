#include "ui/widgets/color_chooser.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/widgets/notify_sink.h"
#include "ui/widgets/ui_prompts.h"
#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {

CColorChooser::CColorChooser(QWidget* parent, const QColor& initial) : QDialog(parent) {
    setWindowTitle(kPromptTitle);
    // Qt's own palette as a part of this window: the platform's chooser may not exist and
    // could not show the LED's colour.
    palette_ = new QColorDialog(initial, this);
    palette_->setWindowFlags(Qt::Widget);
    palette_->setOptions(QColorDialog::DontUseNativeDialog | QColorDialog::NoButtons);
    swatch_ = new QLabel(this);
    swatch_->setFixedSize(48, 24);
    swatch_->setAccessibleName("LED color");
    text_ = new QLabel(this);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Enter confirms and Escape cancels wherever the focus is. The palette is a dialog of
    // its own: it would swallow Enter, or hide itself on Escape, and its "Pick Screen
    // Color" has the focus when the chooser opens.
    for (QPushButton* own : palette_->findChildren<QPushButton*>()) {
        own->setAutoDefault(false);
    }
    palette_->installEventFilter(this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* led = new QHBoxLayout;
    led->addWidget(text_, 1);
    led->addWidget(swatch_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(palette_);
    layout->addLayout(led);
    layout->addWidget(buttons);
    connect(palette_, &QColorDialog::currentColorChanged, this,
            [this](const QColor& c) { ShowLed(c); });
    palette_->show();
    ShowLed(initial);
}

bool CColorChooser::eventFilter(QObject* watched, QEvent* event) {
    if (watched == palette_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Cancel)) {
            reject();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QColor CColorChooser::Picked() const {
    return palette_->currentColor();
}

QColor CColorChooser::LedColor() const {
    return ColorOf(LedColorRef(ColorRefOf(Picked())));
}

QString CColorChooser::LedText() const {
    return text_->text();
}

void CColorChooser::ShowLed(const QColor& picked) {
    const QColor led = ColorOf(LedColorRef(ColorRefOf(picked)));
    const QString name = led.name(QColor::HexRgb).toUpper();
    text_->setText(PromptText("colorLevels") + " " + name);
    swatch_->setStyleSheet(QString("background: %1; border: 1px solid #ffffff;").arg(led.name()));
}

}  // namespace tavrik::ui

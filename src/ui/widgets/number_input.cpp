#include "ui/widgets/number_input.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {

QString DigitsOnly(const QString& text) {
    QString digits;
    for (const QChar c : text) {
        if (c >= '0' && c <= '9' && digits.size() < 5) {
            digits += c;
        }
    }
    return digits;
}

CMarcoDelayEditDlg::CMarcoDelayEditDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(PromptText("numberTitle"));
    // 163 x 75 dialog units at the usual dialog font.
    setFixedSize(245, 122);
    edit_ = new QLineEdit(this);
    edit_->setGeometry(20, 20, 120, 26);
    edit_->setAccessibleName("Number");
    unit_ = new QLabel("ms", this);
    unit_->setGeometry(148, 20, 80, 26);
    prompt_ = new QLabel("10 - 60000 ms", this);
    prompt_->setGeometry(20, 52, 210, 22);
    auto* ok = new QPushButton(tr("OK"), this);
    ok->setGeometry(62, 82, 80, 28);
    ok->setDefault(true);
    ok->setAccessibleName("OK");
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setGeometry(150, 82, 80, 28);
    cancel->setAccessibleName("Cancel");
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(edit_, &QLineEdit::textEdited, this, [this](const QString& text) {
        const QString kept = DigitsOnly(text);
        if (kept != text) {
            edit_->setText(kept);
        }
    });
    connect(ok, &QPushButton::clicked, this, &CMarcoDelayEditDlg::Confirm);
    edit_->setFocus();
}

void CMarcoDelayEditDlg::SetTexts(const QString& label, const QString& prompt) {
    if (!label.isEmpty()) {
        unit_->setText(label);
    }
    if (!prompt.isEmpty()) {
        prompt_->setText(prompt);
    }
    unit_->setAccessibleName(unit_->text());
    prompt_->setAccessibleName(prompt_->text());
}

void CMarcoDelayEditDlg::SetCurrent(int value) {
    if (value >= 0) {
        edit_->setText(DigitsOnly(QString::number(value)));
        edit_->selectAll();
    }
}

void CMarcoDelayEditDlg::Confirm() {
    const QString text = DigitsOnly(edit_->text());
    value_ = text.isEmpty() ? -1 : text.toInt();
    accept();
}

}  // namespace tavrik::ui

// The small number input of the macro editor: an edit field taking up to five digits
// (the current value, selected), a unit label, a prompt line, OK and Cancel.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

namespace tavrik::ui {

// The text an edit field keeps of `text`: its digits, at most five.
QString DigitsOnly(const QString& text);

class CMarcoDelayEditDlg : public QDialog {
    Q_OBJECT
public:
    explicit CMarcoDelayEditDlg(QWidget* parent = nullptr);
    // Non-empty texts replace the label ("ms") and the prompt ("10 - 60000 ms").
    void SetTexts(const QString& label, const QString& prompt);
    // The value the field starts with; negative leaves it empty.
    void SetCurrent(int value);
    // The number typed when OK was pressed with one to five digits, else -1.
    int Value() const { return value_; }
    QLineEdit* Edit() const { return edit_; }

private:
    void Confirm();

    QLineEdit* edit_;
    QLabel* unit_;
    QLabel* prompt_;
    int value_ = -1;
};

}  // namespace tavrik::ui

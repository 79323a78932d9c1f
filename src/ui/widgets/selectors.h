// Selectors: a text button showing "<- value ->" that steps through a fixed table. A click
// on the left half takes the next entry, on the right half the previous one, both wrapping;
// the window gets the selector's code with the new value in lParam.
#pragma once

#include <vector>

#include "ui/widgets/pic_button.h"

namespace tavrik::ui {

class CSelectorButton : public CPicButton {
    Q_OBJECT
public:
    CSelectorButton(QWidget* parent, std::vector<int> table, uint32_t code);

    int Value() const { return value_; }
    // The value shown; the table position is not moved (SetPosition does that).
    void SetValue(int value);
    int Position() const { return position_; }
    // Out-of-range positions are refused.
    bool SetPosition(int position);
    // The position of `value` in the table, -1 when it has none.
    int PositionOf(int value) const;
    const std::vector<int>& Table() const { return table_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void OnClick() override;
    // The text between the arrows for a value.
    virtual QString ValueText(int value) const = 0;
    // Recomputes the caption; members call it once their texts are loaded.
    void Refresh();

private:
    std::vector<int> table_;
    uint32_t code_;
    int position_ = 0;
    int value_ = 0;
    int clickX_ = 0;
};

// The USB report interval in ms: 1, 2, 3, 4, 5, 8, 10; shown as reports per second.
class CUsbPollButton : public CSelectorButton {
    Q_OBJECT
public:
    explicit CUsbPollButton(QWidget* parent);

protected:
    QString ValueText(int value) const override;

private:
    QString unit_;
};

// The language: 1 Chinese, 2 English. SetValue with SetPosition(PositionOf(value)) keeps
// the two together; other values show nothing between the arrows.
class CLanguageSelButton : public CSelectorButton {
    Q_OBJECT
public:
    explicit CLanguageSelButton(QWidget* parent);

protected:
    QString ValueText(int value) const override;

private:
    QString chinese_;
    QString english_;
};

}  // namespace tavrik::ui

// The keyboard and layer tabs of the main window. A disabled tab is only a grey plate and
// ignores clicks; otherwise it is a text button whose text is in the selected colour when
// selected, and a click sends (code, 0, value) to the window.
#pragma once

#include <cstdint>

#include "ui/widgets/pic_button.h"

namespace tavrik::ui {

class CKeyBoardButton : public CPicButton {
    Q_OBJECT
public:
    CKeyBoardButton(QWidget* parent, const QString& caption, uint32_t code, int value);

    // Disabled at construction. Kept apart from QWidget's enabled state, which a modal
    // dialog also takes away.
    void SetDisabled(bool disabled);
    bool Disabled() const { return disabled_; }
    void SetSelected(bool selected);
    bool Selected() const { return selected_; }
    // The text colour when not selected (white at construction).
    void SetTextColor(const QColor& color);
    void SetCode(uint32_t code) { code_ = code; }
    uint32_t Code() const { return code_; }
    void SetValue(int value) { value_ = value; }
    int Value() const { return value_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void OnClick() override;

private:
    void Describe();
    uint32_t code_;
    int value_;
    bool disabled_ = true;
    bool selected_ = false;
    QColor textColor_ = Qt::white;
};

}  // namespace tavrik::ui

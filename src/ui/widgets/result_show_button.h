// The key-cap display: a key cap in the fill colour showing the name of a HID value (or
// its caption for value 0). A right click picks its fill colour with the colour chooser.
#pragma once

#include <cstdint>

#include "ui/widgets/pic_button.h"

namespace tavrik::ui {

class CResultShowButton : public CPicButton {
    Q_OBJECT
public:
    explicit CResultShowButton(QWidget* parent, const QString& caption = "N/A");
    // A HID value; above 255 is taken as 0.
    void SetKeyValue(int hid);
    int KeyValue() const { return hid_; }
    void SetFillColor(uint32_t colorref);
    uint32_t FillColor() const { return fill_; }
    // What the cap shows: the caption for value 0, else the key name.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void UpdateAccessibleName();
    int hid_ = 0;
    uint32_t fill_;
};

}  // namespace tavrik::ui

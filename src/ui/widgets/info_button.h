// A label: its text in the label font on the panel grey, in the owner's colour and
// alignment. With a link (SetLink) it becomes a link that a click opens in the browser.
#pragma once

#include "ui/widgets/pic_button.h"

namespace tavrik::ui {

class CInfoButton : public CPicButton {
    Q_OBJECT
public:
    explicit CInfoButton(QWidget* parent, const QString& text = {});

    void SetTextColor(const QColor& color);
    QColor TextColor() const { return textColor_; }
    // Default: vertically centred, left-aligned.
    void SetAlignment(Qt::Alignment alignment);
    Qt::Alignment Alignment() const { return alignment_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void OnClick() override;

private:
    QColor textColor_ = Qt::white;
    Qt::Alignment alignment_ = Qt::AlignVCenter | Qt::AlignLeft;
};

}  // namespace tavrik::ui

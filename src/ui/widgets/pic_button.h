// The base of every owner-drawn control: it follows the mouse (hovered), the focus and the
// clicks, draws nothing of the system look, and leaves the painting of its whole area to
// the member. A click (left release over the control) calls OnClick.
#pragma once

#include <QAbstractButton>
#include <QFont>

namespace tavrik::ui {

class CPicButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CPicButton(QWidget* parent, const QString& caption = {});

    bool Hovered() const { return hovered_; }
    bool Focused() const { return hasFocus(); }

protected:
    // The member's click action.
    virtual void OnClick() {}
    // Members whose right-button release takes the focus (text buttons, selectors, labels).
    void SetFocusOnRightClick(bool on) { focusOnRight_ = on; }

    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Hover is tracked here rather than through QAbstractButton::hitButton of the style.
    virtual void SetHovered(bool on);

private:
    bool hovered_ = false;
    bool focusOnRight_ = false;
};

// The UI font family list: the same look wherever one of them is installed.
QStringList UiFontFamilies();
// A font of the given cell height and average character width in pixels.
QFont UiFont(int height, int width, int weight);
// Captions of text buttons: 0.8 of the client height, width 10, bold.
QFont TextButtonFont(int clientHeight);
// Labels and the window: height 22, width 9, normal.
QFont LabelFont();

// The text button's look: a grey plate, an octagon outline (magenta when highlighted,
// else white) and the caption centred in white (or `textColor`).
void DrawTextButton(QPainter& painter, const QRect& rect, const QString& caption, bool highlight,
                    const QColor& textColor = Qt::white);

// A text button that sends its own code (wParam 0, lParam 0) to its window on a click.
class ClickSdMsgButton : public CPicButton {
    Q_OBJECT
public:
    ClickSdMsgButton(QWidget* parent, const QString& caption, uint32_t code = 0);
    void SetCode(uint32_t code) { code_ = code; }
    uint32_t Code() const { return code_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void OnClick() override;

private:
    uint32_t code_ = 0;
};

}  // namespace tavrik::ui

// The base of every owner-drawn control: it follows the mouse (hovered), the focus and the
// clicks, draws nothing of the system look, and leaves the painting of its whole area to
// the member. A click (left release over the control) calls OnClick.
#pragma once

#include <QAbstractButton>
#include <QFont>
#include <cstdint>

namespace tavrik::ui {

class CPicButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CPicButton(QWidget* parent, const QString& caption = {});

    bool Hovered() const { return hovered_; }
    bool Focused() const { return hasFocus(); }
    // A web address the member opens on a click (labels, pictures); empty for none. Only
    // http and https addresses are ever opened.
    void SetLink(const QString& address);
    QString Link() const { return link_; }

protected:
    // The member's click action.
    virtual void OnClick() {}
    // Members whose right-button release takes the focus (text buttons, selectors, labels).
    void SetFocusOnRightClick(bool on) { focusOnRight_ = on; }
    // Opens the link, if any.
    void OpenLink();

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
    QString link_;
};

// The UI font family list: the same look wherever one of them is installed.
QStringList UiFontFamilies();
// A font of the given cell height and average character width in pixels.
QFont UiFont(int height, int width, int weight);
// Captions of text buttons: 0.8 of the client height, width 10, bold.
QFont TextButtonFont(int clientHeight);
// Labels and the window: height 22, width 9, normal.
QFont LabelFont();

// `font` made smaller until `text` fits `width` pixels (not below 8 pixels).
QFont FittedFont(QFont font, const QString& text, int width);

// The states a text button shows, each with a look of its own: selected is a filled light
// plate with dark text (the strongest contrast on the screen), hovered a magenta outline,
// focused a cyan line inside the outline, disabled dimmed text.
struct ButtonLook {
    bool selected = false;
    bool hovered = false;
    bool focused = false;
    bool disabled = false;
};
// The plate and caption colours of a look (the contrast test reads them too).
QColor PlateColor(const ButtonLook& look);
QColor CaptionColor(const ButtonLook& look, const QColor& textColor = Qt::white);
// The colour of links: a light blue that reads at 4.5:1 or more on the panel grey and on
// the dialogs' dark ground.
QColor LinkColor();

// The text button's look: a plate, an octagon outline and the caption centred in
// `textColor` (white) or the look's own colour.
void DrawTextButton(QPainter& painter, const QRect& rect, const QString& caption,
                    const ButtonLook& look, const QColor& textColor = Qt::white);
// A picture by name (see Pictures) stretched over `target`; a missing one draws nothing.
void DrawPicture(QPainter& painter, const QRect& target, const QString& name);
// The same at its natural (logical) size with its top-left corner at `at`.
void DrawPictureAt(QPainter& painter, const QPoint& at, const QString& name);
// A rectangle outline of pen width `width` lying inside `rect`.
void DrawFrame(QPainter& painter, const QRect& rect, const QColor& color, int width);

// The plain text button: drawn by DrawTextButton with its hover, focus and enabled state.
class CTextButton : public CPicButton {
    Q_OBJECT
public:
    explicit CTextButton(QWidget* parent, const QString& caption = {});

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A text button that sends its own code (wParam 0, lParam 0) to its window on a click.
class ClickSdMsgButton : public CTextButton {
    Q_OBJECT
public:
    ClickSdMsgButton(QWidget* parent, const QString& caption, uint32_t code = 0);
    void SetCode(uint32_t code) { code_ = code; }
    uint32_t Code() const { return code_; }

protected:
    void OnClick() override;

private:
    uint32_t code_ = 0;
};

}  // namespace tavrik::ui

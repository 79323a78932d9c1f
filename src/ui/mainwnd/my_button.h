// One key slot of the keyboard view: the picture of its assignment over the slot's LED
// colour. Resting the mouse on it makes the physical key blink; a click opens the key code
// picker and hands the result to the window. The window that holds it implements
// MyButtonHost, the button's only way to it.
#pragma once

#include <QTimer>
#include <cstdint>

#include "ui/widgets/pic_button.h"

namespace tavrik::ui {

class MyButtonHost;

class CMyButton : public CPicButton {
    Q_OBJECT
public:
    // How long the mouse rests on a key before it is lit.
    static constexpr int kHoverDelayMs = 150;

    CMyButton(QWidget* parent, int slot);

    int Slot() const { return slot_; }
    void SetSlot(int slot);
    int Layer() const { return layer_; }
    void SetLayer(int layer) { layer_ = layer; }
    // The key code on the current layer; above 255 reads as 0.
    int Vk() const { return m_vk; }
    void SetVk(int vk);
    // The module has no key on layer 0 yet ("?"); otherwise a VK_WAIT_SET on another layer
    // means only that layer has no code, and looks different ("–").
    void SetModuleUnassigned(bool on);
    bool ModuleUnassigned() const { return moduleUnassigned_; }
    bool NoCodeOnLayer() const;
    // The LED colour 0x00BBGGRR (panel grey until set).
    uint32_t Color() const { return colour_; }
    void SetColor(uint32_t colorref);

    // Selected: it has the focus, or its key was pressed on the keyboard. Kept apart from
    // the focus, which a window that is not active cannot give, so a key pressed while
    // another program is in front still shows. Losing the focus ends it.
    void SetSelected(bool on);
    bool Selected() const { return selected_ || hasFocus(); }
    bool LedHighlightRequested() const { return ledRequested_; }
    // The code whose pictures are loaded (0 before the first).
    int PictureKey() const { return pictureKey_; }
    QString NormalPicture() const { return normalPicture_; }
    QString FocusPicture() const { return focusPicture_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void OnClick() override;
    void SetHovered(bool on) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    MyButtonHost* Host() const;
    void LoadPictures();
    void UpdateAccessibleName();
    void HoverSettled();

    int slot_;
    int layer_ = 0;
    int m_vk = 0;
    uint32_t colour_;
    bool ledRequested_ = false;
    bool selected_ = false;
    bool moduleUnassigned_ = true;
    int pictureKey_ = 0;
    QString normalPicture_;
    QString focusPicture_;
    QTimer hoverTimer_;
};

}  // namespace tavrik::ui

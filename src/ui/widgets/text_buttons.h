// Text buttons with an action of their own: start an upgrade, pick a colour, ask for the
// macro editor. They look like every text button (DrawTextButton).
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "ui/widgets/pic_button.h"

namespace tavrik::ui {

// One action row of the settings window's version table: a click sends UM_START_UPGRADE
// (wParam 0, lParam = the command number the owner set) and takes the focus.
class CStartUpgradeButton : public CTextButton {
    Q_OBJECT
public:
    explicit CStartUpgradeButton(QWidget* parent, const QString& caption = {}, int value = 0);
    void SetValue(int value) { value_ = value; }
    int Value() const { return value_; }

protected:
    void OnClick() override;

private:
    int value_ = 0;
};

// The colour button: a click opens the colour chooser at the button's colour; a confirmed
// colour is kept and sent as UM_CHANGE_ONE_KEY_LIGHT_COLOR (wParam kAllKeys, lParam the
// colour 0x00BBGGRR). Cancelling changes nothing. A window that must know the keyboard
// the chooser was opened for hands the whole click to its own handler (SetClickHandler).
class CChAllLightColorButton : public CTextButton {
    Q_OBJECT
public:
    explicit CChAllLightColorButton(QWidget* parent, const QString& caption = {});
    void SetColor(uint32_t colorref) { color_ = colorref & 0xFFFFFF; }
    uint32_t Color() const { return color_; }
    void SetClickHandler(std::function<void()> handler) { handler_ = std::move(handler); }

protected:
    void OnClick() override;

private:
    uint32_t color_;
    std::function<void()> handler_;
};

// The macro button of the key picker. A key holds one macro: when a layer other than the
// edited one already plays a macro, the click shows the refusal text and nothing else.
// Otherwise it sends UM_MARCO_SET to its window and closes that window.
class CMarcoSetButton : public CTextButton {
    Q_OBJECT
public:
    explicit CMarcoSetButton(QWidget* parent, const QString& caption = {});
    // The edited layer and the key's codes on layers 0..3.
    void SetLayerCodes(int layer, const std::array<int, 4>& codes);
    void SetRefusalText(const QString& text) { refusal_ = text; }
    // True when a macro may be set on the edited layer.
    bool MarcoAllowed() const;

protected:
    void OnClick() override;

private:
    int layer_ = 0;
    std::array<int, 4> codes_{};
    QString refusal_;
};

}  // namespace tavrik::ui

// Controls that show a picture: a linked picture, the logo, the window background and the
// three-state prompt picture of the keyboard view. A missing picture leaves the control
// without it (the grey fill of the prompt picture still draws).
#pragma once

#include <array>

#include "ui/widgets/pic_button.h"

namespace tavrik::ui {

// A picture stretched inside a 4-pixel margin; a click opens its link (SetLink), if any.
class CPictureButton : public CPicButton {
    Q_OBJECT
public:
    CPictureButton(QWidget* parent, const QString& picture, const QString& role = {});
    void SetPicture(const QString& picture);
    QString Picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void OnClick() override;

private:
    QString picture_;
};

// The logo at its natural size at the top-left corner; clicks do nothing.
class CLogoButton : public CPicButton {
    Q_OBJECT
public:
    explicit CLogoButton(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The background picture at its natural size; it takes no input at all.
class CBackgroundButton : public CPicButton {
    Q_OBJECT
public:
    explicit CBackgroundButton(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// One of three pictures over a grey fill, chosen by its state 0..2.
class CPromptPictureButton : public CPicButton {
    Q_OBJECT
public:
    CPromptPictureButton(QWidget* parent, const std::array<QString, 3>& pictures);
    // A state outside 0..2 is refused and changes nothing.
    bool SetState(int state);
    int State() const { return state_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<QString, 3> pictures_;
    int state_ = 0;
};

}  // namespace tavrik::ui

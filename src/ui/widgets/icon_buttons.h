// The square icon buttons of the window corners: back, close, refresh and settings. Each
// draws its icon inside a 4-pixel frame that turns magenta while the mouse is on it.
#pragma once

#include <atomic>

#include "ui/widgets/pic_button.h"

namespace tavrik::ui {

class CIconButton : public CPicButton {
    Q_OBJECT
public:
    // `role` is the accessible name ("Close", "Refresh"...).
    CIconButton(QWidget* parent, const QString& picture, const QString& role);
    QString Picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // Drawn before the icon (under it) and after the frame (over it).
    virtual void PaintUnder(QPainter&) {}
    virtual void PaintOver(QPainter&) {}

private:
    QString picture_;
};

// Sends UM_BACK, then closes its window.
class CBackButton : public CIconButton {
    Q_OBJECT
public:
    explicit CBackButton(QWidget* parent);

protected:
    void OnClick() override;
};

// Closes its window when the owner asked for that (dialogs); otherwise sends
// UM_HIDE_TO_TRAY and leaves the decision to the window (the main window).
class CCloseButton : public CIconButton {
    Q_OBJECT
public:
    explicit CCloseButton(QWidget* parent, bool closeDirectly = false);
    void SetCloseDirectly(bool on) { closeDirectly_ = on; }
    bool CloseDirectly() const { return closeDirectly_; }

protected:
    void OnClick() override;

private:
    bool closeDirectly_;
};

// Sends UM_REFRESH_SCAN.
class CRefreshButton : public CIconButton {
    Q_OBJECT
public:
    explicit CRefreshButton(QWidget* parent);

protected:
    void OnClick() override;
};

// The settings (gear) button. A click emits openSettings(); the owner opens the settings
// window. It carries the update badge, which the update threads may set at any time.
class CSetupButton : public CIconButton {
    Q_OBJECT
public:
    explicit CSetupButton(QWidget* parent);
    // Safe from any thread: the flag is atomic and the redraw is queued to the button's
    // thread. The button must outlive the caller's use of it.
    void SetBadge(bool on);
    bool Badge() const { return badge_.load(std::memory_order_relaxed); }

Q_SIGNALS:
    void openSettings();

protected:
    void OnClick() override;
    void PaintUnder(QPainter& painter) override;
    void PaintOver(QPainter& painter) override;

private:
    QRect BadgeRect() const;
    std::atomic<bool> badge_{false};
};

}  // namespace tavrik::ui

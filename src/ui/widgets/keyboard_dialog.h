// The shell the key dialogs of the window share (the key code picker, the macro editor): a
// frameless modal window of the main window's size over the panel background, with the
// back and close buttons, the logo and a context line ("KB 1 · key 12 · layer 2"); where
// it opens and its modal run; and the keyboard it was opened for, so that nothing chosen
// in it lands on another keyboard. Back, the close button and Escape all reject it.
#pragma once

#include <QDialog>
#include <QPoint>
#include <functional>

#include "ui/common/keyboard_guard.h"
#include "ui/widgets/notify_sink.h"

namespace tavrik::ui {

class CBackButton;
class CCloseButton;
class CInfoButton;
class CLogoButton;

inline constexpr int kKeyboardDialogWidth = 1060;
inline constexpr int kKeyboardDialogHeight = 560;

// Where a dialog of `size` opens: at `wanted`, or at the bottom-right of the primary
// screen's work area when a coordinate of `wanted` is negative.
QPoint PlaceDialog(const QPoint& wanted, const QSize& size);

class KeyboardDialog : public QDialog, public NotifySink {
    Q_OBJECT
public:
    ~KeyboardDialog() override;

    // Where it opens; a negative coordinate places it at the bottom-right of the work area.
    QPoint m_position{-1, -1};

    // Builds the controls for the inputs, places the dialog and runs it modally (tests may
    // replace the run: ModalDialog::SetExecHook).
    int RunModal();
    // Builds the controls and places the dialog (RunModal and the first show call it).
    void Prepare();

    // The keyboard the dialog was opened for (empty for a dialog not tied to one).
    const KeyboardGuard& Keyboard() const { return keyboard_; }
    // Asked before anything chosen in the dialog is written: true while the keyboard it was
    // opened for is attached. Once it went, the context line and a message say so and the
    // answer is false. The check is the guard's, unless SetKeyboardCheck gave another (the
    // picker's choice is written by its window, which knows the keyboard); with neither,
    // true.
    bool KeyboardStays();
    using KeyboardCheck = std::function<bool()>;
    void SetKeyboardCheck(KeyboardCheck check) { check_ = std::move(check); }

    CCloseButton* CloseButton() const { return closeButton_; }
    CBackButton* BackButton() const { return backButton_; }
    // What the dialog edits: "KB 1 · key 12 · layer 2".
    CInfoButton* ContextLine() const { return context_; }

protected:
    KeyboardDialog(KeyboardGuard keyboard, QWidget* parent);

    // The dialog's own controls for its inputs, before it is placed.
    virtual void PrepareControls() {}
    // The modal run itself; ModalDialog lets a test replace it.
    virtual int Exec() { return exec(); }
    // The context line from the keyboard for `slot` and `layer`; it says "disconnected"
    // once the keyboard went.
    void SetContext(int slot, int layer);

    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    KeyboardGuard keyboard_;
    KeyboardCheck check_;
    int contextSlot_ = -1;
    int contextLayer_ = -1;
    bool prepared_ = false;
    CCloseButton* closeButton_;
    CBackButton* backButton_;
    CLogoButton* logo_;
    CInfoButton* context_;
};

// A keyboard dialog whose modal run a test may replace: the hook gets the prepared dialog.
template <class Dlg>
class ModalDialog : public KeyboardDialog {
public:
    using ExecHook = std::function<int(Dlg& dialog)>;
    // Empty: exec() again.
    static void SetExecHook(ExecHook hook) { Hook() = std::move(hook); }

protected:
    using KeyboardDialog::KeyboardDialog;
    int Exec() override { return Hook() ? Hook()(static_cast<Dlg&>(*this)) : exec(); }

private:
    static ExecHook& Hook() {
        static ExecHook hook;
        return hook;
    }
};

}  // namespace tavrik::ui

// The undo and redo buttons: a curved arrow back or forward, greyed while there is
// nothing to take back or again. A click sends UM_UNDO or UM_REDO to the owner.
#pragma once

#include <QRect>
#include <functional>

#include "ui/widgets/icon_buttons.h"

namespace tavrik::ui {

class CUndoButton : public CIconButton {
    Q_OBJECT
public:
    CUndoButton(QWidget* parent, bool redo);
    bool Redo() const { return redo_; }

protected:
    void OnClick() override;
    void PaintOver(QPainter& painter) override;

private:
    bool redo_;
};

struct UndoControls {
    CUndoButton* undo = nullptr;
    CUndoButton* redo = nullptr;
};
// The two buttons of `window` at `undoAt` and `redoAt`, and its Ctrl+Z and Ctrl+Shift+Z,
// which call `act(redo)` even while the buttons are grey (so the user is told why).
UndoControls MakeUndoControls(QWidget* window, const QRect& undoAt, const QRect& redoAt,
                              const std::function<void(bool redo)>& act);

}  // namespace tavrik::ui

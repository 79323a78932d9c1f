// Undo and redo of the macro editor's step list; the rules are MarcoStepHistory's.
#include <QListWidget>

#include "ui/macroedit/marco_dlg.h"
#include "ui/widgets/pic_button.h"
#include "ui/widgets/ui_texts.h"
#include "ui/widgets/undo_buttons.h"

namespace tavrik::ui {

void CMarcoDlg::CreateUndoControls() {
    // While recording, the dialog takes every key as a step: no shortcut fires then.
    const UndoControls made = MakeUndoControls(this, Ltrb(870, 30, 910, 70), Ltrb(922, 30, 962, 70),
                                               [this](bool redo) { UndoSteps(redo); });
    undoButton_ = made.undo;
    redoButton_ = made.redo;
}

void CMarcoDlg::UndoSteps(bool redo) {
    if (redo ? history_.Redo(editor_) : history_.Undo(editor_)) {
        ShowLines();
    }
    Refresh();
}

void CMarcoDlg::RefreshUndo() {
    history_.Note(editor_);
    if (undoButton_ != nullptr) {
        undoButton_->setEnabled(history_.CanUndo() || editor_.Recording());
        redoButton_->setEnabled(history_.CanRedo());
        undoButton_->update();
        redoButton_->update();
    }
}

}  // namespace tavrik::ui

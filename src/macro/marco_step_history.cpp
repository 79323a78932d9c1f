#include "macro/marco_step_history.h"

namespace tavrik {

void MarcoStepHistory::Note(const MarcoEditor& editor) {
    if (editor.Recording()) {
        return;
    }
    MarcoEditor::Content now = editor.Contents();
    if (seen_ && !(*seen_ == now)) {
        if (back_.size() >= kLimit) {
            back_.erase(back_.begin());
        }
        back_.push_back(std::move(*seen_));
        forward_.clear();
    }
    seen_ = std::move(now);
}

bool MarcoStepHistory::Undo(MarcoEditor& editor) {
    return Step(editor, back_, forward_);
}

bool MarcoStepHistory::Redo(MarcoEditor& editor) {
    return Step(editor, forward_, back_);
}

bool MarcoStepHistory::Step(MarcoEditor& editor, std::vector<MarcoEditor::Content>& from,
                            std::vector<MarcoEditor::Content>& to) {
    // A recording in progress is a step of its own.
    editor.StopRecording();
    Note(editor);
    if (from.empty()) {
        return false;
    }
    to.push_back(editor.Contents());
    editor.Restore(from.back());
    from.pop_back();
    seen_ = editor.Contents();
    return true;
}

}  // namespace tavrik

// Undo and redo of the macro editor's step list. The editor is looked at after each
// action (Note): contents that differ from the last seen make those a step to go back to,
// so an action that changed nothing adds none, and a whole recording, seen only once it
// stopped, is one step.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "macro/marco_editor.h"

namespace tavrik {

class MarcoStepHistory {
public:
    // More than anyone undoes by hand; the oldest go first.
    static constexpr size_t kLimit = 500;

    // The editor after an action (ignored while it records).
    void Note(const MarcoEditor& editor);
    bool CanUndo() const { return !back_.empty(); }
    bool CanRedo() const { return !forward_.empty(); }
    // The editor gets the contents before the last step / after the last undone one;
    // false when there is none.
    bool Undo(MarcoEditor& editor);
    bool Redo(MarcoEditor& editor);

private:
    // Moves the editor from its contents to `from`'s last, which go on `to`.
    bool Step(MarcoEditor& editor, std::vector<MarcoEditor::Content>& from,
              std::vector<MarcoEditor::Content>& to);

    std::vector<MarcoEditor::Content> back_;
    std::vector<MarcoEditor::Content> forward_;
    std::optional<MarcoEditor::Content> seen_;
};

}  // namespace tavrik

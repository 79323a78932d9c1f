#include "ui/common/keyboard_guard.h"

#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {

QString KeyboardGuard::GoneText() const {
    return QString::fromStdString(
        FillNumbers(GetPromptText("keyboardGone", g_strLanguage), {Number()}));
}

QString KeyboardGuard::Context(int slot, int layer) const {
    QString text = ButtonText("KeyBoardCommonName") + QString(" %1").arg(Number());
    if (slot >= 0) {
        text +=
            QString::fromUtf8(" · ") + QString::fromStdString(FillNumbers(
                                           GetPromptText("contextKey", g_strLanguage), {slot + 1}));
    }
    if (layer >= 0) {
        text +=
            QString::fromUtf8(" · ") + QString::fromStdString(FillNumbers(
                                           GetPromptText("contextLayer", g_strLanguage), {layer}));
    }
    if (Gone()) {
        text += QString::fromUtf8(" · ") + PromptText("contextGone");
    }
    return text;
}

}  // namespace tavrik::ui

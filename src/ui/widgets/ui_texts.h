// What every window needs to lay out and label its controls: rectangles written as the
// layouts give them, and texts of the current language.
#pragma once

#include <QRect>
#include <QString>

#include "app/app_globals.h"
#include "app/texts.h"

namespace tavrik::ui {

// A rectangle given as left, top, right, bottom (right and bottom outside it).
inline QRect Ltrb(int l, int t, int r, int b) {
    return QRect(QPoint(l, t), QPoint(r - 1, b - 1));
}

inline QString ButtonText(const char* key) {
    return QString::fromStdString(GetButtonText(key, g_strLanguage));
}
inline QString PromptText(const char* key) {
    return QString::fromStdString(GetPromptText(key, g_strLanguage));
}
inline QString TaskBarText(const char* key) {
    return QString::fromStdString(GetTaskBarText(key, g_strLanguage));
}

}  // namespace tavrik::ui

// Pictures under res/uipics, loaded on first use and kept: keyed by name and device pixel
// ratio, so a high-DPI screen draws the twice-size file ("name@2x.png") when there is
// one. A missing or unreadable picture is a null pixmap (drawing skips it) and is logged
// once; it is never an error.
#pragma once

#include <QPixmap>
#include <QString>

namespace tavrik::ui {

class Pictures {
public:
    // `name` relative to the resource root, e.g. "res/uipics/keys/key-s4.png" (backslashes
    // are taken as slashes). The pixmap's device pixel ratio is set, so it draws at its
    // logical size.
    static QPixmap Get(const QString& name, qreal dpr = 1.0);
    // True when the 1x file exists (the key button keeps its old pictures otherwise).
    static bool Exists(const QString& name);
    // Forgets every loaded picture (tests; a language change).
    static void Clear();
};

}  // namespace tavrik::ui

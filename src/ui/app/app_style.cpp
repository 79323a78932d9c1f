#include "ui/app/app_style.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>
#include <QToolTip>

#include "ui/widgets/pic_button.h"

namespace tavrik::ui {

void ApplyAppStyle(QApplication& app) {
    // Fusion draws the same on every desktop and scales cleanly at 2x.
    if (QStyle* style = QStyleFactory::create("Fusion")) {
        QApplication::setStyle(style);
    }
    QPalette p;
    const QColor window(0x2A, 0x2A, 0x2E);
    const QColor base(0x1E, 0x1E, 0x22);
    const QColor button(0x64, 0x64, 0x64);  // the panel grey of the main window
    const QColor text(Qt::white);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(0xFF, 0x66, 0x66));
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0xB0, 0xB0, 0xB0));
    // White on this blue is above 4.5:1.
    p.setColor(QPalette::Highlight, QColor(0x2F, 0x64, 0xB5));
    p.setColor(QPalette::HighlightedText, text);
    p.setColor(QPalette::Link, LinkColor());
    p.setColor(QPalette::LinkVisited, LinkColor());
    const QColor dim(0xA8, 0xA8, 0xA8);
    p.setColor(QPalette::Disabled, QPalette::Text, dim);
    p.setColor(QPalette::Disabled, QPalette::WindowText, dim);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, dim);
    QApplication::setPalette(p);
    app.setFont(LabelFont());
    QToolTip::setPalette(p);
}

}  // namespace tavrik::ui

// Drawing pieces every picture shares: the colours, the font, fitted text, small glyphs
// and the key cap.
#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace pics {

inline const QColor kPanel(0x64, 0x64, 0x64);
inline const QColor kMagenta(0xFF, 0x00, 0xFF);
inline const QColor kLegend(0xF4, 0xF4, 0xF6);
inline const QColor kLegendDim(0x9A, 0x9A, 0xA2);
inline const QColor kCapTop(0x3E, 0x3E, 0x46);
inline const QColor kCapBottom(0x1C, 0x1C, 0x20);
inline const QColor kWarning(0xF2, 0xB0, 0x30);

QFont UiFont(qreal pixelSize, int weight = QFont::Bold);

// Text centred in `box` at the largest size from maxPx down to minPx that fits, broken at
// spaces (or at a slash) onto two lines when one line is too wide.
void DrawFitted(QPainter& p, const QRectF& box, const QString& text, qreal maxPx, qreal minPx,
                const QColor& color, int weight = QFont::Bold);

// Lines of text centred vertically in `box`, aligned by `horizontal`.
void DrawTextLines(QPainter& p, const QRectF& box, const QStringList& lines, qreal px,
                   const QColor& color, bool bold, Qt::Alignment horizontal);

enum class Glyph {
    None,
    ArrowLeft,
    ArrowUp,
    ArrowRight,
    ArrowDown,
    MouseLeft,
    MouseRight,
    MouseMiddle,
    Warning,
};

// White line drawings that stand in for a legend; scaled into `box`.
void DrawGlyph(QPainter& p, const QRectF& box, Glyph glyph);

struct Legend {
    QString main;
    QString upper;  // shifted character, drawn above `main`
    Glyph glyph = Glyph::None;
    bool dim = false;  // a value without a function of its own
};

// The legend of a HID value; `shortNames` for the small keys of the picker's keyboard,
// `chinese` for its Chinese variant.
Legend LegendOfHid(uint8_t hid, bool shortNames, bool chinese);

// Draws the legend into a cap's top face; sizes relative to the face height.
void DrawLegend(QPainter& p, const QRectF& face, const Legend& legend);

// An opaque dark key cap inside `cap`; returns its top face, where the legend goes.
// `focus` rings it in magenta.
QRectF DrawCap(QPainter& p, const QRectF& cap, qreal radius, bool focus);

}  // namespace pics

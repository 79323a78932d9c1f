#include "art.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainterPath>
#include <QStringList>
#include <algorithm>
#include <array>
#include <string>

#include "keys/keycodes.h"

namespace pics {

QFont UiFont(qreal pixelSize, int weight) {
    QFont font;
    font.setFamilies({"Microsoft YaHei", "WenQuanYi Micro Hei", "Noto Sans CJK SC"});
    font.setPixelSize(std::max(1, qRound(pixelSize)));
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setHintingPreference(QFont::PreferNoHinting);  // same shapes at 1x and 2x
    return font;
}

namespace {

// The two-line form of `text` whose wider line is narrowest; empty when it cannot break.
QStringList BestSplit(const QString& text, const QFontMetricsF& fm) {
    QStringList best;
    qreal bestWidth = 0;
    for (int i = 1; i < text.size(); ++i) {
        QString first;
        QString second;
        if (text[i] == ' ') {
            first = text.left(i);
            second = text.mid(i + 1);
        } else if (text[i - 1] == '/') {
            first = text.left(i);
            second = text.mid(i);
        } else {
            continue;
        }
        const qreal w = std::max(fm.horizontalAdvance(first), fm.horizontalAdvance(second));
        if (best.isEmpty() || w < bestWidth) {
            best = {first, second};
            bestWidth = w;
        }
    }
    return best;
}

struct Fit {
    qreal px = 0;
    QStringList lines;
};

// Largest size in [minPx, maxPx] at which `text` fits on one line, or on two.
Fit FitText(const QRectF& box, const QString& text, qreal maxPx, qreal minPx, int weight,
            bool twoLines) {
    for (qreal px = maxPx; px >= minPx; px -= 0.5) {
        const QFontMetricsF fm(UiFont(px, weight));
        QStringList lines{text};
        if (twoLines) {
            lines = BestSplit(text, fm);
            if (lines.isEmpty()) {
                return {};
            }
        }
        qreal width = 0;
        for (const QString& line : lines) {
            width = std::max(width, fm.horizontalAdvance(line));
        }
        // A little slack: hinting and rounding differ between the sizes drawn.
        if (width * 1.04 <= box.width() && fm.height() * lines.size() <= box.height() * 1.05) {
            return {px, lines};
        }
    }
    return {};
}

}  // namespace

void DrawFitted(QPainter& p, const QRectF& box, const QString& text, qreal maxPx, qreal minPx,
                const QColor& color, int weight) {
    const Fit one = FitText(box, text, maxPx, minPx, weight, false);
    const Fit two = FitText(box, text, maxPx, minPx, weight, true);
    // One line reads better; two lines only when they allow a clearly larger size.
    Fit fit = one;
    if (two.px > 0 && (one.px == 0 || two.px > one.px * 1.25)) {
        fit = two;
    }
    if (fit.px == 0) {
        fit = {minPx, {text}};
    }
    DrawTextLines(p, box, fit.lines, fit.px, color, weight >= QFont::DemiBold, Qt::AlignHCenter);
}

void DrawTextLines(QPainter& p, const QRectF& box, const QStringList& lines, qreal px,
                   const QColor& color, bool bold, Qt::Alignment horizontal) {
    // Outlines rather than glyphs: the font has no bold face, and a thickened outline looks
    // the same at every scale, where the rasteriser's own emboldening does not.
    const QFont font = UiFont(px, QFont::Normal);
    const QFontMetricsF fm(font);
    QPainterPath path;
    const qreal top = box.center().y() - fm.height() * lines.size() / 2;
    for (int i = 0; i < lines.size(); ++i) {
        const qreal width = fm.horizontalAdvance(lines[i]);
        qreal x = box.left();
        if (horizontal & Qt::AlignHCenter) {
            x = box.center().x() - width / 2;
        } else if (horizontal & Qt::AlignRight) {
            x = box.right() - width;
        }
        path.addText(QPointF(x, top + fm.ascent() + i * fm.height()), font, lines[i]);
    }
    p.save();
    p.setBrush(color);
    p.setPen(bold ? QPen(color, px * 0.06, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin)
                  : QPen(Qt::NoPen));
    p.drawPath(path);
    p.restore();
}

namespace {

void DrawArrow(QPainter& p, const QPointF& c, qreal s, qreal degrees) {
    p.save();
    p.translate(c);
    p.rotate(degrees);
    QPainterPath path;
    path.moveTo(-s / 2, 0);
    path.lineTo(s / 2, 0);
    path.moveTo(s / 2 - s * 0.38, -s * 0.36);
    path.lineTo(s / 2, 0);
    path.lineTo(s / 2 - s * 0.38, s * 0.36);
    p.setPen(QPen(kLegend, s * 0.14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.restore();
}

void DrawMouse(QPainter& p, const QPointF& c, qreal s, Glyph which) {
    const QRectF body(c.x() - s * 0.32, c.y() - s / 2, s * 0.64, s);
    const qreal split = body.top() + s * 0.42;
    const QPen pen(kLegend, s * 0.07, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    QPainterPath outline;
    outline.addRoundedRect(body, s * 0.3, s * 0.3);
    QPainterPath pressed;
    if (which == Glyph::MouseLeft || which == Glyph::MouseRight) {
        const qreal left = which == Glyph::MouseLeft ? body.left() : c.x();
        QPainterPath half;
        half.addRect(QRectF(left, body.top(), body.width() / 2, split - body.top()));
        pressed = outline.intersected(half);
    } else {
        pressed.addRoundedRect(QRectF(c.x() - s * 0.07, body.top() + s * 0.1, s * 0.14, s * 0.22),
                               s * 0.07, s * 0.07);
    }
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(kMagenta);
    p.drawPath(pressed);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(outline);
    p.drawLine(QPointF(body.left(), split), QPointF(body.right(), split));
    p.drawLine(QPointF(c.x(), body.top()), QPointF(c.x(), split));
    p.restore();
}

void DrawWarning(QPainter& p, const QPointF& c, qreal s) {
    QPainterPath tri;
    tri.moveTo(c.x(), c.y() - s * 0.45);
    tri.lineTo(c.x() + s * 0.5, c.y() + s * 0.4);
    tri.lineTo(c.x() - s * 0.5, c.y() + s * 0.4);
    tri.closeSubpath();
    p.save();
    p.setPen(QPen(kWarning, s * 0.08, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kWarning);
    p.drawPath(tri);
    p.setPen(QPen(kCapBottom, s * 0.1, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(c.x(), c.y() - s * 0.16), QPointF(c.x(), c.y() + s * 0.12));
    p.drawPoint(QPointF(c.x(), c.y() + s * 0.28));
    p.restore();
}

}  // namespace

void DrawGlyph(QPainter& p, const QRectF& box, Glyph glyph) {
    const QPointF c = box.center();
    const qreal s = std::min(box.width(), box.height());
    switch (glyph) {
        case Glyph::None:
            break;
        case Glyph::ArrowRight:
            DrawArrow(p, c, s * 0.8, 0);
            break;
        case Glyph::ArrowDown:
            DrawArrow(p, c, s * 0.8, 90);
            break;
        case Glyph::ArrowLeft:
            DrawArrow(p, c, s * 0.8, 180);
            break;
        case Glyph::ArrowUp:
            DrawArrow(p, c, s * 0.8, 270);
            break;
        case Glyph::MouseLeft:
        case Glyph::MouseRight:
        case Glyph::MouseMiddle:
            DrawMouse(p, c, s * 0.9, glyph);
            break;
        case Glyph::Warning:
            DrawWarning(p, c, s * 0.9);
            break;
    }
}

namespace {

Legend TextLegend(const QString& text, bool dim = false) {
    Legend legend;
    legend.main = text;
    legend.dim = dim;
    return legend;
}

Legend IconLegend(Glyph glyph) {
    Legend legend;
    legend.glyph = glyph;
    return legend;
}

}  // namespace

Legend LegendOfHid(uint8_t hid, bool shortNames, bool chinese) {
    // The media keys and Space have Chinese words of their own.
    if (const std::string_view word = tavrik::HidKeyNameChinese(hid); chinese && !word.empty()) {
        return TextLegend(QString::fromUtf8(word.data(), static_cast<qsizetype>(word.size())));
    }
    if (hid >= 0x80 && hid <= 0x8B) {
        return TextLegend(QString::fromUtf8(tavrik::HidKeyName(static_cast<uint8_t>(hid))));
    }
    switch (hid) {
        case 0x01:
            return IconLegend(Glyph::Warning);
        case 0x02:
            return TextLegend("?", true);
        case 0x4F:
            return IconLegend(Glyph::ArrowRight);
        case 0x50:
            return IconLegend(Glyph::ArrowLeft);
        case 0x51:
            return IconLegend(Glyph::ArrowDown);
        case 0x52:
            return IconLegend(Glyph::ArrowUp);
        case 0xF6:
            return IconLegend(Glyph::MouseLeft);
        case 0xF7:
            return IconLegend(Glyph::MouseRight);
        case 0xF8:
            return IconLegend(Glyph::MouseMiddle);
        default:
            break;
    }
    const std::string name(tavrik::HidKeyName(hid));
    const bool shifted = name.size() == 2 && !std::isalnum(static_cast<unsigned char>(name[1])) &&
                         ((hid >= 0x1E && hid <= 0x38));
    if (shifted) {
        return {QString(QChar(name[0])), QString(QChar(name[1]))};
    }
    if (shortNames) {
        static const std::pair<uint8_t, const char*> kShort[] = {
            {0x46, "PrtSc"}, {0x47, "ScrLk"}, {0x49, "Ins"},   {0x4B, "PgUp"},
            {0x4C, "Del"},   {0x4E, "PgDn"},  {0x58, "Enter"}, {0x39, "Caps Lock"},
        };
        for (const auto& [h, text] : kShort) {
            if (h == hid) {
                return TextLegend(text);
            }
        }
    }
    const bool number = name.size() == 3 && std::all_of(name.begin(), name.end(), ::isdigit);
    return TextLegend(QString::fromStdString(name), number);
}

void DrawLegend(QPainter& p, const QRectF& face, const Legend& legend) {
    // Sized by the face's smaller side, so tall keys (keypad + and Enter) look like the rest.
    const qreal h = std::min(face.height(), face.width() * 0.8);
    const qreal minPx = std::max(6.5, h * 0.2);
    const qreal margin = std::min(face.width(), face.height()) * 0.06;
    const QRectF inner = face.adjusted(margin, margin * 0.5, -margin, -margin * 0.5);
    if (legend.glyph != Glyph::None) {
        const qreal s = h * 0.8;
        DrawGlyph(p, QRectF(face.center().x() - s / 2, face.center().y() - s / 2, s, s),
                  legend.glyph);
        return;
    }
    const QColor color = legend.dim ? kLegendDim : kLegend;
    if (!legend.upper.isEmpty()) {
        QRectF top = inner;
        top.setBottom(inner.center().y());
        QRectF bottom = inner;
        bottom.setTop(inner.center().y());
        DrawFitted(p, top, legend.upper, h * 0.42, minPx, color);
        DrawFitted(p, bottom, legend.main, h * 0.42, minPx, color);
        return;
    }
    const bool big = legend.main.size() <= 2;
    DrawFitted(p, inner, legend.main, big ? h * 0.58 : h * 0.36, minPx, color);
}

QRectF DrawCap(QPainter& p, const QRectF& cap, qreal radius, bool focus) {
    p.save();
    // Shadow on the light below, so the cap stands above it.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 90));
    p.drawRoundedRect(cap.translated(0, cap.height() * 0.04), radius, radius);

    QLinearGradient body(cap.topLeft(), cap.bottomLeft());
    body.setColorAt(0, kCapTop);
    body.setColorAt(1, kCapBottom);
    p.setBrush(body);
    p.setPen(QPen(QColor(0, 0, 0, 200), 1));
    p.drawRoundedRect(cap, radius, radius);

    const qreal side = cap.width() * 0.07;
    const QRectF face = cap.adjusted(side, cap.height() * 0.06, -side, -cap.height() * 0.16);
    QLinearGradient top(face.topLeft(), face.bottomLeft());
    top.setColorAt(0, QColor(0x38, 0x38, 0x40));
    top.setColorAt(1, QColor(0x2A, 0x2A, 0x30));
    p.setBrush(top);
    p.setPen(QPen(QColor(255, 255, 255, 22), 1));
    p.drawRoundedRect(face, radius * 0.7, radius * 0.7);

    if (focus) {
        const qreal w = std::max(2.5, cap.height() * 0.06);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kMagenta, w));
        p.drawRoundedRect(cap.adjusted(-w / 2, -w / 2, w / 2, w / 2), radius + w / 2,
                          radius + w / 2);
    }
    p.restore();
    return face;
}

}  // namespace pics

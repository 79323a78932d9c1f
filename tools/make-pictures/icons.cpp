// The logo, the icon buttons' icons, the settings window's code pictures and the
// program's own icon.
#include <QLinearGradient>
#include <QPainterPath>
#include <QtMath>

#include "art.h"
#include "pictures.h"

namespace pics {
namespace {

QPen IconPen(qreal width) {
    return QPen(kLegend, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A small magenta-rimmed key cap: the mark beside the name and the program icon.
void DrawMark(QPainter& p, const QRectF& r) {
    const qreal radius = r.width() * 0.22;
    p.setPen(Qt::NoPen);
    p.setBrush(kMagenta);
    p.drawRoundedRect(r, radius, radius);
    const qreal rim = r.width() * 0.12;
    const QRectF face = DrawCap(p, r.adjusted(rim, rim, -rim, -rim), radius * 0.7, false);
    p.setPen(IconPen(r.width() * 0.09));
    const QPointF c = face.center();
    const qreal s = face.width() * 0.3;
    p.drawLine(QPointF(c.x() - s, c.y() - s * 0.8), QPointF(c.x() + s, c.y() - s * 0.8));
    p.drawLine(QPointF(c.x(), c.y() - s * 0.8), QPointF(c.x(), c.y() + s));
}

void DrawLogo(QPainter& p) {
    const QFont font = UiFont(24, QFont::Normal);
    const qreal textWidth = QFontMetricsF(font).horizontalAdvance("Tavrik");
    const qreal left = (160 - (28 + 8 + textWidth)) / 2;
    DrawMark(p, QRectF(left, 2, 28, 28));
    DrawTextLines(p, QRectF(left + 36, 0, textWidth + 4, 32), {"Tavrik"}, 24, kLegend, true,
                  Qt::AlignLeft);
}

void DrawClose(QPainter& p) {
    p.setPen(IconPen(3));
    p.drawLine(QPointF(9, 9), QPointF(23, 23));
    p.drawLine(QPointF(23, 9), QPointF(9, 23));
}

void DrawBack(QPainter& p) {
    p.setPen(IconPen(3));
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(15, 8);
    path.lineTo(7, 16);
    path.lineTo(15, 24);
    path.moveTo(7, 16);
    path.lineTo(25, 16);
    p.drawPath(path);
}

void DrawRefresh(QPainter& p) {
    const QPointF c(21, 16);
    const qreal r = 9.5;
    p.setPen(IconPen(3));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 60 * 16, 280 * 16);
    // Arrow head at the arc's open end, pointing along it.
    const qreal a = qDegreesToRadians(60.0);
    const QPointF tip(c.x() + r * qCos(a), c.y() - r * qSin(a));
    QPainterPath head;
    head.moveTo(tip + QPointF(-6.5, -3.5));
    head.lineTo(tip + QPointF(1.5, -1));
    head.lineTo(tip + QPointF(-2.5, 6.5));
    p.drawPath(head);
}

void DrawGear(QPainter& p) {
    const QPointF c(16, 16);
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 4; ++i) {
        // Each tooth: rise, top, fall, root.
        const qreal angle = qDegreesToRadians(i * 360.0 / (teeth * 4) - 5.6);
        const qreal radius = (i % 4 == 1 || i % 4 == 2) ? 12.5 : 9.5;
        const QPointF pt(c.x() + radius * qCos(angle), c.y() + radius * qSin(angle));
        if (i == 0) {
            gear.moveTo(pt);
        } else {
            gear.lineTo(pt);
        }
    }
    gear.closeSubpath();
    gear.addEllipse(c, 4.5, 4.5);
    gear.setFillRule(Qt::OddEvenFill);
    p.setPen(Qt::NoPen);
    p.setBrush(kLegend);
    p.drawPath(gear);
}

// A square code pattern: three finder squares and modules from a fixed seed. It stands in
// for a real code, which carries an address only the owner can give.
void DrawCode(QPainter& p, int seed) {
    const int n = 25;
    const qreal m = 4;
    p.fillRect(QRectF(0, 0, 100, 100), Qt::white);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    auto finder = [&](int col, int row) {
        p.drawRect(QRectF(col * m, row * m, 7 * m, 7 * m));
        p.fillRect(QRectF((col + 1) * m, (row + 1) * m, 5 * m, 5 * m), Qt::white);
        p.drawRect(QRectF((col + 2) * m, (row + 2) * m, 3 * m, 3 * m));
    };
    uint32_t state = 0x9E3779B9u * static_cast<uint32_t>(seed);
    for (int row = 0; row < n; ++row) {
        for (int col = 0; col < n; ++col) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const bool nearFinder =
                (row < 8 && col < 8) || (row < 8 && col >= n - 8) || (row >= n - 8 && col < 8);
            if (!nearFinder && (state & 1)) {
                p.drawRect(QRectF(col * m, row * m, m, m));
            }
        }
    }
    finder(0, 0);
    finder(n - 7, 0);
    finder(0, n - 7);
}

// The program icon, drawn in a 256 x 256 space.
void DrawAppIcon(QPainter& p) {
    const QRectF tile(8, 8, 240, 240);
    QLinearGradient bg(tile.topLeft(), tile.bottomLeft());
    bg.setColorAt(0, QColor(0x4A, 0x4A, 0x52));
    bg.setColorAt(1, QColor(0x26, 0x26, 0x2B));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(tile, 48, 48);
    DrawMark(p, QRectF(44, 44, 168, 168));
}

}  // namespace

void AddIconPictures(PictureList& list) {
    list.push_back({"logo.png", {160, 32}, DrawLogo});
    list.push_back({"close_icon.png", {32, 32}, DrawClose});
    list.push_back({"back_icon.png", {32, 32}, DrawBack});
    list.push_back({"refresh_icon.png", {42, 32}, DrawRefresh});
    list.push_back({"setting_icon.png", {32, 32}, DrawGear});
    for (int i = 1; i <= 4; ++i) {
        list.push_back(
            {QString("Q%1.png").arg(i), {100, 100}, [i](QPainter& p) { DrawCode(p, i); }});
    }
    list.push_back({"tavrik.png", {256, 256}, DrawAppIcon});
    // Desktop icon sizes, laid out as an icon theme's folders expect.
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        list.push_back({QString("icons/%1x%1/apps/tavrik.png").arg(size),
                        {size, size},
                        [size](QPainter& p) {
                            p.scale(size / 256.0, size / 256.0);
                            DrawAppIcon(p);
                        },
                        false});
    }
}

}  // namespace pics

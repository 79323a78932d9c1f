// Window backgrounds and the keyboard view's three prompt pictures (looking for key
// modules, plug in a keyboard, fit key modules). The prompts are drawings without words:
// the status line beside them says it in the user's language.
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>

#include "art.h"
#include "pictures.h"

namespace pics {
namespace {

// The panel grey with a fine weave, so a large window is not flat.
void DrawTile(QPainter& p) {
    p.fillRect(QRectF(0, 0, 64, 64), kPanel);
    for (int y = 0; y < 64; y += 4) {
        for (int x = (y / 4) % 2 * 4; x < 64; x += 8) {
            p.fillRect(QRectF(x, y, 4, 2), QColor(0x60, 0x60, 0x60));
            p.fillRect(QRectF(x + 2, y + 2, 4, 2), QColor(0x67, 0x67, 0x67));
        }
    }
}

// Laid over the panel grey: a darker title band with a magenta rule and a darker foot.
void DrawWindowShade(QPainter& p) {
    QLinearGradient top(0, 0, 0, 84);
    top.setColorAt(0, QColor(0, 0, 0, 90));
    top.setColorAt(1, QColor(0, 0, 0, 30));
    p.fillRect(QRectF(0, 0, 1060, 84), top);
    QLinearGradient rule(40, 0, 1020, 0);
    rule.setColorAt(0, QColor(255, 0, 255, 0));
    rule.setColorAt(0.5, QColor(255, 0, 255, 200));
    rule.setColorAt(1, QColor(255, 0, 255, 0));
    p.fillRect(QRectF(40, 78, 980, 2), rule);
    QLinearGradient foot(0, 500, 0, 560);
    foot.setColorAt(0, QColor(0, 0, 0, 0));
    foot.setColorAt(1, QColor(0, 0, 0, 70));
    p.fillRect(QRectF(0, 500, 1060, 60), foot);
    p.setPen(QPen(QColor(255, 255, 255, 40), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, 1059, 559));
}

// A keyboard from above; `filled` says which of its 4 x 10 places hold a key module.
void DrawBoard(QPainter& p, const QRectF& r, const std::function<bool(int, int)>& filled) {
    QLinearGradient body(r.topLeft(), r.bottomLeft());
    body.setColorAt(0, QColor(0x34, 0x34, 0x3A));
    body.setColorAt(1, QColor(0x1E, 0x1E, 0x22));
    p.setBrush(body);
    p.setPen(QPen(QColor(255, 255, 255, 50), 1.5));
    p.drawRoundedRect(r, 12, 12);
    const int cols = 10;
    const int rows = 4;
    const qreal pad = 12;
    const qreal gap = 4;
    const qreal w = (r.width() - 2 * pad - (cols - 1) * gap) / cols;
    const qreal h = (r.height() - 2 * pad - (rows - 1) * gap) / rows;
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < cols; ++col) {
            const QRectF key(r.left() + pad + col * (w + gap), r.top() + pad + row * (h + gap), w,
                             h);
            if (filled(row, col)) {
                DrawCap(p, key, 3, false);
            } else {
                p.setBrush(QColor(0, 0, 0, 80));
                p.setPen(QPen(QColor(255, 255, 255, 70), 1, Qt::DashLine));
                p.drawRoundedRect(key.adjusted(1, 1, -1, -1), 3, 3);
            }
        }
    }
}

void DrawMagentaArrow(QPainter& p, QPointF from, QPointF to) {
    p.save();
    p.setPen(QPen(kMagenta, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QLineF line(to, from);
    QLineF wing = line;
    wing.setLength(18);
    wing.setAngle(line.angle() + 35);
    p.drawLine(wing);
    wing.setAngle(line.angle() - 35);
    p.drawLine(wing);
    p.restore();
}

void DrawLooking(QPainter& p) {
    DrawBoard(p, QRectF(31, 150, 300, 130), [](int, int) { return true; });
    const QPointF c(215, 165);
    const qreal r = 58;
    p.setPen(QPen(QColor(0x18, 0x18, 0x1C), 18, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(r * 0.72, r * 0.72), c + QPointF(r * 1.6, r * 1.6));
    QRadialGradient lens(c, r);
    lens.setColorAt(0, QColor(255, 255, 255, 20));
    lens.setColorAt(1, QColor(255, 255, 255, 70));
    p.setBrush(lens);
    p.setPen(QPen(kMagenta, 10));
    p.drawEllipse(c, r, r);
    p.setPen(QPen(QColor(255, 255, 255, 150), 4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - r + 14, c.y() - r + 14, 2 * r - 28, 2 * r - 28), 100 * 16, 60 * 16);
}

void DrawConnect(QPainter& p) {
    // The computer's port above, the keyboard's plug rising to it.
    p.setBrush(QColor(0xD8, 0xD8, 0xDE));
    p.setPen(QPen(QColor(0, 0, 0, 120), 1.5));
    p.drawRoundedRect(QRectF(131, 28, 100, 46), 6, 6);
    p.setBrush(QColor(0x18, 0x18, 0x1C));
    p.drawRect(QRectF(151, 44, 60, 16));

    DrawBoard(p, QRectF(31, 228, 300, 120), [](int, int) { return true; });
    QPainterPath cable;
    cable.moveTo(181, 228);
    cable.cubicTo(181, 200, 181, 190, 181, 170);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x14, 0x14, 0x18), 10, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cable);
    p.setBrush(QColor(0x2A, 0x2A, 0x30));
    p.setPen(QPen(QColor(0, 0, 0, 160), 1.5));
    p.drawRoundedRect(QRectF(163, 138, 36, 36), 5, 5);
    p.setBrush(QColor(0xC8, 0xC8, 0xD0));
    p.drawRect(QRectF(167, 112, 28, 26));
    p.setBrush(QColor(0x50, 0x50, 0x58));
    p.drawRect(QRectF(174, 118, 14, 6));
    DrawMagentaArrow(p, QPointF(181, 104), QPointF(181, 82));
}

void DrawInstallKeys(QPainter& p) {
    DrawBoard(p, QRectF(31, 190, 300, 130), [](int row, int col) {
        return row == 3 || (row == 2 && col < 4) || (row == 1 && col < 2);
    });
    // A key module held above its empty place in the top row.
    const QRectF module(197, 44, 52, 44);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 0, 255, 70));
    p.drawRoundedRect(module.adjusted(-8, -8, 8, 8), 10, 10);
    DrawCap(p, module, 5, false);
    DrawMagentaArrow(p, QPointF(223, 104), QPointF(223, 196));
}

}  // namespace

void AddBackgroundPictures(PictureList& list) {
    list.push_back({"bg.bmp", {64, 64}, DrawTile});
    list.push_back({"bg.png", {1060, 560}, DrawWindowShade});
    const QSize prompt(362, 373);
    list.push_back({"sBgDefault.png", prompt, DrawLooking});
    list.push_back({"sBgConnect.png", prompt, DrawConnect});
    list.push_back({"sBgInstallKeys.png", prompt, DrawInstallKeys});
}

}  // namespace pics

// The key buttons' pictures, drawn over the key's LED colour: an opaque dark cap leaves a
// rim through which the colour glows.

#include "art.h"
#include "keys/keycodes.h"
#include "pictures.h"

namespace pics {
namespace {

const QRectF kCap(8, 6, 84, 55);
constexpr qreal kRadius = 7;

// A slot without a key module: an empty socket.
void DrawSocket(QPainter& p, bool focus) {
    p.save();
    p.setBrush(QColor(0, 0, 0, 70));
    p.setPen(QPen(QColor(255, 255, 255, 80), 1.5, Qt::DashLine));
    p.drawRoundedRect(kCap, kRadius, kRadius);
    if (focus) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kMagenta, 3));
        p.drawRoundedRect(kCap.adjusted(-1.5, -1.5, 1.5, 1.5), kRadius, kRadius);
    }
    p.restore();
}

void DrawKey(QPainter& p, int hid, bool focus) {
    if (hid == 0) {
        DrawSocket(p, focus);
        return;
    }
    const QRectF face = DrawCap(p, kCap, kRadius, focus);
    DrawLegend(p, face, LegendOfHid(static_cast<uint8_t>(hid), false, false));
}

}  // namespace

void AddKeyPictures(PictureList& list) {
    const QSize size(100, 70);
    // A slot without a key module never loads a key picture of its own (its code 0 is the
    // start value), so the start pictures are the empty socket.
    list.push_back({"keyInactive.png", size, [](QPainter& p) { DrawKey(p, 0, false); }});
    list.push_back({"keyActive.png", size, [](QPainter& p) { DrawKey(p, 0, true); }});
    for (int hid = 0; hid < 256; ++hid) {
        for (const bool focus : {false, true}) {
            const QString name =
                QString::fromStdString(tavrik::KeyPicturePath(static_cast<uint8_t>(hid), focus))
                    .remove("res/uipics/");
            list.push_back({name, size, [hid, focus](QPainter& p) { DrawKey(p, hid, focus); }});
        }
    }
}

}  // namespace pics

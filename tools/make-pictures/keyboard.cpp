// The key code picker's keyboard: every key drawn on the rectangle of the picker's table, so
// the buttons laid over the picture fall exactly on its keys.
#include "art.h"
#include "keys/keycodes.h"
#include "keys/picker_table.h"
#include "pictures.h"

namespace pics {
namespace {

using tavrik::PickerKey;

QRectF RectOf(const PickerKey& k) {
    return QRectF(k.x, k.y, k.width, k.height);
}

bool HiddenByEnabledKey(const PickerKey& key) {
    for (const PickerKey& other : tavrik::PickerKeyTable()) {
        if (other.enabled && RectOf(other).intersects(RectOf(key))) {
            return true;
        }
    }
    return false;
}

void DrawLabel(QPainter& p, const QRectF& box, const char* english, const char* chinese,
               bool inChinese) {
    p.save();
    p.setFont(UiFont(13, QFont::Normal));
    p.setPen(QColor(255, 255, 255, 190));
    p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf8(inChinese ? chinese : english));
    p.restore();
}

void DrawKeyboard(QPainter& p, bool chinese, bool layerZero) {
    // The keyboard's plate behind the key rows, media row to layer keys.
    p.setPen(QPen(QColor(255, 255, 255, 36), 1));
    p.setBrush(QColor(0, 0, 0, 64));
    p.drawRoundedRect(QRectF(26, 86, 1008, 356), 12, 12);
    p.drawRoundedRect(QRectF(26, 471, 294, 42), 10, 10);

    DrawLabel(p, QRectF(103, 66, 200, 20), "Media", "多媒体", chinese);
    DrawLabel(p, QRectF(702, 66, 130, 20), "Mouse", "鼠标", chinese);
    DrawLabel(p, QRectF(662, 407, 100, 30), "Layers", "层切换", chinese);
    DrawLabel(p, QRectF(330, 477, 130, 30), "Reserved", "保留", chinese);

    const auto& table = tavrik::PickerKeyTable();
    for (int i = 0; i < tavrik::kPickerKeyCount; ++i) {
        const PickerKey& key = table[i];
        // Inset so the picker's hover frame runs around the cap, not over it.
        const QRectF cap = RectOf(key).adjusted(3, 3, -3, -3);
        if (!key.enabled) {
            if (!HiddenByEnabledKey(key)) {
                p.setPen(QPen(QColor(255, 255, 255, 50), 1));
                p.setBrush(QColor(0, 0, 0, 40));
                p.drawRoundedRect(cap, 4, 4);
            }
            continue;
        }
        if (tavrik::IsLayerOnlyKey(i) && !layerZero) {
            continue;
        }
        const QRectF face = DrawCap(p, cap, 4, false);
        DrawLegend(p, face, LegendOfHid(tavrik::HidOfKeyCode(key.keyCode), true, chinese));
    }
}

}  // namespace

void AddKeyboardPictures(PictureList& list) {
    const QSize size(1060, 560);
    for (const bool chinese : {false, true}) {
        for (const bool layerZero : {false, true}) {
            const QString name =
                QString("vk-%1%2.png").arg(chinese ? "ch" : "en", layerZero ? "-L0" : "");
            list.push_back({name, size, [chinese, layerZero](QPainter& p) {
                                DrawKeyboard(p, chinese, layerZero);
                            }});
        }
    }
}

}  // namespace pics

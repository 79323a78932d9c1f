// How a control tells its window about a click: the window implements NotifySink, and the
// control calls the nearest one among its ancestors, synchronously on the UI thread.
#pragma once

#include <QColor>
#include <cstdint>

#include "protocol/protocol.h"

class QWidget;

namespace tavrik::ui {

class NotifySink {
public:
    virtual ~NotifySink() = default;
    // Returns the handler's result (0 or 1; -1 for a refused slot).
    virtual int OnNotify(uint32_t code, uint32_t wParam, int32_t lParam) = 0;
};

// The nearest ancestor of `from` (not `from` itself) that is a NotifySink.
NotifySink* FindSink(QWidget* from);
// Sends to that sink; 0 when there is none.
int SendToOwner(QWidget* from, uint32_t code, uint32_t wParam = 0, int32_t lParam = 0);

// 0x00BBGGRR to a QColor and back.
inline QColor ColorOf(uint32_t colorref) {
    return QColor(static_cast<int>(colorref & 0xFF), static_cast<int>(colorref >> 8 & 0xFF),
                  static_cast<int>(colorref >> 16 & 0xFF));
}
inline uint32_t ColorRefOf(const QColor& c) {
    return static_cast<uint32_t>(c.red()) | static_cast<uint32_t>(c.green()) << 8 |
           static_cast<uint32_t>(c.blue()) << 16;
}

// The colour a key's LED really shows for `colorref`: 16 levels per channel, so a chosen
// #FF8000 is the #F08000 the key will get.
inline uint32_t LedColorRef(uint32_t colorref) {
    return FromRgb4(ToRgb4(colorref));
}

}  // namespace tavrik::ui

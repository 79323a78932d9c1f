#include "ui/mainwnd/main_window.h"

#include <QPainter>

#include "ui/pictures/picture_cache.h"

namespace tavrik::ui {

CTavrikDlg::CTavrikDlg(QWidget* parent) : QWidget(parent, Qt::FramelessWindowHint) {
    setWindowTitle("Tavrik");
    setFixedSize(kWindowWidth, kWindowHeight);
}

CTavrikDlg::~CTavrikDlg() = default;

int CTavrikDlg::OnNotify(uint32_t, uint32_t, int32_t) {
    return 0;
}

void CTavrikDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPixmap bg = Pictures::Get("res/uipics/bg.png", devicePixelRatioF());
    if (bg.isNull()) {
        painter.fillRect(rect(), QColor(40, 40, 44));
    } else {
        painter.drawTiledPixmap(rect(), bg);
    }
}

}  // namespace tavrik::ui

#include "ui/widgets/undo_buttons.h"

#include <QKeySequence>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>

#include "ui/widgets/control_codes.h"
#include "ui/widgets/notify_sink.h"

namespace tavrik::ui {

CUndoButton::CUndoButton(QWidget* parent, bool redo)
    : CIconButton(parent, QString(), redo ? "Redo" : "Undo"), redo_(redo) {}

void CUndoButton::OnClick() {
    if (isEnabled()) {
        SendToOwner(this, redo_ ? UM_REDO : UM_UNDO);
    }
}

// Drawn, not a picture: an arc with its head at the start, mirrored for redo.
void CUndoButton::PaintOver(QPainter& painter) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (redo_) {
        painter.translate(width(), 0);
        painter.scale(-1, 1);
    }
    const QRectF box = QRectF(rect()).adjusted(11, 12, -11, -8);
    const QColor ink = isEnabled() ? QColor(Qt::white) : QColor(150, 150, 150);
    QPen pen(ink, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    QPainterPath arc;
    arc.arcMoveTo(box, 160);
    arc.arcTo(box, 160, -250);
    painter.drawPath(arc);
    const QPointF tip = box.topLeft() + QPointF(1, box.height() * 0.36);
    painter.setBrush(ink);
    painter.setPen(Qt::NoPen);
    painter.drawPolygon(
        QPolygonF({tip + QPointF(-6, -7), tip + QPointF(6, -5), tip + QPointF(-1, 5)}));
    painter.restore();
}

UndoControls MakeUndoControls(QWidget* window, const QRect& undoAt, const QRect& redoAt,
                              const std::function<void(bool redo)>& act) {
    UndoControls made{new CUndoButton(window, false), new CUndoButton(window, true)};
    made.undo->setGeometry(undoAt);
    made.redo->setGeometry(redoAt);
    auto* undoKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), window);
    QObject::connect(undoKey, &QShortcut::activated, window, [act] { act(false); });
    auto* redoKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), window);
    QObject::connect(redoKey, &QShortcut::activated, window, [act] { act(true); });
    return made;
}

}  // namespace tavrik::ui

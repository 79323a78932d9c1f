#include "paper/paper.h"

#include <algorithm>

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSvgGenerator>

namespace tavrik::paper {

using layout::LayoutSheet;
using layout::PaperFormat;
using layout::PaperOptions;
using layout::SheetKey;
using layout::SlotKind;

namespace {

constexpr double kMargin = 24;
constexpr double kHeader = 56;
constexpr double kPitchX = 104;
constexpr double kPitchY = 72;
constexpr double kKeyW = 98;
constexpr double kKeyH = 64;
constexpr double kPageGap = 18;  // between the view's two pages of keys
constexpr double kLabelH = 30;   // the white legend strip; the LED colour fills the rest

QColor LedColour(uint32_t c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>(c >> 8 & 0xFF),
                  static_cast<int>(c >> 16 & 0xFF));
}

QFont FontOf(double pixels, bool bold) {
    QFont f;
    f.setFamilies({"DejaVu Sans", "Sans Serif"});
    f.setPixelSize(std::max(1, static_cast<int>(pixels)));
    f.setBold(bold);
    return f;
}

// One line at `baseline`, centred in `width`, shrunk until it fits; never wrapped, so a
// legend stays one text element in an SVG.
void DrawLine(QPainter& p, const QString& text, double left, double width, double baseline,
              double pixels, bool bold) {
    QFont f = FontOf(pixels, bold);
    while (pixels > 5 && QFontMetricsF(f).horizontalAdvance(text) > width - 6) {
        pixels -= 0.5;
        f = FontOf(pixels, bold);
    }
    p.setFont(f);
    const double w = QFontMetricsF(f).horizontalAdvance(text);
    p.drawText(QPointF(left + (width - std::min(w, width)) / 2, baseline), text);
}

void DrawKey(QPainter& p, const SheetKey& k, int layer) {
    const QRectF r = KeyRect(k);
    // Numbered from 1, as the window names its keys.
    const QString slot = QString::number(k.slot + 1);
    if (k.kind == SlotKind::Empty) {
        QPen pen(QColor(0x9A, 0x9A, 0x9A), 1.2, Qt::DashLine);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(2, 2, -2, -2), 6, 6);
        p.setFont(FontOf(9, false));
        p.drawText(QPointF(r.left() + 6, r.bottom() - 6), slot);
        return;
    }
    QPainterPath body;
    body.addRoundedRect(r, 6, 6);
    const QColor fill = k.kind == SlotKind::Bootloader ? QColor(0xBB, 0xBB, 0xBB)
                        : k.colour                     ? LedColour(*k.colour)
                                                       : QColor(0xE4, 0xE4, 0xE4);
    p.fillPath(body, fill);
    if (k.kind == SlotKind::Bootloader) {
        p.fillPath(body, QBrush(QColor(0x80, 0x80, 0x80), Qt::BDiagPattern));
    }
    p.save();
    p.setClipPath(body);
    p.fillRect(QRectF(r.left(), r.top(), r.width(), kLabelH), Qt::white);
    p.restore();
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(body);
    p.drawLine(QPointF(r.left(), r.top() + kLabelH), QPointF(r.right(), r.top() + kLabelH));

    const auto& lines = k.legend[static_cast<size_t>(layer & 3)];
    p.setPen(Qt::black);
    if (lines.size() == 1) {
        DrawLine(p, QString::fromStdString(lines[0]), r.left(), r.width(), r.top() + 20, 13, true);
    } else if (lines.size() >= 2) {
        DrawLine(p, QString::fromStdString(lines[0]), r.left(), r.width(), r.top() + 13, 11, true);
        DrawLine(p, QString::fromStdString(lines[1]), r.left(), r.width(), r.top() + 26, 9.5,
                 false);
    }
    // The slot number in a corner, in whichever of black and white reads on the colour.
    p.setPen(fill.lightness() < 110 ? Qt::white : Qt::black);
    p.setFont(FontOf(9, false));
    p.drawText(QPointF(r.left() + 6, r.bottom() - 6), slot);
}

void DrawPanel(QPainter& p, const LayoutSheet& sheet, int layer) {
    const QSizeF size = PanelSize(sheet);
    p.fillRect(QRectF(QPointF(0, 0), size), Qt::white);
    p.setPen(Qt::black);
    p.setFont(FontOf(20, true));
    const QString title =
        QString::fromStdString(sheet.keyboard) + QString::fromUtf8(" \u2013 layer %1").arg(layer);
    p.drawText(QPointF(kMargin, kMargin + 22), title);
    p.setFont(FontOf(13, false));
    const QString date = QString::fromStdString(sheet.date);
    const double dw = QFontMetricsF(p.font()).horizontalAdvance(date);
    p.drawText(QPointF(size.width() - kMargin - dw, kMargin + 22), date);
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1));
    p.drawLine(QPointF(kMargin, kMargin + 36), QPointF(size.width() - kMargin, kMargin + 36));
    for (const SheetKey& k : sheet.keys) {
        DrawKey(p, k, layer);
    }
}

// The panels one under the other, for the formats that have no pages.
void DrawStacked(QPainter& p, const LayoutSheet& sheet) {
    const double height = PanelSize(sheet).height();
    for (size_t i = 0; i < sheet.layers.size(); ++i) {
        p.save();
        p.translate(0, height * static_cast<double>(i));
        DrawPanel(p, sheet, sheet.layers[i]);
        p.restore();
    }
}

bool Finish(QPainter& p, std::string& error) {
    if (!p.end()) {
        error = "the layout could not be drawn";
        return false;
    }
    return true;
}

}  // namespace

QSizeF PanelSize(const LayoutSheet& sheet) {
    const int rows = std::max(1, sheet.rows);
    const double gap = rows > layout::kRowsPerPage ? kPageGap : 0;
    return {2 * kMargin + layout::kColumns * kPitchX - (kPitchX - kKeyW),
            kMargin + kHeader + rows * kPitchY - (kPitchY - kKeyH) + gap + kMargin};
}

QRectF KeyRect(const SheetKey& k) {
    const double gap = k.row >= layout::kRowsPerPage ? kPageGap : 0;
    return {kMargin + k.column * kPitchX, kMargin + kHeader + k.row * kPitchY + gap, kKeyW, kKeyH};
}

bool RenderSheet(const LayoutSheet& sheet, const PaperOptions& options, std::string& bytes,
                 std::string& error) {
    if (sheet.layers.empty()) {
        error = "no layer to draw";
        return false;
    }
    const QSizeF panel = PanelSize(sheet);
    const int n = static_cast<int>(sheet.layers.size());
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    const QString title = QString::fromStdString(sheet.keyboard + " layout");
    switch (options.format) {
        case PaperFormat::Png: {
            const int scale = std::clamp(options.scale, 1, 2);
            QImage image(qCeil(panel.width() * scale), qCeil(panel.height() * n * scale),
                         QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(scale, scale);
            DrawStacked(p, sheet);
            if (!Finish(p, error)) {
                return false;
            }
            if (!image.save(&buffer, "PNG")) {
                error = "the PNG could not be made";
                return false;
            }
            break;
        }
        case PaperFormat::Svg: {
            QSvgGenerator svg;
            svg.setOutputDevice(&buffer);
            svg.setSize(QSize(qCeil(panel.width()), qCeil(panel.height() * n)));
            svg.setViewBox(QRectF(0, 0, panel.width(), panel.height() * n));
            svg.setTitle(title);
            QPainter p;
            if (!p.begin(&svg)) {
                error = "the SVG could not be started";
                return false;
            }
            DrawStacked(p, sheet);
            if (!Finish(p, error)) {
                return false;
            }
            break;
        }
        case PaperFormat::Pdf: {
            QPdfWriter pdf(&buffer);
            pdf.setTitle(title);
            pdf.setCreator("Tavrik");
            pdf.setResolution(300);
            pdf.setPageLayout(QPageLayout(
                QPageSize(options.paper == layout::PaperSize::Letter ? QPageSize::Letter
                                                                     : QPageSize::A4),
                QPageLayout::Landscape, QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
            QPainter p;
            if (!p.begin(&pdf)) {
                error = "the PDF could not be started";
                return false;
            }
            p.setRenderHint(QPainter::Antialiasing);
            const QRect page = pdf.pageLayout().paintRectPixels(pdf.resolution());
            const double s = std::min(page.width() / panel.width(), page.height() / panel.height());
            for (int i = 0; i < n; ++i) {
                if (i > 0 && !pdf.newPage()) {
                    error = "the PDF could not take another page";
                    return false;
                }
                p.save();
                p.translate((page.width() - panel.width() * s) / 2, 0);
                p.scale(s, s);
                DrawPanel(p, sheet, sheet.layers[static_cast<size_t>(i)]);
                p.restore();
            }
            if (!Finish(p, error)) {
                return false;
            }
            break;
        }
    }
    bytes.assign(out.constData(), static_cast<size_t>(out.size()));
    return true;
}

}  // namespace tavrik::paper

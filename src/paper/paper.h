// Draws a layout sheet (layout/layout_sheet.h) as PDF, SVG or PNG with Qt's own writers.
// Needs a QGuiApplication (fonts); the programs load this as a module of its own at the
// first drawing, so that they start without it (paper_module.cpp).
#pragma once

#include <string>

#include <QRectF>
#include <QSizeF>

#include "layout/layout_sheet.h"

namespace tavrik::paper {

// One layer's panel in drawing units (a PNG pixel at scale 1).
QSizeF PanelSize(const layout::LayoutSheet& sheet);
// Where a key sits in its panel.
QRectF KeyRect(const layout::SheetKey& key);
// PNG and SVG stack the panels from the top, one per layer; PDF has a page for each.
// The bytes of the whole file; false with `error` when Qt could not make it.
bool RenderSheet(const layout::LayoutSheet& sheet, const layout::PaperOptions& options,
                 std::string& bytes, std::string& error);

}  // namespace tavrik::paper

// The module's entry, looked up by name: renders on the offscreen platform, making the
// application object when there is none. Returns true on success.
extern "C" bool tavrik_paper_render(const tavrik::layout::LayoutSheet* sheet,
                                    const tavrik::layout::PaperOptions* options, std::string* bytes,
                                    std::string* error);

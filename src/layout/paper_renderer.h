// The layout drawn on paper by Qt's writers lives in a module of its own (tavrik-paper.so),
// loaded at the first drawing: neither the command line nor the window pays for loading Qt
// or its SVG writer at its start.
#pragma once

#include <filesystem>
#include <string>

#include "layout/layout_sheet.h"

namespace tavrik::layout {

using PaperRenderFn = bool (*)(const LayoutSheet*, const PaperOptions*, std::string*, std::string*);

// The module's entry, found beside the program (`programFolder`) in a build tree and under
// <prefix>/lib/tavrik once installed; loaded once and kept. nullptr with `error` when it is
// missing or cannot be loaded. Any thread.
PaperRenderFn LoadPaperRenderer(const std::filesystem::path& programFolder, std::string& error);

// The whole file's bytes through the module; false with `error` when it is missing or the
// drawing failed.
bool RenderOnPaper(const std::filesystem::path& programFolder, const LayoutSheet& sheet,
                   const PaperOptions& options, std::string& bytes, std::string& error);

}  // namespace tavrik::layout

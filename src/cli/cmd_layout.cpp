// layout: the selected keyboard's keys on paper, a page or panel per layer. Qt draws it,
// in a module loaded only for this (layout/paper_renderer.h), so every other command starts
// without loading Qt.
#include <chrono>
#include <ctime>
#include <memory>

#include "app/paths.h"
#include "backup/backup_device.h"
#include "cli/job_wait.h"
#include "cli/keyboards.h"
#include "layout/layout_sheet.h"
#include "layout/paper_renderer.h"

namespace tavrik::cli {

namespace {

using layout::PaperFormat;
using layout::PaperOptions;

constexpr auto kReadLimit = std::chrono::minutes(10);

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
    return text;
}

int RunLayout(const Args& args, Context& ctx) {
    const std::string out = args.Get("output");
    if (out.empty()) {
        return UsageError(ctx, *ctx.command, "expected -o FILE");
    }
    std::vector<int> layers = {0, 1, 2, 3};
    std::string error;
    if (args.Has("layers") && !layout::ParseLayers(args.Get("layers"), layers, error)) {
        return UsageError(ctx, *ctx.command, "--layers: " + error);
    }
    PaperOptions options;
    if (args.Has("format")) {
        const auto f = layout::FormatOfName(args.Get("format"));
        if (!f) {
            return UsageError(ctx, *ctx.command, "--format is pdf, svg or png");
        }
        options.format = *f;
    } else if (const auto f = layout::FormatOfPath(out)) {
        options.format = *f;
    }
    if (args.Has("paper")) {
        const std::string paper = args.Get("paper");
        if (paper != "a4" && paper != "letter") {
            return UsageError(ctx, *ctx.command, "--paper is a4 or letter");
        }
        options.paper = paper == "letter" ? layout::PaperSize::Letter : layout::PaperSize::A4;
    }
    if (args.Has("scale")) {
        const std::string scale = args.Get("scale");
        if (scale != "1" && scale != "2") {
            return UsageError(ctx, *ctx.command, "--scale is 1 or 2");
        }
        options.scale = scale == "2" ? 2 : 1;
    }
    // Before the keyboard is read: a missing renderer would waste the scan.
    const layout::PaperRenderFn render = layout::LoadPaperRenderer(ExePath().parent_path(), error);
    if (render == nullptr) {
        ctx.err << "tavrikctl layout: " << error << "\n";
        return kExitFailed;
    }

    int status = kExitOk;
    auto selected = OpenSelectedKeyboard(ctx, status, false);
    if (!selected) {
        return status;
    }
    const int i = selected->index;
    auto outcome = std::make_shared<backup::BackupJobOutcome>();
    CCUSB& usb = selected->keyboards->Transport(i);
    const JobStatus job = WaitForJob(
        ctx, selected->Dev(),
        backup::SubmitReadStateJob(selected->Dev(), usb.m_szProduct, usb.m_szSerial, outcome),
        JobProgress::Steps, kReadLimit);
    if (!job.Finished() || outcome->end != backup::BackupEnd::Done) {
        ctx.err << "tavrikctl layout: "
                << (!outcome->error.empty() ? outcome->error
                    : job.Finished()        ? job.message
                                            : "the keyboard did not finish in time")
                << "; nothing was written\n";
        return kExitFailed;
    }
    const std::string name = (usb.m_szProduct.empty() ? std::string("Keyboard") : usb.m_szProduct) +
                             " (keyboard " + std::to_string(i) + ")";
    const int viewPages = selected->Dev().Snapshot().hidePageBtn ? 1 : 2;
    const layout::LayoutSheet sheet =
        layout::MakeSheet(outcome->state, layers, name, Today(), viewPages);
    std::string bytes;
    if (!render(&sheet, &options, &bytes, &error)) {
        ctx.err << "tavrikctl layout: " << error << "; nothing was written\n";
        return kExitFailed;
    }
    if (!layout::WriteSheetFile(out, bytes, error)) {
        ctx.err << "tavrikctl layout: " << error << "\n";
        return kExitFailed;
    }
    ctx.out << "Wrote " << out << ": " << layers.size()
            << (layers.size() == 1 ? " layer" : " layers") << " of keyboard " << i << "\n";
    return kExitOk;
}

}  // namespace

void AddLayoutCommands(std::vector<CommandDef>& table) {
    table.push_back(
        {"layout",
         "-o FILE [--layers 0,1,2,3] [--format pdf|svg|png] [--paper a4|letter] [--scale 1|2]",
         {0, 0},
         "Print the selected keyboard's keys, one page or panel per layer",
         "Reads the keyboard chosen with --device (its macros too) and draws every key slot\n"
         "where the window shows it, with what the key does on each layer and its LED\n"
         "colour; empty slots are drawn as empty sockets. Renders without a display.\n\n"
         "  -o, --output FILE  written whole or not at all; only a regular file is replaced\n"
         "  --layers LIST      the layers to draw, in order (default 0,1,2,3)\n"
         "  --format F         pdf (a landscape page per layer), svg or png (the panels one\n"
         "                     under the other); default: FILE's extension, else pdf\n"
         "  --paper P          the PDF's paper: a4 (default) or letter\n"
         "  --scale S          PNG pixels per unit: 1 (default) or 2\n",
         {{"output", true, 'o'},
          {"layers", true},
          {"format", true},
          {"paper", true},
          {"scale", true}},
         RunLayout});
}

}  // namespace tavrik::cli

// The entry the programs find with dlopen: tavrikctl's other commands must not pay for
// loading Qt, nor the window's start for Qt's SVG writer.
#include <QGuiApplication>

#include <cstdio>
#include <memory>

#include "paper/paper.h"

extern "C" bool tavrik_paper_render(const tavrik::layout::LayoutSheet* sheet,
                                    const tavrik::layout::PaperOptions* options, std::string* bytes,
                                    std::string* error) {
    std::unique_ptr<QGuiApplication> app;
    if (QGuiApplication::instance() == nullptr) {
        // Never a display: a script may print a whole set from a console or a service.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Qt's own notes (a missing runtime folder) are no business of a script's stderr.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& m) {
            if (type == QtCriticalMsg || type == QtFatalMsg) {
                fprintf(stderr, "tavrikctl: %s\n", qPrintable(m));
            }
        });
        static int argc = 1;
        static char name[] = "tavrikctl";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    return tavrik::paper::RenderSheet(*sheet, *options, *bytes, *error);
}

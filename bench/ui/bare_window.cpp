// A bare Qt Widgets window of the main window's size, started the way tavrik is: what
// scripts/measure-window holds tavrik's first frame and peak memory against. With
// TAVRIK_TIMING set it writes the wall-clock time of its first paint, and of its whole
// first frame drawn, as tavrik does.
#include <QApplication>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// "tavrik-timing WHAT NS" on stderr with TAVRIK_TIMING set, as tavrik writes its steps.
void ReportTiming(const char* what) {
    if (std::getenv("TAVRIK_TIMING") == nullptr) {
        return;
    }
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    std::fprintf(
        stderr, "tavrik-timing %s %lld\n", what,
        static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
}

class BareWindow : public QWidget {
public:
    BareWindow() : QWidget(nullptr, Qt::FramelessWindowHint | Qt::Window) {
        setWindowTitle("Bare");
        setFixedSize(1060, 560);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!painted_) {
            painted_ = true;
            ReportTiming("first-frame");
            // Its text is drawn, and the frame goes to the display, before the event loop
            // turns again.
            QTimer::singleShot(0, [] { ReportTiming("frame-done"); });
        }
        QPainter painter(this);
        painter.fillRect(rect(), QColor(40, 40, 40));
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, "Bare");
    }

private:
    bool painted_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    ReportTiming("main");
    QApplication app(argc, argv);
    ReportTiming("qapp");
    BareWindow window;
    window.show();
    return QApplication::exec();
}

// The program with windows.
#include <QApplication>

#include "ui/mainwnd/main_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    tavrik::ui::CTavrikDlg window;
    window.show();
    return app.exec();
}

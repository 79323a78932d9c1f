// The program's only top-level window: frameless, 1060 x 560, its own background and
// controls. It owns the keyboard hub and receives every notification of the engine and of
// its controls.
#pragma once

#include <QWidget>

#include "ui/widgets/notify_sink.h"

namespace tavrik::ui {

inline constexpr int kWindowWidth = 1060;
inline constexpr int kWindowHeight = 560;

class CTavrikDlg : public QWidget, public NotifySink {
    Q_OBJECT
public:
    explicit CTavrikDlg(QWidget* parent = nullptr);
    ~CTavrikDlg() override;

    int OnNotify(uint32_t code, uint32_t wParam, int32_t lParam) override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tavrik::ui

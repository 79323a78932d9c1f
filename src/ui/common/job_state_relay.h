// Job state notifications (UM_JOB_STATE) come to the main window, the target of every
// session's notifications; it passes each on here, so a dialog that runs a job of its own
// (the macro editor) follows it the way the status line does, instead of asking the
// runner on a timer. A keyboard's going is passed on too: the job notifications its closed
// session had not delivered yet are dropped with it. UI thread only.
#pragma once

#include <QObject>
#include <cstdint>

namespace tavrik::ui {

class JobStateRelay : public QObject {
    Q_OBJECT
public:
    static JobStateRelay& Instance();

    void Publish(uint32_t wParam, uint32_t lParam);
    void PublishKeyboardGone(int dev);

Q_SIGNALS:
    // Job `id` of the session in hub slot `dev` moved on; `lParam` packs its state.
    void jobState(int dev, quint32 id, quint32 lParam);
    void keyboardGone(int dev);
};

}  // namespace tavrik::ui

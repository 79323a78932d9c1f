// What the layout and profile dialogs share: one job of their keyboard followed by a
// 50 ms timer (the UI thread never waits for it), its progress on a bar, and its end
// handed back once.
#pragma once

#include <functional>

#include <QBoxLayout>
#include <QLabel>
#include <QObject>
#include <QProgressBar>
#include <QTimer>

#include "device/job_runner.h"
#include "ui/common/keyboard_guard.h"

namespace tavrik::ui {

class JobFollower : public QObject {
    Q_OBJECT
public:
    JobFollower(QObject* parent, QProgressBar* bar);

    // Follows job `id` of the guard's keyboard; `ended` gets its final status, or nothing
    // when the keyboard went first. `reads`: the job only reads (see CancelRead).
    void Follow(const KeyboardGuard& guard, uint32_t id, bool reads,
                std::function<void(const JobStatus*)> ended);
    bool Busy() const { return id_ != 0; }
    // A job that only reads is cancelled when its dialog closes; a write is let end.
    void CancelRead();

private:
    void Poll();

    QProgressBar* bar_;
    QTimer timer_;
    KeyboardGuard guard_;
    uint32_t id_ = 0;
    bool reads_ = false;
    std::function<void(const JobStatus*)> ended_;
};

// The bottom of both dialogs: a progress bar, hidden until a job runs, and a message line
// that can be selected for copying.
QProgressBar* AddProgressRow(QBoxLayout* layout, QWidget* owner);
QLabel* AddMessageRow(QBoxLayout* layout, QWidget* owner);

// After a job that read the whole keyboard: its scanning goes on, so the window keeps
// following modules that come and go.
void ResumeScanning(CCCDev& dev);

}  // namespace tavrik::ui

#include "ui/tools/job_follower.h"

#include "device/session.h"

namespace tavrik::ui {

JobFollower::JobFollower(QObject* parent, QProgressBar* bar) : QObject(parent), bar_(bar) {
    timer_.setInterval(50);
    connect(&timer_, &QTimer::timeout, this, &JobFollower::Poll);
}

void JobFollower::Follow(const KeyboardGuard& guard, uint32_t id, bool reads,
                         std::function<void(const JobStatus*)> ended) {
    guard_ = guard;
    id_ = id;
    reads_ = reads;
    ended_ = std::move(ended);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->show();
    timer_.start();
}

void JobFollower::CancelRead() {
    if (CCCDev* dev = guard_.Session(); dev != nullptr && id_ != 0 && reads_) {
        dev->Jobs().Cancel(id_);
    }
}

void JobFollower::Poll() {
    CCCDev* dev = guard_.Session();
    std::optional<JobStatus> status;
    if (dev != nullptr) {
        status = dev->Jobs().Status(id_);
        if (status && !status->Finished()) {
            bar_->setValue(status->total > 0 ? status->done * 100 / status->total
                                             : status->percent);
            return;
        }
    }
    timer_.stop();
    id_ = 0;
    bar_->setValue(100);
    auto ended = std::move(ended_);
    ended_ = nullptr;
    if (dev != nullptr) {
        ResumeScanning(*dev);
    }
    if (ended) {
        ended(status ? &*status : nullptr);
    }
}

QProgressBar* AddProgressRow(QBoxLayout* layout, QWidget* owner) {
    auto* bar = new QProgressBar(owner);
    bar->hide();
    layout->addWidget(bar);
    return bar;
}

QLabel* AddMessageRow(QBoxLayout* layout, QWidget* owner) {
    auto* label = new QLabel(owner);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(label);
    return label;
}

void ResumeScanning(CCCDev& dev) {
    dev.StartScanThread();
    dev.RequestScan();
}

}  // namespace tavrik::ui

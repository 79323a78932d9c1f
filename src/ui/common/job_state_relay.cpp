#include "ui/common/job_state_relay.h"

#include "device/job_runner.h"

namespace tavrik::ui {

JobStateRelay& JobStateRelay::Instance() {
    static JobStateRelay relay;
    return relay;
}

void JobStateRelay::Publish(uint32_t wParam, uint32_t lParam) {
    Q_EMIT jobState(static_cast<int>(wParam & 0xFF), JobIdOf(wParam), lParam);
}

void JobStateRelay::PublishKeyboardGone(int dev) {
    Q_EMIT keyboardGone(dev);
}

}  // namespace tavrik::ui

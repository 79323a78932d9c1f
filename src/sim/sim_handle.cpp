// An open interface of a simulated keyboard: reads from its own inbox, as each open
// hidraw node gets its own copy of every report, and writes to the keyboard.
#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "sim/sim_backend_core.h"

namespace tavrik::sim {
namespace {

class SimHandle final : public HidHandle {
public:
    SimHandle(std::shared_ptr<SimBackend::Core> core, std::shared_ptr<Device> device,
              std::shared_ptr<Inbox> inbox)
        : core_(std::move(core)), device_(std::move(device)), inbox_(std::move(inbox)) {}

    ~SimHandle() override {
        if (!inbox_) {
            return;
        }
        std::lock_guard lock(device_->mu);
        std::erase(device_->inboxes, inbox_);
    }

    int Read(uint8_t* payload, size_t size, int timeoutMs) override {
        std::unique_lock lock(device_->mu);
        const auto deadline = SimClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        for (;;) {
            if (!device_->attached) {
                return -1;
            }
            if (device_->failReads > 0) {
                --device_->failReads;
                return -1;
            }
            const auto now = SimClock::now();
            auto wakeAt = deadline;
            if (inbox_ && !inbox_->reports.empty()) {
                const auto& front = inbox_->reports.front();
                if (front.readyAt <= now) {
                    const size_t n = std::min(size, front.payload.size());
                    std::copy_n(front.payload.begin(), n, payload);
                    inbox_->reports.pop_front();
                    return static_cast<int>(n);
                }
                wakeAt = timeoutMs < 0 ? front.readyAt : std::min(deadline, front.readyAt);
            } else if (timeoutMs < 0) {
                // As hidapi: a negative timeout waits until a report comes or the device
                // goes away.
                device_->cv.wait(lock);
                continue;
            }
            if (timeoutMs >= 0 && now >= deadline) {
                return 0;
            }
            // A report of a real device arrives when it arrives; the kernel's default
            // 50 us timer slack on this wait would add to every simulated round trip.
            static thread_local const bool precise = ::prctl(PR_SET_TIMERSLACK, 1UL) == 0;
            (void)precise;
            device_->cv.wait_until(lock, wakeAt);
        }
    }

    int Write(const uint8_t* report, size_t size) override {
        // As hidraw: fewer than two bytes are refused, and a report ID the interface does
        // not have is stalled by the device. The plain interface takes no report at all.
        if (!inbox_ || report == nullptr || size < 2 || report[0] != 0) {
            return -1;
        }
        bool changed = false;
        bool vanished = false;
        std::vector<SimPayload> replies;
        {
            std::lock_guard lock(device_->mu);
            if (!device_->attached) {
                return -1;
            }
            // A report of the wrong length goes out, but the controller drops it.
            replies = device_->keyboard.HandleReport({report, size});
            changed = device_->keyboard.TakeChanged();
            vanished = device_->keyboard.TakeVanished();
            if (device_->unplugAfter > 0 && report[1] == device_->unplugCode &&
                --device_->unplugAfter == 0) {
                vanished = true;
            }
            if (!changed || vanished) {
                device_->Deliver(replies);
                replies.clear();
            }
        }
        if (vanished) {
            // Unplugging takes the backend's lock before the device's, so not in there.
            core_->Vanish(device_);
        } else if (changed) {
            // Marked before the reply goes out: a program that saves once it has the reply
            // must find the change pending.
            core_->MarkDirty();
            std::lock_guard lock(device_->mu);
            if (device_->attached) {
                device_->Deliver(replies);
            }
        }
        return static_cast<int>(size);
    }

    std::string ProductString() override { return device_->product; }
    std::string SerialString() override { return device_->serial; }

private:
    std::shared_ptr<SimBackend::Core> core_;
    std::shared_ptr<Device> device_;
    std::shared_ptr<Inbox> inbox_;  // null on the plain interface
};

}  // namespace

std::unique_ptr<HidHandle> MakeSimHandle(std::shared_ptr<SimBackend::Core> core,
                                         std::shared_ptr<Device> device,
                                         std::shared_ptr<Inbox> inbox) {
    return std::make_unique<SimHandle>(std::move(core), std::move(device), std::move(inbox));
}

}  // namespace tavrik::sim

// Every fixed pause of a session goes through its clock, so tests can shorten the long
// ones (2.5 s between scan passes, the settling times of an upgrade) without touching
// the reply limits, which stay real time. A simulated keyboard on a loaded test machine
// may be given slack on the upgrade's reply limits: its replies cross three threads.
#pragma once

#include <atomic>
#include <chrono>

namespace tavrik {

class SessionClock {
public:
    explicit SessionClock(double pauseScale = 1.0) : scale_(pauseScale) {}

    void SetPauseScale(double scale) { scale_.store(scale); }
    double PauseScale() const { return scale_.load(); }

    std::chrono::microseconds Pause(int ms) const {
        return std::chrono::microseconds(static_cast<long long>(ms * 1000.0 * scale_.load()));
    }

    void SetReplySlack(std::chrono::milliseconds slack) { slack_.store(slack.count()); }
    std::chrono::milliseconds ReplySlack() const {
        return std::chrono::milliseconds(slack_.load());
    }

private:
    std::atomic<double> scale_;
    std::atomic<long long> slack_{0};
};

}  // namespace tavrik

// The core under the soak load (soak_load.h), without a window: the test's thread owns
// the hub and the four sessions' notifications as a window's thread does, woken through
// an eventfd, and follows the simulator file's monitor.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "app/keyboard_backend.h"
#include "device/keyboard_hub.h"
#include "device/session_jobs.h"
#include "hid/device_monitor.h"
#include "keyboard_rig.h"
#include "soak_load.h"

namespace tavrik {
namespace {

using namespace std::chrono_literals;

// Repaints as a window does: a snapshot of the keyboard it shows, for every notification.
class OwnerTarget : public NotifyTarget {
public:
    OwnerTarget(KeyboardHub*& hub, test::SoakFigures& figures) : hub_(hub), figures_(figures) {}
    void Notify(uint32_t, uint32_t, uint32_t) override {
        ++figures_.notifications;
        if (hub_ != nullptr && hub_->Count() > 0) {
            const SessionSnapshot snap = hub_->Session(hub_->Selected()).Snapshot();
            keysSeen_ += snap.counts.total;
        }
    }

private:
    KeyboardHub*& hub_;
    test::SoakFigures& figures_;
    uint64_t keysSeen_ = 0;
};

struct Owner {
    test::TempFolder tmp;
    std::filesystem::path file = tmp.path / "keyboards.json";
    int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    KeyboardHub* hubSeen = nullptr;
    std::unique_ptr<test::SoakLoad> load;
    std::unique_ptr<OwnerTarget> target;
    std::unique_ptr<KeyboardHub> hub;
    std::unique_ptr<DeviceMonitor> monitor;  // after the hub: watches its backend

    explicit Owner(uint32_t seed) {
        test::MakeSoakFile(file);
        test::SetSoakCliEnvironment();
        std::string error;
        auto backend = SimulatedBackend(file, false, &error);
        EXPECT_TRUE(backend) << error;
        sim::SimBackend& sim = *backend;
        load = std::make_unique<test::SoakLoad>(sim, file, seed);
        target = std::make_unique<OwnerTarget>(hubSeen, load->Figures());
        HubOptions options;
        options.simPauseScale = 0.02;
        options.simReplySlackMs = 500;
        hub = std::make_unique<KeyboardHub>(std::move(backend), *target, options);
        for (int i = 0; i < kHubSlots; ++i) {
            hub->Session(i).Channel().SetOwnerThread([fd = wake] {
                const uint64_t one = 1;
                (void)!::write(fd, &one, sizeof one);
            });
        }
        hubSeen = hub.get();
        monitor = hub->MakeMonitor(&error);
        EXPECT_TRUE(monitor) << error;
        hub->AttachPresent();
    }
    ~Owner() {
        load->Stop();
        monitor.reset();
        hubSeen = nullptr;
        hub.reset();
        ::close(wake);
    }

    // One turn of the owner's event loop.
    void Pump() {
        std::array<pollfd, 2> fds{{{wake, POLLIN, 0}, {monitor->Fd(), POLLIN, 0}}};
        ::poll(fds.data(), fds.size(), 10);
        uint64_t ignored = 0;
        (void)!::read(wake, &ignored, sizeof ignored);
        for (int i = 0; i < kHubSlots; ++i) {
            hub->Session(i).Channel().DeliverPending();
        }
        const auto events = monitor->Process();
        load->Figures().deviceEvents += events.size();
        hub->Handle(events);
    }
    bool PumpUntil(const std::function<bool()>& done, test::SoakWatchdog& dog,
                   std::chrono::seconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) {
                return false;
            }
            Pump();
            dog.Beat("a turn of the event loop");
        }
        return true;
    }
};

TEST(SoakCore, FourKeyboardsUnderLoadEndWithTheirTablesRight) {
    const int seconds = test::SoakSeconds();
    Owner owner(test::SoakSeed());
    ASSERT_TRUE(owner.monitor);
    ASSERT_EQ(owner.hub->Count(), test::kSoakKeyboards);
    test::SoakWatchdog dog(*owner.load, 90s);

    owner.load->Start();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    owner.PumpUntil([&] { return std::chrono::steady_clock::now() >= end; }, dog,
                    std::chrono::seconds(seconds + 5));
    // The load's threads need nothing of the owner, who goes on meanwhile all the same.
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        owner.load->Stop();
        stopped = true;
    });
    const bool ended = owner.PumpUntil([&] { return stopped.load(); }, dog, 200s);
    stopper.join();
    ASSERT_TRUE(ended);

    // Whatever the command line wrote comes in, and every keyboard is back.
    sim::SimOf(owner.hub->Backend())->SyncFile();
    ASSERT_TRUE(
        owner.PumpUntil([&] { return owner.hub->Count() == test::kSoakKeyboards; }, dog, 60s));
    ASSERT_TRUE(test::ScanUntilTablesMatchSim(
        *owner.hub, [&](std::function<bool()> done) { return owner.PumpUntil(done, dog, 150s); }));
    test::ExpectTablesMatchSim(*owner.hub);
    std::printf("soak (core, %d s): %s\n", seconds, owner.load->Summary().c_str());
    EXPECT_GT(owner.load->Figures().keyReports.load(), 0u);
    EXPECT_EQ(owner.load->Figures().strayPlugs.load(), 0u) << "a keyboard came or went by itself";
}

}  // namespace
}  // namespace tavrik

// A key module upgrade against a simulated keyboard: how close its chunk transfer comes
// to the time the chunks' round trips need at the keyboard's reply latency.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "../tests/unit/session_test_access.h"
#include "device/keyboard_hub.h"
#include "device/session.h"
#include "sim/sim_backend.h"
#include "sim/sim_init.h"

namespace tavrik {
namespace {

class NullTarget : public NotifyTarget {
public:
    void Notify(uint32_t, uint32_t, uint32_t) override {}
};

constexpr int kKeyChunks = 224;  // 7168 bytes, 32 at a time, each acknowledged

template <typename Pred>
void PollUntil(Pred pred) {
    while (!pred()) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}

void BM_KeyUpgradeTransfer(benchmark::State& state) {
    const int latencyMs = static_cast<int>(state.range(0));
    auto keyboard = *sim::MakeInitialState(44, 0, 1, 50, 3);
    keyboard.latencyMs = latencyMs;
    auto backend = std::make_unique<sim::SimBackend>();
    backend->Attach(0, keyboard);
    NullTarget target;
    HubOptions options;
    options.scanOnAttach = false;
    options.simPauseScale = 0.0;  // only the round trips are left
    KeyboardHub hub(std::move(backend), target, options);
    hub.AttachPresent();
    CCCDev& dev = hub.Session(0);

    // Any bytes will do: the simulated modules take whatever they are sent.
    const FirmwareImagePtr image = std::make_shared<const FirmwareImage>();
    double total = 0;
    for (auto _ : state) {
        // From the first chunk queued to the last one acknowledged.
        SessionTestAccess::SetBlockAddr(dev, 0);
        dev.StartKeyUpgrade(image);
        PollUntil([&] { return SessionTestAccess::BlockAddr(dev) != 0 || dev.IsUpgrading() == 0; });
        const auto start = std::chrono::steady_clock::now();
        PollUntil([&] {
            return (SessionTestAccess::BlockAddr(dev) == kKeyChunks * 32 &&
                    SessionTestAccess::RspAck(dev) != 0) ||
                   dev.IsUpgrading() == 0;
        });
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        total += took.count();
        PollUntil([&] { return dev.IsUpgrading() == 0; });
        if (dev.GetKeyUpgradeError() != 0) {
            state.SkipWithError("the key upgrade failed");
            break;
        }
    }
    const double boundMs = kKeyChunks * static_cast<double>(latencyMs);
    state.counters["bound_ms"] = boundMs;
    state.counters["ratio"] = total * 1000.0 / static_cast<double>(state.iterations()) / boundMs;
}
BENCHMARK(BM_KeyUpgradeTransfer)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
}  // namespace tavrik

// A session against a simulated keyboard: how close a scan pass comes to the time its
// round trips need at the keyboard's reply latency, and what an idle session costs.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "device/keyboard_hub.h"
#include "device/session.h"
#include "keys/keycodes.h"
#include "sim/sim_backend.h"
#include "sim/sim_init.h"

namespace tavrik {
namespace {

class NullTarget : public NotifyTarget {
public:
    void Notify(uint32_t, uint32_t, uint32_t) override {}
};

// A keyboard of `keys` modules attached through the hub, pauses cut to nothing.
std::unique_ptr<KeyboardHub> AttachedHub(NotifyTarget& target, const sim::SimKeyboardState& kb) {
    auto backend = std::make_unique<sim::SimBackend>();
    backend->Attach(0, kb);
    HubOptions options;
    options.scanOnAttach = false;
    options.simPauseScale = 0.0;
    auto hub = std::make_unique<KeyboardHub>(std::move(backend), target, options);
    hub->AttachPresent();
    return hub;
}

struct Attached {
    NullTarget target;
    sim::SimKeyboardState keyboard;
    std::unique_ptr<KeyboardHub> hub;
    CCCDev& dev;
    int roundTrips = 0;

    Attached(int keys, int latencyMs)
        : keyboard(Keyboard(keys, latencyMs)),
          hub(AttachedHub(target, keyboard)),
          dev(hub->Session(0)) {
        // Round trips of one pass: the version query, one scan per slot, and colour and
        // version for assigned modules, version for waiting ones.
        roundTrips = 1 + static_cast<int>(kKeySlots);
        for (const auto& m : keyboard.modules) {
            if (m && m->stage == 'A') {
                roundTrips += (m->hid[0] == 0 || m->hid[0] == 0xFF) ? 1 : 2;
            }
        }
        dev.StartScanThread();
    }
    static sim::SimKeyboardState Keyboard(int keys, int latencyMs) {
        auto state = *sim::MakeInitialState(keys, 0, 1, 50, 3);
        state.latencyMs = latencyMs;
        return state;
    }
    void WaitPasses(int passes) {
        while (dev.Snapshot().scanPasses < passes) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
};

void BM_ScanPass90Modules(benchmark::State& state) {
    const int latencyMs = static_cast<int>(state.range(0));
    Attached a(90, latencyMs);
    for (auto _ : state) {
        while (a.dev.IsScanBusy()) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const int before = a.dev.Snapshot().scanPasses;
        const auto start = std::chrono::steady_clock::now();
        a.dev.RequestScan();
        a.WaitPasses(before + 2);  // a request always brings two passes
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count() / 2);
    }
    const double boundMs = a.roundTrips * static_cast<double>(latencyMs);
    state.counters["round_trips"] = a.roundTrips;
    state.counters["bound_ms"] = boundMs;
}
BENCHMARK(BM_ScanPass90Modules)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// Every assigned key of a full keyboard gets a colour: the controller does not answer
// 0x2E, so each key costs its 50 ms wait; 90 keys take about 4.5 s by design.
void BM_SetAllKeyColor90(benchmark::State& state) {
    Attached a(90, 1);
    a.dev.RequestScan();
    a.WaitPasses(2);
    uint32_t colour = 0x102030;
    for (auto _ : state) {
        a.dev.SetAllKeyColor(colour);
        colour ^= 0xF0F0F0;
    }
    state.counters["keys"] = a.dev.Snapshot().counts.assigned;
}
BENCHMARK(BM_SetAllKeyColor90)->Iterations(2)->Unit(benchmark::kMillisecond);

// What a window pays to read everything about a full keyboard at once, while the
// keyboard is scanned again and again behind it.
void BM_Snapshot90Modules(benchmark::State& state) {
    Attached a(90, 1);
    a.dev.RequestScan();
    a.WaitPasses(2);
    if (state.range(0) != 0) {
        a.dev.RequestScan();  // the table lock is shared with a running pass
    }
    int present = 0;
    for (auto _ : state) {
        const SessionSnapshot s = a.dev.Snapshot();
        present = s.counts.total;
        benchmark::DoNotOptimize(s);
    }
    state.counters["keys"] = present;
}
BENCHMARK(BM_Snapshot90Modules)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU an attached session uses while nothing happens, as a share of one core.
void BM_IdleSessionCpu(benchmark::State& state) {
    Attached a(60, 1);
    a.dev.RequestScan();
    a.WaitPasses(2);
    a.dev.Clock().SetPauseScale(1.0);
    while (a.dev.IsScanBusy()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (auto _ : state) {
        const double cpu0 = ProcessCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - t0;
        state.counters["core_percent"] = 100.0 * (ProcessCpuSeconds() - cpu0) / wall.count();
    }
}
BENCHMARK(BM_IdleSessionCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tavrik

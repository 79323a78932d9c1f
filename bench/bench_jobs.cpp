// How long a window's thread is held by the calls it makes while an all-keys colour job
// runs on a full simulated keyboard: submitting, asking for a status, taking a snapshot and
// taking the job's notifications. The window must keep painting, so each of these has to
// stay far below a frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "device/job_runner.h"
#include "device/keyboard_hub.h"
#include "device/session.h"
#include "device/session_jobs.h"
#include "sim/sim_backend.h"
#include "sim/sim_init.h"

namespace tavrik {
namespace {

using Clock = std::chrono::steady_clock;

class CountingTarget : public NotifyTarget {
public:
    void Notify(uint32_t, uint32_t, uint32_t) override { ++count; }
    int count = 0;
};

struct Longest {
    double us = 0;
    template <typename F>
    void Time(F&& f) {
        const auto start = Clock::now();
        f();
        us = std::max(us, std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
};

void BM_CallerThreadDuringAllKeysColour(benchmark::State& state) {
    auto backend = std::make_unique<sim::SimBackend>();
    auto keyboard = *sim::MakeInitialState(90, 0, 1, 50, 3);
    keyboard.latencyMs = 1;
    backend->Attach(0, keyboard);
    CountingTarget target;
    HubOptions options;
    options.scanOnAttach = false;
    KeyboardHub hub(std::move(backend), target, options);
    CCCDev& dev = hub.Session(0);
    // This thread plays the window: workers hand it their notifications.
    dev.Channel().SetOwnerThread({});
    hub.AttachPresent();
    // The key table must be filled, or there is nothing to colour.
    dev.Clock().SetPauseScale(0.01);
    dev.RequestScan();
    dev.StartScanThread();
    while (dev.IsScanBusy() != 0) {
        dev.Channel().DeliverPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    dev.Clock().SetPauseScale(1.0);
    target.count = 0;

    Longest submit, status, snapshot, deliver;
    int polls = 0;
    int keysColoured = 0;
    for (auto _ : state) {
        const uint32_t id = SubmitAllKeyColorJob(dev, 0x00F0F0F0);
        while (true) {
            std::optional<JobStatus> s;
            status.Time([&] { s = dev.Jobs().Status(id); });
            snapshot.Time([&] { benchmark::DoNotOptimize(dev.Snapshot()); });
            deliver.Time([&] { dev.Channel().DeliverPending(); });
            ++polls;
            if (!s || s->Finished()) {
                keysColoured = s ? s->done : 0;
                break;
            }
            if (polls % 50 == 0) {
                submit.Time([&] {
                    dev.Jobs().Submit("nothing", [](JobContext&) { return JobResult::Ok(); });
                });
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    hub.DetachAll();
    state.counters["keys_coloured"] = keysColoured;
    state.counters["submit_max_us"] = submit.us;
    state.counters["status_max_us"] = status.us;
    state.counters["snapshot_max_us"] = snapshot.us;
    state.counters["deliver_max_us"] = deliver.us;
    state.counters["any_max_us"] = std::max({submit.us, status.us, snapshot.us, deliver.us});
    state.counters["notifications"] = target.count;
}
BENCHMARK(BM_CallerThreadDuringAllKeysColour)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tavrik

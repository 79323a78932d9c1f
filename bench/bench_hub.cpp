// Another program changes the simulator file: how long until a running program's hub has
// the keyboard attached (or closed), through the file's monitor.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "app/keyboard_backend.h"
#include "device/keyboard_hub.h"
#include "sim/sim_backend.h"
#include "sim/sim_file.h"
#include "sim/sim_init.h"

namespace tavrik {
namespace {

class NullTarget : public NotifyTarget {
public:
    void Notify(uint32_t, uint32_t, uint32_t) override {}
};

bool SetPlugged(const std::filesystem::path& file, int index, bool plugged) {
    return sim::EditSimFile(file, [&](std::vector<sim::SimFileKeyboard>& keyboards, std::string*) {
               for (auto& k : keyboards) {
                   if (k.index == index) {
                       k.attached = plugged;
                   }
               }
               return true;
           }) == sim::SimFileError::None;
}

// Runs the program's event loop until the hub holds `count` keyboards; false after 10 s.
bool LoopUntil(KeyboardHub& hub, DeviceMonitor& monitor, int count) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (hub.Count() != count) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        hub.Handle(monitor.Wait(100));
    }
    return true;
}

void BM_SimFileChangeToAttach(benchmark::State& state) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("tavrik-bench-hub-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    const auto file = dir / "kb.json";
    auto second = *sim::MakeInitialState(60, 2, 1, 40, 2);
    second.serial = "SECOND";
    sim::WriteSimFile(
        file, {{0, true, *sim::MakeInitialState(60, 2, 1, 40, 1), {}}, {1, false, second, {}}});
    {
        NullTarget target;
        HubOptions options;
        options.scanOnAttach = false;
        std::string error;
        KeyboardHub hub(SimulatedBackend(file, false, &error), target, options);
        auto monitor = hub.MakeMonitor(&error);
        hub.AttachPresent();
        const bool plugNotUnplug = state.range(0) == 1;
        for (auto _ : state) {
            if (!plugNotUnplug && !(SetPlugged(file, 1, true) && LoopUntil(hub, *monitor, 2))) {
                state.SkipWithError("plugging in did not arrive");
                break;
            }
            const auto start = std::chrono::steady_clock::now();
            if (!SetPlugged(file, 1, plugNotUnplug) ||
                !LoopUntil(hub, *monitor, plugNotUnplug ? 2 : 1)) {
                state.SkipWithError("the change did not arrive");
                break;
            }
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            state.SetIterationTime(took.count());
            if (plugNotUnplug && !(SetPlugged(file, 1, false) && LoopUntil(hub, *monitor, 1))) {
                state.SkipWithError("unplugging did not arrive");
                break;
            }
        }
    }
    std::filesystem::remove_all(dir);
}
// Arg 1: plugging in (file edit → slot attached); arg 0: unplugging (→ slot closed).
BENCHMARK(BM_SimFileChangeToAttach)
    ->Arg(1)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

}  // namespace
}  // namespace tavrik

// The window's reaction times on simulated keyboards, headless: a key pressed on the
// keyboard until its button is shown selected, and the longest time the UI thread goes
// without looking at its events while long operations run.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <algorithm>
#include <cstdint>

#include "bench_rig.h"
#include "device/job_runner.h"
#include "device/keyboard_hub.h"
#include "device/session.h"
#include "ui/mainwnd/keyboard_view.h"
#include "ui/mainwnd/main_window.h"
#include "ui/mainwnd/my_button.h"
#include "ui/widgets/control_codes.h"

namespace {

using tavrik::bench::StallProbe;
using tavrik::bench::Window;

// From the key-down report leaving the simulated keyboard to the key button selected and
// painted.
void BM_KeyPressShownSelected(benchmark::State& state) {
    Window win(1, 60);
    win.w->Hub().Session(0).PauseScan();
    const int slot = 12;
    auto& key = win.w->View().Key(slot);
    for (auto _ : state) {
        win.sim->KeyDown(0, slot, 0, false);
        if (!Window::Until([&] { return key.Selected(); }, 5000)) {
            state.SkipWithError("the key was never shown selected");
            break;
        }
        key.repaint();
        state.PauseTiming();
        win.sim->KeyUp(0, slot, 0, 0);
        Window::Until([&] { return !key.Selected(); }, 5000);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_KeyPressShownSelected)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);

// All 90 keys one colour: a job; the window keeps looking at its events meanwhile.
void BM_AllKeysColourLongestStall(benchmark::State& state) {
    Window win(1, 90);
    win.w->Hub().Session(0).PauseScan();
    uint32_t colour = 0x00F000;
    int64_t longest = 0;
    for (auto _ : state) {
        colour ^= 0xF0F0F0;
        win.w->OnNotify(tavrik::ui::UM_CHANGE_ONE_KEY_LIGHT_COLOR, tavrik::ui::kAllKeys,
                        static_cast<int32_t>(colour));
        auto& dev = win.w->Hub().Session(0);
        Window::Until([&] { return dev.Jobs().Pending() == 0; }, 30000, &longest);
    }
    state.counters["longest_stall_ms"] = static_cast<double>(longest) / 1000.0;
}
BENCHMARK(BM_AllKeysColourLongestStall)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// A key code given from the picker: written while the UI thread waits for the keyboard.
void BM_AssignKeyStall(benchmark::State& state) {
    Window win(1, 60);
    win.w->Hub().Session(0).PauseScan();
    // A key with a plain code on layer 0 (the first module holds "A").
    const uint32_t slot = 0;
    int code = 0x41;
    for (auto _ : state) {
        code = code == 0x41 ? 0x42 : 0x41;
        if (win.w->OnNotify(tavrik::ui::UM_CHANGE_ONE_KEY_VK, slot, code) != 0) {
            state.SkipWithError("the key code was refused");
            break;
        }
    }
}
BENCHMARK(BM_AssignKeyStall)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// A key whose macro lies on another layer gets a new code or a new colour, in turns: the
// macro (64 steps here, the longest a key holds) is read back and written again by a job.
void BM_KeyRewriteLongestStall(benchmark::State& state) {
    constexpr int kSlot = 8;  // the simulated keyboard's macro key, its macro on layer 0
    Window win(1, 60, [](int, tavrik::sim::SimKeyboardState& k) {
        if (k.modules[kSlot]) {
            k.modules[kSlot]->marco = tavrik::bench::LongestMarco();
        }
    });
    auto& dev = win.w->Hub().Session(0);
    dev.PauseScan();
    win.w->OnNotify(tavrik::ui::UM_LAYER_SELECT, 0, 1);
    auto& key = win.w->View().Key(kSlot);
    StallProbe probe;
    double longest = 0;
    double busiest = 0;
    int round = 0;
    for (auto _ : state) {
        const bool code = round % 2 == 0;
        const int value =
            code ? (round % 4 == 0 ? 0x41 : 0x42) : (round % 4 == 1 ? 0x00F000 : 0xF00000);
        ++round;
        probe.Start();
        win.w->OnNotify(
            code ? tavrik::ui::UM_CHANGE_ONE_KEY_VK : tavrik::ui::UM_CHANGE_ONE_KEY_LIGHT_COLOR,
            kSlot, value);
        if (dev.Jobs().Pending() == 0) {
            state.SkipWithError("the change did not run as a job");
            break;
        }
        const bool shown = Window::Run(
            [&] {
                return dev.Jobs().Pending() == 0 &&
                       (code ? key.Vk() == value : key.Color() == static_cast<uint32_t>(value));
            },
            30000);
        probe.Stop();
        if (!shown) {
            state.SkipWithError("the key never showed its new value");
            break;
        }
        longest = std::max(longest, probe.LongestMs());
        busiest = std::max(busiest, probe.BusiestMs());
    }
    state.counters["longest_stall_ms"] = longest;
    state.counters["busiest_ms"] = busiest;
}
BENCHMARK(BM_KeyRewriteLongestStall)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(6);

// A keyboard pulled out: its session closes on the UI thread.
void BM_UnplugStall(benchmark::State& state) {
    Window win(2, 60);
    for (auto _ : state) {
        win.sim->Detach(1);
        Window::Until(
            [&] {
                win.w->ProcessDeviceEvents();
                return !win.w->Hub().IsAttached(1);
            },
            10000);
        state.PauseTiming();
        win.sim->Attach(1);
        Window::Until(
            [&] {
                win.w->ProcessDeviceEvents();
                return win.w->Hub().IsAttached(1);
            },
            10000);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_UnplugStall)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

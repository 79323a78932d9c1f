// The window's reaction times on simulated keyboards, headless: a key pressed on the
// keyboard until its button is shown selected, and the longest time the UI thread goes
// without looking at its events while long operations run.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/app_globals.h"
#include "app/keyboard_backend.h"
#include "device/job_runner.h"
#include "device/keyboard_hub.h"
#include "device/session.h"
#include "sim/sim_backend.h"
#include "sim/sim_init.h"
#include "ui/keypicker/key_button.h"
#include "ui/mainwnd/keyboard_view.h"
#include "ui/mainwnd/main_window.h"
#include "ui/widgets/control_codes.h"

namespace {

using tavrik::KeyboardHub;
using tavrik::ui::CTavrikDlg;

// The window on `keyboards` simulated keyboards of `keys` modules each, in folders of its
// own; waits until the first keyboard's keys are shown.
struct Window {
    std::filesystem::path folder;
    std::unique_ptr<CTavrikDlg> w;
    tavrik::sim::SimBackend* sim = nullptr;

    Window(int keyboards, int keys) {
        folder = std::filesystem::temp_directory_path() /
                 ("tavrik-bench-window-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        ::setenv("LOCALAPPDATA", (folder / "local").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
        tavrik::g_strLanguage = "en";
        const auto file = folder / "keyboards.json";
        {
            tavrik::sim::SimBackend maker;
            for (int i = 0; i < keyboards; ++i) {
                maker.Attach(i, *tavrik::sim::MakeInitialState(keys, 2, 1, 40, 7 + i));
            }
            maker.SaveSimFile(file);
        }
        std::string error;
        auto backend = SimulatedBackend(file, false, &error);
        sim = backend.get();
        w = std::make_unique<CTavrikDlg>();
        tavrik::ui::MainWindowSetup setup;
        setup.backend = std::move(backend);
        setup.dataFolder = folder / "data";
        setup.askLanguage = false;
        w->Init(std::move(setup));
        w->show();
        Until([&] { return w->View().KeysShown(); }, 30000);
    }
    ~Window() {
        w.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    // Runs the event loop until `done`; the longest gap between two looks at the events,
    // in microseconds, goes to `longestGapUs`.
    static bool Until(const std::function<bool()>& done, int limitMs,
                      int64_t* longestGapUs = nullptr) {
        QElapsedTimer timer;
        timer.start();
        int64_t last = timer.nsecsElapsed();
        while (!done()) {
            if (timer.elapsed() > limitMs) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            const int64_t now = timer.nsecsElapsed();
            if (longestGapUs != nullptr) {
                *longestGapUs = std::max(*longestGapUs, (now - last) / 1000);
            }
            last = now;
        }
        return true;
    }
};

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

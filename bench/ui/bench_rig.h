// What the window's benchmarks start from: the window headless on simulated keyboards at
// the real clock, in folders of its own; a timer that measures how late the UI thread
// comes back to its events; a mouse click without QtTest.
#pragma once

#include <unistd.h>

#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/app_globals.h"
#include "app/keyboard_backend.h"
#include "device/keyboard_hub.h"
#include "macro/marco_steps.h"
#include "sim/sim_backend.h"
#include "sim/sim_init.h"
#include "ui/mainwnd/keyboard_view.h"
#include "ui/mainwnd/main_window.h"

namespace tavrik::bench {

// The window on `keyboards` simulated keyboards of `keys` modules each, in folders of its
// own; waits until the first keyboard's keys are shown. `tweak` may change each
// keyboard before the window starts.
struct Window {
    std::filesystem::path folder;
    std::unique_ptr<ui::CTavrikDlg> w;
    sim::SimBackend* sim = nullptr;

    Window(int keyboards, int keys,
           const std::function<void(int, sim::SimKeyboardState&)>& tweak = {}) {
        folder = std::filesystem::temp_directory_path() /
                 ("tavrik-bench-window-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        ::setenv("LOCALAPPDATA", (folder / "local").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
        g_strLanguage = "en";
        const auto file = folder / "keyboards.json";
        {
            sim::SimBackend maker;
            for (int i = 0; i < keyboards; ++i) {
                auto state = *sim::MakeInitialState(keys, 2, 1, 40, 7 + i);
                if (tweak) {
                    tweak(i, state);
                }
                maker.Attach(i, std::move(state));
            }
            maker.SaveSimFile(file);
        }
        std::string error;
        auto backend = tavrik::SimulatedBackend(file, false, &error);
        sim = backend.get();
        w = std::make_unique<ui::CTavrikDlg>();
        ui::MainWindowSetup setup;
        setup.backend = std::move(backend);
        setup.dataFolder = folder / "data";
        setup.askLanguage = false;
        setup.onlineUpdate = false;
        w->Init(std::move(setup));
        w->show();
        Until([&] { return w->View().KeysShown(); }, 30000);
    }
    ~Window() {
        w.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    // Runs the event loop as the program's own does, asleep until an event comes (a loop
    // that spins would take a core from the sessions' threads on a small machine), until
    // `done`, looked at least every millisecond.
    static bool Run(const std::function<bool()>& done, int limitMs) {
        QElapsedTimer timer;
        timer.start();
        QTimer tick;
        tick.start(1);
        while (!done()) {
            if (timer.elapsed() > limitMs) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
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

// A timer on the UI thread that measures its own lateness: the longest time beyond its
// interval between two of its ticks since Start. It sees every stall, also those inside a
// nested event loop or a synchronous handler that Until's own loop would not. Beside it,
// the most CPU time the UI thread used between two ticks: on a loaded machine a stall may
// be a thread that waited for a core, which the CPU time tells apart from work.
class StallProbe {
public:
    explicit StallProbe(int intervalMs = 2) : intervalNs_(int64_t{intervalMs} * 1000000) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(intervalMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    }
    // Starts (again) from now, forgetting what was seen before.
    void Start() {
        clock_.start();
        last_ = 0;
        lastCpu_ = ThreadCpuNs();
        longestNs_ = 0;
        busiestNs_ = 0;
        timer_.start();
    }
    // Counts the time since the last tick, then stops.
    void Stop() {
        Tick();
        timer_.stop();
    }
    double LongestMs() const { return static_cast<double>(longestNs_) / 1e6; }
    double BusiestMs() const { return static_cast<double>(busiestNs_) / 1e6; }

private:
    static int64_t ThreadCpuNs() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
    }
    void Tick() {
        const int64_t now = clock_.nsecsElapsed();
        const int64_t cpu = ThreadCpuNs();
        longestNs_ = std::max(longestNs_, now - last_ - intervalNs_);
        busiestNs_ = std::max(busiestNs_, cpu - lastCpu_);
        last_ = now;
        lastCpu_ = cpu;
    }

    const int64_t intervalNs_;
    QTimer timer_;
    QElapsedTimer clock_;
    int64_t last_ = 0;
    int64_t lastCpu_ = 0;
    int64_t longestNs_ = 0;
    int64_t busiestNs_ = 0;
};

// A left click in the middle of `w`, as the mouse would give it.
inline void Click(QWidget* w) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    const QPointF global = w->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

// The longest macro a key holds: 32 taps, 64 steps.
inline sim::SimMarco LongestMarco() {
    MarcoSteps steps;
    for (int i = 0; i < kMarcoMaxSteps / 2; ++i) {
        const auto hid = static_cast<uint8_t>(0x04 + i % 26);  // a..z
        steps.Append({MarcoFlag::KeyDown, hid, kMarcoDefaultDelay});
        steps.Append({MarcoFlag::KeyUp, hid, kMarcoDefaultDelay});
    }
    return sim::SingleShotMarco(steps);
}

}  // namespace tavrik::bench

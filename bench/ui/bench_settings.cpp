// The settings window's figures on simulated keyboards, headless: the gear click until the
// window is painted, the UI thread's longest stall while its changes are applied and
// during a key module upgrade started from it, and how long the online update's threads
// take to end when the window goes while they wait.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "bench_rig.h"
#include "device/job_runner.h"
#include "device/keyboard_hub.h"
#include "device/session.h"
#include "firmware_test_image.h"
#include "http_test_server.h"
#include "ui/settings/setup_dlg.h"
#include "ui/widgets/check_button.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/selectors.h"
#include "ui/widgets/text_buttons.h"
#include "ui_test_util.h"
#include "update/digest.h"
#include "update/update_config.h"
#include "update/update_service.h"

namespace {

using tavrik::bench::Click;
using tavrik::bench::StallProbe;
using tavrik::bench::Window;
using tavrik::ui::CSetupDlg;

constexpr quint32 kScanLShift = 42 + 8;

// The left Shift held on the main window: the settings window opens in manual mode.
void HoldLeftShift(QWidget* window) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier, kScanLShift, 0, 0);
    QApplication::sendEvent(window, &press);
}

// Ends the settings window once it has painted its first frame, and tells when: the
// close is queued during the paint, so it runs once the whole window has been drawn.
class ClosedWhenPainted : public QObject {
public:
    explicit ClosedWhenPainted(const QElapsedTimer& clock) : clock_(clock) {
        qApp->installEventFilter(this);
    }
    ~ClosedWhenPainted() override { qApp->removeEventFilter(this); }
    void Reset() {
        paintedNs_ = -1;
        queued_ = false;
    }
    int64_t PaintedNs() const { return paintedNs_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !queued_) {
            if (auto* dlg = qobject_cast<CSetupDlg*>(watched)) {
                queued_ = true;
                QTimer::singleShot(0, dlg, [this, dlg] {
                    paintedNs_ = clock_.nsecsElapsed();
                    dlg->close();
                });
            }
        }
        return false;
    }

private:
    const QElapsedTimer& clock_;
    int64_t paintedNs_ = -1;
    bool queued_ = false;
};

// The gear button clicked until the settings window has painted its first frame; the
// window runs modally as for the user. The first open of the process (pictures not yet
// loaded) is kept apart.
void BM_GearClickToSettingsPainted(benchmark::State& state) {
    static double firstOpenMs = -1;
    Window win(1, 60);
    QElapsedTimer clock;
    ClosedWhenPainted closer(clock);
    for (auto _ : state) {
        closer.Reset();
        clock.start();
        Click(&win.w->SettingsButton());
        if (closer.PaintedNs() < 0) {
            state.SkipWithError("the settings window was never painted");
            break;
        }
        const double ms = static_cast<double>(closer.PaintedNs()) / 1e6;
        state.SetIterationTime(ms / 1000.0);
        if (firstOpenMs < 0) {
            firstOpenMs = ms;
        }
        // The main window comes back to the front before the next click.
        Window::Run([] { return false; }, 20);
    }
    state.counters["first_open_ms"] = firstOpenMs;
}
BENCHMARK(BM_GearClickToSettingsPainted)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

// Overload mode, full-key rollover and the report interval changed in the settings window,
// applied when it closes: the UI thread from the close until the status line says the
// settings are applied.
void BM_SettingsApplyLongestStall(benchmark::State& state) {
    Window win(1, 60);
    tavrik::ui::test::PromptAnswers answers;  // Yes to the overload warning
    auto& dev = win.w->Hub().Session(0);
    StallProbe probe;
    double longest = 0;
    double busiest = 0;
    for (auto _ : state) {
        CSetupDlg::SetExecHook([&](CSetupDlg& dlg) {
            Click(dlg.Switch(tavrik::ui::kSwitchOverload));
            Click(dlg.Switch(tavrik::ui::kSwitchNkro));
            Click(dlg.RateSelector());
            probe.Start();
            Click(dlg.CloseButton());
        });
        Click(&win.w->SettingsButton());
        CSetupDlg::SetExecHook({});
        // A scan may show in the status line meanwhile; the job's end text comes after it.
        const bool ended = Window::Run(
            [&] {
                const QString said = win.w->StatusText();
                return dev.Jobs().Pending() == 0 && !said.startsWith("Applying the settings") &&
                       !said.startsWith("Scanning");
            },
            60000);
        probe.Stop();
        if (!ended || !win.w->StatusText().startsWith("The settings of keyboard 1 are applied")) {
            state.SkipWithError(
                ("the settings were not applied: " + win.w->StatusText().toStdString()).c_str());
            break;
        }
        longest = std::max(longest, probe.LongestMs());
        busiest = std::max(busiest, probe.BusiestMs());
    }
    state.counters["longest_stall_ms"] = longest;
    state.counters["busiest_ms"] = busiest;
}
BENCHMARK(BM_SettingsApplyLongestStall)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// A key module upgrade of 90 modules from the settings window in manual mode, from the
// click on its button (the file read and checked, the confirmation) through the transfer
// and the progress polls to the end of the scan it asks for.
void BM_KeyUpgrade90LongestStall(benchmark::State& state) {
    Window win(1, 90);
    tavrik::ui::test::PromptAnswers answers;
    const auto image = win.folder / "ZPN31-image.bin";
    {
        const auto bytes = tavrik::testing::GoodImage();
        std::ofstream(image, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    }
    auto& dev = win.w->Hub().Session(0);
    StallProbe probe;
    double longest = 0;
    double busiest = 0;
    for (auto _ : state) {
        answers.firmwareFiles = {QString::fromStdString(image.string())};
        answers.messages.clear();
        bool ended = false;
        bool done = false;  // in manual mode the button says so, no message
        CSetupDlg::SetExecHook([&](CSetupDlg& dlg) {
            auto* button = dlg.ActionButton(tavrik::ui::kCmdUpgradeKeys);
            if (button == nullptr) {
                return;
            }
            // The user sees the window drawn before clicking in it.
            dlg.repaint();
            Window::Run([] { return false; }, 100);
            probe.Start();
            Click(button);
            ended =
                dlg.UpgradeRunning() && Window::Run([&] { return !dlg.UpgradeRunning(); }, 300000);
            done = button->text() == "Done";
            // The scan it asked for, with 90 modules' replies shown.
            const int passes = dev.Snapshot().scanPasses;
            ended = ended && Window::Run([&] { return dev.Snapshot().scanPasses > passes; }, 30000);
            probe.Stop();
        });
        HoldLeftShift(win.w.get());
        Click(&win.w->SettingsButton());
        CSetupDlg::SetExecHook({});
        if (!ended || !done) {
            const std::string said =
                answers.messages.empty() ? "nothing" : answers.messages.back().toStdString();
            state.SkipWithError(("the upgrade did not run to its end: " +
                                 std::string(ended ? "" : "no end seen, ") + "said " + said)
                                    .c_str());
            break;
        }
        longest = std::max(longest, probe.LongestMs());
        busiest = std::max(busiest, probe.BusiestMs());
    }
    state.counters["longest_stall_ms"] = longest;
    state.counters["busiest_ms"] = busiest;
}
BENCHMARK(BM_KeyUpgrade90LongestStall)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// A local update server naming newer firmware, and the update's pauses shortened so its
// rounds come quickly; the stop is not shortened by them.
struct UpdateServer {
    std::filesystem::path www;
    std::unique_ptr<tavrik::test::HttpTestServer> server;

    explicit UpdateServer(const std::filesystem::path& folder) : www(folder / "www") {
        std::filesystem::create_directories(www / "Update");
        const auto image = tavrik::testing::GoodImage();
        std::ofstream(www / "fw.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<long>(image.size()));
        const std::string md5 =
            tavrik::Md5Hex(std::string(reinterpret_cast<const char*>(image.data()), image.size()))
                .value_or("");
        const std::string fw = std::to_string(1u << 24 | 99u << 16 | 9u << 8 | 9u);
        std::ofstream(www / "Update" / "second_latest_version.txt")
            << "[upgrade_config]\r\nLatestAppVersion=10\r\nLatestFwVersion=" << fw
            << "\r\nFwURL=/fw.bin\r\nFwMd5=" << md5 << "\r\nZPN31LatestFwVersion=" << fw
            << "\r\nZPN31FwURL=/fw.bin\r\nZPN31FwMd5=" << md5 << "\r\n";
        server = std::make_unique<tavrik::test::HttpTestServer>(www, std::chrono::seconds(600));
    }

    void Start(Window& win) const {
        tavrik::UpdateConfig config = tavrik::LoadUpdateConfig(win.folder / "data");
        config.server = server->Url();
        config.connectTimeoutS = 5;
        tavrik::UpdateTimings t;
        t.retryMs = 200;
        t.scanPollMs = 50;
        t.keyboardPollMs = 50;
        t.settingsPollMs = 50;
        t.promptPauseMs = 10;
        win.w->StartUpdates(config, t);
    }
};

// The window going (StopUpdates, as its close and its end do) while the prompt thread
// waits for its next wake after a whole check: until both threads have ended.
void BM_UpdateStopWhileSuspended(benchmark::State& state) {
    Window win(1, 6);
    tavrik::ui::test::PromptAnswers answers;
    answers.yes = false;
    const UpdateServer server(win.folder);
    for (auto _ : state) {
        state.PauseTiming();
        server.Start(win);
        const bool waiting = Window::Run(
            [&] {
                tavrik::OnlineUpdateService* u = win.w->Updates();
                return u->State().latestZpn31 != 0 && u->PromptRounds() > 0 &&
                       u->IsPromptSuspended();
            },
            60000);
        state.ResumeTiming();
        if (!waiting) {
            state.SkipWithError("the update check never ended");
            break;
        }
        win.w->StopUpdates();
    }
}
BENCHMARK(BM_UpdateStopWhileSuspended)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The window going while the prompt's question is shown (the exit comes from inside the
// question, as the tray's or a signal's would): until both threads have ended.
void BM_UpdateStopDuringQuestion(benchmark::State& state) {
    Window win(1, 6);
    tavrik::ui::test::PromptAnswers answers;
    const UpdateServer server(win.folder);
    QElapsedTimer clock;
    double stopMs = -1;
    for (auto _ : state) {
        stopMs = -1;
        tavrik::ui::UiPrompts::SetQuestionHook([&](QWidget*, const QString&) {
            clock.start();
            win.w->StopUpdates();
            stopMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            return true;
        });
        win.w->show();
        win.w->activateWindow();
        server.Start(win);
        const bool stopped = Window::Run(
            [&] {
                if (stopMs < 0 && win.w->Updates() != nullptr &&
                    win.w->Updates()->IsPromptSuspended()) {
                    // A keyboard's scan settled: the prompt thread looks again.
                    win.w->OnNotify(tavrik::UM_INFO_UPDATE_CHECK, 0, 0);
                }
                return stopMs >= 0;
            },
            60000);
        tavrik::ui::UiPrompts::SetQuestionHook([](QWidget*, const QString&) { return false; });
        if (!stopped || win.w->Updates() != nullptr) {
            state.SkipWithError("the question was never asked");
            break;
        }
        state.SetIterationTime(stopMs / 1000.0);
    }
}
BENCHMARK(BM_UpdateStopDuringQuestion)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

}  // namespace

// The main window on simulated keyboards, headless, with a shortened clock and folders of
// its own: what the window tests start from.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/app_globals.h"
#include "app/keyboard_backend.h"
#include "device/keyboard_hub.h"
#include "keyboard_rig.h"
#include "sim/sim_backend.h"
#include "sim/sim_init.h"
#include "ui/mainwnd/main_window.h"
#include "ui/settings/setup_dlg.h"

namespace tavrik::ui::test {

// Runs the event loop until `done` or `limit`; true when done.
inline bool Until(const std::function<bool()>& done,
                  std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

struct WindowRig {
    tavrik::test::TempFolder tmp;
    std::unique_ptr<CTavrikDlg> window;
    sim::SimBackend* sim = nullptr;
    std::filesystem::path simFile;

    // `keys` modules on each of `keyboards` simulated keyboards. `settings`: the text of
    // the settings file to start with (none: the first run); `autoBoot`: started by the
    // autostart entry.
    // `tweak` may change each keyboard's state before the window starts, `adjust` what
    // the window starts with.
    explicit WindowRig(int keyboards = 1, int keys = 60, const std::string& settings = {},
                       bool autoBoot = false,
                       const std::function<void(int, sim::SimKeyboardState&)>& tweak = {},
                       const std::function<void(MainWindowSetup&)>& adjust = {}) {
        ::setenv("LOCALAPPDATA", (tmp.path / "local").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (tmp.path / "config").c_str(), 1);
        g_strLanguage = "en";
        g_nLanguage = 0;  // unsettled until the settings file says; a test may have set it
        g_bAppExit = 0;
        simFile = tmp.path / "keyboards.json";
        if (!settings.empty()) {
            std::filesystem::create_directories(tmp.path / "data");
            std::ofstream(tmp.path / "data" / "ccsetup.ini") << settings;
        }
        {
            sim::SimBackend maker;
            for (int i = 0; i < keyboards; ++i) {
                sim::SimKeyboardState state =
                    *sim::MakeInitialState(keys, 2, 1, 40, static_cast<uint32_t>(i + 1));
                if (tweak) {
                    tweak(i, state);
                }
                maker.Attach(i, std::move(state));
            }
            EXPECT_EQ(maker.SaveSimFile(simFile), sim::SimFileError::None);
        }
        std::string error;
        auto backend = SimulatedBackend(simFile, false, &error);
        EXPECT_TRUE(backend) << error;
        sim = backend.get();
        window = std::make_unique<CTavrikDlg>();
        MainWindowSetup setup;
        setup.backend = std::move(backend);
        setup.simPauseScale = 0.02;
        setup.simReplySlackMs = 500;
        setup.dataFolder = tmp.path / "data";
        setup.askLanguage = false;
        setup.autoBoot = autoBoot;
        setup.onlineUpdate = false;
        if (adjust) {
            adjust(setup);
        }
        // On the shortened clock an upgrade's polls come that much faster, but a loaded
        // machine still needs the upgrade's real time: give it the polls that time holds.
        if (setup.simPauseScale > 0) {
            CSetupDlg::SetUpgradePollLimit(
                static_cast<int>(CSetupDlg::kUpgradePollLimit / setup.simPauseScale));
        }
        window->Init(std::move(setup));
    }

    ~WindowRig() { window.reset(); }

    CTavrikDlg& W() { return *window; }

    // Hands the simulated keyboards' arrivals and removals to the window until `done`.
    bool UntilDevices(const std::function<bool()>& done) {
        return Until([&] {
            W().ProcessDeviceEvents();
            return done();
        });
    }

    // The selected keyboard's scan has shown its keys.
    bool UntilKeysShown() {
        return Until([this] { return W().StatusText().startsWith("Key modules:"); });
    }
};

}  // namespace tavrik::ui::test

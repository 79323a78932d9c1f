// The main window under the soak load (soak_load.h): its UI thread follows four busy
// keyboards, modules and cables coming and going, while the command line works on the same
// simulator file; at the end every keyboard's table is the simulated keyboard's.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "device/session_jobs.h"
#include "soak_load.h"
#include "ui_test_util.h"
#include "window_rig.h"

namespace tavrik::ui {
namespace {

using namespace std::chrono_literals;

TEST(SoakWindow, FourKeyboardsUnderLoadEndWithTheirTablesRight) {
    const int seconds = tavrik::test::SoakSeconds();
    const uint32_t seed = tavrik::test::SoakSeed();
    tavrik::test::SetSoakCliEnvironment();
    test::PromptAnswers prompts;
    test::WindowRig rig(tavrik::test::kSoakKeyboards, tavrik::test::kSoakKeys);
    KeyboardHub& hub = rig.W().Hub();
    ASSERT_TRUE(test::Until([&] { return hub.Count() == tavrik::test::kSoakKeyboards; }));
    tavrik::test::SoakLoad load(*rig.sim, rig.simFile, seed);
    tavrik::test::SoakWatchdog dog(load, 90s);
    const auto beat = [&](const std::function<bool()>& done) {
        return [&dog, done] {
            dog.Beat("a turn of the window's event loop");
            return done();
        };
    };

    load.Start();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    test::Until(beat([&] { return std::chrono::steady_clock::now() >= end; }),
                std::chrono::seconds(seconds + 5));
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        load.Stop();
        stopped = true;
    });
    const bool ended = test::Until(beat([&] { return stopped.load(); }), 200s);
    stopper.join();
    ASSERT_TRUE(ended);

    rig.sim->SyncFile();
    ASSERT_TRUE(
        test::Until(beat([&] { return hub.Count() == tavrik::test::kSoakKeyboards; }), 60s));
    ASSERT_TRUE(tavrik::test::ScanUntilTablesMatchSim(
        hub, [&](std::function<bool()> done) { return test::Until(beat(done), 150s); }));
    tavrik::test::ExpectTablesMatchSim(hub);
    std::printf("soak (window, %d s): %s\n", seconds, load.Summary().c_str());
    EXPECT_GT(load.Figures().keyReports.load(), 0u);
    EXPECT_EQ(load.Figures().strayPlugs.load(), 0u) << "a keyboard came or went by itself";
}

}  // namespace
}  // namespace tavrik::ui

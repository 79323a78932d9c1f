// The load of the soak tests: four simulated keyboards in one file, each sending key
// presses at about 1000 reports a second, modules pulled and put back, keyboards unplugged
// and plugged in at random, and meanwhile the command line (tavrikctl run in-process, a
// program of its own on the same simulator file) scanning and writing keys. The owner
// of the keyboards (a window, or a test thread standing in for one) runs beside it; the
// soak ends with every keyboard plugged in and scanned once more, and its key table must
// then be the simulated keyboard's.
//
// TAVRIK_SOAK_SECONDS sets the length (default 60), TAVRIK_SOAK_SEED the seed (printed).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli_test_util.h"
#include "device/keyboard_hub.h"
#include "device/session_jobs.h"
#include "sim/sim_backend.h"
#include "sim/sim_init.h"

namespace tavrik::test {

inline constexpr int kSoakKeyboards = 4;
inline constexpr int kSoakKeys = 30;
inline constexpr int kSoakReportsPerSecond = 1000;  // per keyboard, downs and ups together
// Longer than any operation's own limit (a scan job gives up after two minutes).
inline constexpr auto kSoakOperationLimit = std::chrono::seconds(170);

inline int SoakSeconds() {
    const char* text = std::getenv("TAVRIK_SOAK_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : 60;
    return seconds > 0 ? seconds : 60;
}

inline uint32_t SoakSeed() {
    const char* text = std::getenv("TAVRIK_SOAK_SEED");
    const uint32_t seed = text != nullptr ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10))
                                          : std::random_device{}();
    std::printf("soak seed %u (TAVRIK_SOAK_SEED=%u repeats it)\n", seed, seed);
    std::fflush(stdout);
    return seed;
}

// Four keyboards of `kSoakKeys` modules in `file`.
inline void MakeSoakFile(const std::filesystem::path& file) {
    sim::SimBackend maker;
    for (int i = 0; i < kSoakKeyboards; ++i) {
        auto state = *sim::MakeInitialState(kSoakKeys, 0, 1, 50, static_cast<uint32_t>(i + 1));
        state.latencyMs = 0;
        state.serial = "SOAK0000000" + std::to_string(i);
        maker.Attach(i, state);
    }
    ASSERT_EQ(maker.SaveSimFile(file), sim::SimFileError::None);
}

// The pause scale and reply slack of the command line's hub (read from its environment).
inline void SetSoakCliEnvironment() {
    ::setenv("TAVRIK_SIM_PAUSE_SCALE", "0.02", 1);
    ::setenv("TAVRIK_SIM_REPLY_SLACK_MS", "500", 1);
}

struct SoakFigures {
    std::atomic<uint64_t> keyReports{0};  // key-down and key-up reports sent
    std::atomic<uint64_t> moduleEvents{0};
    std::atomic<uint64_t> unplugs{0};
    std::atomic<uint64_t> plugs{0};
    std::atomic<uint64_t> strayPlugs{0};  // keyboards that came or went by themselves
    std::atomic<uint64_t> cliScans{0};
    std::atomic<uint64_t> cliScansOk{0};
    std::atomic<uint64_t> cliKeys{0};
    std::atomic<uint64_t> cliKeysOk{0};
    std::atomic<uint64_t> notifications{0};  // handled by the owner
    std::atomic<uint64_t> deviceEvents{0};   // arrivals and removals the owner handed on
};

// The load on `backend` (the owner's simulated keyboards, bound to `file`) on threads of
// its own, until Stop.
class SoakLoad {
public:
    SoakLoad(sim::SimBackend& backend, std::filesystem::path file, uint32_t seed)
        : backend_(backend), file_(std::move(file)), seed_(seed) {}
    ~SoakLoad() { Stop(); }

    void Start() {
        threads_.emplace_back([this] { Presses(); });
        threads_.emplace_back([this] { Events(); });
        threads_.emplace_back([this] { CommandLine(); });
    }
    void Stop() {
        stop_ = true;
        for (auto& t : threads_) {
            if (t.joinable()) {
                t.join();
            }
        }
        threads_.clear();
    }

    SoakFigures& Figures() { return figures_; }

    // What the command line has been doing for longer than any limit allows, or nothing.
    std::optional<std::string> Stuck() const {
        std::lock_guard lock(mu_);
        if (current_.empty() || std::chrono::steady_clock::now() - since_ < kSoakOperationLimit) {
            return std::nullopt;
        }
        return current_;
    }

    std::string Summary() const {
        const auto& f = figures_;
        std::string text = "key reports " + std::to_string(f.keyReports) + ", module events " +
                           std::to_string(f.moduleEvents) + ", unplugs " +
                           std::to_string(f.unplugs) + ", plugs " + std::to_string(f.plugs) +
                           " (stray " + std::to_string(f.strayPlugs) + "), tavrikctl scans " +
                           std::to_string(f.cliScansOk) + "/" + std::to_string(f.cliScans) +
                           " ok, set-keys " + std::to_string(f.cliKeysOk) + "/" +
                           std::to_string(f.cliKeys) + " ok";
        if (f.notifications > 0) {  // counted where the test is the owner
            text += ", notifications handled " + std::to_string(f.notifications) +
                    ", device events " + std::to_string(f.deviceEvents);
        }
        return text;
    }

private:
    // Each keyboard's reports paced to the clock, in small bursts.
    void Presses() {
        std::mt19937 rng(seed_);
        const auto start = std::chrono::steady_clock::now();
        std::array<uint64_t, kSoakKeyboards> sent{};
        while (!stop_) {
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const auto due = static_cast<uint64_t>(elapsed * kSoakReportsPerSecond / 2);
            for (int i = 0; i < kSoakKeyboards; ++i) {
                auto& n = sent[static_cast<size_t>(i)];
                // A keyboard that was away does not make up for it all at once.
                n = std::max(n, due > 50 ? due - 50 : 0);
                for (; n < due; ++n) {
                    const auto slot = static_cast<uint8_t>(rng() % kSoakKeys);
                    figures_.keyReports += backend_.KeyDown(i, slot, 0, false) ? 1 : 0;
                    figures_.keyReports += backend_.KeyUp(i, slot, 0, 0) ? 1 : 0;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    // Modules out and back in, keyboards unplugged and plugged in.
    void Events() {
        std::mt19937 rng(seed_ + 1);
        std::array<std::optional<std::pair<uint8_t, sim::SimModule>>, kSoakKeyboards> out{};
        std::array<bool, kSoakKeyboards> plugged{true, true, true, true};
        while (!stop_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20 + rng() % 60));
            const int i = static_cast<int>(rng() % kSoakKeyboards);
            auto& pulled = out[static_cast<size_t>(i)];
            const unsigned roll = rng() % 100;
            for (int k = 0; k < kSoakKeyboards; ++k) {
                if (backend_.IsAttached(k) != plugged[static_cast<size_t>(k)]) {
                    ++figures_.strayPlugs;
                    plugged[static_cast<size_t>(k)] = !plugged[static_cast<size_t>(k)];
                }
            }
            if (roll < 6) {
                if (backend_.IsAttached(i)) {
                    figures_.unplugs += backend_.Detach(i) ? 1 : 0;
                } else {
                    figures_.plugs += backend_.Attach(i) ? 1 : 0;
                }
                plugged[static_cast<size_t>(i)] = backend_.IsAttached(i);
            } else if (pulled) {
                const auto& [slot, m] = *pulled;
                if (backend_.InsertModule(i, slot, m.uid, m.shortMac, m.hid, m.flag)) {
                    ++figures_.moduleEvents;
                }
                pulled.reset();
            } else if (const auto state = backend_.StateOf(i); state && backend_.IsAttached(i)) {
                const auto slot = static_cast<uint8_t>(rng() % kSoakKeys);
                if (const auto& m = state->modules[slot]; m && backend_.RemoveModule(i, slot)) {
                    ++figures_.moduleEvents;
                    pulled = std::make_pair(slot, *m);
                }
            }
        }
        // Everything back where it was, for the final comparison.
        for (int i = 0; i < kSoakKeyboards; ++i) {
            if (!backend_.IsAttached(i)) {
                figures_.plugs += backend_.Attach(i) ? 1 : 0;
            }
            if (const auto& pulled = out[static_cast<size_t>(i)]) {
                const auto& [slot, m] = *pulled;
                figures_.moduleEvents +=
                    backend_.InsertModule(i, slot, m.uid, m.shortMac, m.hid, m.flag) ? 1 : 0;
            }
        }
    }

    // tavrikctl's scan and set-key, one command after another, on a random keyboard.
    void CommandLine() {
        std::mt19937 rng(seed_ + 2);
        const std::string simulate = "--simulate=" + file_.string();
        while (!stop_) {
            const std::string device = "--device=" + std::to_string(rng() % kSoakKeyboards);
            std::vector<std::string> args;
            const bool scan = rng() % 2 == 0;
            if (scan) {
                args = {simulate, device, "scan"};
            } else {
                const std::string key(1, static_cast<char>('A' + rng() % 26));
                args = {simulate, device, "set-key", std::to_string(rng() % kSoakKeys), "0", key};
            }
            const std::string what = "tavrikctl " + args[1] + " " + args[2];
            {
                std::lock_guard lock(mu_);
                current_ = what;
                since_ = std::chrono::steady_clock::now();
            }
            const auto result = testing::RunCtl(args);
            const int status = result.status;
            {
                std::lock_guard lock(mu_);
                current_.clear();
            }
            (scan ? figures_.cliScans : figures_.cliKeys) += 1;
            (scan ? figures_.cliScansOk : figures_.cliKeysOk) += status == 0 ? 1 : 0;
            // 0 done, 1 refused or the keyboard went away; anything else is a fault.
            EXPECT_TRUE(status == 0 || status == 1) << what << ": exit " << status;
            std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 50));
        }
    }

    sim::SimBackend& backend_;
    const std::filesystem::path file_;
    const uint32_t seed_;
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
    SoakFigures figures_;
    mutable std::mutex mu_;
    std::string current_;
    std::chrono::steady_clock::time_point since_;
};

// Ends the test program when the owner has not come back for `limit`, or the command
// line's operation outlived every limit: a hang shows as a failure with its place, rather
// than as a test killed by the runner's timeout without a word.
class SoakWatchdog {
public:
    SoakWatchdog(const SoakLoad& load, std::chrono::seconds limit) : load_(load), limit_(limit) {
        Beat("start");
        thread_ = std::thread([this] { Watch(); });
    }
    ~SoakWatchdog() {
        {
            std::lock_guard lock(mu_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    SoakWatchdog(const SoakWatchdog&) = delete;
    SoakWatchdog& operator=(const SoakWatchdog&) = delete;

    // The owner is alive, at `where`.
    void Beat(const char* where) {
        std::lock_guard lock(mu_);
        where_ = where;
        beat_ = std::chrono::steady_clock::now();
    }

private:
    void Watch() {
        std::unique_lock lock(mu_);
        while (!cv_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) {
            std::string stuck;
            if (std::chrono::steady_clock::now() - beat_ > limit_) {
                stuck = std::string("the owner thread, after ") + where_;
            } else if (const auto cli = load_.Stuck()) {
                stuck = *cli;
            }
            if (!stuck.empty()) {
                std::fprintf(stderr, "soak: no progress in %s\n", stuck.c_str());
                std::fflush(stderr);
                std::abort();
            }
        }
    }

    const SoakLoad& load_;
    const std::chrono::seconds limit_;
    std::mutex mu_;
    std::condition_variable cv_;
    bool stop_ = false;
    const char* where_ = "";
    std::chrono::steady_clock::time_point beat_;
    std::thread thread_;
};

// Whether every attached slot's key table equals the simulated keyboard behind it, without
// failing the test: for waiting until late changes of the shared file have settled. The
// first difference is printed, so a run that needed another pass says why.
inline bool TablesMatchSim(KeyboardHub& hub) {
    sim::SimBackend& backend = *sim::SimOf(hub.Backend());
    for (int slot = 0; slot < kHubSlots; ++slot) {
        if (!hub.IsAttached(slot)) {
            std::printf("soak: hub slot %d not attached\n", slot);
            return false;
        }
        for (int i = 0; i < kSoakKeyboards; ++i) {
            if (backend.VendorPath(i) != hub.Transport(slot).m_strPath) {
                continue;
            }
            const auto state = backend.StateOf(i);
            const SessionSnapshot snap = hub.Session(slot).Snapshot();
            for (size_t s = 0; state && s < kKeySlots; ++s) {
                const auto& m = state->modules[s];
                const KeySlot& k = snap.slots[s];
                if (k.Present() != m.has_value() ||
                    (m && (k.uid != m->uid || k.shortMac != m->shortMac || k.hid != m->hid))) {
                    std::printf(
                        "soak: hub slot %d key slot %zu differs: table uid %08X mac %d, "
                        "keyboard %s %08X mac %d\n",
                        slot, s, k.uid, k.shortMac, m ? "uid" : "empty", m ? m->uid : 0,
                        m ? m->shortMac : 0);
                    return false;
                }
            }
        }
    }
    return true;
}

// The soak's last scans: a pass on every slot, compared once every slot answered. A reply
// lost in the load's last backlog, or a change of the other program merged after a pass, is
// mended by one more pass; at most three. `wait(done)` runs the owner's event loop until
// done() and says whether it came in time. The comparison that fails the test is the
// caller's (ExpectTablesMatchSim).
inline bool ScanUntilTablesMatchSim(KeyboardHub& hub,
                                    const std::function<bool(std::function<bool()>)>& wait) {
    for (int round = 0; round < 3; ++round) {
        std::array<uint32_t, kHubSlots> scans{};
        for (int i = 0; i < kHubSlots; ++i) {
            scans[static_cast<size_t>(i)] = SubmitScanOnceJob(hub.Session(i));
        }
        const bool finished = wait([&] {
            for (int i = 0; i < kHubSlots; ++i) {
                const auto s = hub.Session(i).Jobs().Status(scans[static_cast<size_t>(i)]);
                if (!s || !s->Finished()) {
                    return false;
                }
            }
            return true;
        });
        if (!finished) {
            return false;
        }
        bool whole = true;
        for (int i = 0; i < kHubSlots; ++i) {
            const auto s = hub.Session(i).Jobs().Status(scans[static_cast<size_t>(i)]);
            EXPECT_EQ(s->state, JobState::Done) << s->message;
            whole = whole && hub.Session(i).Snapshot().UnansweredSlots().empty();
        }
        if (whole && TablesMatchSim(hub)) {
            break;
        }
    }
    return true;
}

// Every slot of the hub's attached keyboards against the simulated keyboard behind it.
inline void ExpectTablesMatchSim(KeyboardHub& hub) {
    sim::SimBackend& backend = *sim::SimOf(hub.Backend());
    for (int slot = 0; slot < kHubSlots; ++slot) {
        SCOPED_TRACE("hub slot " + std::to_string(slot));
        ASSERT_TRUE(hub.IsAttached(slot));
        int index = -1;
        for (int i = 0; i < kSoakKeyboards; ++i) {
            if (backend.VendorPath(i) == hub.Transport(slot).m_strPath) {
                index = i;
            }
        }
        ASSERT_GE(index, 0) << "no simulated keyboard behind the slot";
        const auto state = backend.StateOf(index);
        ASSERT_TRUE(state);
        const SessionSnapshot snap = hub.Session(slot).Snapshot();
        for (size_t s = 0; s < kKeySlots; ++s) {
            const auto& m = state->modules[s];
            const KeySlot& k = snap.slots[s];
            ASSERT_EQ(k.Present(), m.has_value()) << "key slot " << s;
            if (m) {
                EXPECT_EQ(k.uid, m->uid) << "key slot " << s;
                EXPECT_EQ(k.shortMac, m->shortMac) << "key slot " << s;
                EXPECT_EQ(k.hid, m->hid) << "key slot " << s;
            }
        }
    }
}

}  // namespace tavrik::test

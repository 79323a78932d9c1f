// One undo of a key code, from Ctrl+Z to the keyboard taking it: the history's step, the
// write job (one key-config report, no scan; the controller does not answer it, so the job
// ends once the report is written) and the history learning the outcome from the key
// table. The same key is flipped between two codes, so every iteration is one undo or one
// redo.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "device/edit_history.h"
#include "device/job_runner.h"
#include "device/keyboard_hub.h"
#include "device/session.h"
#include "sim/sim_backend.h"
#include "sim/sim_init.h"

namespace tavrik {
namespace {

class NoTarget : public NotifyTarget {
public:
    void Notify(uint32_t, uint32_t, uint32_t) override {}
};

void BM_UndoOneKeyCode(benchmark::State& state) {
    auto backend = std::make_unique<sim::SimBackend>();
    auto keyboard = *sim::MakeInitialState(12, 0, 1, 50, 3);
    keyboard.latencyMs = 1;
    backend->Attach(0, keyboard);
    NoTarget target;
    HubOptions options;
    options.scanOnAttach = false;
    KeyboardHub hub(std::move(backend), target, options);
    CCCDev& dev = hub.Session(0);
    hub.AttachPresent();
    dev.Clock().SetPauseScale(0.01);
    dev.RequestScan();
    dev.StartScanThread();
    while (dev.IsScanBusy() != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    dev.PauseScan();
    dev.Clock().SetPauseScale(1.0);

    int slot = -1;
    const SessionSnapshot snap = dev.Snapshot();
    for (size_t s = 0; s < kKeySlots && slot < 0; ++s) {
        if (snap.slots[s].Present() && snap.slots[s].vk[0] != VK_WAIT_SET &&
            !snap.slots[s].HasMacro()) {
            slot = static_cast<int>(s);
        }
    }
    EditHistory history;
    history.Observe(snap);
    const uint32_t before = snap.slots[static_cast<size_t>(slot)].vk[0];
    const uint64_t t = history.BeginEdit({KeyEdit::Kind::Code, slot, 0, before, 0x70});
    if (slot < 0 || dev.AssignKey(slot, 0, 0x70, true) != 0 ||
        history.Finish(t, dev.Snapshot()) != EditHistory::Outcome::Applied) {
        state.SkipWithError("the key did not take its first code");
        return;
    }

    bool undo = true;
    for (auto _ : state) {
        const auto write = undo ? history.BeginUndo() : history.BeginRedo();
        if (!write) {
            state.SkipWithError("nothing to undo");
            return;
        }
        const auto status =
            dev.Jobs().Wait(SubmitKeyWriteJob(dev, *write), std::chrono::seconds(10));
        if (!status || status->state != JobState::Done ||
            history.Finish(write->ticket, dev.Snapshot()) != EditHistory::Outcome::Applied) {
            state.SkipWithError("the undo failed");
            return;
        }
        undo = !undo;
    }
}
BENCHMARK(BM_UndoOneKeyCode)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tavrik

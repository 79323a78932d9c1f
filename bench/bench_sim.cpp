#include <benchmark/benchmark.h>

#include <memory>

#include "protocol/commands.h"
#include "protocol/protocol.h"
#include "sim/sim_backend.h"
#include "sim/sim_init.h"

namespace {

using tavrik::sim::SimBackend;

// One 0x04 written and its 0x05 read back, the unit of a scan pass.
void BM_SimScanRoundTrip(benchmark::State& state) {
    SimBackend backend;
    auto keyboard = tavrik::sim::MakeInitialState(44, 0, 1, 50, 1).value();
    keyboard.latencyMs = static_cast<int>(state.range(0));
    backend.Attach(0, keyboard);
    auto handle = backend.Open(backend.VendorPath(0), nullptr);
    const auto report = tavrik::ToOutputReport(tavrik::CmdScanKey(12));
    std::array<uint8_t, tavrik::kPayloadSize> reply{};
    for (auto _ : state) {
        handle->Write(report.data(), report.size());
        if (handle->Read(reply.data(), reply.size(), 1000) <= 0) {
            state.SkipWithError("no reply");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SimScanRoundTrip)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

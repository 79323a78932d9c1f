#include <benchmark/benchmark.h>

#include <vector>

#include "macro/marco_codec.h"
#include "macro/marco_file.h"

namespace {

using namespace tavrik;

// 64 steps: a loop around 30 key presses, then 32 more key events.
MarcoSteps FullList() {
    std::vector<MarcoEntry> steps{{MarcoFlag::LoopStart, 5, 10}};
    for (int i = 0; i < 30; ++i) {
        steps.push_back({MarcoFlag::KeyDown, uint8_t(0x04 + i % 26), 20});
    }
    steps.push_back({MarcoFlag::LoopEnd, 31, 10});
    for (int i = 0; i < 32; ++i) {
        steps.push_back({uint8_t(i % 2 ? MarcoFlag::KeyUp : MarcoFlag::KeyDown), 0x2C, 15});
    }
    return MarcoSteps::FromEntries(steps);
}

void BM_MarcoEncode64(benchmark::State& state) {
    const MarcoSteps steps = FullList();
    for (auto _ : state) {
        benchmark::DoNotOptimize(EncodeMarco(MarcoMode::SingleShot, steps, 10));
    }
}
BENCHMARK(BM_MarcoEncode64);

void BM_MarcoDecode64(benchmark::State& state) {
    const auto rec = *EncodeMarco(MarcoMode::SingleShot, FullList(), 10);
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeMarco(rec.entries, kMarcoMaxSteps));
    }
}
BENCHMARK(BM_MarcoDecode64);

void BM_MarcoFileParse(benchmark::State& state) {
    const auto bytes = SerializeMarcoRecord(*EncodeMarco(MarcoMode::SingleShot, FullList(), 10));
    for (auto _ : state) {
        benchmark::DoNotOptimize(ParseMarcoFileBytes(bytes));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_MarcoFileParse);

}  // namespace

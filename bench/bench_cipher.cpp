#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "protocol/cipher.h"
#include "protocol/enable_report.h"

namespace {

constexpr std::array<uint8_t, 8> kKey = {0x3C, 0x5A, 0x7E, 0x91, 0x02, 0x46, 0x8A, 0xCE};

void BM_EncipherBlock(benchmark::State& state) {
    std::array<uint8_t, 8> block = {1, 2, 3, 4, 5, 6, 7, 8};
    for (auto _ : state) {
        tavrik::EncipherBlock(kKey.data(), block.data(), block.data());
        benchmark::DoNotOptimize(block);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncipherBlock);

void BM_DecipherBlock(benchmark::State& state) {
    std::array<uint8_t, 8> block = {1, 2, 3, 4, 5, 6, 7, 8};
    for (auto _ : state) {
        tavrik::DecipherBlock(kKey.data(), block.data(), block.data());
        benchmark::DoNotOptimize(block);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecipherBlock);

void BM_BuildEnableKbmc(benchmark::State& state) {
    bool enable = false;
    for (auto _ : state) {
        auto command = tavrik::BuildEnableKbmc(enable, kKey);
        benchmark::DoNotOptimize(command);
        enable = !enable;
    }
}
BENCHMARK(BM_BuildEnableKbmc);

void BM_CheckEnableKbmc(benchmark::State& state) {
    const auto command = tavrik::BuildEnableKbmc(true, kKey);
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavrik::CheckEnableKbmc(command.Payload(), kKey));
    }
}
BENCHMARK(BM_CheckEnableKbmc);

}  // namespace

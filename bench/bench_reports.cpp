#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "protocol/reports.h"

namespace {

using Payload64 = std::array<uint8_t, 64>;

Payload64 Make(std::initializer_list<uint8_t> head) {
    Payload64 p{};
    std::copy(head.begin(), head.end(), p.begin());
    return p;
}

// Roughly what a scan pass and a few unrequested events produce.
std::vector<Payload64> Mix() {
    return {
        Make({0x05, 12, 0x78, 0x56, 0x34, 0x12, 0x21, 0x04, 0x05, 0x06, 0x07, 0x00}),
        Make({0x07, 12, 'A', 1, 3}),
        Make({0x2D, 12, 0, 15, 8, 0}),
        Make({0x18, 0, 0x78, 0x56, 0x34, 0x12, 13, 0x04, 0, 0xFF, 0xE0, 0}),
        Make({0x1A, 0, 0, 0, 0, 0, 13}),
        Make({0x31, 0, 'A', 1, 0x32, 1, 44, 0x04, 60, 1, 2, 3, 4, 5, 6, 7}),
        Make({0x3C, 4, 3, 0xD1}),
        Make({0x3E, 4, 1, 0xD2, 0}),
        Make({0x43, 4, 6, 1, 0x04, 0x01, 0x2C, 0}),
        Make({0x4A}),
        Make({0x2D, 200}),
    };
}

void BM_DecodeReportMix(benchmark::State& state) {
    const auto reports = Mix();
    for (auto _ : state) {
        for (const auto& p : reports) {
            auto decoded = tavrik::DecodeReport(p);
            benchmark::DoNotOptimize(decoded);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(reports.size()));
}
BENCHMARK(BM_DecodeReportMix);

}  // namespace

// The layout on paper: drawing a full keyboard (90 keys, every layer) in each format,
// and the whole `tavrikctl layout --format pdf` as a user runs it (process start, the
// simulated keyboard's scan, the module's load, drawing and writing).
#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "keys/keycodes.h"
#include "paper/paper.h"

namespace tavrik {
namespace {

layout::LayoutSheet FullSheet() {
    backup::KeyboardState state;
    for (int s = 0; s < 90; ++s) {
        backup::ModuleState m;
        m.uid = 0x5000u + static_cast<uint32_t>(s);
        m.slot = s;
        m.hid = {static_cast<uint8_t>(0x04 + s % 26), static_cast<uint8_t>(0xD4 + s % 4),
                 static_cast<uint8_t>(0x3A + s % 12), s % 9 == 0 ? HID_MARCO : uint8_t{0x2C}};
        m.colour = 0x00F0F0F0u & (static_cast<uint32_t>(s) * 0x00102030u);
        if (s % 9 == 0) {
            m.macro = backup::Macro(9, MarcoEntry{1, 4, 10});
            m.macro->back() = MarcoEntry{};
        }
        state.modules.push_back(m);
    }
    return layout::MakeSheet(state, {0, 1, 2, 3}, "Tavrik Keyboard (KB 1)", "2026-12-10");
}

void Render(benchmark::State& state, layout::PaperFormat format, int scale) {
    const layout::LayoutSheet sheet = FullSheet();
    layout::PaperOptions options;
    options.format = format;
    options.scale = scale;
    size_t size = 0;
    for (auto _ : state) {
        std::string bytes, error;
        if (!paper::RenderSheet(sheet, options, bytes, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        size = bytes.size();
    }
    state.counters["bytes"] = static_cast<double>(size);
}

void BM_LayoutPdf90x4(benchmark::State& s) {
    Render(s, layout::PaperFormat::Pdf, 1);
}
void BM_LayoutSvg90x4(benchmark::State& s) {
    Render(s, layout::PaperFormat::Svg, 1);
}
void BM_LayoutPng2x90x4(benchmark::State& s) {
    Render(s, layout::PaperFormat::Png, 2);
}
BENCHMARK(BM_LayoutPdf90x4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LayoutSvg90x4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LayoutPng2x90x4)->Unit(benchmark::kMillisecond);

#ifdef TAVRIK_CTL
// The command as a script runs it, on a simulated keyboard with 90 modules.
void BM_TavrikctlLayoutPdf90x4(benchmark::State& state) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "tavrik-bench-layout";
    std::filesystem::create_directories(dir);
    const std::string ctl = TAVRIK_CTL;
    const std::string sim = (dir / "kb.json").string();
    const std::string init = ctl + " sim init " + sim + " --keys 90 >/dev/null";
    if (std::system(init.c_str()) != 0) {
        state.SkipWithError("sim init failed");
        return;
    }
    const std::string run = "TAVRIK_SIM_PAUSE_SCALE=0.05 " + ctl + " --simulate=" + sim +
                            " layout --format pdf -o " + (dir / "kb.pdf").string() + " >/dev/null";
    for (auto _ : state) {
        if (std::system(run.c_str()) != 0) {
            state.SkipWithError("tavrikctl layout failed");
            return;
        }
    }
}
BENCHMARK(BM_TavrikctlLayoutPdf90x4)->Unit(benchmark::kMillisecond)->Iterations(5);
#endif

}  // namespace
}  // namespace tavrik

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}

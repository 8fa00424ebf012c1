// SPDX-License-Identifier: MIT
// The grid's drawing: one full repaint into the off-screen image (the copy
// and judgement under the grid's lock, then the drawing), and one timer tick
// that draws again only what changed.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <memory>
#include <vector>

#include "grid/grid_fixture.h"
#include "grid/grid_model.h"
#include "grid/grid_painter.h"

namespace {

void BM_GridRepaint(benchmark::State& state) {
    const int columns = static_cast<int>(state.range(0));
    const int rows = static_cast<int>(state.range(1));
    const bool pass = state.range(2) != 0;
    kx::GridModel model;
    kx::FillFixtureGrid(model, columns, rows,
                        pass ? kx::FixtureFill::AllPass : kx::FixtureFill::Mixed);
    auto frame = std::make_unique<kx::GridFrame>();
    kx::GridPainter painter;
    // The first repaint renders the glyphs; the widget keeps them too.
    model.Evaluate(1920, 1080, *frame);
    painter.Paint(*frame);
    for (auto _ : state) {
        model.Evaluate(1920, 1080, *frame);
        painter.Invalidate();
        const QImage& image = painter.Paint(*frame);
        benchmark::DoNotOptimize(image.constBits());
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(columns) + "x" + std::to_string(rows) + " at 1920x1080" +
                   (pass ? ", all pass (overlay)" : ", mixed verdicts"));
}

BENCHMARK(BM_GridRepaint)
    ->Args({10, 10, 0})
    ->Args({10, 10, 1})
    ->Args({1, 1, 0})
    ->Args({2, 2, 1})
    ->Unit(benchmark::kMillisecond);

// One timer tick of the widget's drawing: judgement, then only what changed
// drawn again. With `live` set every value of every head moves by a few
// counts before the tick, as a board's noise does; otherwise nothing moves.
void BM_GridTick(benchmark::State& state) {
    const int columns = static_cast<int>(state.range(0));
    const int rows = static_cast<int>(state.range(1));
    const bool live = state.range(2) != 0;
    kx::GridModel model;
    kx::FillFixtureGrid(model, columns, rows, kx::FixtureFill::Mixed);
    auto frame = std::make_unique<kx::GridFrame>();
    kx::GridPainter painter;
    std::vector<kx::PixelRect> damage;
    model.Evaluate(1920, 1080, *frame);
    painter.Paint(*frame);
    std::vector<kx::ChannelValues> base;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            base.push_back(model.GetValues(c, r));
        }
    }
    std::uint32_t noise = 2463534242u;
    long long pixels = 0;
    for (auto _ : state) {
        if (live) {
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < columns; ++c) {
                    kx::ChannelValues v = base[static_cast<std::size_t>(r * columns + c)];
                    for (auto& x : v) {
                        noise ^= noise << 13;
                        noise ^= noise >> 17;
                        noise ^= noise << 5;
                        x += static_cast<std::int32_t>(noise % 9) - 4;
                    }
                    model.SetValues(c, r, v);
                }
            }
        }
        model.Evaluate(1920, 1080, *frame);
        const QImage& image = painter.Paint(*frame, &damage);
        for (const kx::PixelRect& d : damage) {
            pixels += static_cast<long long>(d.Width()) * d.Height();
        }
        benchmark::DoNotOptimize(image.constBits());
        benchmark::ClobberMemory();
    }
    state.counters["damage_px"] =
        benchmark::Counter(static_cast<double>(pixels), benchmark::Counter::kAvgIterations);
    state.SetLabel(std::to_string(columns) + "x" + std::to_string(rows) + " at 1920x1080" +
                   (live ? ", every value moving" : ", nothing moving"));
}

BENCHMARK(BM_GridTick)
    ->Args({10, 10, 1})
    ->Args({10, 10, 0})
    ->Args({1, 1, 1})
    ->Args({1, 1, 0})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

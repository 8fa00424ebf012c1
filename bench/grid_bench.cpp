// One full repaint of the grid into its off-screen image, as every timer tick
// does: the copy and judgement under the grid's lock, then the drawing.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <memory>

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
    QImage image;
    // The first repaint renders the glyphs; the widget keeps them too.
    model.Evaluate(1920, 1080, *frame);
    painter.Paint(*frame, image);
    for (auto _ : state) {
        model.Evaluate(1920, 1080, *frame);
        painter.Paint(*frame, image);
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

// SPDX-License-Identifier: MIT
// The station's own cost of one acquisition step: the board exchanges of the
// family in use, the page-table copies under their lock, the hand-over of
// every head to the grid model (with its yields) and the outputs. The
// software boards answer at once, so what is measured is the station's share
// (and the software board's, which is small); a real board's USB frames come
// on top and set the pace.

#include <benchmark/benchmark.h>

#include <memory>

#include "bench/master_4x4.h"
#include "sim/sim_bus.h"
#include "sim/sim_runoff_board.h"
#include "station/station_core.h"

namespace {

struct StepBench {
    explicit StepBench(std::shared_ptr<kx::sim::SimBoard> board) {
        pages.Reset();
        bus.plug(std::move(board));
        core.Connect();
        core.StopAcquisition();  // the benchmark runs the steps itself
    }
    kx::sim::SimBus bus;
    kx::GridModel grid;
    kx::PageStore pages;
    kx::StationCore core{bus, grid, pages};
};

void BM_AcquireStepOneToOne1x1(benchmark::State& state) {
    StepBench b(std::make_shared<kx::sim::SimRunoffBoard>("borvane"));
    if (b.core.ActiveFamily() != kx::FamilyId::OneToOne) {
        state.SkipWithError("one-to-one board not connected");
        return;
    }
    for (auto _ : state) {
        b.core.AcquireStep();
    }
}
BENCHMARK(BM_AcquireStepOneToOne1x1)->Unit(benchmark::kMicrosecond);

// Sixteen heads on a 4 x 4 grid: 16 value reads, two buzzer reads, the
// inputs and the outputs, and 16 heads handed over.
void BM_AcquireStepMaster4x4(benchmark::State& state) {
    auto board = kx::bench::Master4x4();
    StepBench b(board);
    if (b.core.ActiveFamily() != kx::FamilyId::Master || b.grid.GetRows() != 4 ||
        b.grid.GetColumns() != 4) {
        state.SkipWithError("master board not set up as 4 x 4");
        return;
    }
    for (auto _ : state) {
        b.core.AcquireStep();
    }
}
BENCHMARK(BM_AcquireStepMaster4x4)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

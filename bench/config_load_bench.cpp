// SPDX-License-Identifier: MIT
// A full configuration load as the main window runs it: a 64-page file
// (8 x 8 heads) read page by page, each page written to the connected board
// family, against a software board at full-speed USB pace (about 1 ms a
// report) while the acquisition worker keeps polling it, as it does in the
// station. Wall time is what the operator waits; it is set by the number of
// reports each family's write takes, so one iteration says it all.
//
//     bench/run.sh --benchmark_filter=ConfigLoad

#include <benchmark/benchmark.h>

#include <memory>
#include <optional>

#include "bench/full_config_file.h"
#include "bench/master_4x4.h"
#include "sim/sim_bus.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"
#include "station/config_transfer.h"

namespace {

void LoadAgainst(benchmark::State& state, std::shared_ptr<kx::sim::SimBoard> board,
                 kx::FamilyId family) {
    kx::bench::FullConfigFile file;
    auto defaults = std::make_unique<kx::PageTable>();
    kx::InitPageTable(*defaults);
    if (file.Write(*defaults)) {
        state.SkipWithError("configuration file not written");
        return;
    }
    kx::sim::SimBus bus;
    bus.set_report_time(kx::sim::SimBoard::kFullSpeedReportTime);
    bus.plug(std::move(board));
    kx::GridModel grid;
    kx::PageStore pages;
    kx::StationCore core(bus, grid, pages);
    core.Initialise();
    if (core.ActiveFamily() != family || core.AcquisitionWorkers() != 1) {
        state.SkipWithError("board not connected");
        return;
    }
    for (auto _ : state) {
        kx::FileError error;
        std::optional<kx::ConfigLoadJob> job = kx::ConfigLoadJob::Open(file.path(), error);
        if (!job) {
            state.SkipWithError("configuration file not read");
            return;
        }
        job->ApplyGlobals(grid);
        while (!job->Done()) {
            job->LoadNextPage(core);
        }
        if (!job->Report().empty() && !kx::MissedFamiliesNotice(job->Run()).empty()) {
            state.SkipWithError("the board missed a reply");
            return;
        }
    }
    state.counters["pages"] = 64;
}

// Six sets a page (modes, upper, lower, reference, range max and min), each
// a command report, a data report and the reply.
void BM_ConfigLoad64PagesOneToOne(benchmark::State& state) {
    auto board = std::make_shared<kx::sim::SimRunoffBoard>("borvane");
    LoadAgainst(state, board, kx::FamilyId::OneToOne);
}
BENCHMARK(BM_ConfigLoad64PagesOneToOne)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// Sixteen heads assigned: pages 0 to 15 get the three per-head sets, every
// page the board-wide range and its read-back.
void BM_ConfigLoad64PagesMaster(benchmark::State& state) {
    auto board = kx::bench::Master4x4();
    LoadAgainst(state, board, kx::FamilyId::Master);
}
BENCHMARK(BM_ConfigLoad64PagesMaster)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

void BM_ConfigLoad64PagesVelmora5(benchmark::State& state) {
    auto board = std::make_shared<kx::sim::SimVelmora5Board>();
    LoadAgainst(state, board, kx::FamilyId::Velmora5);
}
BENCHMARK(BM_ConfigLoad64PagesVelmora5)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// Page 0 in full, once per loaded page: 134 settings of two feature reports.
void BM_ConfigLoad64PagesClassic(benchmark::State& state) {
    auto board = std::make_shared<kx::sim::SimClassicBoard>();
    LoadAgainst(state, board, kx::FamilyId::Classic);
}
BENCHMARK(BM_ConfigLoad64PagesClassic)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

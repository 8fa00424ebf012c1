// SPDX-License-Identifier: MIT
// The station's own cost per board exchange: build the command report, take
// the object's lock, discard waiting input, move the reports through the bus,
// decode the reply. The simulated board answers at once, so what is measured
// is the station's share of an exchange, not the USB frame time; the
// UsbPace case paces the board like a full-speed endpoint and shows that the
// wall time is the board's while the CPU time stays the station's.

#include <benchmark/benchmark.h>

#include <memory>

#include "hid/classic_tester.h"
#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "sim/sim_bus.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"

namespace {

struct RunoffBench {
    RunoffBench() {
        board = std::make_shared<kx::sim::SimRunoffBoard>("borvane");
        bus.plug(board);
        runoff.open_maker();
    }
    kx::sim::SimBus bus;
    std::shared_ptr<kx::sim::SimRunoffBoard> board;
    kx::hiddata_simple_runoff runoff{bus};
};

void BM_RunoffReadValues(benchmark::State& state) {
    RunoffBench b;
    for (auto _ : state) {
        benchmark::DoNotOptimize(b.runoff.read_values());
    }
}
BENCHMARK(BM_RunoffReadValues);

void BM_RunoffSetOutputs(benchmark::State& state) {
    RunoffBench b;
    for (auto _ : state) {
        b.runoff.set_outputs(1, 0, 0, 1);
    }
}
BENCHMARK(BM_RunoffSetOutputs);

// One exchange with the board at full-speed USB pace (1 ms a report): about
// 2 ms of wall time, of which the CPU spends microseconds.
void BM_RunoffReadValuesUsbPace(benchmark::State& state) {
    RunoffBench b;
    b.bus.set_report_time(kx::sim::SimBoard::kFullSpeedReportTime);
    for (auto _ : state) {
        benchmark::DoNotOptimize(b.runoff.read_values());
    }
}
BENCHMARK(BM_RunoffReadValuesUsbPace)->Unit(benchmark::kMicrosecond);

void BM_ClassicReadValue(benchmark::State& state) {
    kx::sim::SimBus bus;
    bus.plug(std::make_shared<kx::sim::SimClassicBoard>());
    kx::CClassicTester classic(bus);
    classic.open_board();
    int channel = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(classic.read_value(channel));
        channel = (channel + 1) % 33;
    }
}
BENCHMARK(BM_ClassicReadValue);

struct MasterBench {
    MasterBench() {
        board = std::make_shared<kx::sim::SimMasterBoard>("borvane");
        board->set_present_heads({3});
        bus.plug(board);
        master.open_board();
    }
    kx::sim::SimBus bus;
    std::shared_ptr<kx::sim::SimMasterBoard> board;
    kx::hiddata_masterHID master{bus};
};

// The worker's per-head read of the master board.
void BM_MasterReadValues(benchmark::State& state) {
    MasterBench b;
    for (auto _ : state) {
        benchmark::DoNotOptimize(b.master.read_values(3));
    }
}
BENCHMARK(BM_MasterReadValues);

struct Velmora5Bench {
    Velmora5Bench() {
        board = std::make_shared<kx::sim::SimVelmora5Board>("borvane");
        bus.plug(board);
        velmora5.open_maker();
    }
    kx::sim::SimBus bus;
    std::shared_ptr<kx::sim::SimVelmora5Board> board;
    kx::hiddata_velmora5 velmora5{bus};
};

// The worker's read of the Velmora5 board: one report each way.
void BM_Velmora5ReadValues(benchmark::State& state) {
    Velmora5Bench b;
    for (auto _ : state) {
        benchmark::DoNotOptimize(b.velmora5.read_values(2));
    }
}
BENCHMARK(BM_Velmora5ReadValues);

// A head query: two reports out, one back.
void BM_Velmora5ReadReference(benchmark::State& state) {
    Velmora5Bench b;
    for (auto _ : state) {
        benchmark::DoNotOptimize(b.velmora5.read_reference(2));
    }
}
BENCHMARK(BM_Velmora5ReadReference);

}  // namespace

BENCHMARK_MAIN();

// The station's own cost per board exchange: build the command report, take
// the object's lock, discard waiting input, move the reports through the bus,
// decode the reply. The simulated board answers at once, so what is measured
// is the station's share of an exchange, not the USB frame time.

#include <benchmark/benchmark.h>

#include <memory>

#include "hid/classic_tester.h"
#include "hid/hiddata_simple_runoff.h"
#include "sim/sim_bus.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_runoff_board.h"

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

}  // namespace

BENCHMARK_MAIN();

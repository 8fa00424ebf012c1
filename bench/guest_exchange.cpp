// SPDX-License-Identifier: MIT
// One real exchange, measured on a real kernel: the station's query goes
// through hidapi and hidraw, usbhid and the USB host stack to a software
// board carried as a USB device (FunctionFS on dummy_hcd), and the reply back.
// Also one acquisition step of the station core on that bus.
// Needs root and dummy_hcd: run it in the guest, through bench/run-in-guest.sh.
// Under emulation (TCG) the figures are those of an emulated CPU, several
// times slower than the host's, and of dummy_hcd's 1 ms frame timer.

#include <benchmark/benchmark.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "grid/grid_model.h"
#include "hid/classic_tester.h"
#include "hid/hidapi_bus.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/maker_identity.h"
#include "hid/udev_monitor.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/usb_gadget_board.h"
#include "station/station_core.h"

namespace {

struct GuestBoards {
    kx::UdevMonitor monitor;
    kx::HidapiBus bus;
    std::shared_ptr<kx::sim::SimRunoffBoard> runoff_board =
        std::make_shared<kx::sim::SimRunoffBoard>(kx::kMakerIdentity);
    std::shared_ptr<kx::sim::SimClassicBoard> classic_board =
        std::make_shared<kx::sim::SimClassicBoard>();
    std::shared_ptr<kx::sim::SimMasterBoard> master_board = MasterWithTwoHeads();
    kx::sim::UsbGadgetBoard runoff_gadget{runoff_board};
    kx::sim::UsbGadgetBoard classic_gadget{classic_board};
    kx::sim::UsbGadgetBoard master_gadget{master_board};
    // Closed (reset) before the station's steps are measured.
    std::unique_ptr<kx::hiddata_simple_runoff> runoff =
        std::make_unique<kx::hiddata_simple_runoff>(bus);
    std::unique_ptr<kx::CClassicTester> classic = std::make_unique<kx::CClassicTester>(bus);

    static constexpr int kBoards = 3;

    // A 1 x 2 board: position 0 is head 0, position 1 head 1.
    static std::shared_ptr<kx::sim::SimMasterBoard> MasterWithTwoHeads() {
        auto board = std::make_shared<kx::sim::SimMasterBoard>();
        board->set_present_heads({0, 1});
        board->edit([](kx::sim::MasterMemory& m) {
            m.rows = 1;
            m.columns = 2;
        });
        board->assign(0, 0, 0, 0);
        board->assign(1, 0, 1, 1);
        return board;
    }

    // Plugs the boards, waits for udev to announce their nodes, opens two.
    bool start(std::string& error) {
        if (!monitor.ok()) {
            error = monitor.error();
            return false;
        }
        for (kx::sim::UsbGadgetBoard* g : {&runoff_gadget, &classic_gadget, &master_gadget}) {
            if (!g->plug()) {
                error = g->error();
                return false;
            }
        }
        int arrivals = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (arrivals < kBoards && std::chrono::steady_clock::now() < deadline) {
            pollfd p{monitor.fd(), POLLIN, 0};
            poll(&p, 1, 100);
            while (auto n = monitor.receive()) {
                arrivals += n->event == kx::HotplugEvent::Arrival ? 1 : 0;
            }
        }
        if (arrivals < kBoards || runoff->open_maker() != 0 || classic->open_board() != 0) {
            error = "the boards did not come up";
            return false;
        }
        return true;
    }
};

GuestBoards* g_boards = nullptr;

// A query: one output report out, one input report back.
void BM_GuestRunoffReadValues(benchmark::State& state) {
    if (!g_boards->runoff) {
        state.SkipWithError("closed by an earlier station step");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(g_boards->runoff->read_values());
    }
}
BENCHMARK(BM_GuestRunoffReadValues)->UseRealTime()->Unit(benchmark::kMillisecond);

// A set: two output reports out, one input report back.
void BM_GuestRunoffSetOutputs(benchmark::State& state) {
    if (!g_boards->runoff) {
        state.SkipWithError("closed by an earlier station step");
        return;
    }
    for (auto _ : state) {
        g_boards->runoff->set_outputs(1, 0, 0, 1);
    }
}
BENCHMARK(BM_GuestRunoffSetOutputs)->UseRealTime()->Unit(benchmark::kMillisecond);

// The classic tester's live value: SET_REPORT then GET_REPORT on the
// control pipe.
void BM_GuestClassicReadValue(benchmark::State& state) {
    if (!g_boards->classic) {
        state.SkipWithError("closed by an earlier station step");
        return;
    }
    int channel = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(g_boards->classic->read_value(channel));
        channel = (channel + 1) % 32;
    }
}
BENCHMARK(BM_GuestClassicReadValue)->UseRealTime()->Unit(benchmark::kMillisecond);

// One acquisition step of the station core on the real bus, no worker
// running: with the one-to-one board in use (standard device type), its 32
// live values (a query), the grid's hand-over and its outputs (a set); with
// the master board in use (machine 3 matches no one-to-one row), both heads'
// values, the buzzer settings twice, the inputs and the outputs: six
// exchanges. They close the benchmark's own handles, so they run last.
void GuestAcquireStep(benchmark::State& state, int deviceType, kx::FamilyId family) {
    // The station's handles alone on the boards, as in the field.
    g_boards->runoff.reset();
    g_boards->classic.reset();
    kx::GridModel grid;
    kx::PageStore pages;
    kx::StationCore station(g_boards->bus, grid, pages);
    station.Initialise();
    if (deviceType != 0) {
        station.SelectDeviceType(deviceType);
    }
    station.StopAcquisition();
    if (station.ActiveFamily() != family) {
        state.SkipWithError("the station did not pick the board");
        return;
    }
    for (auto _ : state) {
        station.AcquireStep();
    }
    station.Close();
}
BENCHMARK_CAPTURE(GuestAcquireStep, OneToOne, 0, kx::FamilyId::OneToOne)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GuestAcquireStep, MasterTwoHeads, 3, kx::FamilyId::Master)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string error;
    if (!kx::sim::PrepareUsbGadgets(GuestBoards::kBoards, error)) {
        std::fprintf(stderr, "kx_guest_exchange: %s (run it through bench/run-in-guest.sh)\n",
                     error.c_str());
        return 1;
    }
    GuestBoards boards;
    if (!boards.start(error)) {
        std::fprintf(stderr, "kx_guest_exchange: %s\n", error.c_str());
        return 1;
    }
    g_boards = &boards;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

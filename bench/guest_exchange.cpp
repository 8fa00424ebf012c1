// One real exchange, measured on a real kernel: the station's query goes
// through hidapi and hidraw, usbhid and the USB host stack to a software
// board carried as a USB device (FunctionFS on dummy_hcd), and the reply back.
// Needs root and dummy_hcd: run it in the guest, through bench/run-in-guest.sh.
// Under emulation (TCG) the figures are those of an emulated CPU, several
// times slower than the host's, and of dummy_hcd's 1 ms frame timer.

#include <benchmark/benchmark.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "hid/classic_tester.h"
#include "hid/hidapi_bus.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/maker_identity.h"
#include "hid/udev_monitor.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/usb_gadget_board.h"

namespace {

struct GuestBoards {
    kx::UdevMonitor monitor;
    kx::HidapiBus bus;
    std::shared_ptr<kx::sim::SimRunoffBoard> runoff_board =
        std::make_shared<kx::sim::SimRunoffBoard>(kx::kMakerIdentity);
    std::shared_ptr<kx::sim::SimClassicBoard> classic_board =
        std::make_shared<kx::sim::SimClassicBoard>();
    kx::sim::UsbGadgetBoard runoff_gadget{runoff_board};
    kx::sim::UsbGadgetBoard classic_gadget{classic_board};
    kx::hiddata_simple_runoff runoff{bus};
    kx::CClassicTester classic{bus};

    // Plugs both boards, waits for udev to announce both nodes, opens them.
    bool start(std::string& error) {
        if (!monitor.ok()) {
            error = monitor.error();
            return false;
        }
        for (kx::sim::UsbGadgetBoard* g : {&runoff_gadget, &classic_gadget}) {
            if (!g->plug()) {
                error = g->error();
                return false;
            }
        }
        int arrivals = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (arrivals < 2 && std::chrono::steady_clock::now() < deadline) {
            pollfd p{monitor.fd(), POLLIN, 0};
            poll(&p, 1, 100);
            while (auto n = monitor.receive()) {
                arrivals += n->event == kx::HotplugEvent::Arrival ? 1 : 0;
            }
        }
        if (arrivals < 2 || runoff.open_maker() != 0 || classic.open_board() != 0) {
            error = "the boards did not come up";
            return false;
        }
        return true;
    }
};

GuestBoards* g_boards = nullptr;

// A query: one output report out, one input report back.
void BM_GuestRunoffReadValues(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(g_boards->runoff.read_values());
    }
}
BENCHMARK(BM_GuestRunoffReadValues)->UseRealTime()->Unit(benchmark::kMillisecond);

// A set: two output reports out, one input report back.
void BM_GuestRunoffSetOutputs(benchmark::State& state) {
    for (auto _ : state) {
        g_boards->runoff.set_outputs(1, 0, 0, 1);
    }
}
BENCHMARK(BM_GuestRunoffSetOutputs)->UseRealTime()->Unit(benchmark::kMillisecond);

// The classic tester's live value: SET_REPORT then GET_REPORT on the
// control pipe.
void BM_GuestClassicReadValue(benchmark::State& state) {
    int channel = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(g_boards->classic.read_value(channel));
        channel = (channel + 1) % 32;
    }
}
BENCHMARK(BM_GuestClassicReadValue)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string error;
    if (!kx::sim::PrepareUsbGadgets(2, error)) {
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

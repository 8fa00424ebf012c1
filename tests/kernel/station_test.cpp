// SPDX-License-Identifier: MIT
// The station core on a real kernel: StationCore on HidapiBus against
// software boards carried as USB devices. Its hot-plug is driven by the udev
// monitor's events, taken on the test's thread as the main window's socket
// notifier takes them, and the grid model is judged as the window's repaint
// timer judges it.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "grid/grid_model.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/maker_identity.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/usb_gadget_board.h"
#include "station/station_core.h"
#include "tests/kernel/kernel_fixture.h"
#include "tests/support/station_wait.h"

namespace kx {
namespace {

using namespace std::chrono_literals;
using sim::UsbGadgetBoard;
using sim::UsbTransfer;

// A value through the guest's emulated USB stack takes a few steps of a few
// milliseconds each; the grid shows it well within this.
constexpr auto kSettleBound = 15s;

class RealStation : public kernel::GadgetBusTest {
protected:
    RealStation() {
        test::ResetStationState();
        StationCallbacks callbacks;
        callbacks.setTitle = [this](const std::string& t) { titles.push_back(t); };
        callbacks.showMessage = [this](const std::string& m) { messages.push_back(m); };
        core = std::make_unique<StationCore>(bus, grid, pages, std::move(callbacks));
    }
    void SetUp() override {
        GadgetBusTest::SetUp();
        core->Initialise();  // nothing plugged in yet
        ASSERT_EQ(core->Title(), kTitleDisconnected);
        titles.clear();
    }
    void TearDown() override {
        GadgetBusTest::TearDown();  // the removals reach the station
        EXPECT_EQ(core->AcquisitionWorkers(), 0);
        core->Close();
    }

    void OnEvent(HotplugEvent event, const std::string& path) override {
        events.emplace_back(event, path);
        core->OnDeviceChange(event, path);
    }

    // The window's repaint timer: the grid judged every 10 ms, hot-plug
    // events taken meanwhile, until `done` holds.
    bool EvaluateUntil(const std::function<bool()>& done) {
        return Await(
            [&] {
                grid.Evaluate(800, 600, *frame);
                return done();
            },
            std::chrono::duration_cast<std::chrono::milliseconds>(kSettleBound), 10ms);
    }

    // A copy of one page, taken under its lock, as the worker may be writing
    // it.
    PageRecord Page(int p) const { return pages.Copy(p); }

    GridModel grid;
    test::DefaultPages pages;
    std::unique_ptr<GridFrame> frame = std::make_unique<GridFrame>();
    std::vector<std::string> titles;
    std::vector<std::string> messages;
    std::vector<std::pair<HotplugEvent, std::string>> events;
    std::unique_ptr<StationCore> core;
};

std::shared_ptr<sim::SimRunoffBoard> MakerBoard() {
    auto board = std::make_shared<sim::SimRunoffBoard>(kMakerIdentity);
    board->set_noise(0);
    board->edit([](sim::RunoffMemory& m) {
        m.reference.fill(650);
        m.upper.fill(1000);
        m.lower.fill(400);
        m.modes.fill(Tested);
        m.modes[31] = Masked;
        m.range_max = 1400;
        m.range_min = 20;
    });
    for (int k = 0; k < 32; ++k) {
        board->set_value(k, static_cast<std::uint16_t>(700 + k));
    }
    return board;
}

// The 64 payload bytes of the last interrupt OUT packet that carried them.
bool SawOutPacket(const UsbGadgetBoard& gadget, const std::array<std::uint8_t, 64>& payload) {
    for (const UsbTransfer& t : gadget.transfers()) {
        if (t.kind == UsbTransfer::Kind::InterruptOut &&
            std::equal(t.data.begin(), t.data.end(), payload.begin(), payload.end())) {
            return true;
        }
    }
    return false;
}

// --- one board of each family -------------------------------------------------

// The road of one event on a real bus: the arrival runs Connect, which finds
// the board by its four-part identity, reads its settings into page 0 and
// starts the worker; the live values reach the grid, and a channel above its
// limit turns the board's outputs to FAIL.
TEST_F(RealStation, OneToOneBoardConnectsShowsItsValuesAndTurnsItsOutputsToFail) {
    auto board = MakerBoard();
    UsbGadgetBoard gadget(board);
    const std::string path = Plug(gadget);
    ASSERT_FALSE(path.empty());

    ASSERT_EQ(titles.size(), 2u);
    EXPECT_EQ(titles[0], kTitleInserted);
    EXPECT_EQ(titles[1], kTitleOrvane);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(core->ActiveFamily(), FamilyId::OneToOne);
    EXPECT_EQ(core->Find<RunoffFamily>()->Board().device_path(), path);
    EXPECT_EQ(core->Find<RunoffFamily>()->OemName(),
              hiddata_simple_runoff::identity(RunoffProbe::Maker).oem_name);
    EXPECT_EQ(grid.GetColumns(), 1);
    EXPECT_EQ(grid.GetRows(), 1);
    EXPECT_EQ(core->AcquisitionWorkers(), 1);
    const PageRecord p = Page(0);
    EXPECT_EQ(p.reference[7], 650);
    EXPECT_EQ(p.upper[7], 1000);
    EXPECT_EQ(p.lower[7], 400);
    EXPECT_EQ(p.mask[30], Tested);
    EXPECT_EQ(p.mask[31], Masked);
    EXPECT_EQ(p.rangeMax, 1400);
    EXPECT_EQ(p.rangeMin, 20);

    const auto outputs = [&] { return board->memory().outputs; };
    EXPECT_TRUE(EvaluateUntil([&] {
        return grid.GetValues(0, 0)[0] == 700 && grid.GetValues(0, 0)[31] == 731 &&
               outputs() == std::array<std::uint8_t, 4>{1, 0, 0, 0};
    })) << "PASS";

    // FAIL with the buzzer off: the outputs report's payload starts with a
    // 0 byte (pass = 0), which the kernel must carry as payload.
    board->set_value(5, 1001);
    EXPECT_TRUE(EvaluateUntil([&] {
        return grid.GetFailCount() == 1 && outputs() == std::array<std::uint8_t, 4>{0, 1, 0, 0};
    })) << "FAIL";
    EXPECT_EQ(grid.GetValues(0, 0)[5], 1001);
    // What the board received: the outputs command, then the outputs.
    const std::vector<Frame> received = board->received_outputs();
    Frame command{};
    command[1] = 0x01;
    command[2] = 0x29;
    command[3] = 0xD3;
    Frame fail{};
    fail[2] = 1;
    const std::array<Frame, 2> failReports{command, fail};
    const auto at =
        std::search(received.begin(), received.end(), failReports.begin(), failReports.end());
    EXPECT_NE(at, received.end()) << "no FAIL outputs report";
    EXPECT_TRUE(SawOutPacket(gadget, {0, 1, 0, 0}));

    // A limit page written back while the worker polls arrives whole, its
    // first byte 0 (channel 0's limit below 256).
    {
        CSectionGuard guard(&pages.lock);
        for (int k = 0; k < 32; ++k) {
            pages.table[0].upper[static_cast<std::size_t>(k)] = 200 + 37 * k;
        }
    }
    ASSERT_TRUE(core->Find<RunoffFamily>()->WriteSettings());
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(board->memory().upper[static_cast<std::size_t>(k)], 200 + 37 * k) << k;
    }
}

// The classic tester over feature reports: one channel per step, the whole
// head after 33 steps, and its verdict in the grid (it has no outputs).
TEST_F(RealStation, ClassicTesterConnectsOverFeatureReportsAndFailsInTheGrid) {
    auto board = std::make_shared<sim::SimClassicBoard>();
    board->set_noise(0);
    for (int k = 0; k < 32; ++k) {
        board->set_value(k, static_cast<std::uint16_t>(10 * k + 5));
    }
    board->edit([](sim::ClassicMemory& m) {
        m.upper.fill(1300);
        m.lower.fill(2);
        m.reference.fill(600);
        m.offset_type = 0;
        m.percentage = 17;
        m.range_max = 1600;
        m.range_min = 15;
    });
    UsbGadgetBoard gadget(board);
    ASSERT_FALSE(Plug(gadget).empty());

    EXPECT_EQ(core->Title(), kTitleClassic);
    EXPECT_EQ(core->ActiveFamily(), FamilyId::Classic);
    EXPECT_TRUE(messages.empty());
    const PageRecord p = Page(0);
    EXPECT_EQ(p.upper[4], 1300);
    EXPECT_EQ(p.lower[4], 2);
    EXPECT_EQ(p.reference[4], 600);
    EXPECT_EQ(p.offsetType, 0);
    EXPECT_EQ(p.percentage, 17.0f);
    EXPECT_EQ(p.rangeMax, 1600);
    EXPECT_EQ(p.rangeMin, 15);

    EXPECT_TRUE(EvaluateUntil([&] {
        const ChannelValues v = grid.GetValues(0, 0);
        for (int k = 0; k < 32; ++k) {
            if (v[static_cast<std::size_t>(k)] != 10 * k + 5) {
                return false;
            }
        }
        return grid.GetFailCount() == 0;
    }));
    board->set_value(9, 1301);
    EXPECT_TRUE(EvaluateUntil([&] { return grid.GetFailCount() == 1; }));
    EXPECT_EQ(grid.GetValues(0, 0)[9], 1301);
    EXPECT_GT(gadget.transfers().size(), 0u);
    for (const UsbTransfer& t : gadget.transfers()) {
        EXPECT_NE(t.kind, UsbTransfer::Kind::InterruptOut) << "the classic tester speaks features";
    }
}

// A master board with two heads, its position map crossed (position 0 is
// head 1, position 1 head 0): each page takes its own head's settings and
// live values, and the board's outputs follow the fail count.
TEST_F(RealStation, MasterBoardWithTwoHeadsServesEachPageFromItsHead) {
    auto board = std::make_shared<sim::SimMasterBoard>();
    board->set_noise(0);
    board->set_present_heads({0, 1});
    board->edit([](sim::MasterMemory& m) {
        m.rows = 1;
        m.columns = 2;
        m.heads[0].upper.fill(1000);
        m.heads[0].lower.fill(400);
        m.heads[1].upper.fill(2000);
        m.heads[1].lower.fill(1500);
        m.heads[1].modes[2] = Masked;
        m.range_max = 2500;
        m.range_min = 30;
    });
    board->assign(0, 0, 0, 1);
    board->assign(1, 0, 1, 0);
    for (int k = 0; k < 32; ++k) {
        board->set_value(0, k, static_cast<std::uint16_t>(500 + k));
        board->set_value(1, k, static_cast<std::uint16_t>(1600 + k));
    }
    UsbGadgetBoard gadget(board);
    ASSERT_FALSE(Plug(gadget).empty());

    EXPECT_EQ(core->Title(), kTitleOrvane);
    EXPECT_EQ(core->ActiveFamily(), FamilyId::Master);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(core->Find<MasterFamily>()->Board().head_count(), 2);
    EXPECT_EQ(core->Find<MasterFamily>()->HeadOfPage(0), 1);
    EXPECT_EQ(core->Find<MasterFamily>()->HeadOfPage(1), 0);
    EXPECT_EQ(grid.GetColumns(), 2);
    EXPECT_EQ(grid.GetRows(), 1);
    EXPECT_EQ(Page(0).upper[0], 2000);
    EXPECT_EQ(Page(0).reference[0], 1750);
    EXPECT_EQ(Page(0).mask[2], Masked);
    EXPECT_EQ(Page(1).upper[0], 1000);
    EXPECT_EQ(Page(1).lower[0], 400);
    EXPECT_EQ(Page(1).mask[2], Tested);
    EXPECT_EQ(Page(1).rangeMax, 2500);
    EXPECT_EQ(Page(1).rangeMin, 30);

    const auto outputs = [&] { return board->memory().outputs; };
    EXPECT_TRUE(EvaluateUntil([&] {
        return grid.GetValues(0, 0)[0] == 1600 && grid.GetValues(1, 0)[31] == 531 &&
               outputs()[2] == 1 && outputs()[4] == 0;
    })) << "both heads shown, PASS";

    // Head 0 (page 1) fails: the count in byte 5, the buzzer (on, not
    // inverted) in byte 6, no PASS.
    board->set_value(0, 3, 1001);
    EXPECT_TRUE(EvaluateUntil([&] {
        const auto o = outputs();
        return grid.GetFailCount() == 1 && o[2] == 0 && o[4] == 1 && o[5] == 1;
    })) << "FAIL";
    EXPECT_EQ(grid.GetValues(1, 0)[3], 1001);
    EXPECT_EQ(grid.GetValues(0, 0)[3], 1603);
}

// --- hot-plug ---------------------------------------------------------------

// The monitor's events drive the station: an unplug while the worker polls
// leaves it disconnected with the worker stopped and the grid empty; the
// re-plug connects it again and the values flow once more.
TEST_F(RealStation, UnplugDuringAcquisitionDisconnectsAndTheReplugConnectsAgain) {
    auto board = MakerBoard();
    UsbGadgetBoard gadget(board);
    const std::string first = Plug(gadget);
    ASSERT_FALSE(first.empty());
    ASSERT_EQ(core->AcquisitionWorkers(), 1);
    ASSERT_TRUE(EvaluateUntil([&] { return board->memory().outputs_written >= 3; }))
        << "the worker polls";

    titles.clear();
    Unplug(gadget, first);
    EXPECT_EQ(core->Title(), kTitleDisconnected);
    EXPECT_EQ(core->AcquisitionWorkers(), 0);
    EXPECT_FALSE(core->Acquiring());
    EXPECT_EQ(core->ActiveFamily(), FamilyId::None);
    EXPECT_FALSE(core->Present(FamilyId::OneToOne));
    EXPECT_EQ(grid.GetColumns(), 0);
    EXPECT_EQ(grid.GetRows(), 0);
    EXPECT_TRUE(messages.empty()) << messages.front();

    board->set_value(0, 888);
    titles.clear();
    const std::string second = Plug(gadget);
    ASSERT_FALSE(second.empty());
    ASSERT_EQ(titles.size(), 2u);
    EXPECT_EQ(titles[0], kTitleInserted);
    EXPECT_EQ(titles[1], kTitleOrvane);
    EXPECT_EQ(core->AcquisitionWorkers(), 1);
    EXPECT_EQ(core->Find<RunoffFamily>()->Board().device_path(), second);
    EXPECT_TRUE(EvaluateUntil([&] { return grid.GetValues(0, 0)[0] == 888; }));

    // What the monitor delivered: the arrival, the removal of the same node,
    // the second arrival.
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], std::make_pair(HotplugEvent::Arrival, first));
    EXPECT_EQ(events[1], std::make_pair(HotplugEvent::Removal, first));
    EXPECT_EQ(events[2], std::make_pair(HotplugEvent::Arrival, second));
}

// --- a node the user may not open ----------------------------------------------

// The lines the station check printed, by kind.
struct StationCheck {
    int status = -1;
    std::vector<std::string> titles;
    std::vector<std::string> messages;
    std::string output;
};

StationCheck RunStationCheckAs(const std::string& user) {
    const std::string command =
        "setpriv --reuid=" + user + " --regid=nogroup --clear-groups " + KX_STATION_CHECK + " 2>&1";
    const kernel::CommandResult r = kernel::RunCommand(command);
    StationCheck check;
    check.status = r.status;
    check.output = r.output;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("title: ", 0) == 0) {
            check.titles.push_back(line.substr(7));
        } else if (line.rfind("message: ", 0) == 0) {
            check.messages.push_back(line.substr(9));
        }
    }
    return check;
}

// A board is there but the user's station may not open its node: the station
// says it has no permission and what to do, never that no board is present.
// Once the node may be opened, the same user's station connects it.
TEST_F(RealStation, ABoardWhoseNodeTheUserMayNotOpenIsReportedAsNoPermission) {
    auto board = MakerBoard();
    UsbGadgetBoard gadget(board);
    const std::string path = Plug(gadget);
    ASSERT_FALSE(path.empty());
    core->Close();  // this process's station lets go of the board
    const std::size_t reportsBefore = board->received().size();

    ASSERT_EQ(chown(path.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    const StationCheck refused = RunStationCheckAs("nobody");
    EXPECT_EQ(refused.status, 0) << refused.output;
    ASSERT_FALSE(refused.titles.empty()) << refused.output;
    EXPECT_EQ(refused.titles.back(), OpenRefusalTitle(OpenFailure::NoPermission));
    EXPECT_NE(refused.titles.back().find("没有访问权限"), std::string::npos);
    ASSERT_EQ(refused.messages.size(), 1u) << refused.output;
    EXPECT_NE(refused.messages[0].find("没有权限"), std::string::npos) << refused.messages[0];
    EXPECT_NE(refused.messages[0].find("70-kaldrixplus.rules"), std::string::npos);
    EXPECT_NE(refused.messages[0].find(RunoffFamily::kName), std::string::npos);
    EXPECT_EQ(board->received().size(), reportsBefore) << "a report reached the board";

    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    const StationCheck opened = RunStationCheckAs("nobody");
    EXPECT_EQ(opened.status, 0) << opened.output;
    ASSERT_FALSE(opened.titles.empty()) << opened.output;
    EXPECT_EQ(opened.titles.back(), kTitleOrvane);
    EXPECT_TRUE(opened.messages.empty()) << opened.output;
}

}  // namespace
}  // namespace kx

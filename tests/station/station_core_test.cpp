// SPDX-License-Identifier: MIT
// The station core end to end on the simulated bus: connection, hot-plug,
// the acquisition worker and the settings transfer, with the grid model and
// no window. The software boards follow the board side of each protocol, so
// what these tests see on a board is what a real board would receive.

#include "station/station_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_bus.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"
#include "station/test_recorder.h"
#include "tests/support/station_wait.h"

namespace kx {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using sim::SimClassicBoard;
using sim::SimMasterBoard;
using sim::SimRunoffBoard;
using sim::SimVelmora5Board;

// A HID device the station does not drive (a scanner, a mouse).
class OtherDevice : public sim::SimBoard {
public:
    OtherDevice() : SimBoard({0x046D, 0xC077, u"Logitech", u"USB Optical Mouse"}) {}
    const char* family() const override { return "other"; }

protected:
    void on_output(const Frame&) override {}
};

using test::WaitFor;

std::shared_ptr<SimRunoffBoard> Runoff(const std::string& manufacturer) {
    auto board = std::make_shared<SimRunoffBoard>(manufacturer);
    board->set_noise(0);
    return board;
}

// Command codes of the interrupt-pipe reports a board received, in order: a
// set's command report is followed by `setReports - 1` more reports.
std::vector<std::uint8_t> Commands(const std::vector<Frame>& frames,
                                   const std::vector<std::uint8_t>& setCodes,
                                   std::size_t setReports) {
    std::vector<std::uint8_t> codes;
    for (std::size_t i = 0; i < frames.size();) {
        const std::uint8_t code = frames[i][3];
        codes.push_back(code);
        const bool isSet = std::find(setCodes.begin(), setCodes.end(), code) != setCodes.end();
        i += isSet ? setReports : 1;
    }
    return codes;
}

class Station : public ::testing::Test {
protected:
    Station() { NewCore(); }
    // A station as the window starts it (also afresh, the old one closed).
    void NewCore() {
        bus.set_hotplug_handler({});
        core.reset();
        test::ResetStationState();
        StationCallbacks callbacks;
        callbacks.setTitle = [this](const std::string& t) { titles.push_back(t); };
        callbacks.showMessage = [this](const std::string& m) { messages.push_back(m); };
        callbacks.typeItemsChanged = [this](const TypeItems& items) {
            typeEvents.push_back(items);
        };
        callbacks.cyclesRestarted = [this](const BoardInfo& b) { boards.push_back(b); };
        core = std::make_unique<StationCore>(bus, grid, pages, std::move(callbacks));
        bus.set_hotplug_handler(
            [this](HotplugEvent e, const std::string& path) { core->OnDeviceChange(e, path); });
    }
    ~Station() override {
        bus.set_hotplug_handler({});
        core.reset();
    }

    // The grid's judgement, as the window's repaint timer makes it.
    void Evaluate() { grid.Evaluate(800, 600, *frame); }

    // Stops the worker so that a test can run steps itself.
    void Pause() { core->StopAcquisition(); }

    // A copy of one page, taken under its lock, as the worker may be writing
    // it.
    PageRecord Page(int p) const { return pages.Copy(p); }

    bool MachinesGreyedOut() const {
        for (int t = 1; t < kDeviceTypes; ++t) {
            if (core->DeviceTypes()[static_cast<std::size_t>(t)].available != 0) {
                return false;
            }
        }
        return true;
    }

    sim::SimBus bus;
    GridModel grid;
    test::DefaultPages pages;
    std::unique_ptr<GridFrame> frame = std::make_unique<GridFrame>();
    std::vector<std::string> titles;
    std::vector<std::string> messages;
    std::vector<TypeItems> typeEvents;
    std::vector<BoardInfo> boards;  // cyclesRestarted
    std::unique_ptr<StationCore> core;
};

// --- start-up and the device-type menu -------------------------------------

TEST_F(Station, StartsDisconnectedWithTheMenuDefaults) {
    core->Initialise();
    EXPECT_FALSE(core->Present(FamilyId::OneToOne));
    EXPECT_FALSE(core->Present(FamilyId::Velmora5));
    EXPECT_FALSE(core->Present(FamilyId::Master));
    EXPECT_FALSE(core->Find<MasterFamily>()->Kestrun9Present());
    EXPECT_FALSE(core->Present(FamilyId::Classic));
    for (const BoardFamily* family : core->Families()) {
        EXPECT_FALSE(family->Ready()) << family->Name();
    }
    EXPECT_EQ(core->DeviceTypes()[0], (TypeItem{1, 1}));
    for (int t = 1; t < kDeviceTypes; ++t) {
        EXPECT_EQ(core->DeviceTypes()[static_cast<std::size_t>(t)], (TypeItem{0, 1}));
    }
    EXPECT_EQ(core->FpcMenuUnlocked(), true);
    EXPECT_EQ(core->BuzzerOn(), false);
    EXPECT_EQ(core->BuzzerInverted(), false);
    EXPECT_EQ(core->Title(), kTitleDisconnected);
    EXPECT_EQ(grid.GetColumns(), 0);
    EXPECT_EQ(grid.GetRows(), 0);
    EXPECT_EQ(core->AcquisitionWorkers(), 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Page(63).upper[0], 1100);

    core->SelectDeviceType(3);
    EXPECT_EQ(core->DeviceTypes()[3].checked, 1);
    EXPECT_EQ(core->DeviceTypes()[0].checked + core->DeviceTypes()[1].checked +
                  core->DeviceTypes()[2].checked + core->DeviceTypes()[4].checked +
                  core->DeviceTypes()[5].checked,
              0);
    ASSERT_FALSE(typeEvents.empty());
    EXPECT_EQ(typeEvents.back()[3].checked, 1);
    core->ToggleBuzzerOn();
    core->ToggleBuzzerInvert();
    core->ToggleBuzzerInvert();
    EXPECT_EQ(core->BuzzerOn(), true);
    EXPECT_EQ(core->BuzzerInverted(), false);
}

// Two stations side by side each work on the page table their owner gave
// them: one's start-up, board settings and live values never reach the
// other's.
TEST(StationPages, TwoStationsEachKeepToTheTableTheyWereGiven) {
    struct Side {
        std::int32_t reference;
        std::int32_t upper;
        std::uint16_t live;
        sim::SimBus bus;
        GridModel grid;
        PageStore pages;
    };
    Side sides[2] = {{610, 1010, 811, {}, {}, {}}, {620, 1020, 822, {}, {}, {}}};
    std::vector<std::unique_ptr<StationCore>> cores;
    for (Side& side : sides) {
        cores.push_back(std::make_unique<StationCore>(side.bus, side.grid, side.pages));
        auto board = Runoff("borvane");
        board->edit([&](sim::RunoffMemory& m) {
            m.reference.fill(static_cast<std::uint16_t>(side.reference));
            m.upper.fill(static_cast<std::uint16_t>(side.upper));
        });
        board->set_value(0, side.live);
        side.bus.plug(board);
    }
    EXPECT_EQ(&cores[0]->Pages(), &sides[0].pages);
    cores[0]->Initialise();
    ASSERT_EQ(cores[0]->ActiveFamily(), FamilyId::OneToOne);
    EXPECT_EQ(sides[1].pages.Copy(0).upper[0], 0) << "the start-up reached another table";
    cores[1]->Initialise();
    ASSERT_EQ(cores[1]->ActiveFamily(), FamilyId::OneToOne);
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        cores[i]->StopAcquisition();
        cores[i]->AcquireStep();
        const PageRecord page = sides[i].pages.Copy(0);
        EXPECT_EQ(page.reference[0], sides[i].reference);
        EXPECT_EQ(page.upper[0], sides[i].upper);
        EXPECT_EQ(page.live[0], sides[i].live);
        cores[i]->Close();
    }
}

// --- the one-to-one testers ---------------------------------------------------

// The road of one event: a TARSEL machine-2 board, its settings in page 0,
// one channel driven above its upper limit, FAIL with the buzzer on the
// board's outputs.
TEST_F(Station, TarselMachineTwoFailsAChannelAboveItsLimitWithTheBuzzer) {
    core->SelectDeviceType(2);
    auto board = Runoff("TARSEL_DEV2");
    board->edit([](sim::RunoffMemory& m) {
        m.reference.fill(650);
        m.upper.fill(1000);
        m.lower.fill(400);
        m.modes.fill(0);
        m.modes[31] = 1;
        m.range_max = 1400;
        m.range_min = 20;
    });
    titles.clear();
    bus.plug(board);

    ASSERT_GE(titles.size(), 2u);
    EXPECT_EQ(titles.front(), kTitleInserted);
    EXPECT_EQ(titles.back(), kTitleOrvane);
    EXPECT_EQ(core->Find<RunoffFamily>()->OemName(), "TARSEL");
    EXPECT_TRUE(core->Present(FamilyId::OneToOne));
    EXPECT_EQ(grid.GetColumns(), 1);
    EXPECT_EQ(grid.GetRows(), 1);
    const PageRecord p = Page(0);
    EXPECT_EQ(p.reference[7], 650);
    EXPECT_EQ(p.upper[7], 1000);
    EXPECT_EQ(p.lower[7], 400);
    EXPECT_EQ(p.mask[0], Tested);
    EXPECT_EQ(p.mask[31], Masked);
    EXPECT_EQ(p.rangeMax, 1400);
    EXPECT_EQ(p.rangeMin, 20);
    EXPECT_EQ(core->AcquisitionWorkers(), 1);
    EXPECT_TRUE(messages.empty());

    const auto outputs = [&] { return board->memory().outputs; };
    const auto evaluatedOutputs = [&](std::array<std::uint8_t, 4> want) {
        return WaitFor([&] {
            Evaluate();
            return outputs() == want;
        });
    };
    EXPECT_TRUE(evaluatedOutputs({1, 0, 0, 0})) << "pass, buzzer off";

    core->ToggleBuzzerOn();
    board->set_value(5, 1001);
    EXPECT_TRUE(evaluatedOutputs({0, 1, 0, 1})) << "fail, buzzer on and not inverted";
    EXPECT_EQ(grid.GetValues(0, 0)[5], 1001);
    EXPECT_EQ(grid.GetFailCount(), 1);

    core->ToggleBuzzerInvert();
    EXPECT_TRUE(evaluatedOutputs({0, 1, 0, 0})) << "fail, buzzer inverted";
    board->set_value(5, 1000);  // at the limit: within
    EXPECT_TRUE(evaluatedOutputs({1, 0, 0, 1})) << "pass, buzzer inverted";
}

// The OEM name each chain row records; a VERSION row keeps the name recorded
// before, and a chain that finds nothing empties it.
TEST_F(Station, OneToOneRowsRecordTheirOemNames) {
    struct Step {
        int type;
        bool plug;
        const char* manufacturer;
        const char* oem;
        bool connected;
    };
    const Step steps[] = {
        {0, true, "VERSION2", "", true},  // the first connection: still empty
        {0, true, "ravuno-demo", "ODM", true},
        {0, false, "ravuno-demo", "ODM", true},  // VERSION2 remains: kept
        {0, false, "VERSION2", "", false},
        {4, true, "MOVIRA_DEV4", "MOVIRA", true},
        {4, true, "VERSION6-4", "MOVIRA", true},  // tried before MOVIRA: kept
        {4, false, "MOVIRA_DEV4", "MOVIRA", true},
        {4, false, "VERSION6-4", "", false},
        {0, true, "MR.TOVAK", "DARMOLEN", true},
        {0, false, "MR.TOVAK", "", false},
        {0, true, "borvane", "BORVANE", true},
        {0, false, "borvane", "", false},
        {3, true, "TARSEL", "", false},  // a standard board with machine 3 chosen
        {0, false, "TARSEL", "", false},
    };
    std::map<std::string, std::shared_ptr<SimRunoffBoard>> boards;
    for (const Step& s : steps) {
        SCOPED_TRACE(::testing::Message() << (s.plug ? "plug " : "unplug ") << s.manufacturer);
        if (core->DeviceTypes()[static_cast<std::size_t>(s.type)].checked == 0) {
            core->SelectDeviceType(s.type);
        }
        if (s.plug) {
            boards[s.manufacturer] = Runoff(s.manufacturer);
            bus.plug(boards[s.manufacturer]);
        } else {
            bus.unplug(boards[s.manufacturer]);
        }
        EXPECT_EQ(core->Find<RunoffFamily>()->OemName(), s.oem);
        EXPECT_EQ(core->Title(), s.connected ? kTitleOrvane : kTitleDisconnected);
        EXPECT_EQ(grid.GetColumns(), s.connected ? 1 : 0);
        EXPECT_EQ(grid.GetRows(), s.connected ? 1 : 0);
        EXPECT_EQ(core->AcquisitionWorkers(), s.connected ? 1 : 0);
    }
}

// --- Velmora5 ---------------------------------------------------------------

TEST_F(Station, Velmora5TakesItsLayoutAndGreysOutTheMachines) {
    struct Case {
        std::array<std::uint8_t, 3> header;
        int rows;
        int columns;
    };
    const Case cases[] = {
        {{1, 6, 7}, 4, 4},  // cut to 4 x 4
        {{1, 1, 3}, 1, 3},
        {{0, 3, 3}, 2, 2},  // not in use: the grid keeps 2 x 2
        {{2, 3, 3}, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << int{c.header[0]} << "," << int{c.header[1]} << "," << int{c.header[2]});
        auto board = std::make_shared<SimVelmora5Board>();
        board->edit([&](sim::Velmora5Memory& m) {
            std::copy(c.header.begin(), c.header.end(), m.heads[1].modes.begin());
            for (int h = 2; h < 6; ++h) {
                m.heads[static_cast<std::size_t>(h)].upper.fill(
                    static_cast<std::uint16_t>(1000 + h));
                m.heads[static_cast<std::size_t>(h)].range_min = static_cast<std::uint16_t>(h);
            }
        });
        bus.plug(board);
        EXPECT_EQ(core->Title(), kTitleVelmora5);
        EXPECT_EQ(grid.GetRows(), c.rows);
        EXPECT_EQ(grid.GetColumns(), c.columns);
        EXPECT_TRUE(MachinesGreyedOut());
        // Pages 0 to 3 from heads 2 to 5, whatever the grid's size.
        for (int page = 0; page < 4; ++page) {
            EXPECT_EQ(Page(page).upper[0], 1002 + page);
            EXPECT_EQ(Page(page).rangeMin, 2 + page);
        }
        EXPECT_EQ(Page(4).upper[0], 1100);
        EXPECT_EQ(board->memory().protocol_errors, 0);
        bus.unplug(board);
    }
    // Greyed out until a one-to-one board is found again.
    EXPECT_TRUE(MachinesGreyedOut());
    bus.plug(Runoff("borvane"));
    EXPECT_EQ(core->DeviceTypes()[3].available, 1);
}

TEST_F(Station, Velmora5PollsFivePagesInTurn) {
    auto board = std::make_shared<SimVelmora5Board>();
    board->set_noise(0);
    for (int head = 0; head < 8; ++head) {
        board->set_value(head, 0, static_cast<std::uint16_t>(100 * head));
    }
    bus.plug(board);
    Pause();
    g_velmora5Page = 0;
    for (int step = 0; step < 5; ++step) {
        core->AcquireStep();
    }
    EXPECT_EQ(g_velmora5Page, 0);
    for (int page = 0; page < 5; ++page) {
        EXPECT_EQ(Page(page).live[0], 100 * (page + 2)) << "page " << page;
    }
    EXPECT_EQ(Page(5).live[0], 0);
    EXPECT_EQ(board->memory().protocol_errors, 0);
}

// --- master board -------------------------------------------------------------

class MasterStation : public Station {
protected:
    // A 2 x 2 board: position 0 -> head 5, 1 -> head 0, 2 unassigned,
    // 3 -> head 9; head 5 has limits 300/200, head 0 200/300.
    std::shared_ptr<SimMasterBoard> PlugMaster() {
        auto board = std::make_shared<SimMasterBoard>();
        board->set_noise(0);
        board->set_present_heads({0, 5, 9});
        board->edit([](sim::MasterMemory& m) {
            m.rows = 2;
            m.columns = 2;
            m.heads[5].upper.fill(300);
            m.heads[5].lower.fill(200);
            m.heads[0].upper.fill(200);
            m.heads[0].lower.fill(300);
            m.heads[9].modes.fill(1);
            m.range_max = 1234;
            m.range_min = 56;
        });
        board->assign(0, 0, 0, 5);
        board->assign(1, 0, 1, 0);
        board->assign(2, 1, 0, std::nullopt);
        board->assign(3, 1, 1, 9);
        board->set_value(5, 0, 555);
        board->set_value(0, 0, 111);
        board->set_value(9, 0, 999);
        bus.plug(board);
        return board;
    }
    static std::array<std::uint8_t, 7> Outputs(const SimMasterBoard& board) {
        return board.memory().outputs;
    }
};

TEST_F(MasterStation, SetsUpFromTheBoardAndPollsEachPageFromItsHead) {
    auto board = PlugMaster();
    EXPECT_EQ(core->Title(), kTitleOrvane);
    EXPECT_EQ(core->Find<MasterFamily>()->Board().head_count(), 3);
    EXPECT_EQ(grid.GetRows(), 2);
    EXPECT_EQ(grid.GetColumns(), 2);
    EXPECT_TRUE(MachinesGreyedOut());

    // The reference is the midpoint counted from the lower limit.
    EXPECT_EQ(Page(0).upper[3], 300);
    EXPECT_EQ(Page(0).lower[3], 200);
    EXPECT_EQ(Page(0).reference[3], 250);
    EXPECT_EQ(Page(1).reference[3], 350);
    EXPECT_EQ(Page(3).mask[3], 1);
    // An unassigned page is not read from the board.
    EXPECT_EQ(Page(2).upper[3], 1100);
    EXPECT_EQ(Page(2).reference[3], 700);
    // The board-wide range goes to every page of the grid, not beyond it.
    for (int p = 0; p < 4; ++p) {
        EXPECT_EQ(Page(p).rangeMax, 1234) << p;
        EXPECT_EQ(Page(p).rangeMin, 56) << p;
    }
    EXPECT_EQ(Page(4).rangeMax, 1500);

    ASSERT_TRUE(WaitFor([&] {
        return Page(0).live[0] == 555 && Page(1).live[0] == 111 && Page(3).live[0] == 999;
    }));
    EXPECT_EQ(Page(2).live[0], 0);
    ASSERT_TRUE(WaitFor([&] { return grid.GetValues(1, 1)[0] == 999; }));
    EXPECT_EQ(grid.GetReference(0, 0)[0], 250);
}

TEST_F(MasterStation, OutputsFollowTheFailCountAndTheEmergencyStopLatches) {
    auto board = PlugMaster();
    Pause();
    // Pages 0 and 1 masked (no verdict), page 3 tested and within its limits.
    {
        CSectionGuard guard(&pages.lock);
        pages.table[0].mask.fill(Masked);
        pages.table[1].mask.fill(Masked);
        pages.table[3].mask.fill(Tested);
    }
    board->set_input(1, 3);
    board->set_input(2, 4);
    board->set_input(3, 7);  // not echoed
    board->set_input(4, 5);

    core->AcquireStep();
    Evaluate();
    EXPECT_EQ(grid.GetFailCount(), 0);
    core->AcquireStep();
    EXPECT_EQ(Outputs(*board), (std::array<std::uint8_t, 7>{3, 4, 1, 5, 0, 0, 0}));

    // Head 9 (page 3) fails: byte 5 the count, byte 6 the buzzer (on).
    board->set_value(9, 1, 2000);
    core->AcquireStep();
    Evaluate();
    EXPECT_EQ(grid.GetFailCount(), 1);
    core->AcquireStep();
    EXPECT_EQ(Outputs(*board), (std::array<std::uint8_t, 7>{3, 4, 0, 5, 1, 1, 0}));

    // Input 7: the latch is set, this step's outputs are still the normal
    // ones, from the next step on only the buzzer byte remains.
    board->set_input(7, 1);
    core->AcquireStep();
    EXPECT_EQ(g_emergencyStop, 1);
    EXPECT_EQ(Outputs(*board), (std::array<std::uint8_t, 7>{3, 4, 0, 5, 1, 1, 1}));
    board->set_input(7, 0);
    board->set_value(5, 0, 444);
    core->AcquireStep();
    EXPECT_EQ(Outputs(*board), (std::array<std::uint8_t, 7>{0, 0, 0, 0, 0, 1, 0}));
    // The heads are still read, but nothing reaches the grid.
    EXPECT_EQ(Page(0).live[0], 444);
    EXPECT_EQ(grid.GetValues(0, 0)[0], 555);
    board->edit([](sim::MasterMemory& m) { m.buzzer = 0; });
    core->AcquireStep();
    EXPECT_EQ(Outputs(*board), (std::array<std::uint8_t, 7>{}));

    // The latch outlives a reconnection: only the operator clears it.
    bus.unplug(board);
    bus.plug(board);
    Pause();
    EXPECT_EQ(g_emergencyStop, 1);
    core->AcquireStep();
    EXPECT_EQ(Outputs(*board), (std::array<std::uint8_t, 7>{}));

    // Cleared (as the information dialog does): normal again.
    g_emergencyStop = 0;
    board->edit([](sim::MasterMemory& m) { m.buzzer = 0x81; });  // on, inverted
    core->AcquireStep();
    EXPECT_EQ(grid.GetValues(0, 0)[0], 444);
    EXPECT_EQ(Outputs(*board), (std::array<std::uint8_t, 7>{3, 4, 0, 5, 1, 0, 0}));
}

// Grid positions whose page lies past the 64-entry table are left alone.
TEST_F(MasterStation, PagesPastTheTableAreNeitherHandedOverNorRead) {
    auto board = PlugMaster();
    Pause();
    board->edit([](sim::MasterMemory& m) {
        m.rows = 10;
        m.columns = 10;
    });
    core->Connect();  // nothing new: the board is set up
    grid.SetRows(10);
    grid.SetColumns(10);
    {
        CSectionGuard guard(&pages.lock);
        pages.table[63].live.fill(6363);
    }
    core->AcquireStep();
    EXPECT_EQ(grid.GetValues(3, 6)[0], 6363);  // page 63
    EXPECT_EQ(grid.GetValues(4, 6)[0], 0);     // page 64: none
    EXPECT_EQ(grid.GetValues(9, 9)[0], 0);
    EXPECT_TRUE(core->Find<MasterFamily>()->ReadSettings());
    EXPECT_EQ(Page(63).rangeMax, 1234);
    // The baseline command asks for the range of every page the grid shows.
    board->edit([](sim::MasterMemory& m) { m.range_max = 1777; });
    EXPECT_TRUE(core->Find<MasterFamily>()->ReadRange(99));
    EXPECT_EQ(Page(63).rangeMax, 1777);
}

// --- classic tester -----------------------------------------------------------

TEST_F(Station, ClassicReadsEveryPositionOnceInThirtyThreeSteps) {
    auto board = std::make_shared<SimClassicBoard>();
    board->set_noise(0);
    for (int k = 0; k < 32; ++k) {
        board->set_value(k, static_cast<std::uint16_t>(10 * k + 5));
    }
    board->edit([](sim::ClassicMemory& m) {
        m.channel32_value = 4321;
        m.upper.fill(1300);
        m.offset_type = 0;
        m.percentage = 17;
        m.offset_upper = 33;
        m.offset_lower = 44;
        m.range_max = 1600;
        m.range_min = 15;
    });
    bus.plug(board);
    EXPECT_EQ(core->Title(), kTitleClassic);
    EXPECT_EQ(grid.GetColumns(), 1);
    const PageRecord settings = Page(0);
    EXPECT_EQ(settings.upper[4], 1300);
    EXPECT_EQ(settings.offsetType, 0);
    EXPECT_EQ(settings.percentage, 17.0f);
    EXPECT_EQ(settings.offsetUpper, 33);
    EXPECT_EQ(settings.offsetLower, 44);
    EXPECT_EQ(settings.rangeMax, 1600);
    EXPECT_EQ(settings.rangeMin, 15);

    Pause();
    g_classicChannel = 0;
    board->clear_received();
    for (int step = 0; step < 33; ++step) {
        core->AcquireStep();
    }
    EXPECT_EQ(g_classicChannel, 0);
    std::map<int, int> reads;
    for (const sim::ReceivedReport& r : board->received()) {
        if (r.kind == sim::ReceivedReport::Kind::SetFeature && r.frame[1] == 0x10) {
            ++reads[r.frame[2]];
        }
    }
    ASSERT_EQ(reads.size(), 33u);
    for (const auto& [channel, count] : reads) {
        EXPECT_EQ(count, 1) << "position " << channel;
    }
    const PageRecord p = Page(0);
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(p.live[static_cast<std::size_t>(k)], 10 * k + 5);
    }
    EXPECT_EQ(p.live[32], 4321);
    EXPECT_EQ(Page(1).live[0], 0);
}

// --- several boards, plug and unplug ---------------------------------------------

// The one-to-one board is used; the master board is opened by its probe but
// never spoken to: no buzzer, input or output exchange with it.
TEST_F(Station, OneToOneBesideAMasterBoardLeavesTheMasterAlone) {
    bus.set_hotplug_handler({});
    auto master = std::make_shared<SimMasterBoard>();
    master->set_present_heads({0});
    master->assign(0, 0, 0, 0);
    auto runoff = Runoff("borvane");
    runoff->set_value(0, 321);
    bus.plug(master);
    bus.plug(runoff);
    core->Connect();

    EXPECT_TRUE(core->Present(FamilyId::OneToOne));
    EXPECT_TRUE(core->Present(FamilyId::Master));
    EXPECT_EQ(master->open_handle_count(), 1);
    EXPECT_EQ(core->ActiveFamily(), FamilyId::OneToOne);
    EXPECT_EQ(grid.GetColumns(), 1);
    ASSERT_TRUE(WaitFor([&] { return runoff->memory().outputs_written >= 5; }));
    EXPECT_EQ(Page(0).live[0], 321);
    EXPECT_TRUE(master->received().empty());
    EXPECT_EQ(master->memory().outputs_written, 0);

    // Without the one-to-one the master board is set up and polled.
    bus.set_hotplug_handler(
        [this](HotplugEvent e, const std::string& path) { core->OnDeviceChange(e, path); });
    bus.unplug(runoff);
    EXPECT_EQ(core->ActiveFamily(), FamilyId::Master);
    EXPECT_TRUE(WaitFor([&] { return master->memory().outputs_written >= 2; }));
}

TEST_F(Station, EveryFamilyReconnectsAfterReplug) {
    struct Case {
        const char* name;
        std::function<std::shared_ptr<sim::SimBoard>()> make;
        const char* title;
        FamilyId family;
    };
    const Case cases[] = {
        {"one-to-one", [] { return Runoff("TARSEL"); }, kTitleOrvane, FamilyId::OneToOne},
        {"Velmora5", [] { return std::make_shared<SimVelmora5Board>(); }, kTitleVelmora5,
         FamilyId::Velmora5},
        {"master",
         [] {
             auto b = std::make_shared<SimMasterBoard>();
             b->set_present_heads({2});
             b->assign(0, 0, 0, 2);
             return b;
         },
         kTitleOrvane, FamilyId::Master},
        {"classic", [] { return std::make_shared<SimClassicBoard>(); }, kTitleClassic,
         FamilyId::Classic},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto board = c.make();
        bus.plug(board);
        EXPECT_EQ(core->Title(), c.title);
        EXPECT_EQ(core->ActiveFamily(), c.family);
        EXPECT_EQ(core->AcquisitionWorkers(), 1);
        bus.unplug(board);
        EXPECT_EQ(core->Title(), kTitleDisconnected);
        EXPECT_EQ(core->ActiveFamily(), FamilyId::None);
        EXPECT_EQ(core->AcquisitionWorkers(), 0);
        EXPECT_EQ(grid.GetColumns(), 0);
        EXPECT_EQ(grid.GetRows(), 0);
        EXPECT_EQ(core->Find<MasterFamily>()->Board().head_count(), 0);

        bus.plug(board);
        EXPECT_EQ(core->Title(), c.title);
        EXPECT_EQ(core->AcquisitionWorkers(), 1);
        EXPECT_EQ(board->open_handle_count(), 1);
        // Polled again.
        const std::size_t afterSetUp = board->received().size();
        EXPECT_TRUE(WaitFor([&] { return board->received().size() > afterSetUp + 20; }));
        bus.unplug(board);
    }
    EXPECT_TRUE(messages.empty());
}

// The connection describes the board in use for the test records and starts
// every head's cycle afresh; the board going away empties the description.
TEST_F(Station, ConnectionDescribesTheBoardAndRestartsTheCycles) {
    core->PresetDeviceType(3);
    ChannelValues five{};
    five.fill(5);
    grid.SetValues(0, 0, five);
    ASSERT_EQ(grid.GetCycleStats(0, 0).steps, 1);
    auto classic = std::make_shared<SimClassicBoard>();
    classic->edit(
        [](sim::ClassicMemory& m) { m.serial_number = std::string("CT\x01\x7f") + "99"; });
    bus.plug(classic);
    ASSERT_FALSE(boards.empty());
    const BoardInfo described = boards.back();
    EXPECT_EQ(described, core->ConnectedBoard());
    EXPECT_EQ(described.family, ClassicFamily::kName);
    EXPECT_FALSE(described.manufacturer.empty());
    EXPECT_EQ(described.product, CClassicTester::kProduct);
    EXPECT_EQ(described.firmware, "0x107");
    EXPECT_EQ(described.deviceId, "CT??99");  // board texts: printable ASCII only
    EXPECT_EQ(described.machineType, 3);

    core->StopAcquisition();
    grid.SetValues(0, 0, five);
    const std::size_t before = boards.size();
    bus.unplug(classic);
    ASSERT_EQ(boards.size(), before + 2);  // the removal, and the connection that found nothing
    EXPECT_EQ(boards.back(), BoardInfo{});
    EXPECT_EQ(core->ConnectedBoard(), BoardInfo{});
    EXPECT_EQ(grid.GetCycleStats(0, 0).steps, 0);

    bus.plug(classic);
    EXPECT_EQ(boards.back(), described);
}

// The end-of-panel key on the window's thread while the worker feeds the
// grid: every key after a step records the head, with the board the
// connection described.
TEST_F(Station, KeysWhileTheWorkerRunsRecordTheHead) {
    bus.plug(Runoff("TARSEL"));
    ASSERT_FALSE(boards.empty());
    TestRecorder recorder(grid);
    recorder.SetBoard(boards.back());
    recorder.StartCycles();
    int recorded = 0;
    for (int key = 0; key < 20; ++key) {
        ASSERT_TRUE(WaitFor([&] { return grid.GetCycleStats(0, 0).steps > 0; }));
        Evaluate();
        const std::vector<TestRecord> records = recorder.EndOfPanel("SN" + std::to_string(key));
        for (const TestRecord& r : records) {
            EXPECT_EQ(r.board.family, RunoffFamily::kName);
            EXPECT_EQ(r.serial, "SN" + std::to_string(key));
            EXPECT_EQ(r.column, 1);
            EXPECT_EQ(r.row, 1);
            EXPECT_GT(r.steps, 0);
            EXPECT_EQ(r.config, kBoardSettings);
        }
        recorded += static_cast<int>(records.size());
    }
    // A key may meet a head whose read just went unanswered; nearly all do not.
    EXPECT_GE(recorded, 15);
}

TEST_F(Station, RemovingAnotherHidDeviceLeavesTheBoardConnected) {
    auto mouse = std::make_shared<OtherDevice>();
    auto board = Runoff("borvane");
    bus.plug(mouse);
    bus.plug(board);
    ASSERT_EQ(core->Title(), kTitleOrvane);
    titles.clear();
    bus.unplug(mouse);
    // The removal shows the disconnection, the reconnection puts it back.
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ(titles.front(), kTitleDisconnected);
    EXPECT_EQ(titles.back(), kTitleOrvane);
    EXPECT_EQ(core->AcquisitionWorkers(), 1);
    EXPECT_EQ(grid.GetColumns(), 1);
    board->set_value(9, 999);
    EXPECT_TRUE(WaitFor([&] { return Page(0).live[9] == 999; }));
    EXPECT_EQ(board->open_handle_count(), 1);
}

// A board that is there but cannot be opened is not "nothing plugged in":
// the title says so and the message says what to do, once.
TEST_F(Station, ABoardThatCannotBeOpenedIsReportedWithWhatToDo) {
    struct Case {
        OpenFailure failure;
        const char* inTitle;
        const char* inMessage;
    };
    const Case cases[] = {
        {OpenFailure::NoPermission, "没有访问权限", "70-kaldrixplus.rules"},
        {OpenFailure::Busy, "其他程序", "关闭占用测试板的其他程序"},
        {OpenFailure::Other, "设备无法打开", "重新插上"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(OpenFailureName(c.failure));
        messages.clear();
        auto board = std::make_shared<SimMasterBoard>();
        board->set_open_failure(c.failure);
        bus.plug(board);
        EXPECT_NE(core->Title(), kTitleDisconnected);
        EXPECT_NE(core->Title().find(c.inTitle), std::string::npos) << core->Title();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_NE(messages[0].find(c.inMessage), std::string::npos) << messages[0];
        EXPECT_NE(messages[0].find(MasterFamily::kName), std::string::npos);
        core->Connect();  // another event: no second box
        EXPECT_EQ(messages.size(), 1u);

        // Once the node may be opened, a re-plug connects it.
        board->set_open_failure(OpenFailure::None);
        bus.unplug(board);
        bus.plug(board);
        EXPECT_EQ(core->Title(), kTitleOrvane);
        bus.unplug(board);
        EXPECT_EQ(core->Title(), kTitleDisconnected);
    }
}

// --- the idle screen's note -------------------------------------------------

// With no board to use the grid is idle and its note names the case and what
// to do; the note is "" while a board is in use.
TEST_F(Station, IdleNoteNamesEachSituationOnTheBus) {
    struct Case {
        const char* situation;
        std::function<void()> make;
        std::vector<const char*> inNote;  // first the case's line
    };
    const Case cases[] = {
        {"nothing plugged in",
         [this] { core->Connect(); },
         {"未检测到测试板\n", "插上后会自动连接"}},
        {"the board in use unplugged",
         [this] {
             auto board = Runoff("borvane");
             bus.plug(board);
             bus.unplug(board);
         },
         {"测试板已拔下\n", "重新插上测试板后会自动连接"}},
        {"the board in use gone, found by a connection before its removal event",
         [this] {
             auto board = Runoff("borvane");
             bus.plug(board);
             bus.set_hotplug_handler({});
             bus.unplug(board);
             core->Connect();  // as the worker's reconnection request runs it
         },
         {"测试板已拔下\n"}},
        {"no permission",
         [this] {
             auto board = std::make_shared<SimMasterBoard>();
             board->set_open_failure(OpenFailure::NoPermission);
             bus.plug(board);
         },
         {"找到了多测试头主板，但没有权限打开它\n", "70-kaldrixplus.rules"}},
        {"busy",
         [this] {
             auto board = Runoff("borvane");
             board->set_open_failure(OpenFailure::Busy);
             bus.plug(board);
         },
         {"找到了一拖一测试板，但它正被其他程序使用\n", "关闭占用测试板的其他程序"}},
        {"other refusal",
         [this] {
             auto board = std::make_shared<SimVelmora5Board>();
             board->set_open_failure(OpenFailure::Other);
             bus.plug(board);
         },
         {"找到了Velmora5 多头测试板，但无法打开它\n", "换一个 USB 接口"}},
        {"machine 2 board, standard checked",
         [this] { bus.plug(Runoff("TARSEL_DEV2")); },
         {"找到了一拖一测试板，但它属于设备类型“二号机”\n", "当前选择的设备类型是“普通版”",
          "操作 > 设备类型 中选择“二号机”"}},
        {"standard board, machine 3 checked",
         [this] {
             core->SelectDeviceType(3);
             bus.plug(Runoff("TARSEL"));
         },
         {"找到了一拖一测试板，但它属于设备类型“普通版”\n", "当前选择的设备类型是“三号机”"}},
        {"no udev daemon, nothing plugged in",
         [this] {
             core->SetRescanning(true);
             core->Connect();
         },
         {"未检测到测试板（本机没有运行 udev 服务）\n", "2 秒内", "systemd-udevd"}},
        {"no udev daemon, the board in use unplugged",
         [this] {
             core->SetRescanning(true);
             auto board = std::make_shared<SimClassicBoard>();
             bus.plug(board);
             bus.unplug(board);
         },
         {"测试板已拔下（本机没有运行 udev 服务）\n", "2 秒内"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        bus.unplug_all();
        NewCore();
        c.make();
        EXPECT_EQ(grid.GetColumns(), 0);
        const std::string note = grid.GetIdleNote();
        for (const char* part : c.inNote) {
            EXPECT_NE(note.find(part), std::string::npos) << note << "\n  lacks: " << part;
        }
        EXPECT_EQ(note.find(c.inNote.front()), 0u) << note;
        // The note reaches the frame the painter draws from.
        Evaluate();
        EXPECT_EQ(frame->idleNote, note);
        // Nothing was opened for good to find out.
        for (const auto& board : bus.boards()) {
            EXPECT_EQ(board->open_handle_count(), 0);
        }
    }

    // A board in use: no note.
    bus.unplug_all();
    core->PresetDeviceType(2);
    bus.plug(Runoff("TARSEL_DEV2"));
    EXPECT_EQ(core->ActiveFamily(), FamilyId::OneToOne);
    EXPECT_EQ(grid.GetIdleNote(), "");
}

// Two families plugged in: the title names the board beside the one in use;
// with one board it is the board's own.
TEST_F(Station, TitleNamesABoardOfAnotherFamilyThatIsNotUsed) {
    auto runoff = Runoff("borvane");
    auto velmora = std::make_shared<SimVelmora5Board>();
    bus.plug(runoff);
    EXPECT_EQ(core->Title(), kTitleOrvane);
    bus.plug(velmora);
    EXPECT_EQ(core->ActiveFamily(), FamilyId::OneToOne);
    EXPECT_EQ(core->Title(), "Orvane 设备已经连接（另有Velmora5 多头测试板未使用）");
    bus.unplug(runoff);
    EXPECT_EQ(core->ActiveFamily(), FamilyId::Velmora5);
    EXPECT_EQ(core->Title(), kTitleVelmora5);
}

// --- boards that stop answering, late and slow boards --------------------------

TEST_F(MasterStation, ABoardThatStopsAnsweringFreezesEachHeadAndClosesPromptly) {
    auto board = PlugMaster();
    ASSERT_TRUE(WaitFor([&] { return grid.GetValues(1, 1)[0] == 999; }));
    board->set_silent(true);
    board->set_value(5, 0, 1);
    board->set_value(0, 0, 2);
    board->set_value(9, 0, 3);

    // Another thread's query gets no answer, never the worker's reply.
    std::optional<std::uint16_t> whileSilent = 1;
    std::thread other(
        [&] { whileSilent = core->Find<MasterFamily>()->Board().read_firmware_version(); });
    other.join();
    EXPECT_FALSE(whileSilent.has_value());
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(Page(0).live[0], 555);
    EXPECT_EQ(Page(1).live[0], 111);
    EXPECT_EQ(Page(2).live[0], 0);
    EXPECT_EQ(Page(3).live[0], 999);

    // Answering again: the other thread's query gets its own answer, and the
    // worker, still stepping, takes the new values.
    board->set_silent(false);
    std::optional<std::uint16_t> version;
    std::thread again(
        [&] { version = core->Find<MasterFamily>()->Board().read_firmware_version(); });
    again.join();
    EXPECT_EQ(version, std::optional<std::uint16_t>(0x0104));
    EXPECT_TRUE(WaitFor(
        [&] { return Page(0).live[0] == 1 && Page(1).live[0] == 2 && Page(3).live[0] == 3; }));
    EXPECT_EQ(Page(2).live[0], 0);

    // Silent again, mid-run: by now the worker waits out the late-reply
    // window of its first miss (about 0.9 s left, then a read bound), but
    // stopping cancels the wait.
    board->set_silent(true);
    std::this_thread::sleep_for(600ms);
    const auto start = Clock::now();
    core->StopAcquisition();
    const auto took = Clock::now() - start;
    EXPECT_LT(took, 500ms);
    EXPECT_EQ(core->AcquisitionWorkers(), 0);
    core->Close();
}

// Replies within the read bound are each their command's own, however late;
// replies past it are never taken for the next command's answer.
TEST_F(Station, LateRepliesNeverFillAPageWithAnotherCommandsAnswer) {
    struct Case {
        std::chrono::milliseconds delay;
        bool filled;
    };
    const Case cases[] = {{130ms, true}, {250ms, true}, {700ms, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delay.count());
        pages.Reset();
        messages.clear();
        auto board = Runoff("borvane");
        board->edit([](sim::RunoffMemory& m) {
            m.reference.fill(601);
            m.upper.fill(1201);
            m.lower.fill(401);
            m.modes.fill(2);
            m.range_max = 1499;
            m.range_min = 11;
        });
        for (int k = 0; k < 32; ++k) {
            board->set_value(k, 777);
        }
        board->set_reply_delay(c.delay);
        bus.plug(board);

        const PageRecord p = Page(0);
        EXPECT_EQ(p.reference[0], c.filled ? 601 : 700);
        EXPECT_EQ(p.upper[0], c.filled ? 1201 : 1100);
        EXPECT_EQ(p.lower[0], c.filled ? 401 : 500);
        EXPECT_EQ(p.mask[0], c.filled ? 2 : 1);
        EXPECT_EQ(p.rangeMax, c.filled ? 1499 : 1500);
        EXPECT_EQ(p.rangeMin, c.filled ? 11 : 10);
        EXPECT_EQ(messages.size(), c.filled ? 0u : 1u);
        if (c.filled) {
            EXPECT_TRUE(WaitFor([&] { return Page(0).live[0] == 777; }));
            EXPECT_TRUE(WaitFor([&] { return board->memory().outputs_written > 0; }));
            // The outputs are a verdict: every channel greyed is LOAD, which
            // is no pass, so neither lamp.
            EXPECT_EQ(board->memory().outputs, (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
        } else {
            std::this_thread::sleep_for(2s);
            EXPECT_EQ(Page(0).live[0], 0);
            // No values came: at most the outputs are switched away from PASS.
            EXPECT_LE(board->memory().outputs_written, 1);
            EXPECT_EQ(board->memory().outputs, (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
        }
        EXPECT_EQ(Page(0).live[1], c.filled ? 777 : 0);
        bus.unplug(board);
    }
}

// A live read that gets no reply stores nothing: the page keeps its own last
// values, and the board that missed it is not spoken to again in that step
// (no outputs from a step whose read failed). The master board's heads are
// covered by ABoardThatStopsAnsweringFreezesEachHeadAndClosesPromptly.
TEST_F(Station, MissedLiveReadKeepsThePagesLastValuesAndSendsNothingMore) {
    struct Case {
        const char* name;
        std::function<std::shared_ptr<sim::SimBoard>()> make;
        int page;
        std::size_t channel;
        // Reports the board gets in a step whose read misses: the read alone.
        std::size_t reportsInSilentStep;
    };
    const Case cases[] = {
        {"one-to-one",
         [] {
             auto b = Runoff("borvane");
             b->set_value(0, 321);
             return b;
         },
         0, 0, 1},
        {"Velmora5",
         [] {
             auto b = std::make_shared<SimVelmora5Board>();
             b->set_noise(0);
             b->set_value(2, 0, 321);
             return b;
         },
         0, 0, 1},
        {"classic",
         [] {
             auto b = std::make_shared<SimClassicBoard>();
             b->set_noise(0);
             b->set_value(0, 321);
             return b;
         },
         0, 0, 2},  // the query's feature report and the feature read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pages.Reset();
        auto board = c.make();
        bus.plug(board);
        Pause();
        g_velmora5Page = static_cast<std::uint8_t>(c.page);
        g_classicChannel = static_cast<std::int32_t>(c.channel);
        core->AcquireStep();
        ASSERT_EQ(Page(c.page).live[c.channel], 321);

        board->set_silent(true);
        board->clear_received();
        g_velmora5Page = static_cast<std::uint8_t>(c.page);
        g_classicChannel = static_cast<std::int32_t>(c.channel);
        core->AcquireStep();
        EXPECT_EQ(Page(c.page).live[c.channel], 321);
        EXPECT_EQ(board->received().size(), c.reportsInSilentStep);
        bus.unplug(board);
    }
}

// --- workers and handles ------------------------------------------------------

TEST_F(Station, ThousandPlugCyclesLeaveOneWorkerAndOneHandle) {
    auto board = Runoff("borvane");
    for (int cycle = 0; cycle < 1000; ++cycle) {
        bus.plug(board);
        ASSERT_EQ(core->AcquisitionWorkers(), 1) << cycle;
        ASSERT_EQ(board->open_handle_count(), 1) << cycle;
        if (cycle % 2 == 1) {
            core->Connect();  // a further event while connected changes nothing
            ASSERT_EQ(core->AcquisitionWorkers(), 1) << cycle;
            ASSERT_EQ(board->open_handle_count(), 1) << cycle;
        }
        bus.unplug(board);
        ASSERT_EQ(core->AcquisitionWorkers(), 0) << cycle;
    }
    bus.plug(board);
    EXPECT_EQ(core->AcquisitionWorkers(), 1);
    core.reset();
    EXPECT_EQ(board->open_handle_count(), 0);
}

// Closing stops the worker first, so that its outputs stay off.
TEST_F(Station, CloseSwitchesTheOutputsOffAfterTheWorkerHasStopped) {
    auto board = Runoff("borvane");
    core->ToggleBuzzerOn();
    board->set_value(0, 5000);
    bus.plug(board);
    ASSERT_TRUE(WaitFor([&] {
        Evaluate();
        return board->memory().outputs == std::array<std::uint8_t, 4>{0, 1, 0, 1};
    }));
    core->Close();
    EXPECT_EQ(core->AcquisitionWorkers(), 0);
    const int written = board->memory().outputs_written;
    EXPECT_EQ(board->memory().outputs, (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(board->memory().outputs_written, written);
    // A hot-plug event after closing starts nothing.
    bus.unplug(board);
    bus.plug(board);
    EXPECT_EQ(core->AcquisitionWorkers(), 0);
}

// --- settings transfer -----------------------------------------------------------

TEST_F(Station, OneToOneWriteSendsThePageInOrderAsLow16Bits) {
    auto board = Runoff("borvane");
    bus.plug(board);
    Pause();
    {
        CSectionGuard guard(&pages.lock);
        PageRecord& p = pages.table[0];
        p.mask.fill(Tested);
        p.mask[2] = Greyed;
        p.upper.fill(70000);  // low 16 bits: 4464
        p.lower.fill(-1);     // 65535
        p.reference.fill(812);
        p.rangeMax = 1777;
        p.rangeMin = 3;
    }
    board->clear_received();
    EXPECT_TRUE(core->Find<RunoffFamily>()->WriteSettings());
    EXPECT_EQ(Commands(board->received_outputs(), {0x31, 0x11, 0x21, 0x02, 0xD7, 0xD9}, 2),
              (std::vector<std::uint8_t>{0x31, 0x11, 0x21, 0x02, 0xD7, 0xD9}));
    const sim::RunoffMemory m = board->memory();
    EXPECT_EQ(m.modes[2], Greyed);
    EXPECT_EQ(m.upper[0], 4464);
    EXPECT_EQ(m.lower[31], 65535);
    EXPECT_EQ(m.reference[5], 812);
    EXPECT_EQ(m.range_max, 1777);
    EXPECT_EQ(m.range_min, 3);

    // Read back, the board's values come widened without sign.
    EXPECT_TRUE(core->Find<RunoffFamily>()->ReadSettings());
    EXPECT_EQ(Page(0).lower[31], 65535);
}

TEST_F(Station, Velmora5WriteGoesToTheHeadOfThePage) {
    auto board = std::make_shared<SimVelmora5Board>();
    bus.plug(board);
    Pause();
    {
        CSectionGuard guard(&pages.lock);
        PageRecord& p = pages.table[1];
        p.upper.fill(1333);
        p.lower.fill(333);
        p.reference.fill(833);
        p.mask.fill(Masked);
        p.rangeMax = 1444;
        p.rangeMin = 44;
    }
    board->clear_received();
    EXPECT_TRUE(core->Find<Velmora5Family>()->WritePage(1));
    EXPECT_EQ(Commands(board->received_outputs(), {0x31, 0x11, 0x21, 0x02, 0xD7, 0xD9}, 3),
              (std::vector<std::uint8_t>{0x31, 0x11, 0x21, 0x02, 0xD7, 0xD9}));
    const sim::Velmora5HeadMemory head = board->memory().heads[3];
    EXPECT_EQ(head.upper[0], 1333);
    EXPECT_EQ(head.lower[0], 333);
    EXPECT_EQ(head.reference[0], 833);
    EXPECT_EQ(head.modes[0], Masked);
    EXPECT_EQ(head.range_max, 1444);
    EXPECT_EQ(head.range_min, 44);
    EXPECT_EQ(board->memory().heads[2].upper[0], 1100);
    EXPECT_EQ(board->memory().protocol_errors, 0);
    EXPECT_FALSE(core->Find<Velmora5Family>()->WritePage(64));
    EXPECT_FALSE(core->Find<Velmora5Family>()->WritePage(-1));
}

TEST_F(MasterStation, WriteGoesToTheAssignedHeadAndReadsTheRangeBack) {
    auto board = PlugMaster();
    Pause();
    EXPECT_EQ(core->Find<MasterFamily>()->HeadOfPage(0), 5);
    EXPECT_EQ(core->Find<MasterFamily>()->HeadOfPage(3), 9);
    EXPECT_EQ(core->Find<MasterFamily>()->HeadOfPage(2), 0);
    EXPECT_EQ(core->Find<MasterFamily>()->HeadOfPage(40), 0);
    {
        CSectionGuard guard(&pages.lock);
        PageRecord& p = pages.table[3];
        p.upper.fill(1250);
        p.lower.fill(250);
        p.mask.fill(Tested);
        p.rangeMax = 1800;
        p.rangeMin = 20;
        pages.table[2] = pages.table[3];
        pages.table[2].upper.fill(42);
        pages.table[2].rangeMax = 77;
        for (int q = 4; q < 8; ++q) {
            pages.table[static_cast<std::size_t>(q)].rangeMax = 99;
        }
    }
    board->clear_received();
    EXPECT_TRUE(core->Find<MasterFamily>()->WritePage(3));
    const std::vector<std::uint8_t> sets{0x31, 0x11, 0x21, 0xD7, 0xD9};
    EXPECT_EQ(Commands(board->received_outputs(), sets, 2),
              (std::vector<std::uint8_t>{0x31, 0x11, 0x21, 0xD7, 0xD9, 0xD8, 0xDA}));
    for (const Frame& f : board->received_outputs()) {
        if (f[1] == 0x01 && f[2] == 0x29 && (f[3] == 0x31 || f[3] == 0x11 || f[3] == 0x21)) {
            EXPECT_EQ(f[4], 9);
        }
    }
    EXPECT_EQ(board->memory().heads[9].upper[0], 1250);
    EXPECT_EQ(board->memory().range_max, 1800);
    // The read-back range lands in pages 0 to 3, whatever the grid.
    for (int q = 0; q < 4; ++q) {
        EXPECT_EQ(Page(q).rangeMax, 1800) << q;
    }
    EXPECT_EQ(Page(4).rangeMax, 99);

    // Page 2 has no head: no per-head write (head 0 keeps its limits), the
    // board-wide range is still written.
    {
        CSectionGuard guard(&pages.lock);
        pages.table[2].rangeMax = 1700;
    }
    board->clear_received();
    EXPECT_TRUE(core->Find<MasterFamily>()->WritePage(2));
    EXPECT_EQ(Commands(board->received_outputs(), sets, 2),
              (std::vector<std::uint8_t>{0xD7, 0xD9, 0xD8, 0xDA}));
    EXPECT_EQ(board->memory().heads[0].upper[0], 200);
    EXPECT_EQ(board->memory().range_max, 1700);
    EXPECT_FALSE(core->Find<MasterFamily>()->WritePage(64));
}

TEST_F(Station, ClassicWriteSendsEveryChannelSettingThenTheSetup) {
    auto board = std::make_shared<SimClassicBoard>();
    bus.plug(board);
    Pause();
    {
        CSectionGuard guard(&pages.lock);
        PageRecord& p = pages.table[0];
        for (int k = 0; k < 32; ++k) {
            p.upper[static_cast<std::size_t>(k)] = 1000 + k;
        }
        p.mask.fill(Greyed);
        p.rangeMax = 1900;
        p.offsetType = 0;
        p.percentage = 300.9f;  // truncated, low 8 bits: 44
        p.offsetUpper = 71;
        p.offsetLower = 72;
    }
    board->clear_received();
    EXPECT_TRUE(core->Find<ClassicFamily>()->WriteSettings());
    std::vector<std::uint8_t> codes;
    std::vector<sim::ReceivedReport> sets;
    for (const sim::ReceivedReport& r : board->received()) {
        if (r.kind == sim::ReceivedReport::Kind::SetFeature) {
            sets.push_back(r);
        }
    }
    ASSERT_EQ(sets.size(), 2u * (4 * 32 + 6));  // every frame twice
    for (std::size_t i = 0; i < sets.size(); i += 2) {
        EXPECT_EQ(sets[i].frame, sets[i + 1].frame);
        codes.push_back(sets[i].frame[1]);
    }
    std::vector<std::uint8_t> expected;
    for (std::uint8_t code : {0x27, 0x21, 0x23, 0x25}) {
        expected.insert(expected.end(), 32, code);
    }
    for (std::uint8_t code : {0x51, 0x53, 0x29, 0x33, 0x35, 0x37}) {
        expected.push_back(code);
    }
    EXPECT_EQ(codes, expected);
    const sim::ClassicMemory m = board->memory();
    EXPECT_EQ(m.upper[31], 1031);
    EXPECT_EQ(m.modes[0], Greyed);
    EXPECT_EQ(m.range_max, 1900);
    EXPECT_EQ(m.offset_type, 0);
    EXPECT_EQ(m.percentage, 44);
    EXPECT_EQ(m.offset_upper, 71);
    EXPECT_EQ(m.offset_lower, 72);

    // A percentage from a broken file is sent as 0, without undefined
    // behaviour.
    {
        CSectionGuard guard(&pages.lock);
        pages.table[0].percentage = std::numeric_limits<float>::quiet_NaN();
    }
    EXPECT_TRUE(core->Find<ClassicFamily>()->WriteSettings());
    EXPECT_EQ(board->memory().percentage, 0);
}

// A silent board costs one bound per write, and a configuration load skips
// it for the rest of the load while the other families are still written.
TEST_F(Station, WritesStopAtTheFirstMissingReplyAndTheLoadSkipsThatFamily) {
    bus.set_hotplug_handler({});
    auto runoff = Runoff("borvane");
    auto master = std::make_shared<SimMasterBoard>();
    master->set_present_heads({0, 1, 2, 3});
    for (int p = 0; p < 4; ++p) {
        master->assign(p, p / 2, p % 2, p);
    }
    bus.plug(runoff);
    bus.plug(master);
    core->Connect();
    ASSERT_EQ(core->ActiveFamily(), FamilyId::OneToOne);
    Pause();
    ASSERT_TRUE(core->Find<MasterFamily>()->Board().load_position_map());  // as its dialog would
    {
        CSectionGuard guard(&pages.lock);
        for (int p = 0; p < 4; ++p) {
            pages.table[static_cast<std::size_t>(p)].upper.fill(1200 + p);
        }
    }
    runoff->set_silent(true);
    runoff->clear_received();
    master->clear_received();

    SettingsWriteRun run;
    const auto start = Clock::now();
    bool all = true;
    for (int p = 0; p < 4; ++p) {
        all = core->WritePageToBoards(p, run) && all;
    }
    const auto took = Clock::now() - start;
    EXPECT_FALSE(all);
    EXPECT_TRUE(run.Missed(FamilyId::OneToOne));
    EXPECT_FALSE(run.Missed(FamilyId::Master));
    EXPECT_FALSE(run.Missed(FamilyId::Classic));
    EXPECT_FALSE(run.Missed(FamilyId::Velmora5));
    // Only the first set's two reports went to the silent board.
    EXPECT_EQ(runoff->received_outputs().size(), 2u);
    // One read bound; a second exchange with the silent board would first
    // wait out the late-reply window as well.
    EXPECT_LT(took, std::chrono::milliseconds(hiddata::kReadBoundMs + hiddata::kLateReplyWindowMs));
    for (int p = 0; p < 4; ++p) {
        EXPECT_EQ(master->memory().heads[static_cast<std::size_t>(p)].upper[0], 1200 + p);
    }
}

}  // namespace
}  // namespace kx

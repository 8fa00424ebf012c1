// SPDX-License-Identifier: MIT
// The demonstration's software boards: the touch pattern of the signal model,
// the command-line words that name a board, and what the station makes of
// the boards: a master board's grid, and a live head that goes from PASS to
// FAIL and back.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "grid/grid_model.h"
#include "sim/demo_bench.h"
#include "sim/sim_board.h"
#include "sim/sim_bus.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "station/station_core.h"
#include "tests/support/station_wait.h"

namespace kx {
namespace {

using namespace std::chrono_literals;
using sim::SignalModel;
using sim::TouchPattern;
using Clock = SignalModel::Clock;
using test::WaitFor;

constexpr std::uint16_t kCentre = 700;

TouchPattern Touches(std::chrono::milliseconds gap, std::chrono::milliseconds press, int rise) {
    TouchPattern t;
    t.meanGap = gap;
    t.pressTime = press;
    t.rise = rise;
    return t;
}

// Any fixed point far from the clock's epoch.
const Clock::time_point kStart = Clock::time_point{} + 1000h;

TEST(SignalModelTouches, OneChannelRisesItsNeighboursHalfAndEverythingFallsBack) {
    SignalModel model(7);
    model.set_noise(0);
    model.set_touches(Touches(1000ms, 400ms, 600));

    int touches = 0;
    int previous = -1;
    Clock::time_point began{};
    int peak = 0;
    for (auto t = kStart; t < kStart + 20s; t += 1ms) {
        const int touched = model.touched_channel_at(t);
        for (int k = 0; k < 32; ++k) {
            const int v = model.sample_at(k, kCentre, t);
            if (touched < 0 || std::abs(k - touched) > 1) {
                ASSERT_EQ(v, kCentre) << "channel " << k << " untouched";
            } else if (k == touched) {
                ASSERT_GE(v, kCentre);
                ASSERT_LE(v, kCentre + 600);
                peak = std::max(peak, v);
            } else {
                // A neighbour: half of the touched channel's rise.
                ASSERT_EQ(v - kCentre, (model.sample_at(touched, kCentre, t) - kCentre) / 2);
            }
        }
        if (touched >= 0 && previous < 0) {
            ++touches;
            began = t;
        }
        if (touched < 0 && previous >= 0) {
            const double ms = std::chrono::duration<double, std::milli>(t - began).count();
            EXPECT_NEAR(ms, 400, 1.5);
        }
        previous = touched;
    }
    EXPECT_EQ(peak, kCentre + 600);
    // Gaps of 0.5 to 1.5 s and presses of 0.4 s in 20 s.
    EXPECT_GE(touches, 10);
    EXPECT_LE(touches, 22);
}

TEST(SignalModelTouches, FollowWallTimeWhateverThePollingPace) {
    SignalModel often(3);
    SignalModel seldom(3);
    for (SignalModel* m : {&often, &seldom}) {
        m->set_noise(0);
        m->set_touches(Touches(300ms, 200ms, 600));
    }
    std::set<int> channels;
    for (auto t = kStart; t < kStart + 10s; t += 1ms) {
        const int a = often.touched_channel_at(t);
        if ((t - kStart) % 7ms == 0ms) {
            ASSERT_EQ(seldom.touched_channel_at(t), a);
        }
        channels.insert(a);
    }
    // Touches land on many channels, not one.
    EXPECT_GT(channels.size(), 8u);
}

TEST(SignalModelTouches, NoneWithoutAPatternExactValuesWinAndAPauseStartsAfresh) {
    SignalModel plain(5);
    plain.set_noise(8);
    for (auto t = kStart; t < kStart + 5s; t += 1ms) {
        const int v =
            plain.sample_at(static_cast<int>(t.time_since_epoch().count() % 32), kCentre, t);
        ASSERT_GE(v, kCentre - 8);
        ASSERT_LE(v, kCentre + 8);
    }

    SignalModel touched(5);
    touched.set_noise(0);
    touched.set_touches(Touches(50ms, 500ms, 600));
    for (int k = 0; k < 32; ++k) {
        touched.set_exact(k, 123);
    }
    for (auto t = kStart; t < kStart + 2s; t += 5ms) {
        for (int k = 0; k < 32; ++k) {
            ASSERT_EQ(touched.sample_at(k, kCentre, t), 123);
        }
    }

    // Ten years without a sample: the pattern starts again from then at
    // once instead of replaying every touch missed.
    touched.clear_all_exact();
    const auto later = kStart + 24h * 3650;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(touched.touched_channel_at(later), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 100ms);
}

struct ChoiceCase {
    const char* text;
    bool ok;
    FamilyId family;
    const char* manufacturer;
    int columns;
    int rows;
};

TEST(DemoBoardChoice, CommandLineWords) {
    using F = FamilyId;
    const ChoiceCase cases[] = {
        {"one-to-one", true, F::OneToOne, "ravuno-demo", 2, 2},
        {"One-To-One:TARSEL_DEV2", true, F::OneToOne, "TARSEL_DEV2", 2, 2},
        {"one-to-one:VERSION3-1", true, F::OneToOne, "VERSION3-1", 2, 2},
        {"one-to-one:borvane", true, F::OneToOne, "borvane", 2, 2},
        {"velmora5", true, F::Velmora5, "", 2, 2},
        {"classic", true, F::Classic, "", 2, 2},
        {"master", true, F::Master, "", 2, 2},
        {"MASTER:3x2", true, F::Master, "", 3, 2},
        {"master:10X10", true, F::Master, "", 10, 10},
        {"master:1x1", true, F::Master, "", 1, 1},
        {"", false, F::OneToOne, "", 0, 0},
        {"kestrun9", false, F::OneToOne, "", 0, 0},
        {"one-to-one:", false, F::OneToOne, "", 0, 0},
        {"one-to-one:nobody", false, F::OneToOne, "", 0, 0},
        {"one-to-one:TARSEL_DEV6", false, F::OneToOne, "", 0, 0},
        {"master:0x2", false, F::Master, "", 0, 0},
        {"master:11x1", false, F::Master, "", 0, 0},
        {"master:3", false, F::Master, "", 0, 0},
        {"master:3x", false, F::Master, "", 0, 0},
        {"master:x3", false, F::Master, "", 0, 0},
        {"master:3x2x1", false, F::Master, "", 0, 0},
        {"master:-3x2", false, F::Master, "", 0, 0},
        {"master:99999999999x2", false, F::Master, "", 0, 0},
        {"velmora5:2x2", false, F::Velmora5, "", 0, 0},
        {"classic:x", false, F::Classic, "", 0, 0},
    };
    for (const ChoiceCase& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const std::optional<sim::DemoBoardChoice> choice = sim::ParseDemoBoard(c.text, error);
        ASSERT_EQ(choice.has_value(), c.ok) << error;
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(choice->family, c.family);
        if (c.family == F::OneToOne) {
            EXPECT_EQ(choice->manufacturer, c.manufacturer);
        }
        if (c.family == F::Master) {
            EXPECT_EQ(choice->columns, c.columns);
            EXPECT_EQ(choice->rows, c.rows);
        }
    }
}

// The station core on a simulated bus with the grid model.
class DemoStation : public ::testing::Test {
protected:
    void TearDown() override { station.Close(); }

    void Plug(const sim::DemoBoardChoice& choice, sim::DemoSignal signal) {
        board = sim::MakeDemoBoard(choice, signal);
        bus.plug(board);
    }

    // A copy of one page, taken under its lock, as the worker may be writing
    // it.
    PageRecord Page(int p) const { return pages.Copy(p); }

    sim::SimBus bus;
    GridModel grid;
    PageStore pages;
    StationCore station{bus, grid, pages};
    std::shared_ptr<sim::SimBoard> board;
};

TEST_F(DemoStation, MasterBoardReportsItsGridAndEveryMappedHeadIsLive) {
    sim::DemoBoardChoice choice;
    choice.family = FamilyId::Master;
    choice.columns = 10;
    choice.rows = 10;
    Plug(choice, sim::DemoSignal::Live);
    station.Initialise();
    EXPECT_EQ(station.ActiveFamily(), FamilyId::Master);
    EXPECT_EQ(grid.GetColumns(), 10);
    EXPECT_EQ(grid.GetRows(), 10);
    // The board's map holds 16 positions: pages 0 to 15 have heads.
    EXPECT_TRUE(WaitFor([&] {
        for (int p = 0; p < 16; ++p) {
            if (Page(p).live[0] == 0) {
                return false;
            }
        }
        return true;
    }));
    station.StopAcquisition();
    EXPECT_EQ(Page(16).live[0], 0);

    // Columns first: a 3 x 2 board is three heads wide.
    station.Close();
    bus.unplug_all();
    GridModel small;
    PageStore smallPages;
    StationCore other(bus, small, smallPages);
    choice.columns = 3;
    choice.rows = 2;
    Plug(choice, sim::DemoSignal::Still);
    other.Initialise();
    EXPECT_EQ(small.GetColumns(), 3);
    EXPECT_EQ(small.GetRows(), 2);
    EXPECT_TRUE(WaitFor([&] { return smallPages.Copy(5).live[31] != 0; }));
    other.Close();
}

TEST_F(DemoStation, LiveOneToOneHeadGoesFromPassToFailAndBack) {
    sim::DemoBoardChoice choice;
    Plug(choice, sim::DemoSignal::Live);
    // The demonstration's own rise, on a schedule quick enough for a test.
    TouchPattern quick = sim::DemoTouches(1);
    quick.meanGap = 60ms;
    quick.pressTime = 80ms;
    std::static_pointer_cast<sim::SimRunoffBoard>(board)->set_touches(quick);
    station.Initialise();
    ASSERT_EQ(station.ActiveFamily(), FamilyId::OneToOne);

    GridFrame frame;
    bool sawPass = false;
    bool sawFail = false;
    int verdictChanges = 0;
    HeadVerdict last = HeadVerdict::Load;
    const auto end = Clock::now() + 5s;
    while (Clock::now() < end && verdictChanges < 6) {
        grid.Evaluate(800, 600, frame);
        const HeadVerdict v = frame.verdicts[0][0];
        sawPass = sawPass || v == HeadVerdict::Pass;
        sawFail = sawFail || v == HeadVerdict::Fail;
        if (v != last) {
            ++verdictChanges;
            last = v;
        }
        std::this_thread::sleep_for(3ms);
    }
    EXPECT_TRUE(sawPass);
    EXPECT_TRUE(sawFail);
    EXPECT_GE(verdictChanges, 4);
}

TEST_F(DemoStation, StillBoardHoldsEveryValueAtItsCentre) {
    sim::DemoBoardChoice choice;
    choice.family = FamilyId::Velmora5;
    Plug(choice, sim::DemoSignal::Still);
    station.Initialise();
    ASSERT_EQ(station.ActiveFamily(), FamilyId::Velmora5);
    ASSERT_TRUE(WaitFor([&] { return Page(3).live[0] != 0; }));
    for (int i = 0; i < 20; ++i) {
        for (int p = 0; p < 4; ++p) {
            const PageRecord page = Page(p);
            for (int k = 0; k < 32; ++k) {
                ASSERT_EQ(page.live[static_cast<std::size_t>(k)],
                          page.reference[static_cast<std::size_t>(k)]);
            }
        }
        std::this_thread::sleep_for(5ms);
    }
}

}  // namespace
}  // namespace kx

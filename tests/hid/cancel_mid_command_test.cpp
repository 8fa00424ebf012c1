// SPDX-License-Identifier: MIT
// A stop of the station cancels the waits of every board object while the
// worker may be in the middle of a command of several reports. The cancel
// must never split such a command: a board that got only the first report
// takes the next command's report as the data it is still waiting for.

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hid/hiddata.h"
#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "sim/sim_bus.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"
#include "tests/support/channel_values.h"

namespace kx {
namespace {

using sim::SimMasterBoard;
using sim::SimRunoffBoard;
using sim::SimVelmora5Board;
using test::Ramp;

// A board that cancels an object's waits right after it has taken the
// report numbered `at` from now (1 = the next one): the stop lands while the
// station is between two reports of one command.
template <class Board>
class CancelOnReport : public Board {
public:
    using Board::Board;
    void arm(hiddata* object, int at) {
        std::lock_guard lock(this->mutex_);
        object_ = object;
        left_ = at;
    }

protected:
    void on_output(const Frame& frame) override {
        Board::on_output(frame);
        if (object_ != nullptr && --left_ == 0) {
            object_->cancel_waits();
            object_ = nullptr;
        }
    }

private:
    hiddata* object_ = nullptr;
    int left_ = 0;
};

template <class Array>
std::vector<int> AsInts(const Array& a) {
    return {a.begin(), a.end()};
}

class CancelMidCommand : public ::testing::Test {
protected:
    // Runs `command` with the object's waits cancelled after report `at`,
    // then resumes them as the station does after its join. Nothing more
    // may have been sent after the command's own reports.
    template <class Board>
    void CancelAfter(hiddata& object, CancelOnReport<Board>& board, int at, std::size_t reports,
                     const std::function<void()>& command) {
        board.clear_received();
        board.arm(&object, at);
        command();
        EXPECT_TRUE(object.waits_cancelled()) << "the cancel did not land";
        EXPECT_EQ(board.received_outputs().size(), reports)
            << "cancelled after report " << at << " of " << reports;
        object.resume_waits();
    }

    sim::SimBus bus;
};

TEST_F(CancelMidCommand, OneToOneSetReachesTheBoardWholeAndTheNextQueryGetsItsOwnReply) {
    auto board = std::make_shared<CancelOnReport<SimRunoffBoard>>("borvane");
    board->set_noise(0);
    board->edit([](sim::RunoffMemory& m) {
        m.upper.fill(1234);
        m.reference.fill(700);
    });
    bus.plug(board);
    hiddata_simple_runoff runoff(bus);
    ASSERT_EQ(runoff.open_maker(), 0);

    CancelAfter(runoff, *board, 1, 2, [&] { runoff.set_outputs(0, 1, 0, 1); });
    EXPECT_EQ(board->memory().outputs, (std::array<std::uint8_t, 4>{0, 1, 0, 1}));
    EXPECT_EQ(board->memory().outputs_written, 1);

    const std::vector<int> upper(32, 1234);
    const auto got = runoff.read_upper_limits();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(AsInts(*got), upper);
    EXPECT_EQ(board->memory().outputs_written, 1) << "a later command taken for outputs data";

    const auto values = Ramp(300);
    CancelAfter(runoff, *board, 1, 2, [&] { runoff.write_lower_limits(values); });
    EXPECT_EQ(AsInts(board->memory().lower), AsInts(values));
    const auto reference = runoff.read_reference();
    ASSERT_TRUE(reference.has_value());
    EXPECT_EQ(AsInts(*reference), std::vector<int>(32, 700));
    EXPECT_EQ(AsInts(board->memory().lower), AsInts(values));
}

TEST_F(CancelMidCommand, MasterSetReachesTheBoardWholeAndTheNextQueryGetsItsOwnReply) {
    auto board = std::make_shared<CancelOnReport<SimMasterBoard>>();
    board->set_noise(0);
    board->set_present_heads({3});
    bus.plug(board);
    hiddata_masterHID master(bus);
    ASSERT_EQ(master.open_board(), 0);

    const auto values = Ramp(1200);
    CancelAfter(master, *board, 1, 2, [&] { master.write_upper_limits(3, values); });
    EXPECT_EQ(AsInts(board->memory().heads[3].upper), AsInts(values));

    CancelAfter(master, *board, 1, 2, [&] { master.write_outputs({1, 0, 1, 0, 0, 0, 0}); });
    EXPECT_EQ(board->memory().outputs, (MasterIoBytes{1, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(board->memory().outputs_written, 1);

    const auto lower = master.read_lower_limits(3);
    ASSERT_TRUE(lower.has_value());
    EXPECT_EQ(AsInts(*lower), std::vector<int>(32, 500));
    EXPECT_EQ(AsInts(board->memory().heads[3].upper), AsInts(values));
    EXPECT_EQ(board->memory().outputs_written, 1) << "a later command taken for outputs data";
    EXPECT_EQ(board->memory().unknown_commands, 0);
}

// Velmora5 commands are three reports (command, head, data) or two and a
// reply (command, head); a cancel after any of the first reports must still
// let the whole command through.
TEST_F(CancelMidCommand, Velmora5CommandsReachTheBoardWholeWhereverTheCancelLands) {
    auto board = std::make_shared<CancelOnReport<SimVelmora5Board>>();
    board->set_noise(0);
    bus.plug(board);
    hiddata_velmora5 v5(bus);
    ASSERT_EQ(v5.open_maker(), 0);

    for (int at : {1, 2}) {
        SCOPED_TRACE(at);
        const auto values = Ramp(900 + 10 * at);
        CancelAfter(v5, *board, at, 3, [&] { v5.write_upper_limits(2, values); });
        EXPECT_EQ(AsInts(board->memory().heads[2].upper), AsInts(values));
        CancelAfter(v5, *board, at, 3, [&] { v5.write_range_max(3, 4000 + at); });
        EXPECT_EQ(board->memory().heads[3].range_max, 4000 + at);
    }
    CancelAfter(v5, *board, 1, 2, [&] { v5.read_reference(4); });

    const auto lower = v5.read_lower_limits(2);
    ASSERT_TRUE(lower.has_value());
    EXPECT_EQ(AsInts(*lower), std::vector<int>(32, 500));
    EXPECT_EQ(board->memory().protocol_errors, 0);
}

}  // namespace
}  // namespace kx

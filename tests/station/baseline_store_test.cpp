// SPDX-License-Identifier: MIT
// The baseline command's store-back without its windows, against the
// station core on the simulated bus with the acquisition worker running: the
// head a click asks for, and what OK stores into the page table and writes
// to each family's board, checked in the boards' memory. No Qt, so it runs
// under ThreadSanitizer too.

#include "station/baseline_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_bus.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"
#include "tests/support/default_pages.h"

namespace kx {
namespace {

using sim::SimClassicBoard;
using sim::SimMasterBoard;
using sim::SimRunoffBoard;
using sim::SimVelmora5Board;

// A master board that stops answering its range query (0xD8) once told to:
// every other command still gets its reply.
class MasterSilentOnRange : public SimMasterBoard {
public:
    std::atomic<bool> silentOnRange{false};

protected:
    void on_output(const Frame& frame) override {
        if (silentOnRange && frame[1] == 0x01 && frame[2] == 0x29 && frame[3] == 0xD8) {
            return;
        }
        SimMasterBoard::on_output(frame);
    }
};

class BaselineStore : public ::testing::Test {
protected:
    static constexpr int kClient = 1000;

    BaselineStore() {
        core = std::make_unique<StationCore>(bus, grid, pages, StationCallbacks{});
        bus.set_hotplug_handler(
            [this](HotplugEvent e, const std::string& path) { core->OnDeviceChange(e, path); });
    }
    ~BaselineStore() override {
        bus.set_hotplug_handler({});
        core.reset();
    }

    // The pointer over head (row, column) and one repaint's judgement, as
    // the window's timer makes it before the click.
    void PointAt(int row, int column) {
        const int columns = std::max(grid.GetColumns(), 1);
        const int rows = std::max(grid.GetRows(), 1);
        grid.SetPointer(column * kClient / columns + kClient / (2 * columns),
                        row * kClient / rows + kClient / (2 * rows), 0);
        grid.Evaluate(kClient, kClient, *frame);
    }

    // A copy of one page, taken under its lock.
    PageRecord Page(int p) const { return pages.Copy(p); }

    // What OK of the dialog hands back for `page`: the page's settings with
    // every array and field changed to values no board holds yet.
    BaselineResult Edited(int page, bool byPercentage, bool byValue) const {
        BaselineResult r;
        r.edit = BaselineExchangeFromPage(page, Page(page));
        for (int c = 0; c < kChannels; ++c) {
            r.edit.editUpper[c] = 1200 + c;
            r.edit.editLower[c] = 300 + c;
            r.edit.editReference[c] = 750 + c;
            r.edit.editModes[c] = c % 3 == 0 ? Masked : Tested;
        }
        r.edit.editModes[31] = 0x102;  // only its low byte is a mode: Greyed
        r.coordinateUpper = 1777;
        r.coordinateLower = 33;
        r.percentage = 12.0f;
        r.valueUpper = 55;
        r.valueLower = 44;
        r.byPercentage = byPercentage;
        r.byValue = byValue;
        return r;
    }

    // The page holds the edited values (offset type aside).
    static void ExpectEdited(const PageRecord& p, const BaselineResult& r) {
        EXPECT_EQ(p.upper, r.edit.editUpper);
        EXPECT_EQ(p.lower, r.edit.editLower);
        EXPECT_EQ(p.reference, r.edit.editReference);
        EXPECT_EQ(p.mask[0], Masked);
        EXPECT_EQ(p.mask[1], Tested);
        EXPECT_EQ(p.mask[31], Greyed);
        EXPECT_EQ(p.rangeMax, r.coordinateUpper);
        EXPECT_EQ(p.rangeMin, r.coordinateLower);
        EXPECT_EQ(p.percentage, r.percentage);
        EXPECT_EQ(p.offsetUpper, r.valueUpper);
        EXPECT_EQ(p.offsetLower, r.valueLower);
    }

    template <class Array>
    static void ExpectBoardArrays(const Array& upper, const Array& lower) {
        EXPECT_EQ(upper[0], 1200);
        EXPECT_EQ(upper[31], 1231);
        EXPECT_EQ(lower[5], 305);
    }

    // A master board of rows x columns heads, position k holding head 20 - k.
    template <class Board = SimMasterBoard>
    std::shared_ptr<Board> PlugMaster(int rows, int columns) {
        auto board = std::make_shared<Board>();
        board->set_noise(0);
        board->edit([&](sim::MasterMemory& m) {
            m.rows = static_cast<std::uint8_t>(rows);
            m.columns = static_cast<std::uint8_t>(columns);
            m.present = 0;
            for (int k = 0; k < rows * columns; ++k) {
                m.present |= 1u << (20 - k);
            }
            m.range_max = 1500;
            m.range_min = 10;
        });
        for (int k = 0; k < rows * columns; ++k) {
            board->assign(k, k / columns, k % columns, 20 - k);
        }
        bus.plug(board);
        return board;
    }

    sim::SimBus bus;
    GridModel grid;
    test::DefaultPages pages;
    std::unique_ptr<GridFrame> frame = std::make_unique<GridFrame>();
    std::unique_ptr<StationCore> core;
};

TEST_F(BaselineStore, TheClickedHeadGivesThePageOrIsRefused) {
    // No board of the four families: nothing, whatever the grid shows.
    grid.SetColumns(3);
    grid.SetRows(3);
    PointAt(2, 1);
    EXPECT_EQ(FindBaselineTarget(*core, grid).kind, BaselineTarget::Kind::NoBoard);

    bus.plug(std::make_shared<SimClassicBoard>());
    ASSERT_TRUE(core->Present(FamilyId::Classic));
    struct Case {
        int columns;
        int rows;
        int row;
        int column;
        BaselineTarget::Kind kind;
        int page;
    };
    const Case cases[] = {
        {1, 1, 0, 0, BaselineTarget::Kind::Page, 0},
        {3, 3, 2, 1, BaselineTarget::Kind::Page, 7},
        {4, 2, 1, 3, BaselineTarget::Kind::Page, 7},
        {10, 10, 6, 3, BaselineTarget::Kind::Page, 63},
        {10, 10, 6, 4, BaselineTarget::Kind::OutsideTable, 64},
        {10, 10, 9, 9, BaselineTarget::Kind::OutsideTable, 99},
        {0, 0, 0, 0, BaselineTarget::Kind::NoHead, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.columns << "x" << c.rows << " at " << c.row << "," << c.column);
        grid.SetColumns(c.columns);
        grid.SetRows(c.rows);
        PointAt(c.row, c.column);
        const BaselineTarget t = FindBaselineTarget(*core, grid);
        EXPECT_EQ(t.kind, c.kind);
        if (c.kind != BaselineTarget::Kind::NoHead) {
            EXPECT_EQ(t.row, c.row);
            EXPECT_EQ(t.column, c.column);
            EXPECT_EQ(t.page, c.page);
        }
        EXPECT_EQ(BaselineOutsideTableMessage(t).empty(),
                  c.kind != BaselineTarget::Kind::OutsideTable);
    }
    grid.SetColumns(10);
    grid.SetRows(10);
    PointAt(6, 4);
    EXPECT_EQ(
        BaselineOutsideTableMessage(FindBaselineTarget(*core, grid)),
        "只有前 64 个测试头可以设置基准和上下限，第 7 行第 5 列的测试头（第 65 个）不能设置。");
}

TEST_F(BaselineStore, OneToOneTakesPageZeroWithTheOffsetTypeOfTheValueBox) {
    auto board = std::make_shared<SimRunoffBoard>("borvane");
    bus.plug(board);
    ASSERT_EQ(core->ActiveFamily(), FamilyId::OneToOne);
    for (bool byValue : {true, false}) {
        SCOPED_TRACE(byValue);
        const BaselineResult r = Edited(0, !byValue, byValue);
        const BaselineWriteReport report = StoreBaselineAndWrite(r, *core);
        EXPECT_EQ(report.written, std::vector<FamilyId>{FamilyId::OneToOne});
        EXPECT_TRUE(report.notAnswered.empty());
        EXPECT_TRUE(BaselineWriteMessage(report).empty());
        const PageRecord p = Page(0);
        ExpectEdited(p, r);
        EXPECT_EQ(p.offsetType, byValue ? 0 : 1);
        const sim::RunoffMemory m = board->memory();
        ExpectBoardArrays(m.upper, m.lower);
        EXPECT_EQ(m.reference[2], 752);
        EXPECT_EQ(m.modes[0], Masked);
        EXPECT_EQ(m.modes[31], Greyed);
        EXPECT_EQ(m.range_max, 1777);
        EXPECT_EQ(m.range_min, 33);
    }
}

TEST_F(BaselineStore, Velmora5PageTwoGoesToHeadFour) {
    auto board = std::make_shared<SimVelmora5Board>();
    bus.plug(board);
    ASSERT_EQ(core->ActiveFamily(), FamilyId::Velmora5);
    const sim::Velmora5Memory before = board->memory();
    const BaselineResult r = Edited(2, false, true);
    const BaselineWriteReport report = StoreBaselineAndWrite(r, *core);
    EXPECT_EQ(report.written, std::vector<FamilyId>{FamilyId::Velmora5});
    ExpectEdited(Page(2), r);
    EXPECT_EQ(Page(2).offsetType, 0);
    EXPECT_NE(Page(1).upper[0], 1200);

    const sim::Velmora5Memory m = board->memory();
    ExpectBoardArrays(m.heads[4].upper, m.heads[4].lower);
    EXPECT_EQ(m.heads[4].reference[0], 750);
    EXPECT_EQ(m.heads[4].modes[31], Greyed);
    EXPECT_EQ(m.heads[4].range_max, 1777);
    EXPECT_EQ(m.heads[4].range_min, 33);
    for (int h : {1, 2, 3, 5}) {
        EXPECT_EQ(m.heads[static_cast<std::size_t>(h)].upper,
                  before.heads[static_cast<std::size_t>(h)].upper)
            << h;
    }
    EXPECT_EQ(m.protocol_errors, 0);
}

// A 3 x 3 master board: the page's limits go to the head its map entry
// assigns, and all nine pages of the grid, not only the first four, take the
// range the board holds afterwards; pages beyond the grid keep theirs.
TEST_F(BaselineStore, MasterWritesTheAssignedHeadAndEveryShownPageTakesTheRange) {
    auto board = PlugMaster(3, 3);
    ASSERT_EQ(core->ActiveFamily(), FamilyId::Master);
    ASSERT_EQ(grid.GetRows() * grid.GetColumns(), 9);
    {
        CSectionGuard guard(&pages.lock);
        for (int p = 0; p < 12; ++p) {
            pages.table[static_cast<std::size_t>(p)].rangeMax = 99;
            pages.table[static_cast<std::size_t>(p)].rangeMin = 9;
        }
    }
    const sim::MasterMemory before = board->memory();
    const BaselineResult r = Edited(7, false, false);  // head 13
    const BaselineWriteReport report = StoreBaselineAndWrite(r, *core);
    EXPECT_EQ(report.written, std::vector<FamilyId>{FamilyId::Master});
    const PageRecord p = Page(7);
    ExpectEdited(p, r);
    EXPECT_EQ(p.offsetType, 1);  // the value box clear

    const sim::MasterMemory m = board->memory();
    ExpectBoardArrays(m.heads[13].upper, m.heads[13].lower);
    EXPECT_EQ(m.heads[13].modes[0], Masked);
    EXPECT_EQ(m.heads[13].modes[31], Greyed);
    for (int h = 0; h < 32; ++h) {
        if (h != 13) {
            EXPECT_EQ(m.heads[static_cast<std::size_t>(h)].upper,
                      before.heads[static_cast<std::size_t>(h)].upper)
                << h;
        }
    }
    EXPECT_EQ(m.range_max, 1777);
    EXPECT_EQ(m.range_min, 33);
    for (int q = 0; q < 9; ++q) {
        EXPECT_EQ(Page(q).rangeMax, 1777) << q;
        EXPECT_EQ(Page(q).rangeMin, 33) << q;
    }
    for (int q = 9; q < 12; ++q) {
        EXPECT_EQ(Page(q).rangeMax, 99) << q;
    }
}

TEST_F(BaselineStore, ClassicTakesTheOffsetTypeOfThePercentageBox) {
    auto board = std::make_shared<SimClassicBoard>();
    bus.plug(board);
    ASSERT_EQ(core->ActiveFamily(), FamilyId::Classic);
    for (bool byPercentage : {true, false}) {
        SCOPED_TRACE(byPercentage);
        const BaselineResult r = Edited(0, byPercentage, !byPercentage);
        const BaselineWriteReport report = StoreBaselineAndWrite(r, *core);
        EXPECT_EQ(report.written, std::vector<FamilyId>{FamilyId::Classic});
        const PageRecord p = Page(0);
        ExpectEdited(p, r);
        EXPECT_EQ(p.offsetType, byPercentage ? 1 : 0);
        const sim::ClassicMemory m = board->memory();
        ExpectBoardArrays(m.upper, m.lower);
        EXPECT_EQ(m.reference[31], 781);
        EXPECT_EQ(m.modes[3], Masked);
        EXPECT_EQ(m.offset_type, byPercentage ? 1 : 0);
        EXPECT_EQ(m.percentage, 12);
        EXPECT_EQ(m.offset_upper, 55);
        EXPECT_EQ(m.offset_lower, 44);
        EXPECT_EQ(m.range_max, 1777);
    }
}

// Every connected family is written, the classic tester last: with both
// boxes ticked (the rules disagree) the page ends with the classic rule.
TEST_F(BaselineStore, AllFourFamiliesAreWrittenWithTheClassicRuleLast) {
    auto runoff = std::make_shared<SimRunoffBoard>("borvane");
    auto velmora5 = std::make_shared<SimVelmora5Board>();
    auto master = std::make_shared<SimMasterBoard>();
    master->set_present_heads({6});
    master->assign(0, 0, 0, 6);
    auto classic = std::make_shared<SimClassicBoard>();
    for (const auto& b :
         std::vector<std::shared_ptr<sim::SimBoard>>{runoff, velmora5, master, classic}) {
        bus.plug(b);
    }
    ASSERT_EQ(core->ActiveFamily(), FamilyId::OneToOne);
    ASSERT_TRUE(core->Find<MasterFamily>()->Board().load_position_map());  // as its dialog would
    const BaselineResult r = Edited(0, true, true);
    const BaselineWriteReport report = StoreBaselineAndWrite(r, *core);
    EXPECT_EQ(report.written, (std::vector<FamilyId>{FamilyId::OneToOne, FamilyId::Velmora5,
                                                     FamilyId::Master, FamilyId::Classic}));
    EXPECT_EQ(Page(0).offsetType, 1);
    EXPECT_EQ(runoff->memory().upper[0], 1200);
    EXPECT_EQ(velmora5->memory().heads[2].upper[0], 1200);
    EXPECT_EQ(master->memory().heads[6].upper[0], 1200);
    EXPECT_EQ(classic->memory().upper[0], 1200);
    EXPECT_EQ(classic->memory().offset_type, 1);
}

// A board that stops taking reports keeps the new values in the page and is
// named to the operator; the other board is written all the same. (The
// classic tester's writes are feature reports without a reply: a board that
// takes them and ignores them cannot be told from one that obeys, so here
// its transfers time out, as those of a hung board do.)
TEST_F(BaselineStore, ABoardThatGoesSilentIsNamedAndThePageKeepsTheEdits) {
    auto velmora5 = std::make_shared<SimVelmora5Board>();
    auto classic = std::make_shared<SimClassicBoard>();
    bus.plug(velmora5);
    bus.plug(classic);
    ASSERT_EQ(core->ActiveFamily(), FamilyId::Velmora5);
    ASSERT_TRUE(core->Present(FamilyId::Classic));
    classic->set_report_time(std::chrono::seconds(1));
    const BaselineResult r = Edited(0, true, false);
    const BaselineWriteReport report = StoreBaselineAndWrite(r, *core);
    EXPECT_EQ(report.written, std::vector<FamilyId>{FamilyId::Velmora5});
    EXPECT_EQ(report.notAnswered, std::vector<FamilyId>{FamilyId::Classic});
    ExpectEdited(Page(0), r);
    EXPECT_EQ(velmora5->memory().heads[2].upper[0], 1200);
    EXPECT_NE(classic->memory().upper[0], 1200);
    const std::string text = BaselineWriteMessage(report);
    EXPECT_NE(text.find("没有应答"), std::string::npos) << text;
    EXPECT_NE(text.find(ClassicFamily::kName), std::string::npos) << text;
    EXPECT_EQ(text.find("Velmora5"), std::string::npos) << text;
}

// The master board takes the limits but does not answer the range read-back:
// reported, and the other pages keep the range they had.
TEST_F(BaselineStore, AMasterRangeReadWithoutReplyLeavesThePagesAndIsReported) {
    auto board = PlugMaster<MasterSilentOnRange>(2, 3);
    ASSERT_EQ(core->ActiveFamily(), FamilyId::Master);
    {
        CSectionGuard guard(&pages.lock);
        for (int p = 0; p < 6; ++p) {
            pages.table[static_cast<std::size_t>(p)].rangeMax = 99;
        }
    }
    board->silentOnRange = true;
    const BaselineResult r = Edited(4, false, true);  // head 16
    const BaselineWriteReport report = StoreBaselineAndWrite(r, *core);
    EXPECT_TRUE(report.written.empty());
    EXPECT_EQ(report.notAnswered, std::vector<FamilyId>{FamilyId::Master});
    ExpectEdited(Page(4), r);
    EXPECT_EQ(board->memory().heads[16].upper[0], 1200);
    EXPECT_EQ(board->memory().range_max, 1777);
    for (int q : {0, 1, 2, 3, 5}) {
        EXPECT_EQ(Page(q).rangeMax, 99) << q;
    }
    EXPECT_NE(BaselineWriteMessage(report).find("主板"), std::string::npos);
}

// The board was unplugged while the dialog was open: the edits stay in the
// page and the operator is told that no board has them.
TEST_F(BaselineStore, NoBoardLeftKeepsTheEditsInThePageAndSaysSo) {
    auto board = std::make_shared<SimRunoffBoard>("borvane");
    bus.plug(board);
    grid.SetPointer(10, 10, 0);
    grid.Evaluate(kClient, kClient, *frame);
    ASSERT_EQ(FindBaselineTarget(*core, grid).kind, BaselineTarget::Kind::Page);
    bus.unplug(board);
    ASSERT_FALSE(core->Present(FamilyId::OneToOne));
    const BaselineResult r = Edited(0, true, false);
    const BaselineWriteReport report = StoreBaselineAndWrite(r, *core);
    EXPECT_TRUE(report.noBoard);
    EXPECT_TRUE(report.written.empty());
    ExpectEdited(Page(0), r);
    EXPECT_EQ(Page(0).offsetType, 1);
    EXPECT_NE(BaselineWriteMessage(report).find("测试板已经断开"), std::string::npos);

    // A result for a page outside the table stores nothing.
    BaselineResult outside = Edited(0, true, false);
    outside.edit.selectedPage = kPageCount;
    EXPECT_TRUE(StoreBaselineAndWrite(outside, *core).outsideTable);
}

}  // namespace
}  // namespace kx

// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "core/page_table.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "sim/sim_bus.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"
#include "tests/support/fixed_reply_board.h"

namespace kx {
namespace {

using sim::SimVelmora5Board;
using sim::Velmora5Memory;
using testing::CommandFrame;
using testing::FixedReplyBoard;
using testing::PatternText;
using testing::PositionPattern;

// Byte 0 = 0, then the given payload bytes, then `rest` up to byte 64.
Frame Report(std::initializer_list<std::uint8_t> payload, std::uint8_t rest = 0) {
    Frame f;
    f.fill(rest);
    f[0] = 0;
    std::size_t i = 1;
    for (std::uint8_t b : payload) {
        f[i++] = b;
    }
    return f;
}

// The head report of a head query: every payload byte the head number.
Frame FullHead(std::uint8_t head) {
    return Report({}, head);
}

class Velmora5 : public ::testing::Test {
protected:
    std::shared_ptr<SimVelmora5Board> Plug() {
        auto board = std::make_shared<SimVelmora5Board>();
        board->set_noise(0);
        bus.plug(board);
        return board;
    }
    std::shared_ptr<FixedReplyBoard> PlugFixed(const Frame& reply) {
        auto board = std::make_shared<FixedReplyBoard>(
            sim::BoardIdentity{0xDEFE, 0x12EF, u"borvane", u"Velmora5"}, reply);
        bus.plug(board);
        return board;
    }

    sim::SimBus bus;
    hiddata_velmora5 v5{bus};
};

TEST(Velmora5Identity, ProbesInOrderOpenTheFirstRowThatMatches) {
    const auto table = hiddata_velmora5::identity_table();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_STREQ(table[0].operation, "open_maker");
    EXPECT_STREQ(table[1].operation, "open_maker_name");
    EXPECT_STREQ(table[2].operation, "open_version2");

    // A board is described by what it reports: manufacturer, ids, product.
    struct Board {
        const char* manufacturer;
        std::uint16_t vendor_id;
        std::uint16_t product_id;
        const char* product;
    };
    const Board v2{"VERSION2", 0x16A0, 0x05DF, "Velmora5"};
    const Board maker_name{"borvaneco", 0xDEFE, 0x12EF, "Velmora5"};
    const Board maker{"borvane", 0xDEFE, 0x12EF, "Velmora5"};
    const Board runoff_v2{"VERSION2", 0x16A0, 0x05DF, "Kaldrix"};
    const Board maker_wrong_ids{"borvane", 0x16A0, 0x05DF, "Velmora5"};
    struct Case {
        std::vector<Board> present;
        const char* opened_by;  // nullptr: none
        std::size_t opened_board;
    };
    const Case cases[] = {
        {{v2, maker_name, maker}, "open_maker", 2},
        {{v2, maker_name}, "open_maker_name", 1},
        {{runoff_v2, v2}, "open_version2", 1},
        {{runoff_v2, maker_wrong_ids}, nullptr, 0},
    };
    for (const Case& c : cases) {
        sim::SimBus local;
        std::vector<std::shared_ptr<sim::SimBoard>> boards;
        for (const Board& b : c.present) {
            boards.push_back(std::make_shared<FixedReplyBoard>(
                sim::BoardIdentity{b.vendor_id, b.product_id, sim::ToU16(b.manufacturer),
                                   sim::ToU16(b.product)},
                Frame{}));
            local.plug(boards.back());
        }
        hiddata_velmora5 v(local);
        const char* opened_by = nullptr;
        for (const Velmora5IdentityRow& row : hiddata_velmora5::identity_table()) {
            if (v.probe(row.probe) == 0) {
                opened_by = row.operation;
                break;
            }
        }
        SCOPED_TRACE(c.present.size());
        if (c.opened_by == nullptr) {
            EXPECT_EQ(opened_by, nullptr);
            EXPECT_FALSE(v.is_open());
            continue;
        }
        ASSERT_NE(opened_by, nullptr);
        EXPECT_STREQ(opened_by, c.opened_by);
        for (std::size_t i = 0; i < boards.size(); ++i) {
            EXPECT_EQ(boards[i]->open_handle_count(), i == c.opened_board ? 1 : 0) << i;
        }
    }
}

TEST(Velmora5Identity, SharesIdsWithTheOneToOneTesterButNotItsProductString) {
    sim::SimBus local;
    auto runoff_board = std::make_shared<sim::SimRunoffBoard>("VERSION2");
    local.plug(runoff_board);
    hiddata_velmora5 v(local);
    EXPECT_EQ(v.open_version2(), 1);

    auto v5_board = std::make_shared<SimVelmora5Board>("VERSION2", 0x16A0, 0x05DF);
    local.unplug(runoff_board);
    local.plug(v5_board);
    hiddata_simple_runoff r(local);
    EXPECT_EQ(r.open_version2(0), 1);
    EXPECT_EQ(v.open_version2(), 0);
    // A failed probe leaves the object without a device.
    EXPECT_EQ(v.open_maker(), 1);
    EXPECT_FALSE(v.is_open());
}

// A head query writes the command report, then a report whose 64 payload
// bytes all hold the head number, and only then reads the reply.
TEST_F(Velmora5, HeadQueriesSendTheCommandThenTheFullHeadReport) {
    auto board = Plug();
    board->edit([](Velmora5Memory& m) {
        auto& h = m.heads[3];
        h.reference.fill(701);
        h.upper.fill(1201);
        h.lower.fill(401);
        h.modes.fill(Greyed);
        h.range_max = 1601;
        h.range_min = 11;
    });
    ASSERT_EQ(v5.open_maker(), 0);
    const auto num = [](const auto& v) { return testing::Shown(v); };
    struct Case {
        std::uint8_t code;
        std::function<std::string()> op;
        std::string expected;
    };
    const Case cases[] = {
        {0x01, [&] { return num(v5.read_reference(3).value()[31]); }, num(701)},
        {0x10, [&] { return num(v5.read_upper_limits(3).value()[0]); }, num(1201)},
        {0x20, [&] { return num(v5.read_lower_limits(3).value()[7]); }, num(401)},
        {0x30, [&] { return num(v5.read_channel_modes(3).value()[31]); }, num(Greyed)},
        {0xD8, [&] { return num(v5.read_range_max(3)); }, num(1601)},
        {0xDA, [&] { return num(v5.read_range_min(3)); }, num(11)},
    };
    for (const Case& c : cases) {
        board->clear_received();
        EXPECT_EQ(c.op(), c.expected) << std::hex << int{c.code};
        const auto sent = board->received_outputs();
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(sent[0], CommandFrame(c.code)) << std::hex << int{c.code};
        EXPECT_EQ(sent[1], FullHead(3)) << std::hex << int{c.code};
    }
    EXPECT_EQ(board->memory().protocol_errors, 0);
}

// Head sets: command report, head report (short: head in bytes 1-3; full:
// head in every byte), then the data built on that head report. Bytes the
// data does not reach keep the head report's content.
TEST_F(Velmora5, HeadSetsSendThreeReportsByteExact) {
    auto board = Plug();
    ASSERT_EQ(v5.open_maker(), 0);
    std::vector<std::int32_t> values(32);
    Frame page{};
    for (std::size_t k = 0; k < 32; ++k) {
        values[k] = 0x20000 + 0x0100 * static_cast<int>(k + 1) + static_cast<int>(k);
        page[2 * k + 1] = static_cast<std::uint8_t>(k + 1);
        page[2 * k + 2] = static_cast<std::uint8_t>(k);
    }
    const std::vector<std::int32_t> one{0x0A0B};
    const std::vector<std::uint8_t> two_modes{Masked, Greyed};
    const ModeBytes layout = Velmora5LayoutPage(1, 2, 3);

    struct Case {
        const char* name;
        std::function<void()> op;
        std::uint8_t code;
        Frame head_report;
        Frame data;
    };
    const Case cases[] = {
        {"write_upper_limits (2, values, 32)", [&] { v5.write_upper_limits(2, values); }, 0x11,
         Report({2, 2, 2}), page},
        {"write_lower_limits (5, values, 32)", [&] { v5.write_lower_limits(5, values); }, 0x21,
         Report({5, 5, 5}), page},
        {"write_reference (6, one value)", [&] { v5.write_reference(6, one); }, 0x02,
         Report({6, 6, 6}), Report({0x0A, 0x0B, 6})},
        {"write_channel_modes (3, two bytes)", [&] { v5.write_channel_modes(3, two_modes); }, 0x31,
         Report({3, 3, 3}), Report({Masked, Greyed, 3})},
        {"write_channel_modes (1, layout)", [&] { v5.write_channel_modes(1, layout); }, 0x31,
         Report({1, 1, 1}), Report({1, 2, 3})},
        {"write_range_min (4, 0x0102)", [&] { v5.write_range_min(4, 0x0102); }, 0xD9, FullHead(4),
         Report({0x01, 0x02}, 4)},
        {"write_range_max (5, 0x12345)", [&] { v5.write_range_max(5, 0x12345); }, 0xD7, FullHead(5),
         Report({0x23, 0x45}, 5)},
    };
    for (const Case& c : cases) {
        board->clear_received();
        c.op();
        const auto sent = board->received_outputs();
        ASSERT_EQ(sent.size(), 3u) << c.name;
        EXPECT_EQ(sent[0], CommandFrame(c.code)) << c.name;
        EXPECT_EQ(sent[1], c.head_report) << c.name;
        EXPECT_EQ(sent[2], c.data) << c.name;
    }

    const Velmora5Memory m = board->memory();
    EXPECT_EQ(m.protocol_errors, 0);
    EXPECT_EQ(m.heads[2].upper[31], 0x201F);
    EXPECT_EQ(m.heads[5].lower[0], 0x0100);
    EXPECT_EQ(m.heads[6].reference[0], 0x0A0B);
    EXPECT_EQ(m.heads[3].modes[1], Greyed);
    EXPECT_EQ(m.heads[4].range_min, 0x0102);
    EXPECT_EQ(m.heads[5].range_max, 0x2345);
    EXPECT_EQ(DecodeVelmora5Layout(m.heads[1].modes), (Velmora5Layout{2, 3}));
}

// The board never answers a set. A set that waited for a reply would leave
// one owed, and the next query's reply would be discarded as that late one:
// the query right after the sets must get its own answer.
TEST_F(Velmora5, SetsReadNoReply) {
    auto board = Plug();
    board->edit([](Velmora5Memory& m) { m.device_id = "V5-AFTER-SETS"; });
    ASSERT_EQ(v5.open_maker(), 0);
    const std::vector<std::int32_t> values(32, 900);
    EXPECT_TRUE(v5.write_reference(2, values));
    EXPECT_TRUE(v5.write_range_max(2, 1700));
    EXPECT_EQ(v5.read_device_id(), "V5-AFTER-SETS");
    EXPECT_EQ(v5.read_reference(2).value()[0], 900);
    EXPECT_EQ(v5.read_range_max(2), 1700);
}

TEST_F(Velmora5, LiveValuesAreLittleEndianWithTheHeadInTheCommand) {
    Frame reply{};
    reply[1] = 0x34;
    reply[2] = 0x12;
    auto board = PlugFixed(reply);
    ASSERT_EQ(v5.open_maker(), 0);
    EXPECT_EQ(v5.read_values(6).value()[0], 0x1234);
    const auto sent = board->received_outputs();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], CommandFrame(0xF0, 6));
    // The same bytes in a parameter page are big-endian.
    EXPECT_EQ(v5.read_reference(6).value()[0], 0x3412);
    EXPECT_EQ(v5.read_upper_limits(6).value()[0], 0x3412);
    EXPECT_EQ(v5.read_range_max(6), 0x3412);
}

TEST_F(Velmora5, InformationQueriesSendTheirCommandAndDecodeTheirPositions) {
    auto board = PlugFixed(PositionPattern());
    ASSERT_EQ(v5.open_maker(), 0);
    const auto num = [](const auto& v) { return testing::Shown(v); };
    struct Case {
        std::uint8_t code;
        std::function<std::string()> op;
        std::string expected;
    };
    const Case cases[] = {
        {0x40, [&] { return num(v5.read_vendor_code()); }, PatternText(1, 16)},
        {0x50, [&] { return num(v5.read_device_id()); }, PatternText(1, 16)},
        {0x60, [&] { return num(v5.read_firmware_version()); }, num(0x0102)},
        {0x70, [&] { return num(v5.read_firmware_year()); }, num(0x0304)},
        {0x80, [&] { return num(v5.read_firmware_month()); }, num(5)},
        {0x90, [&] { return num(v5.read_firmware_day()); }, num(6)},
    };
    for (const Case& c : cases) {
        board->clear_received();
        EXPECT_EQ(c.op(), c.expected) << std::hex << int{c.code};
        const auto sent = board->received_outputs();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], CommandFrame(c.code)) << std::hex << int{c.code};
    }
}

TEST_F(Velmora5, TextsEndAtTheFirstZeroOrAfterSixteenBytes) {
    auto board = Plug();
    board->edit([](Velmora5Memory& m) {
        m.vendor_code = "ABCDEFGHIJKLMNOP";  // fills the field, no terminator
        m.device_id = "";
    });
    ASSERT_EQ(v5.open_maker(), 0);
    EXPECT_EQ(v5.read_vendor_code(), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(v5.read_device_id(), "");
}

TEST_F(Velmora5, SetResultSendsNothing) {
    auto board = Plug();
    ASSERT_EQ(v5.open_maker(), 0);
    v5.set_result(1, 0);
    v5.set_result(0, 1);
    EXPECT_TRUE(board->received().empty());
}

TEST(Velmora5Layout, RecordGivesTheGridSizeCutToFour) {
    struct Case {
        std::uint8_t in_use;
        std::uint8_t rows;
        std::uint8_t columns;
        std::optional<Velmora5Layout> layout;
    };
    const Case cases[] = {
        {1, 6, 9, Velmora5Layout{4, 4}},   {1, 2, 3, Velmora5Layout{2, 3}},
        {1, 255, 4, Velmora5Layout{4, 4}}, {1, 0, 0, Velmora5Layout{0, 0}},
        {0, 2, 3, std::nullopt},           {2, 2, 3, std::nullopt},
        {0xFF, 2, 3, std::nullopt},
    };
    for (const Case& c : cases) {
        ModeBytes page{};
        page[0] = c.in_use;
        page[1] = c.rows;
        page[2] = c.columns;
        page[3] = 1;  // the rest of the page does not matter
        EXPECT_EQ(DecodeVelmora5Layout(page), c.layout)
            << int{c.in_use} << "," << int{c.rows} << "," << int{c.columns};
    }
    ModeBytes expected{};
    expected[0] = 1;
    expected[1] = 2;
    expected[2] = 3;
    EXPECT_EQ(Velmora5LayoutPage(1, 2, 3), expected);
}

// One page's settings go to its head (page + 2) in the order the settings
// transfer sends them and come back through the head queries; live values
// follow the head's reference.
TEST_F(Velmora5, PageSettingsRoundTripThroughTheBoard) {
    auto board = Plug();
    board->set_value(3, 4, 0xCAFE);
    ASSERT_EQ(v5.open_maker(), 0);
    const int page = 1;
    const std::uint8_t head = hiddata_velmora5::head_of_page(page);
    ASSERT_EQ(head, 3);
    std::vector<std::uint8_t> modes(32, Tested);
    modes[9] = Masked;
    const std::vector<std::int32_t> upper(32, 1250);
    const std::vector<std::int32_t> lower(32, 450);
    const std::vector<std::int32_t> reference(32, 850);
    v5.write_channel_modes(head, modes);
    v5.write_upper_limits(head, upper);
    v5.write_lower_limits(head, lower);
    v5.write_reference(head, reference);
    v5.write_range_max(head, 1800);
    v5.write_range_min(head, 30);

    EXPECT_EQ(v5.read_reference(head).value()[31], 850);
    EXPECT_EQ(v5.read_upper_limits(head).value()[0], 1250);
    EXPECT_EQ(v5.read_lower_limits(head).value()[0], 450);
    EXPECT_EQ(v5.read_channel_modes(head).value()[9], Masked);
    EXPECT_EQ(v5.read_range_max(head), 1800);
    EXPECT_EQ(v5.read_range_min(head), 30);
    const Words live = v5.read_values(head).value();
    EXPECT_EQ(live[0], 850);
    EXPECT_EQ(live[4], 0xCAFE);
    EXPECT_EQ(v5.read_reference(2).value()[0], 700);  // the neighbouring head is untouched
    // The layout record of the board's default memory.
    EXPECT_EQ(DecodeVelmora5Layout(v5.read_channel_modes(hiddata_velmora5::kLayoutHead).value()),
              (Velmora5Layout{2, 2}));
    EXPECT_EQ(board->memory().protocol_errors, 0);
}

// Live values of head 2 and its reference page differ, so a late live-value
// reply taken for the reference would show. Inside the read bound the late
// reply is its own command's answer; beyond it the query reports no reply
// and the late one is discarded.
TEST_F(Velmora5, LateReplyIsItsOwnAnswerOrNoneButNeverTheNextCommands) {
    using namespace std::chrono_literals;
    struct Case {
        std::chrono::milliseconds delay;
        bool answered;
    };
    const Case cases[] = {{250ms, true}, {600ms, false}};
    auto board = Plug();
    for (int k = 0; k < 32; ++k) {
        board->set_value(2, k, static_cast<std::uint16_t>(2000 + k));
    }
    ASSERT_EQ(v5.open_maker(), 0);
    for (const Case& c : cases) {
        board->set_reply_delay(c.delay);
        const auto live = v5.read_values(2);
        EXPECT_EQ(live.has_value(), c.answered) << c.delay.count();
        if (live) {
            EXPECT_EQ((*live)[31], 2031);
        }
        board->set_reply_delay(0ms);
        EXPECT_EQ(v5.read_reference(2).value()[31], 700) << c.delay.count();
        EXPECT_EQ(v5.read_values(2).value()[31], 2031) << c.delay.count();
    }
    EXPECT_EQ(board->memory().protocol_errors, 0);
}

// A board that answers every query late but inside the bound gets every
// value right, only more slowly; its sets, which it never answers, go
// between them.
TEST_F(Velmora5, BoardLateOnEveryCommandGetsEveryValueRight) {
    using namespace std::chrono_literals;
    auto board = Plug();
    board->set_value(3, 0, 3000);
    ASSERT_EQ(v5.open_maker(), 0);
    for (const auto delay : {130ms, 400ms}) {
        board->set_reply_delay(delay);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(v5.read_values(3).value()[0], 3000) << delay.count();
        EXPECT_TRUE(v5.write_upper_limits(3, std::vector<std::int32_t>(32, 1234)));
        EXPECT_EQ(v5.read_upper_limits(3).value()[0], 1234) << delay.count();
        EXPECT_EQ(v5.read_range_min(3), 10) << delay.count();
        EXPECT_GE(std::chrono::steady_clock::now() - start, 3 * delay);
    }
    board->set_reply_delay(0ms);
    EXPECT_EQ(board->memory().protocol_errors, 0);
}

// The worker reads one head's live values per step while the user-interface
// thread reads and writes pages. A head query is two reports and a read, so
// an exchange of the other thread falling between them would break the
// board's sequence or hand one thread the other's reply.
TEST_F(Velmora5, WorkerAndUserInterfaceThreadsShareOneObject) {
    auto board = Plug();
    for (int head = 2; head <= 6; ++head) {
        for (int k = 0; k < 32; ++k) {
            board->set_value(head, k, static_cast<std::uint16_t>(head * 1000 + k));
        }
        board->edit([head](Velmora5Memory& m) {
            m.heads[static_cast<std::size_t>(head)].upper.fill(
                static_cast<std::uint16_t>(1100 + head));
        });
    }
    // A little time per report widens the gaps between the reports of one
    // exchange, where the other thread would slip in.
    board->set_report_time(std::chrono::microseconds(20));
    ASSERT_EQ(v5.open_maker(), 0);

    std::atomic<int> worker_faults{0};
    std::atomic<int> ui_faults{0};
    std::latch start(2);
    std::thread worker([&] {
        start.arrive_and_wait();
        for (int step = 0; step < 250; ++step) {
            const int page = step % hiddata_velmora5::kAcquiredPages;
            const std::uint8_t head = hiddata_velmora5::head_of_page(page);
            const Words v = v5.read_values(head).value_or(Words{});
            for (int k = 0; k < 32; ++k) {
                if (v[static_cast<std::size_t>(k)] != head * 1000 + k) {
                    ++worker_faults;
                }
            }
            v5.set_result(1, 0);
        }
    });
    std::thread ui([&] {
        start.arrive_and_wait();
        for (int round = 0; round < 30; ++round) {
            for (int page = 0; page < hiddata_velmora5::kSettingsPages; ++page) {
                const std::uint8_t head = hiddata_velmora5::head_of_page(page);
                const Words upper = v5.read_upper_limits(head).value_or(Words{});
                if (upper[0] != 1100 + head) {
                    ++ui_faults;
                }
                v5.write_upper_limits(head, std::vector<std::int32_t>(32, 1100 + head));
            }
            if (DecodeVelmora5Layout(v5.read_channel_modes(1).value_or(ModeBytes{})) !=
                Velmora5Layout{2, 2}) {
                ++ui_faults;
            }
        }
    });
    worker.join();
    ui.join();
    EXPECT_EQ(worker_faults.load(), 0);
    EXPECT_EQ(ui_faults.load(), 0);
    EXPECT_EQ(board->memory().protocol_errors, 0);
}

}  // namespace
}  // namespace kx

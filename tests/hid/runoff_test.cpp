// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/page_table.h"
#include "hid/hiddata_simple_runoff.h"
#include "sim/sim_bus.h"
#include "sim/sim_runoff_board.h"
#include "tests/support/fixed_reply_board.h"

namespace kx {
namespace {

using namespace std::chrono_literals;
using sim::SimRunoffBoard;

using testing::CommandFrame;
using testing::PatternText;

// A fixed-reply board with the one-to-one tester's maker identity.
std::shared_ptr<testing::FixedReplyBoard> FixedRunoffBoard(const Frame& reply) {
    return std::make_shared<testing::FixedReplyBoard>(
        sim::BoardIdentity{0x16A0, 0x05DF, u"borvane", u"Kaldrix"}, reply);
}

class Runoff : public ::testing::Test {
protected:
    std::shared_ptr<SimRunoffBoard> Plug(const std::string& manufacturer) {
        auto board = std::make_shared<SimRunoffBoard>(manufacturer);
        board->set_noise(0);
        bus.plug(board);
        return board;
    }

    sim::SimBus bus;
    hiddata_simple_runoff runoff{bus};
};

TEST(RunoffIdentity, ManufacturerStringPerRowAndMachine) {
    struct Case {
        RunoffProbe probe;
        int machine;
        const char* manufacturer;  // nullptr: the row has no such machine
    };
    const Case cases[] = {
        {RunoffProbe::Demo, 0, "ravuno-demo"},    {RunoffProbe::Demo, 1, nullptr},
        {RunoffProbe::Version2, 0, "VERSION2"},   {RunoffProbe::Version2, 3, "VERSION2-3"},
        {RunoffProbe::Version3, 5, "VERSION3-5"}, {RunoffProbe::Version6, 1, "VERSION6-1"},
        {RunoffProbe::Tarsel, 0, "TARSEL"},       {RunoffProbe::Tarsel, 2, "TARSEL_DEV2"},
        {RunoffProbe::Movira, 3, "MOVIRA_DEV3"},  {RunoffProbe::Tovak, 0, "MR.TOVAK"},
        {RunoffProbe::Tovak, 4, "MR.TOVAK_DEV4"}, {RunoffProbe::Maker, 0, "borvane"},
        {RunoffProbe::Maker, 2, nullptr},         {RunoffProbe::Version3, 7, nullptr},
        {RunoffProbe::Tarsel, -1, nullptr},       {RunoffProbe::Tarsel, 6, nullptr},
    };
    for (const Case& c : cases) {
        const auto m = hiddata_simple_runoff::manufacturer_for(c.probe, c.machine);
        if (c.manufacturer == nullptr) {
            EXPECT_FALSE(m.has_value()) << static_cast<int>(c.probe) << "/" << c.machine;
        } else {
            EXPECT_EQ(m.value_or("-"), c.manufacturer);
        }
    }
    // The OEM names the connection records.
    auto oem = [](RunoffProbe p) {
        const char* n = hiddata_simple_runoff::identity(p).oem_name;
        return std::string(n ? n : "(keeps)");
    };
    EXPECT_EQ(oem(RunoffProbe::Demo), "ODM");
    EXPECT_EQ(oem(RunoffProbe::Version2), "(keeps)");
    EXPECT_EQ(oem(RunoffProbe::Tarsel), "TARSEL");
    EXPECT_EQ(oem(RunoffProbe::Tovak), "DARMOLEN");
    EXPECT_EQ(oem(RunoffProbe::Maker), "BORVANE");
}

TEST_F(Runoff, ProbeChainOpensTheFirstRowOfTheMachineInOrder) {
    struct Case {
        int machine;
        std::vector<std::string> present;
        const char* opened_by;  // nullptr: no row opens a board
        std::size_t opened_board;
    };
    const Case cases[] = {
        {0, {"MR.TOVAK", "VERSION3", "borvane"}, "open_version3", 1},
        {0, {"VERSION2", "ravuno-demo"}, "open_demo", 1},
        {0, {"borvane"}, "open_maker", 0},
        {2, {"VERSION2-2", "TARSEL_DEV2"}, "open_tarsel", 1},
        {2, {"TARSEL_DEV3", "MOVIRA_DEV2", "TARSEL"}, "open_movira", 1},
        {5, {"MR.TOVAK_DEV5"}, "open_tovak", 0},
        {3, {"borvane", "ravuno-demo", "TARSEL", "VERSION3-2"}, nullptr, 0},
    };
    for (const Case& c : cases) {
        sim::SimBus local;
        std::vector<std::shared_ptr<SimRunoffBoard>> boards;
        for (const auto& m : c.present) {
            boards.push_back(std::make_shared<SimRunoffBoard>(m));
            local.plug(boards.back());
        }
        hiddata_simple_runoff r(local);
        const char* opened_by = nullptr;
        for (RunoffProbe p : hiddata_simple_runoff::probe_order(c.machine)) {
            if (r.probe(p, c.machine) == 0) {
                opened_by = hiddata_simple_runoff::identity(p).operation;
                break;
            }
        }
        SCOPED_TRACE(c.machine);
        if (c.opened_by == nullptr) {
            EXPECT_EQ(opened_by, nullptr);
            EXPECT_FALSE(r.is_open());
            continue;
        }
        ASSERT_NE(opened_by, nullptr);
        EXPECT_STREQ(opened_by, c.opened_by);
        for (std::size_t i = 0; i < boards.size(); ++i) {
            EXPECT_EQ(boards[i]->open_handle_count(), i == c.opened_board ? 1 : 0) << i;
        }
    }
}

// The device type a board on the bus answers for when it is not the checked
// one: found by enumeration, with nothing opened and an open board kept.
TEST_F(Runoff, OtherMachineListedNamesTheTypeThatWouldFindTheBoard) {
    struct Case {
        int machine;
        std::vector<std::string> present;
        std::optional<int> other;
    };
    const Case cases[] = {
        {0, {"TARSEL_DEV2"}, 2},
        {0, {"VERSION3-1"}, 1},
        {3, {"borvane"}, 0},
        {2, {"TARSEL_DEV2"}, std::nullopt},      // found by the checked type itself
        {0, {"TARSEL_DEV3", "MOVIRA_DEV1"}, 1},  // the lowest other type
        {0, {"ravuno-demo"}, std::nullopt},      // standard only
        {1, {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.machine);
        sim::SimBus local;
        std::vector<std::shared_ptr<SimRunoffBoard>> boards;
        for (const auto& m : c.present) {
            boards.push_back(std::make_shared<SimRunoffBoard>(m));
            local.plug(boards.back());
        }
        hiddata_simple_runoff r(local);
        EXPECT_EQ(r.other_machine_listed(c.machine), c.other);
        for (const auto& board : boards) {
            EXPECT_EQ(board->open_handle_count(), 0);
        }
    }
    auto board = Plug("VERSION2");
    ASSERT_EQ(runoff.open_version2(0), 0);
    EXPECT_EQ(runoff.other_machine_listed(1), 0);
    EXPECT_TRUE(runoff.is_open());
    EXPECT_EQ(board->open_handle_count(), 1);
}

TEST_F(Runoff, UnknownMachineLeavesAnOpenBoardOpenAndAFailedProbeClosesIt) {
    auto board = Plug("VERSION3");
    ASSERT_EQ(runoff.open_version3(0), 0);
    EXPECT_EQ(runoff.open_version3(7), 1);
    EXPECT_TRUE(runoff.is_open());
    EXPECT_EQ(board->open_handle_count(), 1);

    EXPECT_EQ(runoff.open_tarsel(0), 1);
    EXPECT_FALSE(runoff.is_open());
    EXPECT_EQ(board->open_handle_count(), 0);
}

TEST_F(Runoff, LiveValuesAreLittleEndianAndPagesBigEndian) {
    Frame reply{};
    reply[1] = 0x34;
    reply[2] = 0x12;
    bus.plug(FixedRunoffBoard(reply));
    ASSERT_EQ(runoff.open_maker(), 0);
    EXPECT_EQ(runoff.read_values().value()[0], 0x1234);
    EXPECT_EQ(runoff.read_reference().value()[0], 0x3412);
    EXPECT_EQ(runoff.read_upper_limits().value()[0], 0x3412);
    EXPECT_EQ(runoff.read_lower_limits().value()[0], 0x3412);
}

// Every query sends exactly its command report and decodes its own positions.
// The reply holds byte value i at position i, so each decoded value names the
// positions it came from.
TEST_F(Runoff, QueriesSendTheirCommandAndDecodeTheirPositions) {
    auto board = FixedRunoffBoard(testing::PositionPattern());
    bus.plug(board);
    ASSERT_EQ(runoff.open_maker(), 0);

    const auto num = [](const auto& v) { return testing::Shown(v); };
    struct Case {
        std::uint8_t code;
        std::function<std::string()> op;
        std::string expected;
    };
    const Case cases[] = {
        {0xF0, [&] { return num(runoff.read_values().value()[31]); }, num(0x403F)},
        {0x01, [&] { return num(runoff.read_reference().value()[31]); }, num(0x3F40)},
        {0x10, [&] { return num(runoff.read_upper_limits().value()[1]); }, num(0x0304)},
        {0x20, [&] { return num(runoff.read_lower_limits().value()[2]); }, num(0x0506)},
        {0x30, [&] { return num(runoff.read_channel_modes().value()[31]); }, num(32)},
        {0xD8, [&] { return num(runoff.read_range_max()); }, num(0x1617)},
        {0xDA, [&] { return num(runoff.read_range_min()); }, num(0x1819)},
        {0x50, [&] { return num(runoff.read_serial_number()); }, PatternText(33, 16)},
        {0x50, [&] { return num(runoff.read_device_id()); }, PatternText(49, 16)},
        {0x60, [&] { return num(runoff.read_firmware_version()); }, num(0x0102)},
        {0x70, [&] { return num(runoff.read_firmware_year()); }, num(0x0304)},
        {0x80, [&] { return num(runoff.read_firmware_month()); }, num(5)},
        {0x90, [&] { return num(runoff.read_firmware_day()); }, num(6)},
        {0xA0, [&] { return num(runoff.read_author()); }, PatternText(7, 8)},
        {0xB0, [&] { return num(runoff.read_feature_flags()); }, num(15)},
        {0xD0, [&] { return num(runoff.read_logo_text()); }, PatternText(33, 16)},
        {0xD6, [&] { return num(runoff.read_offline_display()); }, num(21)},
        {0xDC, [&] { return num(runoff.read_edition()); }, num(26)},
        {0xE0, [&] { return num(runoff.read_vendor_code()); }, PatternText(49, 16)},
    };
    for (const Case& c : cases) {
        board->clear_received();
        EXPECT_EQ(c.op(), c.expected) << std::hex << int{c.code};
        const auto sent = board->received_outputs();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], CommandFrame(c.code)) << std::hex << int{c.code};
    }
}

TEST_F(Runoff, TextFieldsEndAtTheFirstZeroOrTheEndOfTheirRun) {
    auto board = Plug("borvane");
    board->edit([](sim::RunoffMemory& m) {
        m.serial_number = "ABCDEFGHIJKLMNOP";  // all 16 bytes, no terminator
        m.device_id = "short";
        m.author = "12345678";
        m.vendor_code = "";
    });
    ASSERT_EQ(runoff.open_maker(), 0);
    EXPECT_EQ(runoff.read_serial_number(), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(runoff.read_device_id(), "short");
    EXPECT_EQ(runoff.read_author(), "12345678");
    EXPECT_EQ(runoff.read_vendor_code(), "");
}

TEST_F(Runoff, PageWriteKeepsTheCommandReportAfterTheLastValue) {
    auto board = Plug("borvane");
    ASSERT_EQ(runoff.open_maker(), 0);
    std::vector<std::int32_t> values(32);
    for (int k = 0; k < 32; ++k) {
        values[static_cast<std::size_t>(k)] = 0x10000 + 0x0100 * k + k;  // only low 16 bits go
    }
    for (std::size_t count : {32u, 1u, 0u}) {
        board->clear_received();
        runoff.write_reference(std::span(values).first(count));
        const auto sent = board->received_outputs();
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(sent[0], CommandFrame(0x02));
        Frame expected = CommandFrame(0x02);
        for (std::size_t k = 0; k < count; ++k) {
            expected[2 * k + 1] = static_cast<std::uint8_t>(k);
            expected[2 * k + 2] = static_cast<std::uint8_t>(k);
        }
        EXPECT_EQ(sent[1], expected) << "count " << count;
    }
    // Count 0 repeats the command report as the data.
    EXPECT_EQ(board->received_outputs()[1], CommandFrame(0x02));
}

TEST_F(Runoff, SetsReachTheBoardAtTheirPositionsAndReadBack) {
    auto board = Plug("borvane");
    ASSERT_EQ(runoff.open_maker(), 0);
    std::vector<std::int32_t> upper(32, 1234);
    std::vector<std::int32_t> lower(32, 321);
    std::vector<std::uint8_t> modes(32, Tested);
    modes[5] = Masked;
    modes[6] = Greyed;

    runoff.write_channel_modes(modes);
    runoff.write_upper_limits(upper);
    runoff.write_lower_limits(lower);
    board->clear_received();
    runoff.write_range_max(0x0ABC);
    runoff.write_range_min(0x0123);
    runoff.write_offline_display(1);

    const auto sent = board->received_outputs();
    ASSERT_EQ(sent.size(), 6u);
    Frame max = CommandFrame(0xD7);
    max[22] = 0x0A;
    max[23] = 0xBC;
    EXPECT_EQ(sent[1], max);
    Frame min = CommandFrame(0xD9);
    min[24] = 0x01;
    min[25] = 0x23;
    EXPECT_EQ(sent[3], min);
    Frame offline{};  // cleared before the data
    offline[21] = 1;
    EXPECT_EQ(sent[5], offline);

    const sim::RunoffMemory m = board->memory();
    EXPECT_EQ(m.upper[31], 1234);
    EXPECT_EQ(m.lower[0], 321);
    EXPECT_EQ(m.modes[5], Masked);
    EXPECT_EQ(m.modes[6], Greyed);
    EXPECT_EQ(m.range_max, 0x0ABC);
    EXPECT_EQ(m.range_min, 0x0123);
    EXPECT_EQ(m.offline_display, 1);

    // The set replies were read and discarded: each read gets its own answer.
    EXPECT_EQ(runoff.read_upper_limits().value()[7], 1234);
    EXPECT_EQ(runoff.read_lower_limits().value()[7], 321);
    EXPECT_EQ(runoff.read_channel_modes().value()[6], Greyed);
    EXPECT_EQ(runoff.read_range_max(), 0x0ABC);
    EXPECT_EQ(runoff.read_range_min(), 0x0123);
    EXPECT_EQ(runoff.read_offline_display(), 1);
}

TEST_F(Runoff, OutputsGoInAClearedSecondReport) {
    auto board = Plug("borvane");
    ASSERT_EQ(runoff.open_maker(), 0);
    runoff.set_outputs(1, 0, 0, 1);
    const auto sent = board->received_outputs();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], CommandFrame(0xD3));
    Frame expected{};
    expected[1] = 1;
    expected[4] = 1;
    EXPECT_EQ(sent[1], expected);  // the command code does not survive
    EXPECT_EQ(board->memory().outputs, (std::array<std::uint8_t, 4>{1, 0, 0, 1}));
}

TEST(RunoffVerdict, BuzzerFollowsTheVerdictAndTheTwoMenuFlags) {
    struct Case {
        int failCount;
        bool on;
        bool invert;
        RunoffOutputs out;
    };
    const Case cases[] = {
        {1, true, false, {0, 1, 0, 1}},  {0, true, false, {1, 0, 0, 0}},
        {3, true, true, {0, 1, 0, 0}},   {0, true, true, {1, 0, 0, 1}},
        {2, false, false, {0, 1, 0, 0}}, {0, false, true, {1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VerdictOutputs(c.failCount, c.on, c.invert), c.out)
            << c.failCount << c.on << c.invert;
    }
}

TEST_F(Runoff, LiveValuesFollowTheSignalModel) {
    auto board = Plug("borvane");
    board->edit([](sim::RunoffMemory& m) { m.reference[3] = 900; });
    board->set_value(0, 65535);
    ASSERT_EQ(runoff.open_maker(), 0);
    const Words v = runoff.read_values().value();
    EXPECT_EQ(v[0], 65535);
    EXPECT_EQ(v[3], 900);
    EXPECT_EQ(v[4], 700);
}

// The acquisition worker and the user-interface thread share one object:
// every operation holds its lock for the whole exchange, so each gets its
// own reply and never the other's.
TEST_F(Runoff, TwoThreadsOnOneObjectEachGetTheirOwnReplies) {
    auto board = Plug("borvane");
    board->edit([](sim::RunoffMemory& m) {
        m.reference.fill(700);
        m.upper.fill(1100);
    });
    ASSERT_EQ(runoff.open_maker(), 0);
    int worker_wrong = 0;
    std::thread worker([&] {
        for (int i = 0; i < 300; ++i) {
            worker_wrong += runoff.read_values().value_or(Words{})[9] != 700;
            runoff.set_outputs(VerdictOutputs(i % 2, true, false));
        }
    });
    int ui_wrong = 0;
    const std::vector<std::int32_t> upper(32, 1100);
    for (int i = 0; i < 300; ++i) {
        ui_wrong += runoff.read_upper_limits().value_or(Words{})[9] != 1100;
        runoff.write_upper_limits(upper);
    }
    worker.join();
    EXPECT_EQ(worker_wrong, 0);
    EXPECT_EQ(ui_wrong, 0);
    EXPECT_EQ(board->memory().outputs_written, 300);
}

// A reply that misses its read must never be decoded as the answer to the
// next command. Reference and upper limits hold different values, so a late
// reference reply taken as upper limits would show. Inside the read bound
// the late reply is its own command's answer; beyond it the query reports
// no reply and the late one is discarded.
TEST_F(Runoff, LateReplyIsItsOwnAnswerOrNoneButNeverTheNextCommands) {
    struct Case {
        std::chrono::milliseconds delay;
        bool answered;
    };
    const Case cases[] = {{250ms, true}, {600ms, false}};
    auto board = Plug("borvane");
    board->edit([](sim::RunoffMemory& m) {
        m.reference.fill(111);
        m.upper.fill(222);
    });
    ASSERT_EQ(runoff.open_maker(), 0);
    for (const Case& c : cases) {
        board->set_reply_delay(c.delay);
        const auto reference = runoff.read_reference();
        EXPECT_EQ(reference.has_value(), c.answered) << c.delay.count();
        if (reference) {
            EXPECT_EQ((*reference)[0], 111);
        }
        board->set_reply_delay(0ms);
        EXPECT_EQ(runoff.read_upper_limits().value()[0], 222) << c.delay.count();
        EXPECT_EQ(runoff.read_reference().value()[0], 111) << c.delay.count();
    }
}

// A board that answers every command late but inside the bound gets every
// value right, only more slowly: queries, and sets whose acknowledging reply
// is late too.
TEST_F(Runoff, BoardLateOnEveryCommandGetsEveryValueRight) {
    auto board = Plug("borvane");
    board->edit([](sim::RunoffMemory& m) {
        m.reference.fill(111);
        m.upper.fill(222);
    });
    ASSERT_EQ(runoff.open_maker(), 0);
    for (const auto delay : {130ms, 400ms}) {
        board->set_reply_delay(delay);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(runoff.read_reference().value()[0], 111) << delay.count();
        EXPECT_TRUE(runoff.write_upper_limits(std::vector<std::int32_t>(32, 333)));
        EXPECT_EQ(runoff.read_upper_limits().value()[0], 333) << delay.count();
        EXPECT_GE(std::chrono::steady_clock::now() - start, 3 * delay);
        board->set_reply_delay(0ms);
        EXPECT_TRUE(runoff.write_upper_limits(std::vector<std::int32_t>(32, 222)));
    }
}

// A reply that is lost altogether (the board skipped it) costs one wait; it
// must not make the station take every later reply for the late answer to an
// earlier command.
TEST_F(Runoff, LostReplyDoesNotShiftTheRepliesThatFollow) {
    auto board = Plug("borvane");
    board->edit([](sim::RunoffMemory& m) {
        m.reference.fill(111);
        m.upper.fill(222);
    });
    ASSERT_EQ(runoff.open_maker(), 0);
    board->set_silent(true);
    EXPECT_EQ(runoff.read_reference(), std::nullopt);
    board->set_silent(false);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(runoff.read_upper_limits().value()[0], 222) << i;
        EXPECT_EQ(runoff.read_reference().value()[0], 111) << i;
    }
    EXPECT_TRUE(runoff.set_outputs(1, 0, 0, 0));
}

}  // namespace
}  // namespace kx

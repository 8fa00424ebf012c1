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
#include "hid/firmware_text.h"
#include "hid/hiddata_masterhid.h"
#include "sim/sim_bus.h"
#include "sim/sim_master_board.h"
#include "tests/support/fixed_reply_board.h"

namespace kx {
namespace {

using namespace std::chrono_literals;
using sim::MasterMemory;
using sim::SimMasterBoard;
using testing::CommandFrame;
using testing::FixedReplyBoard;
using testing::PatternText;
using testing::PositionPattern;

sim::BoardIdentity MasterIdentity() {
    return {0x0122, 0x1985, u"borvane", u"Orvane"};
}

class Master : public ::testing::Test {
protected:
    std::shared_ptr<SimMasterBoard> Plug(std::initializer_list<int> heads) {
        auto board = std::make_shared<SimMasterBoard>();
        board->set_noise(0);
        board->set_present_heads(heads);
        bus.plug(board);
        return board;
    }
    std::shared_ptr<FixedReplyBoard> PlugFixed(const Frame& reply) {
        auto board = std::make_shared<FixedReplyBoard>(MasterIdentity(), reply);
        bus.plug(board);
        return board;
    }

    sim::SimBus bus;
    hiddata_masterHID master{bus};
};

TEST_F(Master, OpensOnlyTheMasterIdentity) {
    // Same strings, other product id: not a master board.
    bus.plug(std::make_shared<FixedReplyBoard>(
        sim::BoardIdentity{0x0122, 0x1986, u"borvane", u"Orvane"}, Frame{}));
    EXPECT_EQ(master.open_board(), 1);
    auto board = Plug({});
    EXPECT_EQ(master.open_board(), 0);
    EXPECT_EQ(board->open_handle_count(), 1);
    // A second open finds the same board and replaces the handle.
    EXPECT_EQ(master.open_board(), 0);
    EXPECT_EQ(board->open_handle_count(), 1);
}

// Every query sends exactly its command report (head in byte 4 for the
// per-head ones, 0 otherwise) and decodes its own positions, big-endian.
TEST_F(Master, QueriesSendTheirCommandAndDecodeTheirPositions) {
    auto board = PlugFixed(PositionPattern());
    ASSERT_EQ(master.open_board(), 0);
    const auto num = [](const auto& v) { return testing::Shown(v); };
    struct Case {
        std::uint8_t code;
        std::uint8_t head;
        std::function<std::string()> op;
        std::string expected;
    };
    const Case cases[] = {
        {0xF0, 9, [&] { return num(master.read_values(9).value()[0]); }, num(0x0102)},
        {0xF0, 9, [&] { return num(master.read_values(9).value()[31]); }, num(0x3F40)},
        {0x10, 31, [&] { return num(master.read_upper_limits(31).value()[1]); }, num(0x0304)},
        {0x20, 2, [&] { return num(master.read_lower_limits(2).value()[2]); }, num(0x0506)},
        {0x30, 4, [&] { return num(master.read_channel_modes(4).value()[31]); }, num(32)},
        {0x09, 7, [&] { return num(master.probe_head(7)); }, num(1)},
        {0x32, 0, [&] { return num(master.read_position_map().value()[31]); }, num(32)},
        {0xF4, 0, [&] { return num(master.read_rows()); }, num(31)},
        {0xF6, 0, [&] { return num(master.read_columns()); }, num(32)},
        {0xF2, 0, [&] { return num(master.read_buzzer_settings()); }, num(30)},
        {0xD8, 0, [&] { return num(master.read_range_max()); }, num(0x1617)},
        {0xDA, 0, [&] { return num(master.read_range_min()); }, num(0x1819)},
        {0xD4, 0, [&] { return num(master.read_inputs().value()[0]); }, num(1)},
        {0xD4, 0, [&] { return num(master.read_inputs().value()[6]); }, num(7)},
        {0x60, 0, [&] { return num(master.read_firmware_version()); }, num(0x0102)},
        {0x70, 0, [&] { return num(master.read_firmware_year()); }, num(0x0304)},
        {0x80, 0, [&] { return num(master.read_firmware_month()); }, num(5)},
        {0x90, 0, [&] { return num(master.read_firmware_day()); }, num(6)},
        {0x50, 0, [&] { return num(master.read_device_id()); }, PatternText(49, 16)},
        {0xE0, 0, [&] { return num(master.read_vendor_code()); }, PatternText(49, 16)},
    };
    for (const Case& c : cases) {
        board->clear_received();
        EXPECT_EQ(c.op(), c.expected) << std::hex << int{c.code};
        const auto sent = board->received_outputs();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], CommandFrame(c.code, c.head)) << std::hex << int{c.code};
    }
}

// The second report of every set, byte for byte. Rows keep the command
// report's header; columns go in a report filled with 0xFF; outputs in a
// cleared one; pages overwrite the header.
TEST_F(Master, SetsSendTheirSecondReportByteExact) {
    auto board = Plug({5});
    ASSERT_EQ(master.open_board(), 0);

    std::vector<std::int32_t> values(32);
    std::vector<std::uint8_t> modes(32);
    MasterPositionMap map{};
    for (std::size_t k = 0; k < 32; ++k) {
        values[k] = 0x10000 + 0x0100 * static_cast<int>(k) + static_cast<int>(k) + 1;
        modes[k] = static_cast<std::uint8_t>(k % 3);
        map[k] = static_cast<std::uint8_t>(0x40 + k);
    }

    auto with = [](Frame f, std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes) {
        for (auto [pos, v] : bytes) {
            f[pos] = v;
        }
        return f;
    };
    Frame columns;
    columns.fill(0xFF);
    columns[0] = 0;
    columns[32] = 4;
    columns[64] = 0;
    Frame page{};
    Frame mode_page{};
    Frame map_page{};
    for (std::size_t k = 0; k < 32; ++k) {
        page[2 * k + 1] = static_cast<std::uint8_t>(k);  // low 16 bits only
        page[2 * k + 2] = static_cast<std::uint8_t>(k + 1);
        mode_page[k + 1] = modes[k];
        map_page[k + 1] = map[k];
    }

    struct Case {
        const char* name;
        std::function<void()> op;
        Frame command;
        Frame second;
    };
    const Case cases[] = {
        {"write_columns 4", [&] { master.write_columns(4); }, CommandFrame(0xF7), columns},
        {"write_rows 2", [&] { master.write_rows(2); }, CommandFrame(0xF5),
         with(CommandFrame(0xF5), {{31, 2}})},
        {"write_buzzer_settings", [&] { master.write_buzzer_settings(0x81); }, CommandFrame(0xF3),
         with(CommandFrame(0xF3), {{30, 0x81}})},
        {"write_range_max", [&] { master.write_range_max(0x1ABCD); }, CommandFrame(0xD7),
         with(CommandFrame(0xD7), {{22, 0xAB}, {23, 0xCD}})},
        {"write_range_min", [&] { master.write_range_min(0x0102); }, CommandFrame(0xD9),
         with(CommandFrame(0xD9), {{24, 0x01}, {25, 0x02}})},
        {"write_outputs",
         [&] {
             master.write_outputs({1, 2, 3, 4, 5, 6, 7});
         },
         CommandFrame(0xD3),
         with(Frame{}, {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}})},
        {"write_position_map", [&] { master.write_position_map(map); }, CommandFrame(0x33),
         map_page},
        {"write_upper_limits", [&] { master.write_upper_limits(5, values); }, CommandFrame(0x11, 5),
         page},
        {"write_lower_limits", [&] { master.write_lower_limits(5, values); }, CommandFrame(0x21, 5),
         page},
        {"write_channel_modes", [&] { master.write_channel_modes(5, modes); },
         CommandFrame(0x31, 5), mode_page},
    };
    for (const Case& c : cases) {
        board->clear_received();
        c.op();
        const auto sent = board->received_outputs();
        ASSERT_EQ(sent.size(), 2u) << c.name;
        EXPECT_EQ(sent[0], c.command) << c.name;
        EXPECT_EQ(sent[1], c.second) << c.name;
    }

    // The board took every set from those reports.
    const MasterMemory m = board->memory();
    EXPECT_EQ(m.columns, 4);
    EXPECT_EQ(m.rows, 2);
    EXPECT_EQ(m.buzzer, 0x81);
    EXPECT_EQ(m.range_max, 0xABCD);
    EXPECT_EQ(m.range_min, 0x0102);
    EXPECT_EQ(m.outputs, (MasterIoBytes{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(m.outputs_written, 1);
    EXPECT_EQ(m.position_map, map);
    EXPECT_EQ(m.heads[5].upper[31], 0x1F20);
    EXPECT_EQ(m.heads[5].lower[0], 0x0001);
    EXPECT_EQ(m.heads[5].modes[2], 2);
    EXPECT_EQ(m.unknown_commands, 0);
}

TEST_F(Master, SettingsReadBackThroughTheBoard) {
    auto board = Plug({2, 5});
    ASSERT_EQ(master.open_board(), 0);
    std::vector<std::int32_t> upper(32, 1300);
    std::vector<std::int32_t> lower(32, 400);
    std::vector<std::uint8_t> modes(32, Tested);
    modes[0] = Masked;
    modes[31] = Greyed;
    master.write_channel_modes(5, modes);
    master.write_upper_limits(5, upper);
    master.write_lower_limits(5, lower);
    master.write_range_max(2000);
    master.write_range_min(20);
    master.write_rows(3);
    master.write_columns(1);

    EXPECT_EQ(master.read_upper_limits(5).value()[17], 1300);
    EXPECT_EQ(master.read_lower_limits(5).value()[17], 400);
    EXPECT_EQ(master.read_upper_limits(2).value()[17], 1100);  // the other head is untouched
    const ModeBytes m = master.read_channel_modes(5).value();
    EXPECT_EQ(m[0], Masked);
    EXPECT_EQ(m[1], Tested);
    EXPECT_EQ(m[31], Greyed);
    EXPECT_EQ(master.read_range_max(), 2000);
    EXPECT_EQ(master.read_range_min(), 20);
    EXPECT_EQ(master.read_rows(), 3);
    EXPECT_EQ(master.read_columns(), 1);
}

TEST_F(Master, LiveValuesOfEachHeadFollowItsSignalModel) {
    auto board = Plug({3, 7});
    board->edit([](MasterMemory& m) {
        m.heads[7].upper.fill(2000);
        m.heads[7].lower.fill(1001);
    });
    board->set_value(3, 0, 0xBEEF);
    ASSERT_EQ(master.open_board(), 0);
    const Words h3 = master.read_values(3).value();
    const Words h7 = master.read_values(7).value();
    EXPECT_EQ(h3[0], 0xBEEF);
    EXPECT_EQ(h3[1], 800);  // middle of 1100 and 500
    EXPECT_EQ(h7[0], 1500);
    EXPECT_EQ(master.read_values(4).value()[0], 0);  // absent head: the board answers zeros
}

TEST_F(Master, ProbeHeadsCountsEveryHeadThatDoesNotAnswer0xFF) {
    struct Case {
        std::vector<int> present;
        std::uint8_t present_reply;
        int count;
    };
    const Case cases[] = {
        {{3, 7}, 0x01, 2},
        {{0, 31}, 0x00, 2},  // any reply but 0xFF means present
        {{}, 0x01, 0},
        {{0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
          16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31},
         0x80,
         32},
    };
    for (const Case& c : cases) {
        sim::SimBus local;
        auto board = std::make_shared<SimMasterBoard>();
        board->edit([&](MasterMemory& m) {
            m.present = 0;
            for (int h : c.present) {
                m.present |= 1u << h;
            }
            m.probe_reply = c.present_reply;
        });
        local.plug(board);
        hiddata_masterHID m(local);
        ASSERT_EQ(m.open_board(), 0);
        EXPECT_EQ(m.head_count(), 0);
        EXPECT_EQ(m.probe_heads(), c.count);
        EXPECT_EQ(m.head_count(), c.count);

        // One probe per head number, in ascending order.
        const auto sent = board->received_outputs();
        ASSERT_EQ(sent.size(), 32u);
        for (std::size_t h = 0; h < 32; ++h) {
            EXPECT_EQ(sent[h], CommandFrame(0x09, static_cast<std::uint8_t>(h)));
        }
        m.clear_head_count();
        EXPECT_EQ(m.head_count(), 0);
    }
}

TEST_F(Master, LoadPositionMapKeepsItsCopyAndSkipsPositionsWithoutAUsableHead) {
    auto board = Plug({3, 7});
    board->assign(0, 0, 0, 3);
    board->assign(1, 0, 1, std::nullopt);
    board->assign(2, 1, 0, 7);
    board->assign(3, 1, 1, 127);  // what an unfilled dialog cell becomes
    ASSERT_EQ(master.open_board(), 0);
    master.load_position_map();

    EXPECT_EQ(master.position_map(), board->memory().position_map);
    EXPECT_EQ(master.position_head(0), 3);
    EXPECT_EQ(master.position_head(1), std::nullopt);
    EXPECT_EQ(master.position_head(2), 7);
    EXPECT_EQ(master.position_head(3), std::nullopt);
    EXPECT_EQ(master.position_head(16), std::nullopt);

    // Later exchanges reuse the report buffer; the map stays.
    master.read_values(3);
    master.read_inputs();
    EXPECT_EQ(master.position_head(2), 7);
}

TEST(MasterMap, EntriesDecodeAndEncode) {
    struct Case {
        std::uint8_t place;
        std::uint8_t head_byte;
        MasterMapEntry entry;
        std::optional<std::uint8_t> head;
    };
    const Case cases[] = {
        {0x21, 0x85, {2, 1, true, 5}, 5},
        {0x21, 0x05, {2, 1, false, 5}, std::nullopt},  // bit 7 clear: unassigned
        {0x00, 0x9F, {0, 0, true, 31}, 31},
        {0x00, 0xA0, {0, 0, true, 32}, std::nullopt},  // no board head 32
        {0xF0, 0xFF, {15, 0, true, 127}, std::nullopt},
    };
    for (const Case& c : cases) {
        MasterPositionMap map{};
        map[30] = c.place;  // position 15, the last one
        map[31] = c.head_byte;
        EXPECT_EQ(DecodeMapEntry(map, 15), c.entry) << int{c.head_byte};
        EXPECT_EQ(MapHead(map, 15), c.head) << int{c.head_byte};
        MasterPositionMap encoded{};
        EncodeMapEntry(encoded, 15, c.entry);
        EXPECT_EQ(encoded, map) << int{c.head_byte};
    }

    // Positions outside the map's 16 read as unassigned and are not written.
    MasterPositionMap full;
    full.fill(0x81);
    EXPECT_FALSE(DecodeMapEntry(full, 16).assigned);
    EXPECT_FALSE(DecodeMapEntry(full, -1).assigned);
    EXPECT_EQ(MapHead(full, 16), std::nullopt);
    MasterPositionMap untouched{};
    EncodeMapEntry(untouched, 16, {1, 1, true, 1});
    EncodeMapEntry(untouched, -1, {1, 1, true, 1});
    EXPECT_EQ(untouched, MasterPositionMap{});

    // A 2 x 2 grid with heads 3, 5, 7, 9: column in the high nibble.
    MasterPositionMap grid{};
    const std::uint8_t heads[] = {3, 5, 7, 9};
    for (int k = 0; k < 4; ++k) {
        EncodeMapEntry(
            grid, k,
            {static_cast<std::uint8_t>(k % 2), static_cast<std::uint8_t>(k / 2), true, heads[k]});
    }
    const std::uint8_t expected[] = {0x00, 0x83, 0x10, 0x85, 0x01, 0x87, 0x11, 0x89};
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), grid.begin()));
}

TEST_F(Master, FirmwareVersionAndDateAsTheDialogShowsThem) {
    auto board = Plug({});
    board->edit([](MasterMemory& m) {
        m.firmware_version = 0x1234;
        m.firmware_year = 2026;
        m.firmware_month = 3;
        m.firmware_day = 5;
    });
    ASSERT_EQ(master.open_board(), 0);
    EXPECT_EQ(FirmwareVersionText(master.read_firmware_version().value()), "1.2.3.4");
    EXPECT_EQ(
        FirmwareDateText(master.read_firmware_year().value(), master.read_firmware_month().value(),
                         master.read_firmware_day().value()),
        "2026年03月05日");

    EXPECT_EQ(FirmwareVersionText(0xABCD), "a.b.c.d");
    EXPECT_EQ(FirmwareVersionText(0xF00F), "f.0.0.f");
    EXPECT_EQ(FirmwareVersionText(0x0000), "0.0.0.0");
    EXPECT_EQ(FirmwareDateText(999, 12, 31), "0999年12月31日");
    EXPECT_EQ(FirmwareDateText(65535, 255, 255), "65535年255月255日");
}

TEST(MasterReference, HalfTheDistanceAddedToTheLowerLimit) {
    struct Case {
        std::uint16_t upper;
        std::uint16_t lower;
        std::int32_t reference;
    };
    const Case cases[] = {
        {1100, 500, 800}, {500, 1100, 1400}, {1101, 500, 800},
        {500, 500, 500},  {65535, 0, 32767}, {0, 65535, 65535 + 32767},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DerivedReference(c.upper, c.lower), c.reference) << c.upper << "/" << c.lower;
    }
}

TEST(MasterOutputs, NormalAndLatchedRows) {
    const MasterIoBytes in{11, 12, 13, 14, 15, 16, 1};
    struct Case {
        int failCount;
        bool on;
        bool inverted;
        bool latched;
        MasterIoBytes out;
    };
    const Case cases[] = {
        // Latched: everything 0 but the buzzer byte, whatever the fail count.
        {3, true, false, true, {0, 0, 0, 0, 0, 1, 0}},
        {0, true, true, true, {0, 0, 0, 0, 0, 1, 0}},
        {3, false, false, true, {0, 0, 0, 0, 0, 0, 0}},
        // Normal: bytes 1, 2, 4, 7 echoed, 3 = pass, 5 = fail count, 6 = buzzer.
        {0, false, false, false, {11, 12, 1, 14, 0, 0, 1}},
        {2, false, true, false, {11, 12, 0, 14, 2, 0, 1}},
        {2, true, false, false, {11, 12, 0, 14, 2, 2, 1}},
        {0, true, false, false, {11, 12, 1, 14, 0, 0, 1}},
        {2, true, true, false, {11, 12, 0, 14, 2, 0, 1}},
        {0, true, true, false, {11, 12, 1, 14, 0, 1, 1}},
        {257, true, false, false, {11, 12, 0, 14, 1, 1, 1}},  // low 8 bits
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MasterOutputs(in, c.failCount, c.on, c.inverted, c.latched), c.out)
            << c.failCount << c.on << c.inverted << c.latched;
    }

    EXPECT_TRUE(EmergencyStop({0, 0, 0, 0, 0, 0, 1}));
    EXPECT_FALSE(EmergencyStop({1, 1, 1, 1, 1, 1, 0}));
    EXPECT_FALSE(EmergencyStop({0, 0, 0, 0, 0, 0, 2}));
    EXPECT_EQ(BuzzerSettingsByte(true, true), 0x81);
    EXPECT_EQ(BuzzerSettingsByte(false, false), 0x00);
    EXPECT_TRUE(BuzzerOn(0x80));
    EXPECT_FALSE(BuzzerOn(0x7F));
    EXPECT_TRUE(BuzzerInverted(0x01));
    EXPECT_FALSE(BuzzerInverted(0xFE));
}

// One acquisition step's exchanges against the board: the emergency stop
// raised on the board is read, and the outputs of the step reach it.
TEST_F(Master, EmergencyStopReachesTheStationAndTheStepsOutputsTheBoard) {
    auto board = Plug({3});
    board->edit([](MasterMemory& m) { m.buzzer = 0x80; });
    board->set_input(1, 0x21);
    board->set_input(4, 0x24);
    board->set_input(7, 1);
    ASSERT_EQ(master.open_board(), 0);

    bool latched = false;
    for (int step = 0; step < 2; ++step) {
        const bool on = BuzzerOn(master.read_buzzer_settings().value());
        const bool inverted = BuzzerInverted(master.read_buzzer_settings().value());
        const MasterIoBytes in = master.read_inputs().value();
        const bool was_latched = latched;
        latched = latched || EmergencyStop(in);
        EXPECT_TRUE(master.write_outputs(MasterOutputs(in, 2, on, inverted, was_latched)));
        const MasterMemory m = board->memory();
        if (step == 0) {
            // The step that sets the latch sends the normal row.
            EXPECT_EQ(m.outputs, (MasterIoBytes{0x21, 0, 0, 0x24, 2, 2, 1}));
        } else {
            EXPECT_EQ(m.outputs, (MasterIoBytes{0, 0, 0, 0, 0, 1, 0}));
        }
    }
    EXPECT_TRUE(latched);
    EXPECT_EQ(board->memory().outputs_written, 2);
}

// A query that gets no reply says so; where the operation's result is a
// state, that state is the safe one (head absent, map empty), never taken
// from another command's reply. Both ways a reply goes missing at once are
// shown: waits cancelled while the station stops, and a board unplugged.
TEST_F(Master, MissingRepliesReadAsNoReplyOrTheSafeState) {
    auto board = Plug({3});
    board->assign(0, 0, 0, 3);
    board->edit([](MasterMemory& m) {
        m.buzzer = 0x81;
        m.inputs = {1, 1, 1, 1, 1, 1, 1};
        m.heads[3].upper.fill(0x8181);
    });
    ASSERT_EQ(master.open_board(), 0);
    ASSERT_TRUE(master.probe_head(3));
    ASSERT_TRUE(master.load_position_map());
    ASSERT_EQ(master.position_head(0), 3);

    auto check_missing = [&](const char* why) {
        EXPECT_FALSE(master.probe_head(3)) << why;
        EXPECT_EQ(master.probe_heads(), 0) << why;
        EXPECT_EQ(master.read_inputs(), std::nullopt) << why;
        EXPECT_EQ(master.read_buzzer_settings(), std::nullopt) << why;
        EXPECT_EQ(master.read_values(3), std::nullopt) << why;
        EXPECT_EQ(master.read_position_map(), std::nullopt) << why;
        EXPECT_FALSE(master.write_outputs({1, 0, 1, 0, 0, 0, 0})) << why;
        EXPECT_FALSE(master.load_position_map()) << why;
        EXPECT_EQ(master.position_map(), MasterPositionMap{}) << why;
        EXPECT_EQ(master.position_head(0), std::nullopt) << why;
    };

    // Each case follows a good reply full of 0x81 bytes.
    ASSERT_EQ(master.read_upper_limits(3).value()[31], 0x8181);
    master.cancel_waits();
    check_missing("cancelled");
    EXPECT_EQ(board->memory().outputs_written, 0);
    master.resume_waits();
    EXPECT_TRUE(master.probe_head(3));
    EXPECT_TRUE(master.load_position_map());
    EXPECT_EQ(master.read_inputs(), (MasterIoBytes{1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(master.read_buzzer_settings(), 0x81);

    ASSERT_EQ(master.read_upper_limits(3).value()[31], 0x8181);
    bus.unplug(board);
    check_missing("unplugged");
}

// A master board that loses its reply to the probe of one head number.
class BoardLosingOneProbeReply : public SimMasterBoard {
public:
    explicit BoardLosingOneProbeReply(std::uint8_t head) : head_(head) {}

protected:
    void on_output(const Frame& f) override {
        if (!lost_ && f == CommandFrame(0x09, head_)) {
            lost_ = true;
            return;
        }
        SimMasterBoard::on_output(f);
    }

private:
    std::uint8_t head_;
    bool lost_ = false;
};

// A board that stops answering is not probed for all 32 heads: every
// unanswered probe costs the read bound and the late-reply window, and the
// probe runs on the user-interface thread. One lost reply does not end the
// probe.
TEST_F(Master, ProbeHeadsStopsAskingABoardThatHasStoppedAnswering) {
    auto board = Plug({0, 5});
    ASSERT_EQ(master.open_board(), 0);
    board->set_silent(true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(master.probe_heads(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
    EXPECT_EQ(board->received_outputs().size(),
              static_cast<std::size_t>(hiddata_masterHID::kProbeGiveUp));
    EXPECT_EQ(master.head_count(), 0);

    sim::SimBus local;
    auto losing = std::make_shared<BoardLosingOneProbeReply>(3);
    losing->set_present_heads({3, 5});
    local.plug(losing);
    hiddata_masterHID m(local);
    ASSERT_EQ(m.open_board(), 0);
    EXPECT_EQ(m.probe_heads(), 1);  // head 3 counts absent, head 5 is found
    EXPECT_EQ(losing->received_outputs().size(), 32u);
}

// The fault that matters most on this board: live values whose byte 7 is 1,
// taken for the inputs, would raise the emergency stop. Inside the read
// bound the late reply is its own command's answer; beyond it the query
// reports no reply and the late one is discarded.
TEST_F(Master, LateLiveValuesAreNeverTakenForTheInputs) {
    struct Case {
        std::chrono::milliseconds delay;
        bool answered;
    };
    const Case cases[] = {{250ms, true}, {600ms, false}};
    auto board = Plug({3});
    board->set_value(3, 0, 0x2122);
    board->set_value(3, 1, 0x2324);
    board->set_value(3, 2, 0x2526);
    board->set_value(3, 3, 0x0101);  // reply bytes 7 and 8
    ASSERT_EQ(master.open_board(), 0);
    for (const Case& c : cases) {
        board->set_reply_delay(c.delay);
        const auto live = master.read_values(3);
        EXPECT_EQ(live.has_value(), c.answered) << c.delay.count();
        if (live) {
            EXPECT_EQ((*live)[3], 0x0101);
        }
        board->set_reply_delay(0ms);
        const auto inputs = master.read_inputs();
        ASSERT_TRUE(inputs.has_value()) << c.delay.count();
        EXPECT_EQ(*inputs, MasterIoBytes{}) << c.delay.count();
        EXPECT_FALSE(EmergencyStop(*inputs)) << c.delay.count();
    }
}

// A board that answers every command late but inside the bound gets every
// value of an acquisition step right, only more slowly.
TEST_F(Master, BoardLateOnEveryCommandGetsEveryValueRight) {
    auto board = Plug({3});
    board->set_value(3, 3, 0x0101);
    board->set_input(1, 0x21);
    board->edit([](MasterMemory& m) { m.buzzer = 0x80; });
    ASSERT_EQ(master.open_board(), 0);
    for (const auto delay : {130ms, 400ms}) {
        board->set_reply_delay(delay);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(master.read_values(3).value()[3], 0x0101) << delay.count();
        EXPECT_EQ(master.read_buzzer_settings(), 0x80) << delay.count();
        const MasterIoBytes in = master.read_inputs().value();
        EXPECT_EQ(in, (MasterIoBytes{0x21, 0, 0, 0, 0, 0, 0})) << delay.count();
        EXPECT_TRUE(master.write_outputs(MasterOutputs(in, 1, true, false, false)));
        EXPECT_GE(std::chrono::steady_clock::now() - start, 4 * delay);
    }
    EXPECT_EQ(board->memory().outputs, (MasterIoBytes{0x21, 0, 0, 0, 1, 1, 0}));
    EXPECT_EQ(board->memory().outputs_written, 2);
}

// The worker polls live values, buzzer and inputs and writes outputs while
// the user-interface thread reads settings and the map, probes and writes.
// Each head and each setting holds a value of its own, so a reply taken by
// the wrong exchange would show.
TEST_F(Master, WorkerAndUserInterfaceThreadsShareOneObject) {
    auto board = Plug({3, 7});
    board->assign(0, 0, 0, 3);
    board->assign(1, 0, 1, 7);
    board->edit([](MasterMemory& m) {
        m.heads[3].upper.fill(1300);
        m.heads[7].upper.fill(1700);
        m.rows = 1;
        m.columns = 2;
        m.buzzer = 0x81;
        m.inputs = {9, 8, 7, 6, 5, 4, 0};
        m.device_id = "MB-THREADS";
    });
    for (int k = 0; k < 32; ++k) {
        board->set_value(3, k, static_cast<std::uint16_t>(3000 + k));
        board->set_value(7, k, static_cast<std::uint16_t>(7000 + k));
    }
    // A little time per report widens the gaps between the reports of one
    // exchange, where the other thread would slip in.
    board->set_report_time(20us);
    ASSERT_EQ(master.open_board(), 0);
    master.load_position_map();

    std::atomic<int> worker_faults{0};
    std::atomic<int> ui_faults{0};
    std::latch start(2);
    auto expect = [](std::atomic<int>& faults, bool ok) {
        if (!ok) {
            ++faults;
        }
    };
    std::thread worker([&] {
        start.arrive_and_wait();
        for (int step = 0; step < 150; ++step) {
            for (int position = 0; position < 2; ++position) {
                const auto head = master.position_head(position);
                expect(worker_faults, head.has_value());
                const Words v = master.read_values(head.value_or(0)).value_or(Words{});
                const int base = position == 0 ? 3000 : 7000;
                for (int k = 0; k < 32; ++k) {
                    expect(worker_faults, v[static_cast<std::size_t>(k)] == base + k);
                }
            }
            const std::uint8_t buzzer = master.read_buzzer_settings().value_or(0);
            expect(worker_faults, buzzer == 0x81);
            const MasterIoBytes in = master.read_inputs().value_or(MasterIoBytes{});
            expect(worker_faults, in == MasterIoBytes{9, 8, 7, 6, 5, 4, 0});
            expect(worker_faults,
                   master.write_outputs(MasterOutputs(in, 0, BuzzerOn(buzzer),
                                                      BuzzerInverted(buzzer), EmergencyStop(in))));
        }
    });
    std::thread ui([&] {
        start.arrive_and_wait();
        for (int round = 0; round < 40; ++round) {
            expect(ui_faults, master.read_upper_limits(3).value_or(Words{})[5] == 1300);
            expect(ui_faults, master.read_upper_limits(7).value_or(Words{})[5] == 1700);
            expect(ui_faults, master.read_rows() == 1);
            expect(ui_faults, master.read_columns() == 2);
            expect(ui_faults, master.read_device_id() == "MB-THREADS");
            expect(ui_faults, master.probe_head(7) && !master.probe_head(8));
            master.write_buzzer_settings(0x81);
            master.load_position_map();
            expect(ui_faults, master.position_head(1) == 7);
        }
        expect(ui_faults, master.probe_heads() == 2);
    });
    worker.join();
    ui.join();
    EXPECT_EQ(worker_faults.load(), 0);
    EXPECT_EQ(ui_faults.load(), 0);
    EXPECT_EQ(board->memory().outputs_written, 150);
    EXPECT_EQ(board->memory().outputs, (MasterIoBytes{9, 8, 1, 6, 0, 1, 0}));
    EXPECT_EQ(master.head_count(), 2);
}

}  // namespace
}  // namespace kx

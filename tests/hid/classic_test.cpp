// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <latch>
#include <thread>
#include <vector>

#include "hid/classic_tester.h"
#include "hid/hiddata_kestrun9.h"
#include "sim/sim_bus.h"
#include "sim/sim_classic_board.h"
#include "sim/usb_frame_bus.h"

namespace kx {
namespace {

using Kind = sim::ReceivedReport::Kind;
using sim::SimClassicBoard;

// A frame as the classic tester sends it: command, channel, then either the
// value (sets) or the 0x55 0xAA query marker.
Frame SetFrame(std::uint8_t code, std::uint8_t channel, std::uint8_t lo, std::uint8_t hi) {
    Frame f{};
    f[1] = code;
    f[2] = channel;
    f[3] = lo;
    f[4] = hi;
    return f;
}
Frame QueryFrame(std::uint8_t code, std::uint8_t channel) {
    Frame f{};
    f[1] = code;
    f[2] = channel;
    f[7] = 0x55;
    f[8] = 0xAA;
    return f;
}

// The command codes of the feature frames the board received, in order
// (each query or set frame once per time it was sent); a feature read is 0.
std::vector<int> Codes(const sim::SimBoard& board) {
    std::vector<int> codes;
    for (const auto& r : board.received()) {
        codes.push_back(r.kind == Kind::GetFeature ? 0 : r.frame[1]);
    }
    return codes;
}

class Classic : public ::testing::Test {
protected:
    void SetUp() override {
        board->set_noise(0);
        bus.plug(board);
        ASSERT_EQ(classic.open_board(), 0);
    }

    sim::SimBus bus;
    std::shared_ptr<SimClassicBoard> board = std::make_shared<SimClassicBoard>();
    CClassicTester classic{bus};
};

TEST_F(Classic, SetSendsItsFrameTwiceAndReadsNothing) {
    EXPECT_TRUE(classic.write_upper_limit(0x0456, 3));
    const auto got = board->received();
    ASSERT_EQ(got.size(), 2u);
    for (const auto& r : got) {
        EXPECT_EQ(r.kind, Kind::SetFeature);
        EXPECT_EQ(r.frame, SetFrame(0x21, 3, 0x56, 0x04));
    }
    EXPECT_EQ(board->memory().upper[3], 0x0456);
}

TEST_F(Classic, QuerySendsTwiceThenReadsLittleEndianAndLiveValueSendsOnce) {
    board->edit([](sim::ClassicMemory& m) { m.upper[3] = 0x0456; });
    EXPECT_EQ(classic.read_upper_limit(3), 0x0456);
    auto got = board->received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].frame, QueryFrame(0x20, 3));
    EXPECT_EQ(got[1].frame, QueryFrame(0x20, 3));
    EXPECT_EQ(got[2].kind, Kind::GetFeature);

    board->clear_received();
    board->set_value(7, 0xBEEF);
    board->edit([](sim::ClassicMemory& m) { m.channel32_value = 4321; });
    EXPECT_EQ(classic.read_value(7), 0xBEEF);
    EXPECT_EQ(classic.read_value(32), 4321);  // the counter's extra position
    got = board->received();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].frame, QueryFrame(0x10, 7));
    EXPECT_EQ(got[1].kind, Kind::GetFeature);
    EXPECT_EQ(got[2].frame, QueryFrame(0x10, 32));
}

TEST_F(Classic, WritesTakeValueThenChannelAndSendTheLowBits) {
    struct Case {
        std::function<void()> op;
        Frame frame;
    };
    const Case cases[] = {
        {[&] { EXPECT_TRUE(classic.write_lower_limit(0x1234, 31)); },
         SetFrame(0x23, 31, 0x34, 0x12)},
        {[&] { EXPECT_TRUE(classic.write_reference(0x10203, 0)); }, SetFrame(0x25, 0, 0x03, 0x02)},
        {[&] { EXPECT_TRUE(classic.write_channel_mode(2, 9)); }, SetFrame(0x27, 9, 2, 0)},
        {[&] { EXPECT_TRUE(classic.write_offset_type(0x101)); }, SetFrame(0x29, 0, 1, 0)},
        {[&] { EXPECT_TRUE(classic.write_percentage(15)); }, SetFrame(0x33, 0, 15, 0)},
        {[&] { EXPECT_TRUE(classic.write_offset_upper(-1)); }, SetFrame(0x35, 0, 0xFF, 0xFF)},
        {[&] { EXPECT_TRUE(classic.write_offset_lower(250)); }, SetFrame(0x37, 0, 250, 0)},
        {[&] { EXPECT_TRUE(classic.write_range_max(3000)); }, SetFrame(0x51, 0, 0xB8, 0x0B)},
        {[&] { EXPECT_TRUE(classic.write_range_min(20)); }, SetFrame(0x53, 0, 20, 0)},
    };
    for (const Case& c : cases) {
        board->clear_received();
        c.op();
        const auto got = board->received();
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].frame, c.frame) << std::hex << int{c.frame[1]};
        EXPECT_EQ(got[1].frame, c.frame);
    }
    const sim::ClassicMemory m = board->memory();
    EXPECT_EQ(m.lower[31], 0x1234);
    EXPECT_EQ(m.reference[0], 0x0203);
    EXPECT_EQ(m.modes[9], 2);
    EXPECT_EQ(m.offset_type, 1);
    EXPECT_EQ(m.percentage, 15);
    EXPECT_EQ(m.offset_upper, 0xFFFF);
    EXPECT_EQ(m.range_max, 3000);
    EXPECT_EQ(m.range_min, 20);
}

TEST_F(Classic, CompositeReadsFillTheFieldsInTheirOrder) {
    board->edit([](sim::ClassicMemory& m) {
        for (std::uint16_t k = 0; k < 32; ++k) {
            m.upper[k] = 1000 + k;
            m.lower[k] = 400 + k;
            m.reference[k] = 700 + k;
            m.modes[k] = static_cast<std::uint8_t>(k % 3);
        }
        m.offset_type = 0;
        m.percentage = 12;
        m.offset_upper = 80;
        m.offset_lower = 60;
        m.vendor_code = "ABCDEFGH";  // fills all 8 bytes: no terminator
        m.serial_number = "S1";
    });
    EXPECT_TRUE(classic.read_channel_settings());
    std::vector<int> expected;
    for (int k = 0; k < 32; ++k) {
        for (int code : {0x20, 0x22, 0x24, 0x26}) {
            expected.insert(expected.end(), {code, code, 0});
        }
    }
    for (int code : {0x28, 0x32, 0x34, 0x36, 0x38}) {
        expected.insert(expected.end(), {code, code, 0});
    }
    EXPECT_EQ(Codes(*board), expected);

    board->clear_received();
    EXPECT_TRUE(classic.read_identity());
    EXPECT_EQ(Codes(*board), (std::vector<int>{0x50, 0x50, 0, 0x52, 0x52, 0, 0x3D, 0x3D, 0, 0x3E,
                                               0x3E, 0, 0x54, 0x54, 0}));
    EXPECT_TRUE(classic.load_firmware_info());

    const ClassicTesterFields f = classic.fields();
    EXPECT_EQ(f.upper[31], 1031);
    EXPECT_EQ(f.lower[1], 401);
    EXPECT_EQ(f.reference[2], 702);
    EXPECT_EQ(f.modes[5], 2);
    EXPECT_EQ(f.offset_type, 0);
    EXPECT_EQ(f.percentage, 12);
    EXPECT_EQ(f.offset_upper, 80);
    EXPECT_EQ(f.offset_lower, 60);
    EXPECT_EQ(f.range_max, 1500);
    EXPECT_EQ(f.range_min, 10);
    EXPECT_EQ(f.vendor_code, "ABCDEFGH");
    EXPECT_EQ(f.serial_number, "S1");
    EXPECT_EQ(f.device_id, "DEV-0042");

    const ClassicFirmware fw = DecodeFirmwareInfo(f.firmware_info);
    EXPECT_EQ(fw.version_text(), "0x107");
    EXPECT_EQ(fw.date_text(), "2025年11月20日");
    EXPECT_TRUE(fw.offline_display_changeable);
}

// The board keeps its last answer until the next query frame, so a failed
// exchange must report no reply rather than any bytes it could decode.
TEST_F(Classic, FailedFeatureReadReportsNoReply) {
    board->edit([](sim::ClassicMemory& m) { m.upper[3] = 0x0456; });
    ASSERT_EQ(classic.read_upper_limit(3), 0x0456);
    board->set_silent(true);
    EXPECT_EQ(classic.read_lower_limit(5), std::nullopt);
    EXPECT_EQ(classic.read_value(5), std::nullopt);
    EXPECT_EQ(classic.read_serial_number(), std::nullopt);
    bus.unplug(board);
    EXPECT_EQ(classic.read_upper_limit(3), std::nullopt);
    EXPECT_FALSE(classic.write_upper_limit(1, 3));
}

// A feature read cut short on the wire is no reply: the bytes that did not
// come are never read as zeros (a failing value with its high byte lost
// would pass). The next read is whole again.
TEST(ClassicOnTheWire, AFeatureReadCutShortIsNoReply) {
    for (int bytes : {2, 3, 64}) {  // report ID included; 65 is whole
        SCOPED_TRACE(bytes);
        sim::SimBus bus;
        auto board = std::make_shared<SimClassicBoard>();
        board->set_noise(0);
        board->set_value(5, 0x07D0);
        bus.plug(board);
        sim::UsbFrameBus usb(bus);
        CClassicTester classic{usb};
        ASSERT_EQ(classic.open_board(), 0);
        usb.cut_short(sim::UsbFrameBus::Any(), bytes);
        EXPECT_EQ(classic.read_value(5), std::nullopt);
        EXPECT_EQ(usb.delivered().shorts, 1);
        EXPECT_EQ(classic.read_value(5), 0x07D0);
    }
}

// A composite read that loses a reply stops there and leaves the fields as
// they were: never half of one setup and half of another.
TEST_F(Classic, CompositeReadThatLosesAReplyKeepsTheFieldsItHad) {
    ASSERT_TRUE(classic.read_channel_settings());
    ASSERT_TRUE(classic.read_identity());
    ASSERT_TRUE(classic.load_firmware_info());
    ASSERT_TRUE(classic.reread_texts());
    const ClassicTesterFields before = classic.fields();
    ASSERT_EQ(before.upper[0], 1100);

    board->edit([](sim::ClassicMemory& m) {
        m.upper.fill(1300);
        m.range_max = 2000;
        m.firmware_month = 1;
    });
    board->set_silent(true);
    board->clear_received();
    EXPECT_FALSE(classic.read_channel_settings());
    // Stopped at the first exchange: one query frame twice, one feature read.
    EXPECT_EQ(Codes(*board), (std::vector<int>{0x20, 0x20, 0}));
    EXPECT_FALSE(classic.read_identity());
    EXPECT_FALSE(classic.load_firmware_info());
    EXPECT_FALSE(classic.reread_texts());
    const ClassicTesterFields after = classic.fields();
    EXPECT_EQ(after.upper, before.upper);
    EXPECT_EQ(after.range_max, before.range_max);
    EXPECT_EQ(after.firmware_info, before.firmware_info);
    EXPECT_EQ(after.serial_number, before.serial_number);
}

// The worker reads one live value per step while the user-interface thread
// reads and writes the settings. A query is two frames and a feature read;
// the board answers the read from the last query frame it got, so another
// thread's frame falling in between hands this thread the other's answer.
// Every value read here is different, so any such mix-up shows.
TEST_F(Classic, WorkerAndUserInterfaceThreadsShareOneObject) {
    board->edit([](sim::ClassicMemory& m) {
        for (std::uint16_t k = 0; k < 32; ++k) {
            m.upper[k] = static_cast<std::uint16_t>(1000 + k);
            m.lower[k] = static_cast<std::uint16_t>(400 + k);
            m.reference[k] = static_cast<std::uint16_t>(700 + k);
        }
        m.channel32_value = 4321;
    });
    for (int k = 0; k < 32; ++k) {
        board->set_value(k, static_cast<std::uint16_t>(3000 + k));
    }
    // A little time per report widens the gaps between the frames of one
    // exchange, where the other thread would slip in.
    board->set_report_time(std::chrono::microseconds(20));

    std::atomic<int> worker_faults{0};
    std::atomic<int> ui_faults{0};
    std::latch start(2);
    std::thread worker([&] {
        start.arrive_and_wait();
        for (int step = 0; step < 330; ++step) {
            const int channel = step % 33;
            const std::uint16_t expected = channel == 32 ? 4321 : 3000 + channel;
            if (classic.read_value(channel) != expected) {
                ++worker_faults;
            }
        }
    });
    std::thread ui([&] {
        start.arrive_and_wait();
        for (int round = 0; round < 3; ++round) {
            for (int k = 0; k < 32; ++k) {
                if (classic.read_upper_limit(k) != 1000 + k ||
                    classic.read_lower_limit(k) != 400 + k ||
                    !classic.write_reference(700 + k, k)) {
                    ++ui_faults;
                }
            }
            if (!classic.read_channel_settings() || classic.fields().reference[31] != 731) {
                ++ui_faults;
            }
        }
    });
    worker.join();
    ui.join();
    EXPECT_EQ(worker_faults.load(), 0);
    EXPECT_EQ(ui_faults.load(), 0);
}

TEST(Kestrun9, SharesTheClassicIdsButNeitherFamilyOpensTheOther) {
    sim::SimBus bus;
    auto classic_board = std::make_shared<SimClassicBoard>();
    auto k0 = std::make_shared<sim::SimKestrun9Board>(0);
    auto k2 = std::make_shared<sim::SimKestrun9Board>(2);
    CClassicTester classic(bus);
    hiddata_kestrun9 kestrun9(bus);

    // Each family alone on the bus: the other family's identity finds nothing.
    bus.plug(classic_board);
    EXPECT_EQ(kestrun9.open_board(0), 1);
    bus.unplug(classic_board);
    bus.plug(k0);
    EXPECT_EQ(classic.open_board(), 1);

    bus.plug(k2);
    bus.plug(classic_board);
    EXPECT_EQ(classic.open_board(), 0);
    EXPECT_EQ(classic_board->open_handle_count(), 1);
    EXPECT_EQ(kestrun9.open_board(0), 0);
    EXPECT_EQ(k0->open_handle_count(), 1);
    EXPECT_EQ(kestrun9.open_board(2), 0);
    EXPECT_EQ(k2->open_handle_count(), 1);
    EXPECT_EQ(kestrun9.open_board(3), 1);
    EXPECT_EQ(kestrun9.open_board(5), 1);
}

}  // namespace
}  // namespace kx

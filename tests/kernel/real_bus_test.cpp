// SPDX-License-Identifier: MIT
// The transport on a real kernel: software boards carried as USB devices
// (FunctionFS on dummy_hcd), found and spoken to through hidapi's hidraw
// backend, their plugging seen through udev. Runs as root in the guest of
// tests/kernel/run-in-guest; tests/kernel/lane.sh starts it.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hid/classic_tester.h"
#include "hid/device_string.h"
#include "hid/hidapi_bus.h"
#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/maker_identity.h"
#include "hid/udev_monitor.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/usb_gadget_board.h"
#include "tests/kernel/kernel_fixture.h"
#include "tests/support/fixed_reply_board.h"

namespace kx {
namespace {

using namespace std::chrono_literals;
using sim::UsbGadgetBoard;
using sim::UsbTransfer;
using testing::CommandFrame;

// --- the calls into the board families ------------------------------------
// Kept together so that a change of their signatures is mended here alone.
// Queries answer nullopt when the board's reply did not come; writes answer
// whether the board took them.

std::optional<Words> ReadValues(hiddata_simple_runoff& r) {
    return r.read_values();
}
std::optional<Words> ReadUpperLimits(hiddata_simple_runoff& r) {
    return r.read_upper_limits();
}
bool WriteUpperLimits(hiddata_simple_runoff& r, std::span<const std::int32_t> values) {
    return r.write_upper_limits(values);
}
std::optional<Words> ReadValues(hiddata_masterHID& m, std::uint8_t head) {
    return m.read_values(head);
}
std::optional<Words> ReadUpperLimits(hiddata_masterHID& m, std::uint8_t head) {
    return m.read_upper_limits(head);
}
bool WriteUpperLimits(hiddata_masterHID& m, std::uint8_t head,
                      std::span<const std::int32_t> values) {
    return m.write_upper_limits(head, values);
}
std::optional<std::uint16_t> ReadValue(CClassicTester& c, int channel) {
    return c.read_value(channel);
}
std::optional<std::uint16_t> ReadUpperLimit(CClassicTester& c, int channel) {
    return c.read_upper_limit(channel);
}
bool WriteUpperLimit(CClassicTester& c, std::int32_t value, int channel) {
    return c.write_upper_limit(value, channel);
}

// --- the fixture -----------------------------------------------------------

class RealBus : public kernel::GadgetBusTest {};

// Every report that crossed the wire carried exactly the 64 payload bytes:
// the kernel stripped report ID 0 from the station's 65-byte frames, as it
// does on the way to a real board, and control transfers named report 0.
void ExpectPayloadOnlyOnTheWire(const UsbGadgetBoard& gadget) {
    const auto transfers = gadget.transfers();
    EXPECT_FALSE(transfers.empty());
    for (std::size_t i = 0; i < transfers.size(); ++i) {
        const UsbTransfer& t = transfers[i];
        EXPECT_EQ(t.data.size(), HidHandle::kPayloadSize) << "transfer " << i;
        EXPECT_EQ(t.report_id, 0) << "transfer " << i;
    }
}

std::size_t Count(const UsbGadgetBoard& gadget, UsbTransfer::Kind kind) {
    std::size_t n = 0;
    for (const UsbTransfer& t : gadget.transfers()) {
        n += t.kind == kind ? 1 : 0;
    }
    return n;
}

// Values whose first byte on the wire is 0 (channel 0 below 256): a frame
// sent without its report ID would lose that byte in the kernel.
std::vector<std::int32_t> LimitPage(int first, int step) {
    std::vector<std::int32_t> v(32);
    for (int k = 0; k < 32; ++k) {
        v[static_cast<std::size_t>(k)] = first + step * k;
    }
    return v;
}

Words AsWords(const std::vector<std::int32_t>& v) {
    Words w{};
    for (std::size_t k = 0; k < w.size(); ++k) {
        w[k] = static_cast<std::uint16_t>(v[k]);
    }
    return w;
}

Frame PageFrame(std::uint8_t code, std::uint8_t head, const std::vector<std::int32_t>& values) {
    Frame f = CommandFrame(code, head);
    for (std::size_t k = 0; k < 32; ++k) {
        f[2 * k + 1] = static_cast<std::uint8_t>(values[k] >> 8);
        f[2 * k + 2] = static_cast<std::uint8_t>(values[k]);
    }
    return f;
}

// --- tests -------------------------------------------------------------------

TEST_F(RealBus, OneToOneBoardIsFoundByItsIdentityAndExchangesRealReports) {
    auto board = std::make_shared<sim::SimRunoffBoard>(kMakerIdentity);
    board->set_noise(0);
    for (int k = 0; k < 32; ++k) {
        board->set_value(k, static_cast<std::uint16_t>(1000 + 7 * k));
    }
    UsbGadgetBoard gadget(board);
    const std::string path = Plug(gadget);
    ASSERT_FALSE(path.empty());

    // hidapi reports the USB identity the board was given.
    const auto info = Enumerated(path);
    ASSERT_TRUE(info.has_value()) << path << " not enumerated";
    EXPECT_EQ(info->vendor_id, hiddata_simple_runoff::kVendorId);
    EXPECT_EQ(info->product_id, hiddata_simple_runoff::kProductId);
    EXPECT_EQ(FoldDeviceString(info->manufacturer.value_or(u"-")), kMakerIdentity);
    EXPECT_EQ(FoldDeviceString(info->product.value_or(u"-")), hiddata_simple_runoff::kProduct);

    hiddata_simple_runoff runoff(bus);
    ASSERT_EQ(runoff.open_maker(), 0);
    EXPECT_EQ(runoff.device_path(), path);

    Words expected{};
    for (int k = 0; k < 32; ++k) {
        expected[static_cast<std::size_t>(k)] = static_cast<std::uint16_t>(1000 + 7 * k);
    }
    EXPECT_EQ(ReadValues(runoff), expected);

    const auto upper = LimitPage(200, 37);
    ASSERT_TRUE(WriteUpperLimits(runoff, upper));
    EXPECT_EQ(ReadUpperLimits(runoff), AsWords(upper));
    EXPECT_EQ(board->memory().upper, AsWords(upper));

    // The board received exactly the frames the protocol names, in order.
    const std::vector<Frame> wanted = {CommandFrame(0xF0), CommandFrame(0x11),
                                       PageFrame(0x11, 0, upper), CommandFrame(0x10)};
    EXPECT_EQ(board->received_outputs(), wanted);
    ExpectPayloadOnlyOnTheWire(gadget);
    EXPECT_EQ(Count(gadget, UsbTransfer::Kind::InterruptOut), 4u);
    EXPECT_EQ(Count(gadget, UsbTransfer::Kind::InterruptIn), 3u);  // query, set, query replies
}

TEST_F(RealBus, ClassicTesterExchangesFeatureReports) {
    auto board = std::make_shared<sim::SimClassicBoard>();
    board->set_noise(0);
    board->set_value(5, 0x1234);
    UsbGadgetBoard gadget(board);
    const std::string path = Plug(gadget);
    ASSERT_FALSE(path.empty());

    CClassicTester classic(bus);
    ASSERT_EQ(classic.open_board(), 0);
    EXPECT_EQ(classic.device_path(), path);

    EXPECT_EQ(ReadValue(classic, 5), 0x1234);
    ASSERT_TRUE(WriteUpperLimit(classic, 0x0456, 3));
    EXPECT_EQ(ReadUpperLimit(classic, 3), 0x0456);
    EXPECT_EQ(board->memory().upper[3], 0x0456);

    // What the board took in: each frame with report ID 0, as the station
    // built it; feature reads named report 0 too.
    auto query = [](std::uint8_t code, std::uint8_t channel) {
        Frame f{};
        f[1] = code;
        f[2] = channel;
        f[7] = 0x55;
        f[8] = 0xAA;
        return f;
    };
    Frame set{};
    set[1] = 0x21;
    set[2] = 3;
    set[3] = 0x56;
    set[4] = 0x04;
    using Kind = sim::ReceivedReport::Kind;
    const std::vector<std::pair<Kind, Frame>> wanted = {
        {Kind::SetFeature, query(0x10, 5)},
        {Kind::GetFeature, Frame{}},
        {Kind::SetFeature, set},
        {Kind::SetFeature, set},
        {Kind::SetFeature, query(0x20, 3)},
        {Kind::SetFeature, query(0x20, 3)},
        {Kind::GetFeature, Frame{}},
    };
    const auto got = board->received();
    ASSERT_EQ(got.size(), wanted.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].kind, wanted[i].first) << "report " << i;
        EXPECT_EQ(got[i].frame, wanted[i].second) << "report " << i;
    }
    ExpectPayloadOnlyOnTheWire(gadget);
    EXPECT_EQ(Count(gadget, UsbTransfer::Kind::SetReport), 5u);
    EXPECT_EQ(Count(gadget, UsbTransfer::Kind::GetReport), 2u);
}

TEST_F(RealBus, MasterBoardServesTwoHeadsOverOneDevice) {
    auto board = std::make_shared<sim::SimMasterBoard>();
    board->set_noise(0);
    board->set_present_heads({0, 1});
    for (int h = 0; h < 2; ++h) {
        for (int k = 0; k < 32; ++k) {
            board->set_value(h, k, static_cast<std::uint16_t>(3000 * h + 500 + k));
        }
    }
    UsbGadgetBoard gadget(board);
    const std::string path = Plug(gadget);
    ASSERT_FALSE(path.empty());

    hiddata_masterHID master(bus);
    ASSERT_EQ(master.open_board(), 0);
    EXPECT_EQ(master.device_path(), path);
    EXPECT_EQ(master.probe_heads(), 2);

    for (std::uint8_t h = 0; h < 2; ++h) {
        Words expected{};
        for (int k = 0; k < 32; ++k) {
            expected[static_cast<std::size_t>(k)] = static_cast<std::uint16_t>(3000 * h + 500 + k);
        }
        EXPECT_EQ(ReadValues(master, h), expected) << "head " << int{h};
    }
    const auto before = board->memory().heads[0].upper;
    const auto upper = LimitPage(100, 41);
    board->clear_received();
    ASSERT_TRUE(WriteUpperLimits(master, 1, upper));
    EXPECT_EQ(ReadUpperLimits(master, 1), AsWords(upper));
    EXPECT_EQ(board->memory().heads[1].upper, AsWords(upper));
    EXPECT_EQ(board->memory().heads[0].upper, before);

    const std::vector<Frame> wanted = {CommandFrame(0x11, 1), PageFrame(0x11, 1, upper),
                                       CommandFrame(0x10, 1)};
    EXPECT_EQ(board->received_outputs(), wanted);
    ExpectPayloadOnlyOnTheWire(gadget);
}

// hidraw hands a report to every file open when it arrives: a reply still on
// its way when the object opens the board again (as Connect's second probe
// does) reaches the new handle. It is waited out there, never taken for the
// next command's answer.
TEST_F(RealBus, LateReplyAcrossAReopenIsNotTheNextCommandsAnswer) {
    auto board = std::make_shared<sim::SimRunoffBoard>(kMakerIdentity);
    board->set_noise(0);
    for (int k = 0; k < 32; ++k) {
        board->set_value(k, static_cast<std::uint16_t>(3000 + k));
    }
    board->edit([](sim::RunoffMemory& m) { m.upper.fill(0x0123); });
    UsbGadgetBoard gadget(board);
    const std::string path = Plug(gadget);
    ASSERT_FALSE(path.empty());

    hiddata_simple_runoff runoff(bus);
    ASSERT_EQ(runoff.open_maker(), 0);
    board->set_reply_delay(std::chrono::milliseconds(hiddata::kReadBoundMs + 300));
    EXPECT_EQ(ReadUpperLimits(runoff), std::nullopt);
    ASSERT_EQ(runoff.open_maker(), 0);
    EXPECT_EQ(runoff.device_path(), path);
    board->set_reply_delay(std::chrono::milliseconds(0));

    const auto values = ReadValues(runoff);
    ASSERT_TRUE(values.has_value());
    EXPECT_EQ((*values)[0], 3000) << "the limits' late reply taken for the values";
    EXPECT_EQ((*values)[31], 3031);
    // The late reply did cross the wire after the reopen.
    EXPECT_EQ(Count(gadget, UsbTransfer::Kind::InterruptIn), 2u);
}

TEST_F(RealBus, MonitorSeesArrivalAndRemovalWithTheNodePath) {
    auto board = std::make_shared<sim::SimRunoffBoard>(kMakerIdentity);
    UsbGadgetBoard gadget(board);
    const std::string path = Plug(gadget);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.rfind("/dev/hidraw", 0), 0u) << path;

    // On the "udev" source the node is there, ready to open, when the
    // arrival is seen.
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0) << path;
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_NE(bus.open_path(path).handle, nullptr);
    ASSERT_TRUE(Enumerated(path).has_value());

    Unplug(gadget, path);
    EXPECT_NE(stat(path.c_str(), &st), 0);
    EXPECT_FALSE(Enumerated(path).has_value());
    // Nothing else is waiting.
    EXPECT_FALSE(monitor.receive().has_value());
}

// Without a udev daemon a monitor on the "udev" source would never hear
// anything; registration says so instead of failing silently.
TEST(UdevMonitorRegistration, FailsWhenNoUdevDaemonRuns) {
    constexpr const char* kControl = "/run/udev/control";
    constexpr const char* kAside = "/run/udev/control.aside";
    ASSERT_EQ(std::rename(kControl, kAside), 0);
    UdevMonitor monitor;
    ASSERT_EQ(std::rename(kAside, kControl), 0);
    EXPECT_FALSE(monitor.ok());
    EXPECT_EQ(monitor.fd(), -1);
    EXPECT_NE(monitor.error().find("udev daemon"), std::string::npos) << monitor.error();
    EXPECT_FALSE(monitor.receive().has_value());

    UdevMonitor again;
    EXPECT_TRUE(again.ok()) << again.error();
    EXPECT_GE(again.fd(), 0);
}

// Two boards with the same identity: the first in the bus's enumeration
// order is opened, whatever the order of plugging; a board with the right
// ids but another manufacturer string is passed over.
TEST_F(RealBus, FirstOfTwoIdenticalBoardsInEnumerationOrderIsOpened) {
    auto other = std::make_shared<sim::SimRunoffBoard>("VERSION2");
    auto a = std::make_shared<sim::SimRunoffBoard>(kMakerIdentity);
    auto b = std::make_shared<sim::SimRunoffBoard>(kMakerIdentity);
    a->set_noise(0);
    b->set_noise(0);
    for (int k = 0; k < 32; ++k) {
        a->set_value(k, 1111);
        b->set_value(k, 2222);
    }
    UsbGadgetBoard gadget_other(other);
    UsbGadgetBoard gadget_a(a);
    UsbGadgetBoard gadget_b(b);
    ASSERT_FALSE(Plug(gadget_other).empty());
    std::string path_a = Plug(gadget_a);
    const std::string path_b = Plug(gadget_b);
    ASSERT_FALSE(path_a.empty());
    ASSERT_FALSE(path_b.empty());
    // Plug a again: it is now the last plugged, on the controller it had.
    Unplug(gadget_a, path_a);
    path_a = Plug(gadget_a);
    ASSERT_FALSE(path_a.empty());

    std::vector<std::string> matching;
    for (const HidDeviceInfo& d : bus.enumerate()) {
        if (d.vendor_id == hiddata_simple_runoff::kVendorId &&
            d.product_id == hiddata_simple_runoff::kProductId &&
            FoldDeviceString(d.manufacturer.value_or(u"")) == kMakerIdentity) {
            matching.push_back(d.path);
        }
    }
    ASSERT_EQ(matching.size(), 2u);
    const bool a_first = matching[0] == path_a;
    ASSERT_TRUE(a_first || matching[0] == path_b);
    std::printf("enumeration order: %s (board %s), %s; board a plugged last on %s\n",
                matching[0].c_str(), a_first ? "a" : "b", matching[1].c_str(),
                gadget_a.udc().c_str());

    hiddata_simple_runoff runoff(bus);
    ASSERT_EQ(runoff.open_maker(), 0);
    EXPECT_EQ(runoff.device_path(), matching[0]);
    const auto values = ReadValues(runoff);
    ASSERT_TRUE(values.has_value());
    EXPECT_EQ((*values)[0], a_first ? 1111 : 2222);
    EXPECT_EQ((a_first ? b : a)->received_outputs().size(), 0u);
    EXPECT_EQ(other->received_outputs().size(), 0u);
}

// The field trace of the probe program on the real bus: the reports of a
// real exchange, stamped and tagged with the family.
TEST_F(RealBus, TraceShowsTheReportsOfTheRealExchange) {
    auto board = std::make_shared<sim::SimRunoffBoard>(kMakerIdentity);
    board->set_noise(0);
    board->set_value(0, 0x0102);
    UsbGadgetBoard gadget(board);
    ASSERT_FALSE(Plug(gadget).empty());

    const std::string command = std::string("env KALDRIX_TRACE=1 ") + KX_PROBE + " --real 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> lines;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        lines.emplace_back(line);
    }
    EXPECT_EQ(pclose(pipe), 0);

    // The live-value query out, the board's reply in (0x0102 little-endian).
    const std::string out = "one-to-one OUT  00 01 29 F0 00";
    const std::string in = "one-to-one IN   00 02 01";
    const std::string* first_out = nullptr;
    const std::string* first_in = nullptr;
    for (const std::string& l : lines) {
        if (first_out == nullptr && l.find(out) != std::string::npos) {
            first_out = &l;
        }
        if (first_in == nullptr && first_out != nullptr && l.find(in) != std::string::npos) {
            first_in = &l;
        }
    }
    ASSERT_NE(first_out, nullptr) << "no trace of the query";
    ASSERT_NE(first_in, nullptr) << "no trace of the reply";
    std::printf("trace: %strace: %s", first_out->c_str(), first_in->c_str());
    EXPECT_EQ(board->received_outputs().at(0), CommandFrame(0xF0));
    ExpectPayloadOnlyOnTheWire(gadget);
}

}  // namespace
}  // namespace kx

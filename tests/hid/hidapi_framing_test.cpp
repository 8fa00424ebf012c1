// SPDX-License-Identifier: MIT
// The real bus (hidapi_bus.cpp) built against a stand-in of the hidapi
// functions: what it hands hidapi and what it makes of hidapi's answers.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "hid/classic_tester.h"
#include "hid/hidapi_bus.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/maker_identity.h"
#include "tests/support/fake_hidapi.h"

namespace kx {
namespace {

namespace fake = fake_hidapi;

std::wstring Wide(const char* ascii) {
    return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii));
}

fake::Device RunoffDevice(const std::string& path = "/dev/hidraw3") {
    return {path, 0x16A0, 0x05DF, Wide(kMakerIdentity), L"Kaldrix", true};
}

fake::Device ClassicDevice() {
    return {"/dev/hidraw5", 0x04B4, 0xE006, Wide(kMakerIdentity), L"Corvanis", true};
}

// What a 65-byte frame sent to a board looks like: report ID 0, then the
// payload.
std::vector<std::uint8_t> Frame65(std::initializer_list<std::uint8_t> payload) {
    std::vector<std::uint8_t> f(65, 0);
    std::size_t i = 1;
    for (std::uint8_t b : payload) {
        f[i++] = b;
    }
    return f;
}

class HidapiFraming : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }
    void TearDown() override { fake::reset(); }
};

TEST_F(HidapiFraming, EnumerationGivesPathsIdsAndDecodedDeviceStrings) {
    fake::state().devices = {
        RunoffDevice(),
        {"/dev/hidraw7", 0x1234, 0xABCD, L"A\U0001F600\u00E9", std::nullopt, true},
    };
    HidapiBus bus;
    ASSERT_TRUE(bus.ok());
    const auto devices = bus.enumerate();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].path, "/dev/hidraw3");
    EXPECT_EQ(devices[0].vendor_id, 0x16A0);
    EXPECT_EQ(devices[0].product_id, 0x05DF);
    EXPECT_EQ(devices[0].manufacturer, std::u16string(u"borvane"));
    EXPECT_EQ(devices[0].product, std::u16string(u"Kaldrix"));
    // A character beyond 16 bits becomes a surrogate pair; a missing string
    // stays missing.
    EXPECT_EQ(devices[1].manufacturer, std::u16string(u"A\xD83D\xDE00\u00E9"));
    EXPECT_EQ(devices[1].product, std::nullopt);
    EXPECT_EQ(fake::state().enumerations_freed, 1);
}

// Writes are 65 bytes with report ID 0 before the payload; reads ask for the
// 64 payload bytes of an unnumbered input report, which land after byte 0.
TEST_F(HidapiFraming, InterruptReportsAreSixtyFiveBytesOutAndSixtyFourIn) {
    fake::state().devices = {RunoffDevice()};
    HidapiBus bus;
    hiddata_simple_runoff runoff(bus);
    ASSERT_EQ(runoff.open_maker(), 0);
    ASSERT_EQ(fake::calls_of("hid_open_path").size(), 1u);
    EXPECT_EQ(
        fake::calls_of("hid_open_path")[0].data,
        std::vector<std::uint8_t>({'/', 'd', 'e', 'v', '/', 'h', 'i', 'd', 'r', 'a', 'w', '3'}));

    std::vector<std::uint8_t> reply(64);
    for (std::size_t i = 0; i < reply.size(); ++i) {
        reply[i] = static_cast<std::uint8_t>(i + 1);  // payload byte i is frame byte i + 1
    }
    fake::state().answers.push_back(reply);
    const auto values = runoff.read_values();
    ASSERT_TRUE(values.has_value());
    EXPECT_EQ((*values)[0], 0x0201);   // frame bytes 1 and 2, little-endian
    EXPECT_EQ((*values)[31], 0x403F);  // frame bytes 63 and 64

    const auto writes = fake::calls_of("hid_write");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].length, 65u);
    EXPECT_EQ(writes[0].data, Frame65({0x01, 0x29, 0xF0}));
    const auto reads = fake::calls_of("hid_read_timeout");
    ASSERT_FALSE(reads.empty());
    for (const auto& r : reads) {
        EXPECT_EQ(r.length, 64u);
        EXPECT_LE(r.timeout_ms, hiddata::kWaitSliceMs);
    }

    // A set: two 65-byte reports, then its acknowledging reply.
    fake::reset();
    fake::state().devices = {RunoffDevice()};
    fake::state().answers = {std::nullopt, std::vector<std::uint8_t>(64, 0)};
    EXPECT_TRUE(runoff.set_outputs(1, 0, 0, 1));
    const auto set_writes = fake::calls_of("hid_write");
    ASSERT_EQ(set_writes.size(), 2u);
    EXPECT_EQ(set_writes[0].data, Frame65({0x01, 0x29, 0xD3}));
    EXPECT_EQ(set_writes[1].data, Frame65({1, 0, 0, 1}));
}

// Feature reports travel as 65 bytes with report ID 0 at byte 0, both ways.
TEST_F(HidapiFraming, FeatureReportsCarryReportIdZero) {
    fake::state().devices = {ClassicDevice()};
    HidapiBus bus;
    CClassicTester classic(bus);
    ASSERT_EQ(classic.open_board(), 0);

    EXPECT_TRUE(classic.write_upper_limit(0x0456, 3));
    auto sends = fake::calls_of("hid_send_feature_report");
    ASSERT_EQ(sends.size(), 2u);
    for (const auto& s : sends) {
        EXPECT_EQ(s.length, 65u);
        EXPECT_EQ(s.data, Frame65({0x21, 3, 0x56, 0x04}));
    }

    fake::reset();
    fake::state().devices = {ClassicDevice()};
    std::vector<std::uint8_t> feature(65, 0);
    feature[1] = 0x78;
    feature[2] = 0x06;
    fake::state().feature = feature;
    EXPECT_EQ(classic.read_upper_limit(3), 0x0678);
    sends = fake::calls_of("hid_send_feature_report");
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(sends[0].data, Frame65({0x20, 3, 0, 0, 0, 0, 0x55, 0xAA}));
    const auto gets = fake::calls_of("hid_get_feature_report");
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0].length, 65u);
    EXPECT_EQ(gets[0].data.at(0), 0) << "report ID 0 asked for";
}

// A device that has gone: each operation makes one attempt, reports no
// reply at once and does not retry; the handle is closed exactly once, when
// the next search replaces it.
TEST_F(HidapiFraming, GoneDeviceFailsAtOnceAndItsHandleIsClosedOnce) {
    fake::state().devices = {RunoffDevice()};
    HidapiBus bus;
    hiddata_simple_runoff runoff(bus);
    ASSERT_EQ(runoff.open_maker(), 0);
    fake::state().gone = true;
    fake::state().calls.clear();

    EXPECT_EQ(runoff.read_values(), std::nullopt);
    EXPECT_FALSE(runoff.set_outputs(0, 1, 0, 0));
    EXPECT_LE(fake::state().calls.size(), 4u);
    EXPECT_LE(fake::calls_of("hid_write").size(), 2u);
    EXPECT_EQ(fake::state().closed, 0);

    fake::state().devices.clear();
    EXPECT_EQ(runoff.open_maker(), 1);
    EXPECT_EQ(runoff.last_open_failure(), OpenFailure::NotFound);
    EXPECT_EQ(fake::state().opened, 1);
    EXPECT_EQ(fake::state().closed, 1);

    // A classic tester's feature transfers fail the same way.
    fake::state().devices = {ClassicDevice()};
    fake::state().gone = false;
    {
        CClassicTester classic(bus);
        ASSERT_EQ(classic.open_board(), 0);
        fake::state().gone = true;
        EXPECT_EQ(classic.read_value(0), std::nullopt);
        EXPECT_FALSE(classic.write_range_max(100));
    }
    EXPECT_EQ(fake::state().closed, 2);
}

// A matching device whose node will not open: the bus asks the node itself
// why, and the search reports it instead of "no board".
TEST_F(HidapiFraming, ANodeThatWillNotOpenIsReportedWithItsReason) {
    const auto dir = std::filesystem::temp_directory_path();
    fake::Device gone = RunoffDevice("/dev/kx-no-such-hidraw");
    gone.opens = false;
    fake::Device directory = RunoffDevice(dir.string());  // open(2) says EISDIR
    directory.opens = false;

    fake::state().devices = {gone};
    HidapiBus bus;
    hiddata_simple_runoff runoff(bus);
    EXPECT_EQ(runoff.open_maker(), 1);
    EXPECT_EQ(runoff.last_open_failure(), OpenFailure::NotFound);

    fake::state().devices = {directory};
    EXPECT_EQ(runoff.open_maker(), 1);
    EXPECT_EQ(runoff.last_open_failure(), OpenFailure::Other);
    EXPECT_EQ(bus.open_path(dir.string()).failure, OpenFailure::Other);

    struct Case {
        int error;
        OpenFailure failure;
    };
    const Case cases[] = {
        {EACCES, OpenFailure::NoPermission}, {EPERM, OpenFailure::NoPermission},
        {EBUSY, OpenFailure::Busy},          {ENOENT, OpenFailure::NotFound},
        {ENODEV, OpenFailure::NotFound},     {ENXIO, OpenFailure::NotFound},
        {EIO, OpenFailure::Other},           {EISDIR, OpenFailure::Other},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OpenFailureOfErrno(c.error), c.failure) << c.error;
    }
}

TEST_F(HidapiFraming, ABusWhoseLibraryDidNotStartFindsAndOpensNothing) {
    fake::state().init_result = -1;
    fake::state().devices = {RunoffDevice()};
    HidapiBus bus;
    EXPECT_FALSE(bus.ok());
    EXPECT_TRUE(bus.enumerate().empty());
    EXPECT_EQ(bus.open_path("/dev/hidraw3").handle, nullptr);
    EXPECT_TRUE(fake::calls_of("hid_open_path").empty());
}

}  // namespace
}  // namespace kx

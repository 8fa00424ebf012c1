// SPDX-License-Identifier: MIT
#include "hid/hidapi_bus.h"

#include <gtest/gtest.h>

#include "hid/hiddata_simple_runoff.h"

namespace kx {
namespace {

// On the build machine there are no HID boards (often no HID devices at
// all): the real bus must still start, enumerate and refuse cleanly.
TEST(HidapiBus, EnumeratesAndRefusesCleanlyWithoutBoards) {
    HidapiBus bus;
    ASSERT_TRUE(bus.ok());
    for (const HidDeviceInfo& d : bus.enumerate()) {
        EXPECT_FALSE(d.path.empty());
    }
    const HidOpenResult missing = bus.open_path("/dev/this-is-not-a-hidraw-node");
    EXPECT_EQ(missing.handle, nullptr);
    EXPECT_EQ(missing.failure, OpenFailure::NotFound);

    hiddata_simple_runoff runoff(bus);
    // No one-to-one tester is attached to a build machine.
    EXPECT_EQ(runoff.open_maker(), 1);
    EXPECT_EQ(runoff.last_open_failure(), OpenFailure::NotFound);
    EXPECT_FALSE(runoff.is_open());
    // Operations on a closed object return at once without a reply.
    EXPECT_EQ(runoff.read_values(), std::nullopt);
}

}  // namespace
}  // namespace kx

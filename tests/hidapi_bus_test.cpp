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
    EXPECT_EQ(bus.open_path("/dev/this-is-not-a-hidraw-node"), nullptr);

    hiddata_simple_runoff runoff(bus);
    // No one-to-one tester is attached to a build machine.
    EXPECT_EQ(runoff.open_maker(), 1);
    EXPECT_FALSE(runoff.is_open());
    // Operations on a closed object return at once with the stale buffer.
    EXPECT_EQ(runoff.read_values()[0], 0);
}

}  // namespace
}  // namespace kx

// SPDX-License-Identifier: MIT
#pragma once

// The fixture of the tests on a real kernel: software boards carried as USB
// devices (sim/usb_gadget_board.h), the real bus through hidapi, and the udev
// monitor whose events the tests wait for. Runs as root in the guest of
// tests/kernel/run-in-guest; tests/kernel/lane.sh starts it.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hid/hid_bus.h"
#include "hid/hidapi_bus.h"
#include "hid/udev_monitor.h"
#include "sim/usb_gadget_board.h"

namespace kx::kernel {

using namespace std::chrono_literals;

// USB enumeration, driver binding and udev's rules take their time under
// emulation; a plug that is seen at all is seen well within this.
constexpr auto kPlugBound = 30s;
// dummy_hcd's controllers: as many boards at once at most.
constexpr int kControllers = 4;

// A test with the real bus and the udev monitor. Every event the monitor
// delivers is taken on the test's thread, as the main window's socket
// notifier would take it, and handed to OnEvent.
class GadgetBusTest : public ::testing::Test {
protected:
    void SetUp() override;
    // The boards a test plugged are unplugged by their destructors by now;
    // waits until the kernel has let go of their nodes, so that the next
    // test starts on an empty bus.
    void TearDown() override;

    // Takes the monitor's events as they come, waiting on its descriptor,
    // until `done` holds or the bound has passed. `done` is asked after each
    // batch of events and at least every `tick`.
    bool Await(const std::function<bool()>& done, std::chrono::milliseconds bound = kPlugBound,
               std::chrono::milliseconds tick = kPlugBound);

    // Plugs the board in and waits for udev to announce its hidraw node;
    // returns the node's path, empty when none came.
    std::string Plug(sim::UsbGadgetBoard& gadget);
    // Plugs several boards at once (at most kControllers in all) and waits
    // for all their nodes; returns the paths in the order of the gadgets,
    // told apart by the node's USB strings. Empty when not all came.
    std::vector<std::string> PlugAll(const std::vector<sim::UsbGadgetBoard*>& gadgets);
    // Unplugs the board and waits for the removal of its node.
    void Unplug(sim::UsbGadgetBoard& gadget, const std::string& path);

    // The enumerated entry of a node.
    std::optional<HidDeviceInfo> Enumerated(const std::string& path);
    // Nodes that arrived and were not removed.
    const std::set<std::string>& Live() const { return live_; }

    // Called for every event of the monitor, after the fixture has noted it.
    virtual void OnEvent(HotplugEvent /*event*/, const std::string& /*path*/) {}

    UdevMonitor monitor;
    HidapiBus bus;

private:
    std::vector<std::string> arrivals_;
    std::set<std::string> live_;
};

// Runs a shell command; its exit status and what it wrote on stdout.
struct CommandResult {
    int status = -1;
    std::string output;
};
CommandResult RunCommand(const std::string& command);

}  // namespace kx::kernel

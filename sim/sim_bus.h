// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hid/hid_bus.h"
#include "sim/sim_board.h"

namespace kx::sim {

// A bus of software boards. Boards are plugged and unplugged at run time;
// each plug and unplug raises the event the hot-plug code takes from udev on
// the real bus. Enumeration order is the order of plugging.
class SimBus : public HidBus {
public:
    SimBus() = default;
    ~SimBus() override;

    std::vector<HidDeviceInfo> enumerate() override;
    HidOpenResult open_path(const std::string& path) override;
    const char* name() const override { return "sim"; }

    // Plugs a board in (again); returns its path.
    std::string plug(std::shared_ptr<SimBoard> board);
    // Unplugs a board: its open handles fail from now on, also after a
    // later re-plug.
    void unplug(const std::shared_ptr<SimBoard>& board);
    void unplug_all();

    // Report time of every board on the bus, those plugged later included
    // (see SimBoard::set_report_time). A station that polls software boards
    // flat out, as the demonstration does, sets SimBoard::kFullSpeedReportTime
    // so that the boards pace it as USB would; tests leave it at zero.
    void set_report_time(SimBoard::Duration time);

    // Called outside the bus's lock, on the thread that plugs or unplugs.
    void set_hotplug_handler(HotplugHandler handler);

    std::vector<std::shared_ptr<SimBoard>> boards() const;

private:
    struct Slot {
        std::string path;
        std::shared_ptr<SimBoard> board;
    };
    void notify(HotplugEvent event, const std::string& path);

    mutable std::mutex mutex_;
    std::vector<Slot> slots_;
    unsigned next_id_ = 1;
    std::optional<SimBoard::Duration> report_time_;
    HotplugHandler handler_;
};

}  // namespace kx::sim

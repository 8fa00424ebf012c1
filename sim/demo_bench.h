#pragma once

#include <memory>
#include <vector>

#include "sim/sim_bus.h"

namespace kx::sim {

// Plugs the boards of the demonstration into a simulated bus: one board of
// every family the station knows. Returns them in plugging order. The boards
// answer at once; a station that polls them continuously sets the bus's
// report time (SimBus::set_report_time) to pace them like USB.
std::vector<std::shared_ptr<SimBoard>> PlugDemoBoards(SimBus& bus);

}  // namespace kx::sim

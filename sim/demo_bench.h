// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hid/family_id.h"
#include "sim/sim_bus.h"

namespace kx::sim {

// Plugs the boards of the demonstration into a simulated bus: one board of
// every family the station knows. Returns them in plugging order. The boards
// answer at once; a station that polls them continuously sets the bus's
// report time (SimBus::set_report_time) to pace them like USB.
std::vector<std::shared_ptr<SimBoard>> PlugDemoBoards(SimBus& bus);

// --- the station's demonstration mode ------------------------------------------

// One software board of a demonstration, as the command line names it:
//
//   one-to-one[:MANUFACTURER]   a one-to-one tester; the manufacturer string
//                               picks its identity row and machine (default
//                               the demonstration row of the standard type,
//                               "ravuno-demo"; "TARSEL_DEV2" is a TARSEL
//                               board built as machine 2)
//   velmora5                    a Velmora5 board laid out 2 x 2
//   master[:COLUMNSxROWS]       a master board reporting that grid (1 to 10
//                               each, default 2x2); the first 16 positions
//                               have a head, as many as the board's map holds
//   classic                     a classic tester
inline constexpr const char* kDemoOneToOneManufacturer = "ravuno-demo";
inline constexpr int kDemoMasterMaxSide = 10;

struct DemoBoardChoice {
    FamilyId family = FamilyId::OneToOne;                  // OneToOne, Velmora5, Master or Classic
    std::string manufacturer = kDemoOneToOneManufacturer;  // one-to-one only
    int columns = 2;                                       // master only
    int rows = 2;                                          // master only
};

// The board a command-line word names, or nullopt with `error` saying why (in
// English, for the command line). Family names are taken in any case; a
// one-to-one manufacturer must be one the station knows, exactly.
std::optional<DemoBoardChoice> ParseDemoBoard(std::string_view text, std::string& error);

// How a demonstration board measures.
enum class DemoSignal {
    // Noise on every channel, and now and then a channel pressed above its
    // upper limit (TouchPattern), so that heads go from PASS to FAIL and back.
    Live,
    // Every channel exactly at its centre: nothing changes.
    Still,
};

// A board as chosen, not yet plugged.
std::shared_ptr<SimBoard> MakeDemoBoard(const DemoBoardChoice& choice, DemoSignal signal);

// The touch pattern of a live demonstration head on a board of `heads` heads:
// every head on its own schedule, rarer the more heads there are, so that a
// multi-head grid also shows all heads passing now and then.
TouchPattern DemoTouches(int heads);
// Noise of a live demonstration head, in counts.
inline constexpr int kDemoNoise = 8;
// Counts a touch adds at full press: from the boards' default centre (700 for
// the reference, 800 between the master's limits) well above their upper
// limit of 1100 and still below the top of their range (1500).
inline constexpr int kDemoTouchRise = 600;

}  // namespace kx::sim

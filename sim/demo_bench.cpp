#include "sim/demo_bench.h"

#include "hid/maker_identity.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_runoff_board.h"

namespace kx::sim {

std::vector<std::shared_ptr<SimBoard>> PlugDemoBoards(SimBus& bus) {
    std::vector<std::shared_ptr<SimBoard>> boards;
    boards.push_back(std::make_shared<SimRunoffBoard>(kMakerIdentity));
    boards.push_back(std::make_shared<SimClassicBoard>());
    // Recognised by the station, never driven.
    boards.push_back(std::make_shared<SimKestrun9Board>(0));
    for (const auto& b : boards) {
        bus.plug(b);
    }
    return boards;
}

}  // namespace kx::sim

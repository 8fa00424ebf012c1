#include "sim/demo_bench.h"

#include "hid/maker_identity.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"

namespace kx::sim {

namespace {

// A master board with four heads on a 2 x 2 grid, numbered so that board
// head and grid position differ.
std::shared_ptr<SimMasterBoard> DemoMasterBoard() {
    auto board = std::make_shared<SimMasterBoard>(kMakerIdentity, 7);
    board->set_present_heads({1, 4, 6, 9});
    board->assign(0, 0, 0, 1);
    board->assign(1, 0, 1, 4);
    board->assign(2, 1, 0, 6);
    board->assign(3, 1, 1, 9);
    board->edit([](MasterMemory& m) {
        m.rows = 2;
        m.columns = 2;
    });
    board->set_value(4, 12, 1300);  // above its upper limit: one head fails
    return board;
}

}  // namespace

std::vector<std::shared_ptr<SimBoard>> PlugDemoBoards(SimBus& bus) {
    std::vector<std::shared_ptr<SimBoard>> boards;
    boards.push_back(std::make_shared<SimRunoffBoard>(kMakerIdentity));
    boards.push_back(std::make_shared<SimClassicBoard>());
    // Recognised by the station, never driven.
    boards.push_back(std::make_shared<SimKestrun9Board>(0));
    boards.push_back(std::make_shared<SimVelmora5Board>(kMakerIdentity));
    boards.push_back(DemoMasterBoard());
    for (const auto& b : boards) {
        bus.plug(b);
    }
    return boards;
}

}  // namespace kx::sim

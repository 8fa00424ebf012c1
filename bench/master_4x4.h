// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

#include "sim/sim_master_board.h"

namespace kx::bench {

// A software master board with sixteen heads on a 4 x 4 grid, head p at row
// p / 4, column p % 4.
inline std::shared_ptr<sim::SimMasterBoard> Master4x4() {
    auto board = std::make_shared<sim::SimMasterBoard>();
    board->set_present_heads({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    board->edit([](sim::MasterMemory& m) {
        m.rows = 4;
        m.columns = 4;
    });
    for (int p = 0; p < 16; ++p) {
        board->assign(p, p / 4, p % 4, p);
    }
    return board;
}

}  // namespace kx::bench

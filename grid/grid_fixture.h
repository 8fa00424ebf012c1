// SPDX-License-Identifier: MIT
#pragma once

#include "grid/grid_model.h"

namespace kx {

enum class FixtureFill {
    Mixed,     // passing, failing (over and under) and LOAD heads
    AllPass,   // every head within its limits
    Fresh,     // every head a fresh page before its settings arrive: all LOAD
    Verdicts,  // each verdict in turn: pass, fail, no data, LOAD
};

// Sets the grid to columns x rows and gives every head a fixed, varied
// picture built from its page number: the default range and limits with a
// little spread, values inside the limits, one masked and one greyed channel.
// Mixed adds an over channel to every third page, an under channel to every
// fourth and masks all of every ninth page from page 7 on. Fresh gives every
// head the station's default page instead (every channel masked). Verdicts
// starts from AllPass and gives page p the verdict p % 4 of pass, fail (one
// channel over), no data (the values stay, the board's mark is taken away)
// and LOAD (every channel masked). Used by the rendering program, the repaint
// benchmark and the tests.
void FillFixtureGrid(GridModel& model, int columns, int rows, FixtureFill fill);

}  // namespace kx

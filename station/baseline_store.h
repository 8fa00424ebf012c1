// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "grid/grid_model.h"
#include "station/baseline_result.h"
#include "station/station_core.h"

namespace kx {

// The baseline command without its windows: which head a click on the main
// grid opens the baseline dialog for, and what OK of that dialog stores into
// the page table and writes to the boards. FindBaselineTarget is quick and
// talks to no board (the window's thread); StoreBaselineAndWrite talks to
// every connected board and runs where the station's board operations run
// (its board lane, StationCore::Lane), one at a time with the others. The
// acquisition worker may run beside either.

// What a click on the main grid asks for.
struct BaselineTarget {
    enum class Kind {
        NoBoard,       // no baseline family connected: nothing happens
        NoHead,        // the grid shows no head (0 rows or columns): nothing happens
        OutsideTable,  // the head has no page (64 or beyond): the operator is told
        Page,          // the dialog opens for `page`
    };
    Kind kind = Kind::NoBoard;
    std::int32_t row = 0;  // the grid's hit head
    std::int32_t column = 0;
    std::int32_t page = 0;  // row * columns + column
};

// The head the grid found under the pointer at its last repaint, and its
// page. Looks first whether a board of any of the station's families is
// open.
BaselineTarget FindBaselineTarget(const StationCore& station, const GridModel& grid);

// What OK of the dialog did.
struct BaselineWriteReport {
    // The result's page is outside the table: nothing stored or written.
    bool outsideTable = false;
    // No baseline family was connected any more: the result went into the
    // page (with the one-to-one family's offset-type rule) and to no board.
    bool noBoard = false;
    // In write order: the families whose board took every exchange, and
    // those whose board missed a reply (their write stopped there).
    std::vector<FamilyId> written;
    std::vector<FamilyId> notAnswered;
};

// For each connected family in connection priority (one-to-one, Velmora5,
// master, classic): the result into its page with that family's offset-type
// rule, then the family's write (BoardFamily::WriteEditedPage). The master
// board then has its display range read back into page 0 and copied into
// every page of the grid (rows x columns);
// a read that gets no reply leaves the pages as they were. A board that
// misses a reply keeps the edited values in the page and is reported.
// The store into each family's page comes right before that family's write
// (the page a family writes holds its own offset-type rule), so the stores
// run with the writes, on the same thread.
BaselineWriteReport StoreBaselineAndWrite(const BaselineResult& result, StationCore& station);
// The result into its page without any board (one-to-one rule), reported as
// `noBoard`: what StoreBaselineAndWrite does when no family is connected, and
// what the window does when the station can no longer write to boards.
BaselineWriteReport StoreBaselineWithoutBoards(const BaselineResult& result, StationCore& station);

// The operator's messages (UTF-8); empty when there is nothing to say.
std::string BaselineOutsideTableMessage(const BaselineTarget& target);
std::string BaselineWriteMessage(const BaselineWriteReport& report);

}  // namespace kx

// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

#include "core/page_table.h"
#include "core/section_lock.h"
#include "hid/hiddata.h"

namespace kx {

// Page-table access shared by the station core and the board families. The
// station's page table is taken under its lock (PageStore) only to copy a
// page or some of its fields, never across a board exchange.

inline bool InTable(int page) {
    return page >= 0 && page < kPageCount;
}

// Board values widened without sign.
template <class Array>
void Widen(const Words& from, Array& to) {
    std::copy(from.begin(), from.end(), to.begin());
}

// The replies a step reads from one board are used only when none of them
// can have been another command's: the board is settled before the reads
// (whatever came after the last step's exchanges is not this step's) and
// after them, and nothing may have been found out of step in between.
class StepReads {
public:
    explicit StepReads(hiddata& board) : board_(board) {
        board_.settle();
        before_ = board_.out_of_step_count();
    }
    bool InStep() {
        board_.settle();
        return board_.out_of_step_count() == before_;
    }

private:
    hiddata& board_;
    std::uint32_t before_ = 0;
};

// A one-to-one or Velmora5 head's settings, board -> page: reference, upper
// and lower limits, modes, range maximum and minimum, each stored into
// `page` of `pages` as it comes. False at the first read without reply;
// what did not come leaves the page as it was. `head...` is the board's head
// number, if its commands take one.
template <class Board, class... Head>
bool ReadHeadSettings(PageStore& pages, int page, Board& board, Head... head) {
    const std::optional<Words> reference = board.read_reference(head...);
    if (!reference) {
        return false;
    }
    pages.EditPage(page, [&](PageRecord& p) { Widen(*reference, p.reference); });
    const std::optional<Words> upper = board.read_upper_limits(head...);
    if (!upper) {
        return false;
    }
    pages.EditPage(page, [&](PageRecord& p) { Widen(*upper, p.upper); });
    const std::optional<Words> lower = board.read_lower_limits(head...);
    if (!lower) {
        return false;
    }
    pages.EditPage(page, [&](PageRecord& p) { Widen(*lower, p.lower); });
    const std::optional<ModeBytes> modes = board.read_channel_modes(head...);
    if (!modes) {
        return false;
    }
    pages.EditPage(page, [&](PageRecord& p) { p.mask = *modes; });
    const std::optional<std::uint16_t> max = board.read_range_max(head...);
    if (!max) {
        return false;
    }
    pages.EditPage(page, [&](PageRecord& p) { p.rangeMax = *max; });
    const std::optional<std::uint16_t> min = board.read_range_min(head...);
    if (!min) {
        return false;
    }
    pages.EditPage(page, [&](PageRecord& p) { p.rangeMin = *min; });
    return true;
}

// The same page -> board, in the order the boards take them: modes, upper
// and lower limits, reference, range maximum and minimum. False at the first
// write without reply.
template <class Board, class... Head>
bool WriteHeadSettings(const PageRecord& r, Board& board, Head... head) {
    return board.write_channel_modes(head..., r.mask) &&
           board.write_upper_limits(head..., r.upper) &&
           board.write_lower_limits(head..., r.lower) &&
           board.write_reference(head..., r.reference) &&
           board.write_range_max(head..., r.rangeMax) && board.write_range_min(head..., r.rangeMin);
}

}  // namespace kx

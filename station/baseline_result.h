// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "core/page_table.h"
#include "core/section_lock.h"
#include "hid/family_id.h"

namespace kx {

// What the baseline command hands the baseline dialog: the page of the head
// that was clicked and working copies of the page's per-channel settings.
struct BaselineExchange {
    std::int32_t selectedPage = 0;
    std::array<std::int32_t, kChannels> editModes{};  // ChannelMode values, widened
    ChannelValues editUpper{};
    ChannelValues editLower{};
    ChannelValues editReference{};
};

// The working copies of `record`, for the head of page `page`.
BaselineExchange BaselineExchangeFromPage(std::int32_t page, const PageRecord& record);

// What the dialog hands back when it ends with OK: the edited arrays and the
// dialog's fields as last read from its controls.
struct BaselineResult {
    BaselineExchange edit;
    std::int32_t coordinateUpper = 0;  // becomes rangeMax
    std::int32_t coordinateLower = 0;  // becomes rangeMin
    float percentage = 0.0f;
    std::int32_t valueUpper = 0;
    std::int32_t valueLower = 0;
    bool byPercentage = false;
    bool byValue = false;
};

// The page's offsetType as `family` takes it: the classic tester from the
// by-percentage box, the others from the by-value box (1 when it is clear).
std::uint8_t BaselineOffsetType(const BaselineResult& result, FamilyId family);

// Copies the result into `page` as it is written to `family`: modes (their
// low bytes), limits, reference, range, percentage, offsets and offsetType.
// Live values are left alone.
void StoreBaselineResult(const BaselineResult& result, FamilyId family, PageRecord& page);

// The same into the page of `pages` the result names, under its lock; false
// (nothing stored) when that page is outside the table. The caller then
// writes the page to the family's board.
bool StoreBaselineResult(const BaselineResult& result, FamilyId family, PageStore& pages);

// Page of the head (row, column) of a grid with `columns` columns, or nullopt
// when the head lies outside the page table (the grid can show 100 heads, the
// table holds 64).
std::optional<std::int32_t> BaselinePageOf(int row, int column, int columns);

}  // namespace kx

// SPDX-License-Identifier: MIT
#include "station/baseline_result.h"

namespace kx {

BaselineExchange BaselineExchangeFromPage(std::int32_t page, const PageRecord& record) {
    BaselineExchange e;
    e.selectedPage = page;
    for (int c = 0; c < kChannels; ++c) {
        e.editModes[c] = record.mask[c];
    }
    e.editUpper = record.upper;
    e.editLower = record.lower;
    e.editReference = record.reference;
    return e;
}

std::uint8_t BaselineOffsetType(const BaselineResult& result, FamilyId family) {
    if (family == FamilyId::Classic) {
        return result.byPercentage ? 1 : 0;
    }
    return result.byValue ? 0 : 1;
}

void StoreBaselineResult(const BaselineResult& result, FamilyId family, PageRecord& page) {
    for (int c = 0; c < kChannels; ++c) {
        page.mask[c] = static_cast<std::uint8_t>(result.edit.editModes[c] & 0xFF);
    }
    page.upper = result.edit.editUpper;
    page.lower = result.edit.editLower;
    page.reference = result.edit.editReference;
    page.rangeMax = result.coordinateUpper;
    page.rangeMin = result.coordinateLower;
    page.percentage = result.percentage;
    page.offsetUpper = result.valueUpper;
    page.offsetLower = result.valueLower;
    page.offsetType = BaselineOffsetType(result, family);
}

bool StoreBaselineResult(const BaselineResult& result, FamilyId family, PageStore& pages) {
    const std::int32_t page = result.edit.selectedPage;
    if (page < 0 || page >= kPageCount) {
        return false;
    }
    pages.EditPage(page, [&](PageRecord& record) { StoreBaselineResult(result, family, record); });
    return true;
}

std::optional<std::int32_t> BaselinePageOf(int row, int column, int columns) {
    if (row < 0 || column < 0 || columns <= 0 || column >= columns) {
        return std::nullopt;
    }
    const long long page = static_cast<long long>(row) * columns + column;
    if (page >= kPageCount) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(page);
}

}  // namespace kx

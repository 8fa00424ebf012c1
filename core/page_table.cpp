// SPDX-License-Identifier: MIT
#include "core/page_table.h"

namespace kx {

PageRecord PageRecord::Defaults() {
    PageRecord r;
    r.upper.fill(1100);
    r.lower.fill(500);
    r.mask.fill(Masked);
    r.live.fill(0);
    r.reference.fill(700);
    r.rangeMax = 1500;
    r.rangeMin = 10;
    r.offsetType = 1;
    r.percentage = 10.0f;
    r.offsetUpper = 100;
    r.offsetLower = 100;
    return r;
}

void InitPageTable(PageTable& table) {
    table.fill(PageRecord::Defaults());
}

void PageStore::Reset() {
    CSectionGuard guard(&lock);
    InitPageTable(table);
}

PageRecord PageStore::Copy(int page) const {
    CSectionGuard guard(&lock);
    return table[static_cast<std::size_t>(page)];
}

void PageStore::CopyAll(PageTable& to) const {
    CSectionGuard guard(&lock);
    to = table;
}

}  // namespace kx

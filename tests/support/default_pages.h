// SPDX-License-Identifier: MIT
#pragma once

#include "core/page_table.h"

namespace kx::test {

// A test's own page table for a station core, as the station's start-up
// leaves it: every page its defaults.
struct DefaultPages : PageStore {
    DefaultPages() { Reset(); }
};

}  // namespace kx::test

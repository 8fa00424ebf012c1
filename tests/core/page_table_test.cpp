// SPDX-License-Identifier: MIT
#include "core/page_table.h"

#include <gtest/gtest.h>

#include <thread>

#include "core/section_lock.h"

namespace kx {
namespace {

TEST(PageTable, InitialisationGivesEveryEntryOfTheStationsTableTheDefaults) {
    // Whatever earlier users left in a station's table, initialisation
    // overwrites every field of all 64 entries.
    PageStore pages;
    for (PageRecord& r : pages.table) {
        r = PageRecord{};
        r.live.fill(-1);
        r.upper.fill(3);
    }
    pages.Reset();
    ASSERT_EQ(pages.table.size(), 64u);
    for (const PageRecord& r : pages.table) {
        for (int k = 0; k < kChannels; ++k) {
            ASSERT_EQ(r.upper[k], 1100);
            ASSERT_EQ(r.lower[k], 500);
            ASSERT_EQ(r.mask[k], Masked);
            ASSERT_EQ(r.reference[k], 700);
        }
        for (int v : r.live) {
            ASSERT_EQ(v, 0);
        }
        ASSERT_EQ(r.rangeMax, 1500);
        ASSERT_EQ(r.rangeMin, 10);
        ASSERT_EQ(r.offsetType, 1);
        ASSERT_FLOAT_EQ(r.percentage, 10.0f);
        ASSERT_EQ(r.offsetUpper, 100);
        ASSERT_EQ(r.offsetLower, 100);
    }
}

TEST(PageTable, PagesAreNumberedRowByRow) {
    // A grid of 2 columns and 2 rows.
    EXPECT_EQ(PageOf(0, 0, 2), 0);
    EXPECT_EQ(PageOf(0, 1, 2), 1);
    EXPECT_EQ(PageOf(1, 0, 2), 2);
    EXPECT_EQ(PageOf(1, 1, 2), 3);
}

int GuardedEarlyReturn(CSectionLock& lock, bool early) {
    CSectionGuard guard(&lock);
    if (early) {
        return 1;
    }
    return 2;
}

TEST(SectionLock, GuardReleasesOnEveryPathAndTheLockIsReentrant) {
    CSectionLock lock;
    GuardedEarlyReturn(lock, true);
    GuardedEarlyReturn(lock, false);
    {
        CSectionGuard outer(&lock);
        CSectionGuard inner(&lock);  // same thread: must not deadlock
    }
    // Another thread can take it now: nothing was left held.
    bool taken = false;
    std::thread other([&] {
        CSectionGuard guard(&lock);
        taken = true;
    });
    other.join();
    EXPECT_TRUE(taken);
}

}  // namespace
}  // namespace kx

// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>

#include "core/page_table.h"

namespace kx {

// The settings of two pages are the same; live values are not compared.
inline void ExpectSameSettings(const PageRecord& a, const PageRecord& b) {
    EXPECT_EQ(a.reference, b.reference);
    EXPECT_EQ(a.upper, b.upper);
    EXPECT_EQ(a.lower, b.lower);
    EXPECT_EQ(a.mask, b.mask);
    EXPECT_EQ(a.rangeMax, b.rangeMax);
    EXPECT_EQ(a.rangeMin, b.rangeMin);
    EXPECT_EQ(a.offsetType, b.offsetType);
    EXPECT_FLOAT_EQ(a.percentage, b.percentage);
    EXPECT_EQ(a.offsetUpper, b.offsetUpper);
    EXPECT_EQ(a.offsetLower, b.offsetLower);
}

}  // namespace kx

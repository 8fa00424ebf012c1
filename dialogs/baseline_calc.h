// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <span>

#include "core/page_table.h"

namespace kx {

// The baseline dialog's arithmetic. Sums and offsets are worked out in 64
// bits and the results kept within int32, so no typed or loaded value can
// overflow them.

// trunc(reference * percentage / 100), in 64 bits.
std::int64_t PercentageOffset(std::int32_t reference, float percentage);

// Limits by percentage: upper = reference + d, lower = reference - d with
// d = PercentageOffset(reference, percentage), per channel.
void LimitsByPercentage(const ChannelValues& reference, float percentage, ChannelValues& upper,
                        ChannelValues& lower);

// Limits by value: upper = reference + valueUpper, lower = reference - valueLower.
void LimitsByValue(const ChannelValues& reference, std::int32_t valueUpper, std::int32_t valueLower,
                   ChannelValues& upper, ChannelValues& lower);

// The integer mean of `values`, truncated toward zero ((1 + 2) / 2 = 1,
// (-1 - 2) / 2 = -1). `values` must not be empty.
std::int32_t TruncatedMean(std::span<const std::int32_t> values);

}  // namespace kx

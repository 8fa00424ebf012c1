// SPDX-License-Identifier: MIT
#include "dialogs/baseline_calc.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kx {

namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();

std::int32_t Saturate(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp(v, kMin, kMax));
}

}  // namespace

std::int64_t PercentageOffset(std::int32_t reference, float percentage) {
    // Kept within +-2^40: beyond int32 either way, so the limits saturate.
    constexpr double kBound = static_cast<double>(std::int64_t{1} << 40);
    const double d = std::trunc(static_cast<double>(reference) * percentage / 100.0);
    if (std::isnan(d)) {
        return 0;
    }
    return static_cast<std::int64_t>(std::clamp(d, -kBound, kBound));
}

void LimitsByPercentage(const ChannelValues& reference, float percentage, ChannelValues& upper,
                        ChannelValues& lower) {
    for (int c = 0; c < kChannels; ++c) {
        const std::int64_t d = PercentageOffset(reference[c], percentage);
        upper[c] = Saturate(reference[c] + d);
        lower[c] = Saturate(reference[c] - d);
    }
}

void LimitsByValue(const ChannelValues& reference, std::int32_t valueUpper, std::int32_t valueLower,
                   ChannelValues& upper, ChannelValues& lower) {
    for (int c = 0; c < kChannels; ++c) {
        upper[c] = Saturate(std::int64_t{reference[c]} + valueUpper);
        lower[c] = Saturate(std::int64_t{reference[c]} - valueLower);
    }
}

std::int32_t TruncatedMean(std::span<const std::int32_t> values) {
    if (values.empty()) {
        return 0;
    }
    std::int64_t sum = 0;
    for (std::int32_t v : values) {
        sum += v;
    }
    // C++ integer division truncates toward zero; the mean of int32 values
    // is itself within int32.
    return static_cast<std::int32_t>(sum / static_cast<std::int64_t>(values.size()));
}

}  // namespace kx

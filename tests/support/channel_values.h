// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "core/page_table.h"

namespace kx::test {

// Every channel at `v`.
inline ChannelValues Filled(std::int32_t v) {
    ChannelValues a{};
    a.fill(v);
    return a;
}

// Channel c at `start` + c.
inline ChannelValues Ramp(std::int32_t start) {
    ChannelValues a{};
    for (int c = 0; c < kChannels; ++c) {
        a[c] = start + c;
    }
    return a;
}

}  // namespace kx::test

// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <thread>

#include "core/page_table.h"
#include "station/station_core.h"
#include "tests/support/default_pages.h"

namespace kx::test {

// The process-wide state a station core works on, as at the program's
// start: the loop's globals.
inline void ResetStationState() {
    g_classicChannel = 0;
    g_velmora5Page = 0;
    g_emergencyStop = 0;
}

// Polls `pred` until it holds or `timeout` has passed; its last answer.
template <class Pred>
bool WaitFor(Pred&& pred, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

}  // namespace kx::test

// SPDX-License-Identifier: MIT
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <functional>

namespace kx::test {

// A board wait on the window's thread shows as a gap of a whole read bound
// (500 ms) or more between two turns of its event loop. The gaps measured on
// a quiet machine are 10-15 ms (the goal is under 50 ms); the bound is half a
// read bound, so that a loaded test machine's scheduling (sanitizers, two
// cores shared by parallel test programs) does not fail it and any board wait
// does.
constexpr qint64 kLongestAllowedGapMs = 250;

// Ticks every 5 ms on this (the window's) thread while `running` says so,
// at most 20 s, and returns the longest time between two ticks in
// milliseconds; `onTick` runs at each tick.
inline qint64 LongestGapWhile(const std::function<bool()>& running,
                              const std::function<void()>& onTick = {}) {
    QTimer timer;
    timer.setInterval(5);
    QElapsedTimer since;
    qint64 longest = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (since.isValid()) {
            longest = std::max(longest, since.elapsed());
        }
        since.start();
        if (onTick) {
            onTick();
        }
    });
    timer.start();
    QElapsedTimer waited;
    waited.start();
    while (running() && waited.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return longest;
}

}  // namespace kx::test

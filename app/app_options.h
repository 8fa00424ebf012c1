// SPDX-License-Identifier: MIT
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "sim/demo_bench.h"

namespace kx {

// The station's command line.
struct AppOptions {
    // Demonstration mode: software boards on the simulated bus instead of the
    // real USB bus (--simulate BOARD, repeatable; see sim::ParseDemoBoard).
    std::vector<sim::DemoBoardChoice> boards;
    // --simulate none: the simulated bus with no board on it.
    bool emptySimulatedBus = false;
    // Software boards that do not move (--still).
    bool still = false;
    // Device type with the check mark at start (--machine N: 0 standard, 1-5).
    int machine = 0;
    // Window size instead of maximised (--size WxH).
    std::optional<QSize> size;
    // Unattended runs: after quitAfterMs the window is written to `screenshot`
    // (when given) and the station closes.
    QString screenshot;
    int quitAfterMs = -1;
    // Prints the process's CPU time from the end of the warm-up to the end
    // as a fraction of one core (--cpu-report, --warmup MS).
    bool cpuReport = false;
    int warmupMs = 2000;
    // Unplugs every software board every plugCycleS seconds and plugs them
    // back a moment later (--plug-cycle SECONDS), for unattended soak runs;
    // 0: never.
    int plugCycleS = 0;

    bool help = false;
    bool version = false;
    // Message boxes are answered by the program (printed on standard error)
    // when nobody is there to answer them.
    bool unattended() const { return quitAfterMs >= 0; }
    bool simulated() const { return !boards.empty() || emptySimulatedBus; }
};

// The screenshot of an unattended run without --quit-after is taken after
// this long.
inline constexpr int kDefaultScreenshotDelayMs = 3000;

// Parses the arguments after the program's name; nullopt with `error` set
// (English, for the command line) when they are wrong.
std::optional<AppOptions> ParseAppOptions(const QStringList& arguments, QString& error);

// The text --help prints.
QString AppUsage();

}  // namespace kx

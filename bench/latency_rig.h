// SPDX-License-Identifier: MIT
#pragma once

// What the two latency programs (kx_paint_latency, kx_startup_latency) share:
// a demonstration board on a simulated bus at USB pace, the grid widget in a
// window of its own with a hook after each of its paint events, and the
// percentiles they print.

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFrame>
#include <QPaintEvent>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "grid/color_bar.h"
#include "hid/hid_bus.h"
#include "sim/demo_bench.h"
#include "sim/sim_bus.h"
#include "sim/usb_frame_bus.h"

namespace kx::bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// How the software board is paced like a USB board.
enum class Pace {
    // Every report of the board takes a full-speed frame (1 ms), feature
    // reports included: the station's demonstration mode.
    Report,
    // Boards answer at once; input reports come through a full-speed
    // interrupt endpoint's 1 ms frames (UsbFrameBus). Feature reports (the
    // classic tester's) pass unpaced.
    Frame,
};

inline bool ParsePace(const std::string& text, Pace& pace) {
    if (text == "report") {
        pace = Pace::Report;
    } else if (text == "frame") {
        pace = Pace::Frame;
    } else {
        return false;
    }
    return true;
}

inline const char* PaceName(Pace pace) {
    return pace == Pace::Report ? "report (1 ms a report)" : "frame (UsbFrameBus, 1 ms frames)";
}

// One demonstration board plugged into a bus of its own.
class DemoRig {
public:
    DemoRig(const sim::DemoBoardChoice& choice, sim::DemoSignal signal, Pace pace)
        : board_(sim::MakeDemoBoard(choice, signal)) {
        if (pace == Pace::Report) {
            inner_.set_report_time(sim::SimBoard::kFullSpeedReportTime);
        } else {
            frames_ = std::make_unique<sim::UsbFrameBus>(inner_);
        }
        inner_.plug(board_);
    }
    ~DemoRig() { inner_.unplug(board_); }
    DemoRig(const DemoRig&) = delete;
    DemoRig& operator=(const DemoRig&) = delete;

    HidBus& bus() { return frames_ ? static_cast<HidBus&>(*frames_) : inner_; }
    const std::shared_ptr<sim::SimBoard>& board() const { return board_; }

private:
    sim::SimBus inner_;
    std::unique_ptr<sim::UsbFrameBus> frames_;
    std::shared_ptr<sim::SimBoard> board_;
};

// The grid widget, calling `afterPaint` once each paint event has drawn into
// the window's backing store.
class WatchedBar : public CColorBar {
public:
    std::function<void()> afterPaint;

protected:
    void paintEvent(QPaintEvent* event) override {
        CColorBar::paintEvent(event);
        if (afterPaint) {
            afterPaint();
        }
    }
};

// When the grid widget's repaint timer ticks: `start` just before the tick
// runs (the timer event reaches this filter first), `end` when its handler
// is done (a handler connected after the widget's own).
class TickClock : public QObject {
public:
    // The timer is only watched: an event filter needs it non-const.
    explicit TickClock(const CColorBar& grid) : timer_(const_cast<QTimer&>(grid.repaintTimer())) {
        timer_.installEventFilter(this);
        connect(&timer_, &QTimer::timeout, this, [this] { end = Clock::now(); });
    }
    ~TickClock() override { timer_.removeEventFilter(this); }
    TickClock(const TickClock&) = delete;
    TickClock& operator=(const TickClock&) = delete;

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Timer) {
            start = Clock::now();
        }
        return false;
    }
    Clock::time_point start;
    Clock::time_point end;

private:
    QTimer& timer_;
};

// A top-level window filled by the grid widget, as the main window holds it:
// attached to a placeholder, shown, its repaint timer running as the main
// window starts it.
struct GridWindow {
    GridWindow(int width, int height) {
        window.resize(width, height);
        auto* placeholder = new QFrame(&window);
        placeholder->setGeometry(0, 0, width, height);
        grid = new WatchedBar;
        grid->AttachToControl(1000, placeholder);
        window.show();
        grid->SetRepaintTimer(1, true);
    }
    QWidget window;
    WatchedBar* grid = nullptr;  // owned by the window
};

// Runs the event loop until `loop.quit()` or `timeoutMs`; false on timeout.
inline bool RunLoop(QEventLoop& loop, int timeoutMs) {
    bool timedOut = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    guard.start(timeoutMs);
    loop.exec();
    return !timedOut;
}

// Runs the event loop for `ms` milliseconds.
inline void Spin(int ms) {
    QEventLoop loop;
    RunLoop(loop, ms);
}

// Nearest-rank percentile of sorted samples (p in 0..100).
inline double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) {
        return 0;
    }
    const double rank = std::ceil(p / 100.0 * static_cast<double>(sorted.size()));
    const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    return sorted[std::min(index, sorted.size() - 1)];
}

inline std::vector<double> Sorted(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples;
}

}  // namespace kx::bench

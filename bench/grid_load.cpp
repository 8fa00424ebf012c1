// SPDX-License-Identifier: MIT
// What the grid costs the station while it runs: the widget on screen (the
// offscreen platform unless QT_QPA_PLATFORM says otherwise, e.g. xcb under
// xvfb-run) with its 10 ms repaint timer, and a thread that feeds the model
// the way the acquisition worker does, every head's setters once a step and
// about a millisecond per step, then reads the fail count for the outputs.
//
//   kx_grid_load [--rows N] [--columns N] [--size WxH] [--seconds S]
//                [--warmup S] [--feed live|still|none]
//
// live: values move by a few counts on every step, like a board's noise;
// still: the same data on every step; none: no feeding thread.
//
// Prints the process's CPU time over the measured seconds as a fraction of
// one core, the share of the user-interface and feeding threads, and how
// many paint events reached the widget with how many pixels.
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFrame>
#include <QPaintEvent>
#include <QRegion>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench/command_line.h"
#include "grid/color_bar.h"
#include "grid/grid_fixture.h"
#include "grid/grid_model.h"

namespace {

using kx::bench::ParseInt;
using kx::bench::ParseSize;

int Usage() {
    std::fprintf(stderr,
                 "usage: kx_grid_load [--rows N] [--columns N] [--size WxH] [--seconds S]\n"
                 "                    [--warmup S] [--feed live|still|none]\n");
    return 2;
}

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Counts the paint events of the widget and the pixels they asked for.
class PaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && counting) {
            ++paints;
            for (const QRect& r : static_cast<QPaintEvent*>(event)->region()) {
                pixels += static_cast<long long>(r.width()) * r.height();
                ++rects;
            }
        }
        return false;
    }
    bool counting = false;
    long long paints = 0;
    long long pixels = 0;
    long long rects = 0;
};

enum class Feed { Live, Still, None };

// The acquisition worker's pushes: every head in row-major order, all six
// setters, then the fail count that drives the board's outputs.
void FeedLoop(kx::GridModel& model, int columns, int rows, Feed feed, const std::atomic<bool>& stop,
              std::atomic<double>& cpu) {
    struct Head {
        kx::ChannelValues upper, lower, reference, value;
        kx::ChannelModes modes;
        std::int32_t rangeMax, rangeMin;
    };
    std::vector<Head> heads(static_cast<std::size_t>(columns * rows));
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            Head& h = heads[static_cast<std::size_t>(r * columns + c)];
            h.upper = model.GetUpperLimits(c, r);
            h.lower = model.GetLowerLimits(c, r);
            h.reference = model.GetReference(c, r);
            h.value = model.GetValues(c, r);
            h.modes = model.GetChannelModes(c, r);
            h.rangeMax = 1500;
            h.rangeMin = 10;
        }
    }
    std::uint32_t noise = 2463534242u;
    std::int32_t outputs = 0;
    while (!stop.load(std::memory_order_relaxed)) {
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c) {
                const Head& h = heads[static_cast<std::size_t>(r * columns + c)];
                kx::ChannelValues value = h.value;
                if (feed == Feed::Live) {
                    for (auto& v : value) {
                        noise ^= noise << 13;
                        noise ^= noise >> 17;
                        noise ^= noise << 5;
                        v += static_cast<std::int32_t>(noise % 9) - 4;
                    }
                }
                model.SetValues(c, r, value);
                model.SetReference(c, r, h.reference);
                model.SetUpperLimits(c, r, h.upper);
                model.SetLowerLimits(c, r, h.lower);
                model.SetChannelModes(c, r, h.modes);
                model.SetRange(c, r, h.rangeMax, h.rangeMin);
            }
        }
        outputs += model.GetFailCount();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    cpu.store(ThreadCpuSeconds());
    if (outputs < 0) {
        std::puts("");  // keeps the read of the fail count
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int rows = 10;
    int columns = 10;
    int width = 1920;
    int height = 1080;
    int seconds = 10;
    int warmup = 1;
    Feed feed = Feed::Live;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        const bool hasValue = a + 1 < argc;
        bool ok = hasValue;
        if (arg == "--rows" && hasValue) {
            ok = ParseInt(argv[++a], rows);
        } else if (arg == "--columns" && hasValue) {
            ok = ParseInt(argv[++a], columns);
        } else if (arg == "--seconds" && hasValue) {
            ok = ParseInt(argv[++a], seconds);
        } else if (arg == "--warmup" && hasValue) {
            ok = ParseInt(argv[++a], warmup);
        } else if (arg == "--size" && hasValue) {
            ok = ParseSize(argv[++a], width, height);
        } else if (arg == "--feed" && hasValue) {
            const std::string f = argv[++a];
            ok = true;
            if (f == "live") {
                feed = Feed::Live;
            } else if (f == "still") {
                feed = Feed::Still;
            } else if (f == "none") {
                feed = Feed::None;
            } else {
                ok = false;
            }
        } else {
            ok = false;
        }
        if (!ok) {
            return Usage();
        }
    }
    if (rows > kx::kMaxGridRows || columns > kx::kMaxGridColumns || width < 1 || height < 1 ||
        seconds < 1) {
        return Usage();
    }

    QApplication app(argc, argv);
    QWidget window;
    window.resize(width, height);
    auto* placeholder = new QFrame(&window);
    placeholder->setGeometry(0, 0, width, height);
    auto* grid = new kx::CColorBar;
    grid->AttachToControl(1000, placeholder);
    kx::FillFixtureGrid(grid->model(), columns, rows, kx::FixtureFill::Mixed);
    PaintCounter counter;
    grid->installEventFilter(&counter);
    window.show();
    grid->SetRepaintTimer(1, true);

    std::atomic<bool> stop{false};
    std::atomic<double> feedCpu{0};
    std::thread feeder;
    if (feed != Feed::None) {
        feeder = std::thread(FeedLoop, std::ref(grid->model()), columns, rows, feed,
                             std::cref(stop), std::ref(feedCpu));
    }

    double cpu0 = 0;
    double ui0 = 0;
    QElapsedTimer wall;
    QTimer::singleShot(warmup * 1000, [&] {
        cpu0 = ProcessCpuSeconds();
        ui0 = ThreadCpuSeconds();
        counter.counting = true;
        wall.start();
        QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    });
    app.exec();
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const double cpu = ProcessCpuSeconds() - cpu0;
    const double ui = ThreadCpuSeconds() - ui0;
    stop = true;
    if (feeder.joinable()) {
        feeder.join();
    }
    // The feeder's share is over its whole run, warm-up included.
    const double feedShare = feedCpu.load() / (elapsed + warmup);

    const char* feedName = feed == Feed::Live ? "live" : feed == Feed::Still ? "still" : "none";
    std::printf(
        "%d x %d heads at %d x %d, feed %s, %d s: process CPU %.1f %% of one core "
        "(user-interface thread %.1f %%, feeder about %.1f %%); %lld paint events, "
        "%.0f kpixels per second in %.0f rectangles per paint\n",
        columns, rows, width, height, feedName, seconds, 100.0 * cpu / elapsed,
        100.0 * ui / elapsed, 100.0 * feedShare, counter.paints,
        static_cast<double>(counter.pixels) / elapsed / 1000.0,
        counter.paints > 0
            ? static_cast<double>(counter.rects) / static_cast<double>(counter.paints)
            : 0.0);
    return 0;
}

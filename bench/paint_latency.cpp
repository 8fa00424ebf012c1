// SPDX-License-Identifier: MIT
// From a board's value change to the changed pixels on screen: a
// demonstration board paced like USB, the station core polling it with its
// worker, and the grid widget in a window with its real repaint timer and
// event loop (offscreen unless QT_QPA_PLATFORM says otherwise).
//
//   kx_paint_latency [--board BOARD]... [--samples N] [--channel C]
//                    [--value V] [--size WxH] [--pace report|frame]
//
// BOARD as the station's --simulate takes it; by default one-to-one (1 x 1
// grid) and master:10x10. The board measures still (no noise, no touches),
// so that the only change on screen is the one made here.
//
// Before sampling, the picture of the grid is taken from the window's
// backing store twice, settled, with channel C of the head at (0, 0) at its
// centre and at V: the pixels that differ are that channel's bar and
// whatever else the head's judgement changes. Each sample then sets the
// board's live value of that channel to the other of the two (t0), and t1 is
// the end of the first paint event after which every one of those pixels in
// the backing store shows the new picture. Samples start at random moments,
// so that they fall anywhere in the worker's poll and the repaint timer's
// period.
//
// Where the time goes, per sample: board to grid model (a thread watches the
// model's value every 0.2 ms), waiting for the repaint timer's tick, the
// tick itself (judgement and drawing into the off-screen image), and from
// the tick's end to the end of the paint event that copies it to the window.
#include <QBackingStore>
#include <QImage>
#include <QPoint>
#include <QRandomGenerator>
#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <thread>

#include "bench/command_line.h"
#include "bench/latency_rig.h"
#include "grid/grid_model.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "station/station_core.h"

namespace {

using kx::bench::Clock;
using kx::bench::Ms;

struct Options {
    std::vector<std::string> boards;
    int samples = 200;
    int warmup = 5;
    int channel = 5;
    int value = 1400;
    int width = 1920;
    int height = 1080;
    kx::bench::Pace pace = kx::bench::Pace::Report;
};

int Usage() {
    std::fprintf(stderr,
                 "usage: kx_paint_latency [--board BOARD]... [--samples N] [--channel C]\n"
                 "                        [--value V] [--size WxH] [--pace report|frame]\n");
    return 2;
}

// Sets one channel's live value of the head at grid position (0, 0).
std::function<void(std::uint16_t)> ValueSetter(const std::shared_ptr<kx::sim::SimBoard>& board,
                                               int channel) {
    if (auto runoff = std::dynamic_pointer_cast<kx::sim::SimRunoffBoard>(board)) {
        return [runoff, channel](std::uint16_t v) { runoff->set_value(channel, v); };
    }
    if (auto master = std::dynamic_pointer_cast<kx::sim::SimMasterBoard>(board)) {
        // Map entries: column << 4 | row, then 0x80 | head.
        const kx::sim::MasterMemory memory = master->memory();
        for (std::size_t e = 0; e + 1 < memory.position_map.size(); e += 2) {
            if (memory.position_map[e] == 0 && (memory.position_map[e + 1] & 0x80) != 0) {
                const int head = memory.position_map[e + 1] & 0x7F;
                return [master, head, channel](std::uint16_t v) {
                    master->set_value(head, channel, v);
                };
            }
        }
    }
    return {};
}

// The grid's pixels in the window's backing store, where each paint event
// leaves them.
class ScreenPixels {
public:
    explicit ScreenPixels(kx::bench::GridWindow& w) : w_(w) {}

    const QImage* image() const {
        QBackingStore* store = w_.window.backingStore();
        QPaintDevice* device = store != nullptr ? store->paintDevice() : nullptr;
        if (device == nullptr || device->devType() != QInternal::Image) {
            return nullptr;
        }
        return static_cast<const QImage*>(device);
    }
    QPoint origin() const { return w_.grid->mapTo(&w_.window, QPoint(0, 0)); }
    QImage Grab() const {
        const QImage* img = image();
        return img != nullptr ? img->copy(QRect(origin(), w_.grid->size())) : QImage();
    }

private:
    kx::bench::GridWindow& w_;
};

struct Pixel {
    int x, y;
    QRgb centre, moved;
};

struct Breakdown {
    std::vector<double> total, model, timerWait, tick, toScreen;
};

void Report(const char* what, const std::vector<double>& samples) {
    const std::vector<double> s = kx::bench::Sorted(samples);
    std::printf("  %-34s p50 %6.2f ms   p99 %6.2f ms   max %6.2f ms\n", what,
                kx::bench::Percentile(s, 50), kx::bench::Percentile(s, 99),
                s.empty() ? 0.0 : s.back());
}

int RunBoard(const Options& o, const std::string& boardText) {
    std::string why;
    const std::optional<kx::sim::DemoBoardChoice> choice = kx::sim::ParseDemoBoard(boardText, why);
    if (!choice) {
        std::fprintf(stderr, "kx_paint_latency: %s\n", why.c_str());
        return 2;
    }
    kx::bench::DemoRig rig(*choice, kx::sim::DemoSignal::Still, o.pace);
    const auto setValue = ValueSetter(rig.board(), o.channel);
    if (!setValue) {
        std::fprintf(stderr, "kx_paint_latency: %s: no head at grid position (0, 0) to change\n",
                     boardText.c_str());
        return 2;
    }
    kx::bench::GridWindow win(o.width, o.height);
    kx::GridModel& model = win.grid->model();
    ScreenPixels screen(win);
    const auto modelValue = [&] { return model.GetValues(0, 0)[std::size_t(o.channel)]; };
    // Runs the event loop until `done` holds, at most `ms`.
    const auto spinUntil = [](const std::function<bool()>& done, int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (!done() && Clock::now() < end) {
            kx::bench::Spin(5);
        }
        return done();
    };

    kx::PageStore pages;
    kx::StationCore station(rig.bus(), model, pages);
    station.Initialise();
    if (!spinUntil([&] { return model.HasData(0, 0); }, 10000)) {
        std::fprintf(stderr, "kx_paint_latency: %s: the head at (0, 0) never got data\n",
                     boardText.c_str());
        return 1;
    }
    kx::bench::Spin(300);
    const int centre = modelValue();
    const int moved = o.value;
    if (screen.image() == nullptr) {
        std::fprintf(stderr, "kx_paint_latency: the window's backing store is not an image\n");
        return 1;
    }
    // The two pictures, each settled.
    const auto settle = [&](int v) {
        setValue(static_cast<std::uint16_t>(v));
        const bool ok = spinUntil([&] { return modelValue() == v; }, 5000);
        kx::bench::Spin(300);
        return ok;
    };
    if (!settle(moved)) {
        std::fprintf(stderr, "kx_paint_latency: %s: value %d never reached the grid\n",
                     boardText.c_str(), moved);
        return 1;
    }
    const QImage movedPicture = screen.Grab();
    settle(centre);
    const QImage centrePicture = screen.Grab();
    std::vector<Pixel> changed;
    for (int y = 0; y < centrePicture.height(); ++y) {
        for (int x = 0; x < centrePicture.width(); ++x) {
            const QRgb a = centrePicture.pixel(x, y);
            const QRgb b = movedPicture.pixel(x, y);
            if (a != b) {
                changed.push_back({x, y, a, b});
            }
        }
    }
    if (changed.empty()) {
        std::fprintf(stderr, "kx_paint_latency: %s: the value change changes no pixel\n",
                     boardText.c_str());
        return 1;
    }
    const auto shows = [&](bool toMoved) {
        const QImage* img = screen.image();
        const QPoint at = screen.origin();
        for (const Pixel& p : changed) {
            if (img->pixel(p.x + at.x(), p.y + at.y()) != (toMoved ? p.moved : p.centre)) {
                return false;
            }
        }
        return true;
    };

    // The model's value as the worker hands it over, watched from a thread
    // while a sample runs.
    std::atomic<int> watchFor{-1};
    std::atomic<Clock::rep> modelAt{0};
    std::atomic<bool> stopWatch{false};
    std::thread watcher([&] {
        while (!stopWatch.load()) {
            const int want = watchFor.load();
            if (want >= 0 && modelAt.load() == 0 && modelValue() == want) {
                modelAt.store(Clock::now().time_since_epoch().count());
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    kx::bench::TickClock ticks(*win.grid);
    const Clock::time_point& tickEnd = ticks.end;
    const kx::bench::TickClock& tickStart = ticks;

    Breakdown b;
    int taken = 0;
    int timeouts = 0;
    bool pending = false;
    bool toMoved = false;
    Clock::time_point t0;
    QEventLoop loop;
    QTimer next;
    next.setSingleShot(true);
    QTimer watchdog;
    watchdog.setSingleShot(true);

    const auto start = [&] {
        toMoved = !toMoved;
        const int v = toMoved ? moved : centre;
        modelAt.store(0);
        watchFor.store(v);
        pending = true;
        watchdog.start(2000);
        t0 = Clock::now();
        setValue(static_cast<std::uint16_t>(v));
    };
    const auto scheduleNext = [&] {
        if (taken >= o.warmup + o.samples) {
            loop.quit();
            return;
        }
        next.start(20 + static_cast<int>(QRandomGenerator::global()->bounded(40)));
    };
    QObject::connect(&next, &QTimer::timeout, start);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        // Counted, and the next sample waits until the picture caught up.
        pending = false;
        ++timeouts;
        ++taken;
        spinUntil([&] { return shows(toMoved); }, 2000);
        scheduleNext();
    });
    win.grid->afterPaint = [&] {
        if (!pending || !shows(toMoved)) {
            return;
        }
        const Clock::time_point t1 = Clock::now();
        pending = false;
        watchdog.stop();
        watchFor.store(-1);
        if (taken++ >= o.warmup) {
            const Clock::time_point atModel{Clock::duration(modelAt.load())};
            const Clock::time_point modelSeen = modelAt.load() != 0 ? atModel : tickStart.start;
            b.total.push_back(Ms(t1 - t0));
            b.model.push_back(Ms(std::min(modelSeen, tickStart.start) - t0));
            b.timerWait.push_back(Ms(tickStart.start - std::min(modelSeen, tickStart.start)));
            b.tick.push_back(Ms(tickEnd - tickStart.start));
            b.toScreen.push_back(Ms(t1 - tickEnd));
        }
        scheduleNext();
    };
    scheduleNext();
    // Bounded: every sample ends within its watchdog's 2 s (and 2 s more of
    // catching up).
    kx::bench::RunLoop(loop, (o.warmup + o.samples) * 4200 + 1000);
    win.grid->afterPaint = nullptr;
    stopWatch = true;
    watcher.join();

    // The worker's pace: output reports the board took in one second, and
    // how often a typical one came (the median over the different reports:
    // most of them are sent once a step).
    rig.board()->clear_received();
    kx::bench::Spin(1000);
    const std::vector<kx::Frame> outputs = rig.board()->received_outputs();
    std::map<kx::Frame, int> counts;
    for (const kx::Frame& f : outputs) {
        ++counts[f];
    }
    std::vector<double> perCommand;
    for (const auto& entry : counts) {
        perCommand.push_back(entry.second);
    }
    const double steps = kx::bench::Percentile(kx::bench::Sorted(perCommand), 50);
    station.Close();

    std::printf(
        "%s, %d x %d heads in %d x %d, pace %s: %zu samples (%d timed out after 2 s), "
        "%zu pixels change\n",
        boardText.c_str(), model.GetColumns(), model.GetRows(), o.width, o.height,
        kx::bench::PaceName(o.pace), b.total.size(), timeouts, changed.size());
    Report("value change to pixels on screen", b.total);
    Report("board to grid model", b.model);
    Report("model to the repaint timer's tick", b.timerWait);
    Report("the tick (judge, draw off-screen)", b.tick);
    Report("tick end to paint event end", b.toScreen);
    std::printf(
        "  worker: %zu output reports a second, %zu different ones, each about %.0f "
        "times (about %.1f ms a step)\n",
        outputs.size(), counts.size(), steps, steps > 0 ? 1000.0 / steps : 0.0);
    return timeouts == 0 && static_cast<int>(b.total.size()) == o.samples ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    Options o;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        const bool hasValue = a + 1 < argc;
        bool ok = hasValue;
        if (arg == "--board" && hasValue) {
            o.boards.emplace_back(argv[++a]);
        } else if (arg == "--samples" && hasValue) {
            ok = kx::bench::ParseInt(argv[++a], o.samples) && o.samples > 0;
        } else if (arg == "--channel" && hasValue) {
            ok = kx::bench::ParseInt(argv[++a], o.channel) && o.channel < kx::kChannels;
        } else if (arg == "--value" && hasValue) {
            ok = kx::bench::ParseInt(argv[++a], o.value) && o.value <= 0xFFFF;
        } else if (arg == "--size" && hasValue) {
            ok = kx::bench::ParseSize(argv[++a], o.width, o.height) && o.width > 0 && o.height > 0;
        } else if (arg == "--pace" && hasValue) {
            ok = kx::bench::ParsePace(argv[++a], o.pace);
        } else {
            ok = false;
        }
        if (!ok) {
            return Usage();
        }
    }
    if (o.boards.empty()) {
        o.boards = {"one-to-one", "master:10x10"};
    }
    QApplication app(argc, argv);
    int status = 0;
    for (const std::string& board : o.boards) {
        status = std::max(status, RunBoard(o, board));
    }
    return status;
}

// SPDX-License-Identifier: MIT
// From start to the first painted grid, per board family: a demonstration
// board paced like USB already on the bus; then, as the main window starts,
// the grid widget shown (offscreen unless QT_QPA_PLATFORM says otherwise)
// with its repaint timer started, the station core constructed (t0), its
// pages initialised and its connection queued on its board lane, as the main
// window does, without a turn of the event loop in between, so that nothing
// is painted before. t1 is the end of the first paint event after which the
// grid on screen is one of the connected board: the station had said it is
// connected (its title) and the grid held the family's rows x columns of
// heads when the picture was drawn, by a repaint-timer tick or by that paint
// event itself (the widget's first, which draws everything).
//
// Every sample runs in a process of its own, forked before anything of Qt
// exists, as a station starts in a new process; --in-process runs them all
// in one (later samples then find fonts, glyphs and memory ready).
//
// Printed per board: p50 and max of t1 - t0, and the p50 of its parts: the
// station core's InitialisePages (no board spoken to), the wait from its
// return to the repaint-timer tick that drew the picture (the connection
// sets the grid's size before it reads the settings), that tick
// (judgement and drawing into the off-screen image) and from the tick's end
// to the end of the paint event (when the first paint drew it, the last
// part is all of it). Also printed: the p50 of the connection's end (the
// board's settings read), which the window no longer waits for.
//
//   kx_startup_latency [--board BOARD]... [--samples N] [--size WxH]
//                      [--pace report|frame]
//
// BOARD as the station's --simulate takes it, with the grid it should show
// (one-to-one 1 x 1, velmora5 2 x 2, master:CxR, classic 1 x 1); by default
// every family, the master board at 2 x 2 and at 10 x 10. Every sample has a
// new bus, board, window and station core.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QEvent>
#include <atomic>
#include <cstdint>
#include <optional>

#include "bench/command_line.h"
#include "bench/latency_rig.h"
#include "grid/grid_model.h"
#include "station/station_core.h"

namespace {

using kx::bench::Clock;
using kx::bench::Ms;

struct Options {
    std::vector<std::string> boards;
    int samples = 10;
    int width = 1920;
    int height = 1080;
    kx::bench::Pace pace = kx::bench::Pace::Report;
    bool inProcess = false;
};

int Usage() {
    std::fprintf(stderr,
                 "usage: kx_startup_latency [--board BOARD]... [--samples N] [--size WxH]\n"
                 "                          [--pace report|frame] [--in-process]\n");
    return 2;
}

// The grid a connected board of this choice gives the station.
void ExpectedGrid(const kx::sim::DemoBoardChoice& c, int& columns, int& rows) {
    switch (c.family) {
        case kx::FamilyId::Velmora5:
            columns = rows = 2;
            return;
        case kx::FamilyId::Master:
            columns = c.columns;
            rows = c.rows;
            return;
        case kx::FamilyId::OneToOne:
        case kx::FamilyId::Classic:
        case kx::FamilyId::None:
            columns = rows = 1;
            return;
    }
}

struct Sample {
    bool ok = false;
    double firstPaint = 0;  // ms from t0
    double initialise = 0;  // ms from t0 to InitialisePages's return
    double connected = 0;   // ms from t0 to the end of the connection job
    // From t0, when the picture was drawn by a tick: its start and end.
    double tickStart = 0;
    double tickEnd = 0;
};

Sample Measure(const Options& o, const kx::sim::DemoBoardChoice& choice) {
    int columns = 0;
    int rows = 0;
    ExpectedGrid(choice, columns, rows);
    kx::bench::DemoRig rig(choice, kx::sim::DemoSignal::Live, o.pace);
    // Settled on the bus before the window starts.
    kx::bench::Spin(50);

    std::atomic<bool> connected{false};
    std::atomic<std::int64_t> connectedAt{0};
    bool drawn = false;
    int paints = 0;
    Sample s;
    QEventLoop loop;
    Clock::time_point t0;
    kx::StationCallbacks callbacks;
    callbacks.setTitle = [&](const std::string& title) {
        connected = title.find("已经连接") != std::string::npos;
    };
    const auto connectedGrid = [&](const kx::GridModel& model) {
        return connected && model.GetColumns() == columns && model.GetRows() == rows;
    };

    kx::bench::GridWindow win(o.width, o.height);
    kx::GridModel& model = win.grid->model();
    kx::bench::TickClock ticks(*win.grid);
    QObject::connect(&win.grid->repaintTimer(), &QTimer::timeout, &loop, [&] {
        // After the widget's own handler: this tick's picture is drawn.
        if (!drawn && connectedGrid(model)) {
            drawn = true;
            s.tickStart = Ms(ticks.start - t0);
            s.tickEnd = Ms(ticks.end - t0);
        }
    });
    win.grid->afterPaint = [&] {
        // The widget's first paint draws the whole grid from the model as it
        // is now.
        const bool first = paints++ == 0;
        if (!s.ok && (drawn || (first && connectedGrid(model)))) {
            s.firstPaint = Ms(Clock::now() - t0);
            if (!drawn) {
                s.tickStart = s.tickEnd = s.initialise;
            }
            s.ok = true;
            loop.quit();
        }
    };

    kx::PageStore pages;  // outlives the station
    t0 = Clock::now();
    auto station = std::make_unique<kx::StationCore>(rig.bus(), model, pages, std::move(callbacks));
    station->InitialisePages();
    kx::StationCore* core = station.get();
    core->Lane().Enqueue([core](const std::atomic<bool>&) { core->Connect(); },
                         [&connectedAt] { connectedAt = Clock::now().time_since_epoch().count(); });
    s.initialise = Ms(Clock::now() - t0);
    kx::bench::RunLoop(loop, 10000);
    // The settings read goes on after the first paint: its end, for the
    // record (bounded: a silent board's reads end at their timeouts).
    for (int i = 0; i < 10000 && connectedAt.load() == 0; ++i) {
        kx::bench::Spin(1);
    }
    if (const std::int64_t at = connectedAt.load(); at != 0) {
        s.connected = Ms(Clock::time_point(Clock::duration(at)) - t0);
    }
    win.grid->afterPaint = nullptr;
    station->Close();
    return s;
}

// One sample in a new process, as the station starts in one: nothing of an
// earlier sample (fonts, glyphs, memory the allocator kept) helps it. The
// child has its own bound of 10 s; it is killed if it is not done in 30 s.
Sample MeasureInChild(int argc, char** argv, const Options& o,
                      const kx::sim::DemoBoardChoice& choice) {
    Sample s;
    int fds[2];
    if (pipe(fds) != 0) {
        return s;
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        Sample c;
        {
            QApplication app(argc, argv);
            c = Measure(o, choice);
        }
        const bool written = write(fds[1], &c, sizeof c) == static_cast<ssize_t>(sizeof c);
        _exit(written ? 0 : 1);
    }
    close(fds[1]);
    if (child > 0) {
        pollfd in{fds[0], POLLIN, 0};
        Sample c;
        if (poll(&in, 1, 30000) == 1 && read(fds[0], &c, sizeof c) == sizeof c) {
            s = c;
        } else {
            kill(child, SIGKILL);
        }
        waitpid(child, nullptr, 0);
    }
    close(fds[0]);
    return s;
}

int RunBoard(int argc, char** argv, const Options& o, const std::string& boardText) {
    std::string why;
    const std::optional<kx::sim::DemoBoardChoice> choice = kx::sim::ParseDemoBoard(boardText, why);
    if (!choice) {
        std::fprintf(stderr, "kx_startup_latency: %s\n", why.c_str());
        return 2;
    }
    std::vector<double> paints;
    std::vector<double> inits;
    std::vector<double> waits;
    std::vector<double> draws;
    std::vector<double> copies;
    std::vector<double> connects;
    int failed = 0;
    for (int i = 0; i < o.samples; ++i) {
        const Sample s = o.inProcess ? Measure(o, *choice) : MeasureInChild(argc, argv, o, *choice);
        if (s.ok) {
            paints.push_back(s.firstPaint);
            inits.push_back(s.initialise);
            waits.push_back(s.tickStart - s.initialise);
            draws.push_back(s.tickEnd - s.tickStart);
            copies.push_back(s.firstPaint - s.tickEnd);
            connects.push_back(s.connected);
        } else {
            ++failed;
        }
    }
    paints = kx::bench::Sorted(paints);
    inits = kx::bench::Sorted(inits);
    waits = kx::bench::Sorted(waits);
    draws = kx::bench::Sorted(draws);
    copies = kx::bench::Sorted(copies);
    connects = kx::bench::Sorted(connects);
    int columns = 0;
    int rows = 0;
    ExpectedGrid(*choice, columns, rows);
    std::printf(
        "%-13s %2d x %-2d  first painted grid p50 %6.1f ms, max %6.1f ms; p50 of its parts: "
        "InitialisePages %5.1f, to the tick %5.1f, the tick %5.1f, to the paint's end %5.1f ms;"
        " settings read done p50 %6.1f ms; %zu samples, %d without a grid in 10 s\n",
        boardText.c_str(), columns, rows, kx::bench::Percentile(paints, 50),
        paints.empty() ? 0.0 : paints.back(), kx::bench::Percentile(inits, 50),
        kx::bench::Percentile(waits, 50), kx::bench::Percentile(draws, 50),
        kx::bench::Percentile(copies, 50), kx::bench::Percentile(connects, 50), paints.size(),
        failed);
    return failed == 0 ? 0 : 1;
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
        } else if (arg == "--size" && hasValue) {
            ok = kx::bench::ParseSize(argv[++a], o.width, o.height) && o.width > 0 && o.height > 0;
        } else if (arg == "--pace" && hasValue) {
            ok = kx::bench::ParsePace(argv[++a], o.pace);
        } else if (arg == "--in-process") {
            o.inProcess = true;
            ok = true;
        } else {
            ok = false;
        }
        if (!ok) {
            return Usage();
        }
    }
    if (o.boards.empty()) {
        o.boards = {"one-to-one", "velmora5", "master", "master:10x10", "classic"};
    }
    // Without --in-process no Qt object lives in this process (no thread
    // either), so that each sample's process can be forked from it.
    std::unique_ptr<QApplication> app;
    if (o.inProcess) {
        app = std::make_unique<QApplication>(argc, argv);
    }
    std::printf("pace %s, grid %d x %d, %s\n", kx::bench::PaceName(o.pace), o.width, o.height,
                o.inProcess ? "every sample in this process" : "every sample in a new process");
    int status = 0;
    for (const std::string& board : o.boards) {
        status = std::max(status, RunBoard(argc, argv, o, board));
    }
    return status;
}

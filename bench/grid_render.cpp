// SPDX-License-Identifier: MIT
// Renders a grid filled from the fixture into a PNG file, to look at the
// picture without a tester or a window:
//
//   kx_grid_render --rows 2 --columns 2 --size 1920x1080 --out grid.png
//                  [--fill mixed|pass|fresh|verdicts] [--no-verdict-row] [--fpc]
//
// --fill verdicts gives the heads each verdict in turn: pass, fail, no data,
// LOAD.
//
// --fpc switches the FPC test on and repaints twice, so the bars of the
// channels that went over show their green marks.
#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/command_line.h"
#include "grid/grid_fixture.h"
#include "grid/grid_model.h"
#include "grid/grid_painter.h"

namespace {

using kx::bench::ParseInt;
using kx::bench::ParseSize;

int Usage() {
    std::fprintf(stderr,
                 "usage: kx_grid_render --rows N --columns N --size WxH --out FILE.png\n"
                 "                      [--fill mixed|pass|fresh|verdicts] [--no-verdict-row]\n"
                 "                      [--fpc]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int rows = -1;
    int columns = -1;
    int width = -1;
    int height = -1;
    std::string out;
    kx::FixtureFill fill = kx::FixtureFill::Mixed;
    bool verdictRow = true;
    bool fpc = false;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        const bool hasValue = a + 1 < argc;
        if (arg == "--rows" && hasValue) {
            if (!ParseInt(argv[++a], rows)) {
                return Usage();
            }
        } else if (arg == "--columns" && hasValue) {
            if (!ParseInt(argv[++a], columns)) {
                return Usage();
            }
        } else if (arg == "--size" && hasValue) {
            if (!ParseSize(argv[++a], width, height)) {
                return Usage();
            }
        } else if (arg == "--out" && hasValue) {
            out = argv[++a];
        } else if (arg == "--fill" && hasValue) {
            const std::string f = argv[++a];
            if (f == "mixed") {
                fill = kx::FixtureFill::Mixed;
            } else if (f == "pass") {
                fill = kx::FixtureFill::AllPass;
            } else if (f == "fresh") {
                fill = kx::FixtureFill::Fresh;
            } else if (f == "verdicts") {
                fill = kx::FixtureFill::Verdicts;
            } else {
                return Usage();
            }
        } else if (arg == "--no-verdict-row") {
            verdictRow = false;
        } else if (arg == "--fpc") {
            fpc = true;
        } else {
            return Usage();
        }
    }
    if (rows < 0 || columns < 0 || width <= 0 || height <= 0 || out.empty()) {
        return Usage();
    }
    if (rows > kx::kMaxGridRows || columns > kx::kMaxGridColumns) {
        std::fprintf(stderr, "kx_grid_render: at most %d rows and %d columns\n", kx::kMaxGridRows,
                     kx::kMaxGridColumns);
        return 2;
    }

    QGuiApplication app(argc, argv);
    kx::GridModel model;
    kx::FillFixtureGrid(model, columns, rows, fill);
    model.ShowVerdictRow(verdictRow);
    model.SetFpcTest(fpc ? 1 : 0);
    QImage image = kx::RenderGrid(model, QSize(width, height));
    if (fpc) {
        image = kx::RenderGrid(model, QSize(width, height));
    }
    if (!image.save(QString::fromStdString(out), "PNG")) {
        std::fprintf(stderr, "kx_grid_render: cannot write %s\n", out.c_str());
        return 1;
    }
    std::printf("%s: %d x %d heads at %d x %d, %d failing\n", out.c_str(), columns, rows, width,
                height, model.GetFailCount());
    return 0;
}

// SPDX-License-Identifier: MIT
#pragma once

#include <QImage>
#include <QRgb>
#include <QSize>
#include <QtGlobal>
#include <memory>
#include <vector>

#include "grid/glyph_cache.h"
#include "grid/grid_model.h"

namespace kx {

// The grid's colours.
namespace grid_colors {
inline constexpr QRgb kBackground = qRgb(255, 255, 255);
inline constexpr QRgb kIdleBackground = qRgb(200, 200, 200);
inline constexpr QRgb kIdleTitleFirst = qRgb(200, 200, 200);
inline constexpr QRgb kIdleTitleSecond = qRgb(80, 52, 255);
inline constexpr QRgb kFrame = qRgb(100, 100, 100);
inline constexpr QRgb kOver = qRgb(255, 200, 200);    // over band, Over cell, Fail verdict
inline constexpr QRgb kUnder = qRgb(255, 255, 200);   // under band, Under cell
inline constexpr QRgb kWithin = qRgb(200, 255, 200);  // within band, Within cell, Pass verdict
inline constexpr QRgb kValueBar = qRgb(150, 150, 255);
inline constexpr QRgb kMarkedBar = qRgb(100, 255, 100);
inline constexpr QRgb kGreyedBar = qRgb(100, 100, 100);
inline constexpr QRgb kReference = qRgb(255, 0, 0);
inline constexpr QRgb kHatch = qRgb(155, 155, 155);  // on white
inline constexpr QRgb kValueFigure = qRgb(255, 50, 50);
inline constexpr QRgb kDiffOver = qRgb(255, 50, 50);
inline constexpr QRgb kDiffUnder = qRgb(255, 255, 50);
inline constexpr QRgb kDiffWithin = qRgb(50, 155, 50);
inline constexpr QRgb kChannelNumber = qRgb(50, 50, 150);
inline constexpr QRgb kFailText = qRgb(250, 50, 50);
inline constexpr QRgb kPassText = qRgb(50, 150, 50);
inline constexpr QRgb kLoadText = qRgb(150, 150, 150);
inline constexpr QRgb kPassOverlay = qRgb(0, 255, 0);
// A head with Tested channels and no data from its board: stripes over its
// bar area and in its verdict box (on white), and the word in the box.
inline constexpr QRgb kNoDataHatch = qRgb(255, 140, 0);
inline constexpr QRgb kNoDataText = qRgb(120, 50, 0);
// Its Tested channels are not judged: their number cells and difference
// figures are grey, never the colour of a channel within its limits.
inline constexpr QRgb kUnjudged = qRgb(215, 215, 215);
inline constexpr QRgb kDiffUnjudged = qRgb(110, 110, 110);
}  // namespace grid_colors

inline constexpr char kIdleTitle[] = "High Sensitive Capacitive Tester";
// The verdict word of a head without data (UTF-8; untranslated, drawn as
// QCoreApplication::translate("GridPainter", kNoDataWord)).
inline constexpr char kNoDataWord[] = QT_TRANSLATE_NOOP("GridPainter", "无数据");

// Draws evaluated frames of the grid into an off-screen RGB32 image that it
// keeps between repaints, together with a copy of the frame it shows.
//
// The first repaint, and every repaint after a change of client size,
// columns, rows, verdict row or FPC test, draws everything.
// Otherwise only what changed is drawn again: heads whose values, settings,
// classes or verdict differ from the frame shown, and within them only the
// rectangles whose pixels can differ (for a value that moved: the rows the
// bar's top crossed and the figure glyphs that changed). Each such rectangle
// is drawn again from white with every operation of the head that reaches
// into it, in the order of a full repaint, then the overlay, so the image is
// pixel for pixel what a full repaint of the frame would give. The "PASS"
// overlay coming or going redraws the rectangle of its letters; a head
// gaining or losing its data (its stripes) is drawn again whole.
//
// Everything a head draws is kept inside its cell (between its grid lines),
// so heads never reach into each other and one head can be drawn alone.
//
// Rectangles, bands, bars and glyphs are written straight into the image's
// pixels (a 10 x 10 grid is some 20 000 rectangles and 30 000 glyphs per
// full repaint, far too many for one painter call each); the glyphs, the
// hatch pattern and the overlay's combination come from QPainter.
class GridPainter {
public:
    GridPainter();
    ~GridPainter();
    GridPainter(const GridPainter&) = delete;
    GridPainter& operator=(const GridPainter&) = delete;

    // Brings the image up to date with `frame`. When `damage` is given it
    // receives, for every head that changed, the bounding box of its changed
    // pixels (the whole image after a full repaint; nothing when nothing
    // changed). An empty client size leaves a null image.
    const QImage& Paint(const GridFrame& frame, std::vector<PixelRect>* damage = nullptr);

    // The next Paint draws everything.
    void Invalidate();

    const QImage& image() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One repaint of `model` at `size`, as the widget does it: evaluate, then
// paint. Used by the rendering program and the tests.
QImage RenderGrid(GridModel& model, QSize size);

}  // namespace kx

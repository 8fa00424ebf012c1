// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QImage>
#include <QRect>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "grid/grid_fixture.h"
#include "grid/grid_layout.h"
#include "grid/grid_model.h"
#include "grid/grid_painter.h"
#include "tests/support/channel_values.h"

namespace kx {
namespace {

using namespace grid_colors;

// Most probes use one head in a client of 321 x 801 pixels: W = 320,
// H = 800, so chW = 10, barH = 0.825 * 800 - 6 = 654, the bar area runs from
// T = 3 to B = 657 (B' = 757 without the verdict row), the verdict box from
// row 700 to 799 and is filled from 702 to 796. Channel k's column is
// x = 10k + 3 .. 10k + 7, its frame 10k + 2 .. 10k + 8, its value bar
// 10k + 2 .. 10k + 7. The range 0 .. 654 puts value v at level 654 - v,
// that is at row 657 - v.
constexpr int kW = 321;
constexpr int kH = 801;

std::string Name(QRgb c) {
    char text[32];
    std::snprintf(text, sizeof text, "(%d,%d,%d)", qRed(c), qGreen(c), qBlue(c));
    return text;
}

using test::Filled;

// Every head: upper 454 (row 203), lower 154 (row 503), reference 400
// (marker rows 255 and 256), value 300 (bar from row 357), all Tested.
void SetupGrid(GridModel& model, int columns, int rows) {
    model.SetColumns(columns);
    model.SetRows(rows);
    ChannelModes tested{};
    tested.fill(Tested);
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r < rows; ++r) {
            model.SetRange(c, r, 654, 0);
            model.SetUpperLimits(c, r, Filled(454));
            model.SetLowerLimits(c, r, Filled(154));
            model.SetReference(c, r, Filled(400));
            model.SetChannelModes(c, r, tested);
            model.SetValues(c, r, Filled(300));
        }
    }
}

void SetChannel(GridModel& model, int column, int row, int k,
                ChannelValues (GridModel::*get)(int, int) const,
                void (GridModel::*set)(int, int, std::span<const std::int32_t, kChannels>),
                std::int32_t v) {
    ChannelValues a = (model.*get)(column, row);
    a[k] = v;
    (model.*set)(column, row, a);
}

void SetValue(GridModel& model, int column, int row, int k, std::int32_t v) {
    SetChannel(model, column, row, k, &GridModel::GetValues, &GridModel::SetValues, v);
}

struct Probe {
    int x, y;
    QRgb color;
    const char* what;
};

void ExpectProbes(const QImage& image, std::initializer_list<Probe> probes) {
    for (const Probe& p : probes) {
        EXPECT_EQ(Name(image.pixel(p.x, p.y)), Name(p.color))
            << p.what << " at " << p.x << "," << p.y;
    }
}

// Counts pixels of `rect` by colour class: exactly `color`, and anything not
// in `allowed`.
int Count(const QImage& image, QRect rect, QRgb color) {
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            n += image.pixel(x, y) == color;
        }
    }
    return n;
}

// A fixture's 10 x 10 grid, evaluated and painted at width x height.
struct LargeGrid {
    LargeGrid(int width, int height, FixtureFill fill = FixtureFill::Mixed) {
        FillFixtureGrid(model, 10, 10, fill);
        model.Evaluate(width, height, *frame);
        image = &painter.Paint(*frame);
    }
    GridModel model;
    std::unique_ptr<GridFrame> frame = std::make_unique<GridFrame>();
    GridPainter painter;
    const QImage* image = nullptr;
};

bool IsHatch(const QImage& image, QRect rect) {
    const int grey = Count(image, rect, kHatch);
    const int white = Count(image, rect, kBackground);
    return grey > 0 && white > 0 && grey + white == rect.width() * rect.height();
}

TEST(GridRender, BandsBarAndReferenceMarkerOfATestedChannel) {
    GridModel model;
    SetupGrid(model, 1, 1);
    SetValue(model, 0, 0, 9, 0);  // no bar: the under band shows
    SetChannel(model, 0, 0, 12, &GridModel::GetUpperLimits, &GridModel::SetUpperLimits, 700);
    const QImage image = RenderGrid(model, QSize(kW, kH));
    ASSERT_EQ(image.size(), QSize(kW, kH));
    ExpectProbes(image, {
                            {55, 100, kOver, "over band"},
                            {55, 202, kOver, "last row of the over band"},
                            {55, 203, kWithin, "first row of the within band"},
                            {55, 254, kWithin, "above the marker"},
                            {55, 255, kReference, "reference marker"},
                            {57, 256, kReference, "reference marker"},
                            {55, 257, kWithin, "below the marker"},
                            {55, 356, kWithin, "above the bar"},
                            {55, 357, kValueBar, "top of the value bar"},
                            {55, 500, kValueBar, "value bar"},
                            {52, 400, kValueBar, "bar over the frame's left line"},
                            {52, 100, kFrame, "channel frame"},
                            {58, 400, kFrame, "channel frame beside the bar"},
                            {50, 100, kBackground, "gap between channel frames"},
                            {95, 502, kWithin, "within band above the lower limit"},
                            {95, 503, kUnder, "under band"},
                            {95, 600, kUnder, "under band"},
                            {125, 100, kWithin, "upper limit above the range: no over band"},
                            {0, 400, kFrame, "left edge line"},
                            {200, 0, kFrame, "top edge line"},
                            {320, 400, kFrame, "right edge line"},
                            {200, 800, kFrame, "bottom edge line"},
                        });
}

TEST(GridRender, ValueBarByModeMarkAndFpcTest) {
    struct Case {
        std::uint8_t mode;
        bool wentOver;
        int fpcTest;
        QRgb bar;  // 0: hatch instead of a bar
        const char* what;
    };
    const Case cases[] = {
        {Tested, false, 1, kValueBar, "tested"},
        {Tested, true, 1, kMarkedBar, "marked while the FPC test is on"},
        {Tested, true, 0, kValueBar, "marked, FPC test off"},
        {Greyed, false, 0, kGreyedBar, "greyed"},
        {Greyed, true, 1, kGreyedBar, "greyed, never judged so never marked"},
        {Masked, false, 0, 0, "masked"},
    };
    for (const Case& c : cases) {
        GridModel model;
        SetupGrid(model, 1, 1);
        model.SetChannelMode(0, 0, 5, c.mode);
        model.SetFpcTest(c.fpcTest);
        // Other channels stay unmarked, so the FPC cycle never closes here.
        SetValue(model, 0, 0, 5, c.wentOver ? 500 : 300);
        RenderGrid(model, QSize(kW, kH));
        SetValue(model, 0, 0, 5, 300);
        const QImage image = RenderGrid(model, QSize(kW, kH));
        if (c.bar != 0) {
            EXPECT_EQ(Name(image.pixel(55, 500)), Name(c.bar)) << c.what;
            EXPECT_EQ(Name(image.pixel(55, 356)), Name(kWithin)) << c.what;
        } else {
            EXPECT_TRUE(IsHatch(image, QRect(54, 4, 3, 652))) << c.what;
        }
    }
}

TEST(GridRender, MaskedChannelIsHatchedOverEverythingAndHasNoFigures) {
    GridModel model;
    SetupGrid(model, 1, 1);
    model.SetChannelMode(0, 0, 5, Masked);
    model.SetChannelMode(0, 0, 6, 3);  // unknown byte with the lowest bit set
    model.SetChannelMode(0, 0, 7, 4);  // unknown byte without it
    const QImage image = RenderGrid(model, QSize(kW, kH));
    // Column 53..57 from row 3 to 656: outlined, the inside only hatch, so no
    // band, bar, marker or figure shows through.
    for (int k : {5, 6}) {
        const int left = 10 * k + 3;
        EXPECT_TRUE(IsHatch(image, QRect(left + 1, 4, 3, 652))) << "channel " << k;
        ExpectProbes(image, {{left, 300, kFrame, "hatched column's outline"},
                             {left + 4, 300, kFrame, "hatched column's outline"},
                             {left + 2, 3, kFrame, "hatched column's outline"},
                             {left + 2, 656, kFrame, "hatched column's outline"}});
    }
    // Not evaluated, not hatched: bands only, no bar.
    ExpectProbes(image, {{75, 100, kOver, "unknown mode: bands"},
                         {75, 500, kWithin, "unknown mode: no bar"}});
}

TEST(GridRender, RangeWithoutExtentDrawsNoBandsBarsOrMarkers) {
    GridModel model;
    SetupGrid(model, 1, 1);
    model.SetRange(0, 0, 500, 500);
    const QImage image = RenderGrid(model, QSize(kW, kH));
    ExpectProbes(image, {{55, 100, kBackground, "no over band"},
                         {55, 256, kBackground, "no marker"},
                         {55, 400, kBackground, "no bar"},
                         {55, 600, kBackground, "no under band"},
                         {52, 100, kFrame, "frames still drawn"},
                         {10, 750, kWithin, "verdict still drawn"}});
}

TEST(GridRender, VerdictBoxesFilledAndLabelledByVerdict) {
    // Three heads of 320 pixels side by side: Fail, Pass, Load. Each box runs
    // from x = 320j + 2 to 320j + 318 and is filled from 320j + 4 to
    // 320j + 316; the word starts at 320j + 70.
    GridModel model;
    SetupGrid(model, 3, 1);
    SetValue(model, 0, 0, 0, 600);
    ChannelModes masked{};
    masked.fill(Masked);
    model.SetChannelModes(2, 0, masked);
    const QImage image = RenderGrid(model, QSize(961, kH));
    ASSERT_EQ(model.GetFailCount(), 1);
    struct Case {
        int column;
        QRgb fill;  // 0: hatch
        QRgb text;
    };
    const Case cases[] = {{0, kOver, kFailText}, {1, kWithin, kPassText}, {2, 0, kLoadText}};
    for (const Case& c : cases) {
        const int x0 = 320 * c.column;
        ExpectProbes(image, {{x0 + 2, 750, kFrame, "verdict box outline"},
                             {x0 + 3, 750, kBackground, "white ring inside the outline"}});
        if (c.fill != 0) {
            ExpectProbes(image, {{x0 + 10, 750, c.fill, "verdict fill"},
                                 {x0 + 310, 703, c.fill, "verdict fill"}});
        } else {
            EXPECT_TRUE(IsHatch(image, QRect(x0 + 4, 702, 40, 95))) << "LOAD hatch";
        }
        EXPECT_GT(Count(image, QRect(x0 + 60, 701, 200, 97), c.text), 200)
            << "verdict word of column " << c.column;
    }
}

TEST(GridRender, WithoutVerdictRowBarsAndNumberStripMoveDownAnEighth) {
    struct Case {
        bool verdictRow;
        Probe probes[3];
    };
    const Case cases[] = {
        {true,
         {{55, 710, kWithin, "verdict fill of a passing head"},
          {2, 660, kFrame, "number strip top"},
          {55, 600, kValueBar, "bar down to B"}}},
        {false,
         {{55, 710, kValueBar, "bar reaches down to B'"},
          {2, 760, kFrame, "number strip top moved by ext"},
          {55, 700, kValueBar, "bar below the old verdict row"}}},
    };
    for (const Case& c : cases) {
        GridModel model;
        SetupGrid(model, 1, 1);
        model.ShowVerdictRow(c.verdictRow);
        const QImage image = RenderGrid(model, QSize(kW, kH));
        ExpectProbes(image, {c.probes[0], c.probes[1], c.probes[2]});
    }
}

// Three heads of 320 pixels side by side as above: passing with data, Tested
// without data, and LOAD (every channel masked) without data. Each head's
// bar area runs from x = 320j + 2 to 320j + 318 and from row 2 to the
// channel frames' last row, 657 (757 without the verdict row).
struct HeadsWithoutData {
    explicit HeadsWithoutData(bool verdictRow) {
        SetupGrid(model, 3, 1);
        ChannelModes masked{};
        masked.fill(Masked);
        model.SetChannelModes(2, 0, masked);
        model.SetNoData(1, 0);
        model.SetNoData(2, 0);
        model.ShowVerdictRow(verdictRow);
        image = RenderGrid(model, QSize(961, kH));
        barBottom = verdictRow ? 658 : 758;
    }
    QRect BarArea(int column) const { return QRect(320 * column + 2, 2, 317, barBottom - 2); }
    static QRect VerdictFill(int column) { return QRect(320 * column + 4, 702, 313, 95); }

    GridModel model;
    QImage image;
    int barBottom = 0;
};

// The bounding box of the pixels of `color` inside `rect`.
QRect InkBox(const QImage& image, QRect rect, QRgb color) {
    QRect box;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (image.pixel(x, y) == color) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

// Every stripe pixel of `rect` continues up and to the right, and every
// other pixel does not: diagonal stripes, whatever lies under them.
bool StripesRiseToTheRight(const QImage& image, QRect rect) {
    for (int y = rect.top() + 1; y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x < rect.right(); ++x) {
            if ((image.pixel(x, y) == kNoDataHatch) !=
                (image.pixel(x + 1, y - 1) == kNoDataHatch)) {
                return false;
            }
        }
    }
    return true;
}

TEST(GridRender, HeadWithoutDataIsStripedAndSaysSoInItsVerdictBox) {
    for (const bool verdictRow : {true, false}) {
        SCOPED_TRACE(verdictRow ? "verdict row shown" : "verdict row hidden");
        const HeadsWithoutData heads(verdictRow);
        const QImage& image = heads.image;
        if (verdictRow) {
            ASSERT_EQ(heads.model.GetFailCount(), 0);
            ASSERT_FALSE(heads.model.GetPassAllowed());
        }

        // The head without data: a quarter of its bar area striped, along
        // diagonals, over its bars and bands, which still show in between.
        const QRect bars = heads.BarArea(1);
        const int area = bars.width() * bars.height();
        const int striped = Count(image, bars, kNoDataHatch);
        EXPECT_GT(striped, area / 5);
        EXPECT_LT(striped, area * 3 / 10);
        EXPECT_TRUE(StripesRiseToTheRight(image, bars));
        EXPECT_EQ(InkBox(image, image.rect(), kNoDataHatch).top(), 2) << "from the frames' top";
        EXPECT_GT(Count(image, bars, kValueBar), area / 20) << "bars under the stripes";
        EXPECT_GT(Count(image, bars, kOver), area / 20) << "bands under the stripes";
        // The number strip below stays as it was.
        const int strip = verdictRow ? 660 : 760;
        EXPECT_EQ(Count(image, QRect(322, strip, 317, 38), kNoDataHatch), 0);
        EXPECT_EQ(Count(image, QRect(322, strip, 317, 38), kChannelNumber),
                  Count(image, QRect(2, strip, 317, 38), kChannelNumber));
        // Its channels are not judged: no number cell or figure in the colour
        // of a channel within its limits, where the passing head has them.
        EXPECT_EQ(Count(image, QRect(322, strip, 317, 38), kWithin), 0);
        EXPECT_GT(Count(image, QRect(322, strip, 317, 38), kUnjudged), 0);
        EXPECT_GT(Count(image, QRect(2, strip, 317, 38), kWithin), 0);
        EXPECT_EQ(Count(image, bars, kDiffWithin), 0);

        // The passing head and the LOAD head are not striped.
        EXPECT_EQ(Count(image, heads.BarArea(0), kNoDataHatch), 0);
        EXPECT_EQ(Count(image, heads.BarArea(2), kNoDataHatch), 0);

        // The verdict box: the word in it, centred, on white stripes like
        // the bars' (not LOAD's grey cross-hatch); without the verdict row no
        // word anywhere.
        const QRect box = HeadsWithoutData::VerdictFill(1);
        if (verdictRow) {
            const QRect word = InkBox(image, image.rect(), kNoDataText);
            EXPECT_GT(Count(image, box, kNoDataText), 1000);
            ASSERT_TRUE(box.contains(word)) << "word at " << word.x() << "," << word.y() << " "
                                            << word.width() << "x" << word.height();
            EXPECT_LE(std::abs((word.left() - box.left()) - (box.right() - word.right())), 1);
            // Three characters, each about as wide as the word is high.
            EXPECT_GT(word.height(), box.height() * 2 / 3);
            EXPECT_GT(word.width(), 2 * word.height());
            // Left of the word (and its halo): stripes on white only.
            const QRect side(box.left(), box.top(), word.left() - 8 - box.left(), box.height());
            ASSERT_GT(side.width(), 8);
            const int sideArea = side.width() * side.height();
            const int sideStripes = Count(image, side, kNoDataHatch);
            EXPECT_GT(sideStripes, sideArea / 5);
            EXPECT_LT(sideStripes, sideArea * 3 / 10);
            EXPECT_EQ(sideStripes + Count(image, side, kBackground), sideArea);
            EXPECT_TRUE(StripesRiseToTheRight(image, side));
            EXPECT_EQ(Count(image, box, kHatch), 0);
            EXPECT_EQ(Count(image, box, kLoadText), 0);
            // The LOAD head keeps its look.
            EXPECT_TRUE(IsHatch(image, QRect(644, 702, 40, 95)));
            EXPECT_GT(Count(image, QRect(700, 701, 200, 97), kLoadText), 200);
        } else {
            EXPECT_EQ(Count(image, image.rect(), kNoDataText), 0);
            EXPECT_EQ(Count(image, image.rect(), kLoadText), 0);
        }
    }
}

// A LOAD head judges nothing, so it has nothing to lack: with or without
// data it looks the same.
TEST(GridRender, LoadHeadLooksTheSameWithOrWithoutData) {
    for (const bool verdictRow : {true, false}) {
        ChannelModes modes{};
        modes.fill(Masked);
        modes[3] = Greyed;
        GridModel with;
        SetupGrid(with, 2, 1);
        with.SetChannelModes(1, 0, modes);
        with.ShowVerdictRow(verdictRow);
        GridModel without;
        SetupGrid(without, 2, 1);
        without.SetChannelModes(1, 0, modes);
        without.ShowVerdictRow(verdictRow);
        without.SetNoData(1, 0);
        ASSERT_FALSE(without.HasData(1, 0));
        EXPECT_EQ(RenderGrid(with, QSize(641, kH)), RenderGrid(without, QSize(641, kH)))
            << (verdictRow ? "verdict row shown" : "verdict row hidden");
    }
}

// Drawn by one painter through the loss and the return of the data (the
// return a partial repaint), the head ends up as a fresh painter draws a
// head that never lost them.
TEST(GridRender, HeadRegainingDataIsDrawnAsOneThatAlwaysHadIt) {
    for (const bool verdictRow : {true, false}) {
        SCOPED_TRACE(verdictRow ? "verdict row shown" : "verdict row hidden");
        GridModel always;
        SetupGrid(always, 2, 2);
        SetValue(always, 1, 0, 4, 600);  // one head fails
        always.ShowVerdictRow(verdictRow);
        const QImage expected = RenderGrid(always, QSize(961, 541));

        GridModel model;
        SetupGrid(model, 2, 2);
        SetValue(model, 1, 0, 4, 600);
        model.ShowVerdictRow(verdictRow);
        auto frame = std::make_unique<GridFrame>();
        GridPainter painter;
        std::vector<PixelRect> damage;
        model.Evaluate(961, 541, *frame);
        painter.Paint(*frame);
        for (const auto& [c, r] : {std::pair{1, 0}, std::pair{0, 1}}) {
            model.SetNoData(c, r);
        }
        model.Evaluate(961, 541, *frame);
        const QImage lost = painter.Paint(*frame).copy();
        EXPECT_GT(Count(lost, lost.rect(), kNoDataHatch), 10000);
        for (const auto& [c, r] : {std::pair{1, 0}, std::pair{0, 1}}) {
            model.SetValues(c, r, model.GetValues(c, r));
        }
        model.Evaluate(961, 541, *frame);
        const QImage& regained = painter.Paint(*frame, &damage);
        ASSERT_FALSE(damage.empty());
        EXPECT_LT(damage[0].Width(), 961) << "a partial repaint";
        EXPECT_EQ(regained, expected);
    }
}

TEST(GridRender, IdleScreenWithNoHeads) {
    GridModel model;
    model.SetColumns(0);
    model.SetRows(0);
    const QImage image = RenderGrid(model, QSize(kW, kH));
    ExpectProbes(image, {{100, 700, kIdleBackground, "idle background"},
                         {200, 0, kFrame, "top edge line"},
                         {0, 400, kFrame, "left edge line"},
                         {320, 400, kIdleBackground, "no right edge line"},
                         {200, 800, kIdleBackground, "no bottom edge line"}});
    // The title's visible pass: font 160 high, 8 wide on average, drawn at
    // ((321 - 32 * 8) / 2 + 10, (801 - 240) / 2 + 10) = (42, 290).
    int count = 0;
    QRect box;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            if (image.pixel(x, y) == kIdleTitleSecond) {
                ++count;
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    EXPECT_GT(count, 500);
    EXPECT_GE(box.left(), 42);
    EXPECT_LT(box.left(), 42 + 16);
    EXPECT_GE(box.top(), 290);
    EXPECT_LE(box.bottom(), 290 + 160);
}

// The idle note is drawn under the title, centred, in its own colour; a new
// note on the same painter is drawn in place of the old one, and no note
// leaves the idle screen as it was.
TEST(GridRender, IdleNoteIsDrawnUnderTheTitleAndFollowsTheModel) {
    constexpr int kWide = 961;
    constexpr int kHigh = 541;
    const auto noteBox = [](const QImage& image) {
        QRect box;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixel(x, y) == kIdleNote) {
                    box |= QRect(x, y, 1, 1);
                }
            }
        }
        return box;
    };
    const auto titleBottom = [](const QImage& image) {
        int bottom = -1;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixel(x, y) == kIdleTitleSecond) {
                    bottom = y;
                }
            }
        }
        return bottom;
    };

    GridModel model;
    model.SetColumns(0);
    model.SetRows(0);
    auto frame = std::make_unique<GridFrame>();
    GridPainter painter;
    model.Evaluate(kWide, kHigh, *frame);
    const QImage bare = painter.Paint(*frame).copy();
    EXPECT_TRUE(noteBox(bare).isEmpty());

    model.SetIdleNote("未检测到测试板\n请用 USB 线把测试板接到本机。");
    model.Evaluate(kWide, kHigh, *frame);
    const QImage noted = painter.Paint(*frame).copy();
    const QRect two = noteBox(noted);
    ASSERT_FALSE(two.isEmpty());
    EXPECT_GT(two.top(), titleBottom(noted));
    EXPECT_LT(two.bottom(), kHigh);
    EXPECT_LE(std::abs(two.left() + two.right() - kWide), 40) << "centred";

    // Three lines reach further down; the old note leaves nothing behind.
    model.SetIdleNote("测试板已拔下\n重新插上测试板后会自动连接。\n请检查 USB 线。");
    model.Evaluate(kWide, kHigh, *frame);
    const QRect three = noteBox(painter.Paint(*frame));
    EXPECT_GT(three.bottom(), two.bottom());
    // A line longer than the window is broken onto more lines, all inside
    // the window with a margin, rather than cut at its edges.
    model.SetIdleNote(
        "Found the master board, but there is no permission to open it\n"
        "Please install the udev rule 70-kaldrixplus.rules (see the message box for how), "
        "then unplug the tester board and plug it in again, and check the USB cable.");
    model.Evaluate(kWide, kHigh, *frame);
    const QRect wrapped = noteBox(painter.Paint(*frame));
    EXPECT_GT(wrapped.left(), 5);
    EXPECT_LT(wrapped.right(), kWide - 5);
    EXPECT_GT(wrapped.bottom(), two.bottom()) << "the long line goes on below";
    // The same note in a narrower window of the same height is broken
    // again for that width.
    constexpr int kNarrow = 600;
    model.Evaluate(kNarrow, kHigh, *frame);
    const QRect narrowed = noteBox(painter.Paint(*frame));
    EXPECT_GT(narrowed.left(), 5);
    EXPECT_LT(narrowed.right(), kNarrow - 5);
    model.Evaluate(kWide, kHigh, *frame);
    EXPECT_EQ(noteBox(painter.Paint(*frame)), wrapped) << "and for the wide one once more";
    model.SetIdleNote({});
    model.Evaluate(kWide, kHigh, *frame);
    EXPECT_EQ(painter.Paint(*frame), bare);
}

// Pixels where red and blue are both 0: only the overlay's AND makes them.
int GreenOnly(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            n += qRed(p) == 0 && qBlue(p) == 0;
        }
    }
    return n;
}

// Head (0, 0) all Greyed with both limits and the values at the bottom of
// the range: LOAD, and its over band fills the whole bar area, down into the
// overlay's rows.
void GreyOutFirstHead(GridModel& model) {
    ChannelModes greyed{};
    greyed.fill(Greyed);
    model.SetChannelModes(0, 0, greyed);
    model.SetUpperLimits(0, 0, Filled(0));
    model.SetLowerLimits(0, 0, Filled(0));
    model.SetValues(0, 0, Filled(0));
}

TEST(GridRender, PassOverlayIsAndedIntoTwoByTwoWithoutFailures) {
    // 961 x 541: heads of 480 x 270, overlay font 108 high and 106 wide, text
    // at (trunc(961 - 4 * 106 * 1.3) / 2, trunc(541 - 1.5 * 108) / 2) = (204, 189).
    const QSize size(961, 541);
    GridModel passing;
    SetupGrid(passing, 2, 2);
    GreyOutFirstHead(passing);
    const QImage with = RenderGrid(passing, size);
    ASSERT_EQ(passing.GetFailCount(), 0);

    // The same grid with a failure in head (1, 1): no overlay, and the upper
    // row of heads is drawn exactly as before.
    GridModel failing;
    SetupGrid(failing, 2, 2);
    GreyOutFirstHead(failing);
    SetValue(failing, 1, 1, 0, 600);
    const QImage without = RenderGrid(failing, size);
    ASSERT_EQ(failing.GetFailCount(), 1);
    EXPECT_EQ(GreenOnly(without), 0);

    QRect letterBox;
    int letters = 0;
    int pinkToGreen = 0;
    for (int y = 0; y < 268; ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const QRgb a = with.pixel(x, y);
            const QRgb b = without.pixel(x, y);
            if (a == b) {
                continue;
            }
            letterBox |= QRect(x, y, 1, 1);
            // AND with white-to-green: green survives, red and blue only shrink.
            ASSERT_EQ(qGreen(a), qGreen(b)) << x << "," << y;
            ASSERT_LE(qRed(a), qRed(b)) << x << "," << y;
            ASSERT_LE(qBlue(a), qBlue(b)) << x << "," << y;
            if (qRed(a) == 0 && qBlue(a) == 0) {
                ++letters;
                // Pink inside a letter keeps its green of 200: an AND, not paint.
                pinkToGreen += b == kOver;
            }
        }
    }
    EXPECT_GT(letters, 1000);
    EXPECT_GT(pinkToGreen, 0);
    // The word starts at its reference point and stays within the font's
    // height below it; its width follows from the stretched face.
    EXPECT_GE(letterBox.left(), 204);
    EXPECT_LT(letterBox.left(), 204 + 106 / 2);
    EXPECT_GE(letterBox.top(), 189);
    EXPECT_LT(letterBox.top(), 189 + 108 / 2);
    EXPECT_GT(letterBox.right(), 204 + 3 * 106);
    EXPECT_LT(letterBox.right(), 204 + 6 * 106);
}

TEST(GridRender, NoPassOverlayOnOneRowOrOneColumn) {
    for (const QSize grid : {QSize(3, 1), QSize(1, 3), QSize(1, 1)}) {
        GridModel model;
        SetupGrid(model, grid.width(), grid.height());
        const QImage image = RenderGrid(model, QSize(961, 541));
        ASSERT_EQ(model.GetFailCount(), 0);
        EXPECT_EQ(GreenOnly(image), 0) << grid.width() << "x" << grid.height();
    }
}

TEST(GridRender, FreshTwoByTwoWithEveryHeadLoadShowsNoPassOverlay) {
    // Before settings arrive every channel is masked: four LOAD heads, no
    // failure, and nothing tested.
    GridModel fresh;
    fresh.SetColumns(2);
    fresh.SetRows(2);
    const QImage image = RenderGrid(fresh, QSize(961, 541));
    ASSERT_EQ(fresh.GetFailCount(), 0);
    EXPECT_EQ(GreenOnly(image), 0);

    // Once one head has passed, the overlay is there.
    GridModel model;
    SetupGrid(model, 2, 2);
    ChannelModes masked{};
    masked.fill(Masked);
    for (const auto& [c, r] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{0, 1}}) {
        model.SetChannelModes(c, r, masked);
    }
    EXPECT_GT(GreenOnly(RenderGrid(model, QSize(961, 541))), 1000);
}

// Heads of 136 pixels across (10 columns in 1366 x 768): the word at the
// box's centre less 90 pixels and 30 pixels wide on average would reach into
// both neighbours.
TEST(GridRender, VerdictWordsStayInsideTheirOwnBox) {
    struct Window {
        int width, height;
        bool roomy;  // wide enough for the word where it has always been
    };
    // The mixed grid has passing, failing and LOAD heads; the other one all
    // four verdicts, the word of a head without data among them.
    for (const auto& [fill, w] : {std::pair{FixtureFill::Mixed, Window{1366, 768, false}},
                                  std::pair{FixtureFill::Mixed, Window{1600, 900, false}},
                                  std::pair{FixtureFill::Mixed, Window{1280, 1024, false}},
                                  std::pair{FixtureFill::Mixed, Window{1920, 1080, true}},
                                  std::pair{FixtureFill::Verdicts, Window{1366, 768, false}},
                                  std::pair{FixtureFill::Verdicts, Window{1920, 1080, true}}}) {
        const LargeGrid grid(w.width, w.height, fill);
        const GridFrame& frame = *grid.frame;
        const QImage& image = *grid.image;
        const GridLayout layout = frame.Layout();
        for (int r = 0; r < 10; ++r) {
            for (int c = 0; c < 10; ++c) {
                const PixelRect box = layout.VerdictBox(c, r);
                SCOPED_TRACE(testing::Message()
                             << w.width << "x" << w.height << " head " << c << "," << r);
                // The ring between the fill and the outline, the outline and
                // the grid lines beside the box keep their colours: no ink
                // crossed them.
                for (int y = box.top + 1; y < box.bottom - 1; ++y) {
                    ASSERT_EQ(Name(image.pixel(box.left, y)), Name(kFrame)) << y;
                    ASSERT_EQ(Name(image.pixel(box.left + 1, y)), Name(kBackground)) << y;
                    ASSERT_EQ(Name(image.pixel(box.right - 2, y)), Name(kBackground)) << y;
                    ASSERT_EQ(Name(image.pixel(box.right - 1, y)), Name(kFrame)) << y;
                    ASSERT_EQ(Name(image.pixel(layout.LineX(c), y)), Name(kFrame)) << y;
                }
                // The word is there, in its colour, and the Latin ones start
                // where they always did where they fit (the Chinese word is
                // centred).
                const HeadVerdict verdict = frame.verdicts[c][r];
                QRgb text = kPassText;
                if (verdict == HeadVerdict::Fail) {
                    text = kFailText;
                } else if (verdict == HeadVerdict::Load) {
                    text = kLoadText;
                } else if (verdict == HeadVerdict::NoData) {
                    text = kNoDataText;
                }
                const QRect inner(box.left + 2, box.top + 2, box.Width() - 4, box.Height() - 4);
                // Three Chinese characters in a fill 5 pixels high leave only
                // a few pixels at full coverage.
                EXPECT_GT(Count(image, inner, text), verdict == HeadVerdict::NoData ? 2 : 10);
                if (w.roomy && verdict != HeadVerdict::NoData) {
                    const int x = box.left + box.Width() / 2 - 90;
                    EXPECT_EQ(
                        Count(image,
                              QRect(box.left + 2, box.top + 2, x - box.left - 2, box.Height() - 4),
                              text),
                        0);
                }
            }
        }
    }
}

// Channel 0 of every head in 1920 x 1080 and every channel in 1366 x 768
// had a column truncated to nothing: no band, marker or hatch showed.
TEST(GridRender, EveryChannelShowsItsColumn) {
    struct Window {
        int width, height;
    };
    for (const Window w : {Window{1920, 1080}, Window{1366, 768}}) {
        const LargeGrid grid(w.width, w.height);
        const GridFrame& frame = *grid.frame;
        const QImage& image = *grid.image;
        const GridLayout layout = frame.Layout();
        int hidden = 0;
        for (int r = 0; r < 10; ++r) {
            for (int c = 0; c < 10; ++c) {
                const HeadSlot& head = frame.heads[c][r];
                for (int k = 0; k < kChannels; ++k) {
                    const PixelRect col = layout.ChannelColumn(c, r, k);
                    const QRect rect(col.left, col.top, col.Width(), col.Height());
                    // Tested and greyed channels show their bands above the
                    // bar, masked ones their outline all the way down.
                    const bool shows =
                        (head.mode[k] & 1) != 0
                            ? Count(image, rect, kFrame) == rect.width() * rect.height()
                            : Count(image, rect, kOver) + Count(image, rect, kWithin) > 0;
                    if (!shows || rect.width() < 1) {
                        ++hidden;
                        ADD_FAILURE() << w.width << "x" << w.height << " head " << c << "," << r
                                      << " channel " << k;
                    }
                    if (hidden > 5) {
                        return;
                    }
                }
            }
        }
    }
}

TEST(GridRender, EveryHeadOfALargeGridShowsItsVerdict) {
    for (const FixtureFill fill : {FixtureFill::Mixed, FixtureFill::Verdicts}) {
        const LargeGrid grid(1920, 1080, fill);
        const GridFrame& frame = *grid.frame;
        const QImage& image = *grid.image;
        const GridLayout layout = frame.Layout();
        int noData = 0;
        for (int r = 0; r < 10; ++r) {
            for (int c = 0; c < 10; ++c) {
                const PixelRect box = layout.VerdictBox(c, r);
                const QRgb p = image.pixel(box.left + 3, box.top + 3);
                switch (frame.verdicts[c][r]) {
                    case HeadVerdict::Fail:
                        EXPECT_EQ(Name(p), Name(kOver)) << c << "," << r;
                        break;
                    case HeadVerdict::Pass:
                        EXPECT_EQ(Name(p), Name(kWithin)) << c << "," << r;
                        break;
                    case HeadVerdict::Load:
                        EXPECT_TRUE(p == kHatch || p == kBackground) << c << "," << r;
                        break;
                    case HeadVerdict::NoData:
                        EXPECT_TRUE(p == kNoDataHatch || p == kBackground) << c << "," << r;
                        ++noData;
                        break;
                }
            }
        }
        EXPECT_EQ(noData, fill == FixtureFill::Verdicts ? 25 : 0);
        EXPECT_EQ(frame.noDataCount, noData);
    }
}

TEST(GridRender, DegenerateClientSizesDrawSafely) {
    GridModel model;
    FillFixtureGrid(model, 10, 10, FixtureFill::Mixed);
    for (const QSize size :
         {QSize(0, 0), QSize(1, 1), QSize(2, 700), QSize(700, 3), QSize(33, 17), QSize(64, 64)}) {
        const QImage image = RenderGrid(model, size);
        EXPECT_EQ(image.isNull(), size.isEmpty());
        if (!image.isNull()) {
            EXPECT_EQ(image.size(), size);
        }
    }
}

}  // namespace
}  // namespace kx

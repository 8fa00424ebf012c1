// SPDX-License-Identifier: MIT
// The painter draws again only what changed since the frame it shows. These
// tests hold it to the full repaint: after any sequence of changes the image
// is pixel for pixel the one a full repaint of the same frame gives, every
// pixel that changed lies in a rectangle handed to the screen, and a grid
// whose data stand still is not drawn at all.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "grid/grid_fixture.h"
#include "grid/grid_layout.h"
#include "grid/grid_model.h"
#include "grid/grid_painter.h"

namespace kx {
namespace {

using Rng = std::mt19937;

int Pick(Rng& rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

// One change to the grid, as the acquisition worker, the menus or the
// pointer make them. Returns its name for the failure message.
std::string Change(GridModel& m, Rng& rng, int columns, int rows) {
    const int c = Pick(rng, 0, columns - 1);
    const int r = Pick(rng, 0, rows - 1);
    const int k = Pick(rng, 0, kChannels - 1);
    const auto noise = [&](int column, int row) {
        ChannelValues v = m.GetValues(column, row);
        for (auto& x : v) {
            x = static_cast<std::int32_t>(std::clamp<long long>(
                static_cast<long long>(x) + Pick(rng, -4, 4), INT32_MIN, INT32_MAX));
        }
        m.SetValues(column, row, v);
    };
    const auto setOne = [&](ChannelValues (GridModel::*get)(int, int) const,
                            void (GridModel::*set)(int, int, std::span<const std::int32_t, 32>),
                            std::int32_t value) {
        ChannelValues v = (m.*get)(c, r);
        v[k] = value;
        (m.*set)(c, r, v);
    };
    // Weighted: live values move most of the time.
    switch (Pick(rng, 0, 24)) {
        case 0:
        case 1:
        case 2:
        case 3:
            for (int row = 0; row < rows; ++row) {
                for (int column = 0; column < columns; ++column) {
                    noise(column, row);
                }
            }
            return "every value moves a little";
        case 4:
        case 5:
            noise(c, r);
            return "one head's values move a little";
        case 6:
            setOne(&GridModel::GetValues, &GridModel::SetValues, Pick(rng, -200, 1800));
            return "a value jumps";
        case 7: {
            const std::int32_t extremes[] = {INT32_MIN, INT32_MAX, 0, 65535, -1, 1500, 10};
            setOne(&GridModel::GetValues, &GridModel::SetValues, extremes[Pick(rng, 0, 6)]);
            return "a value at an extreme";
        }
        case 8:
            setOne(&GridModel::GetReference, &GridModel::SetReference, Pick(rng, 0, 1600));
            return "a reference moves";
        case 9:
            setOne(&GridModel::GetUpperLimits, &GridModel::SetUpperLimits, Pick(rng, 300, 1700));
            return "an upper limit moves";
        case 10:
            setOne(&GridModel::GetLowerLimits, &GridModel::SetLowerLimits, Pick(rng, 0, 1200));
            return "a lower limit moves";
        case 11:
            m.SetChannelMode(c, r, k, static_cast<std::uint8_t>(Pick(rng, 0, 4)));
            return "a channel's mode changes";
        case 12: {
            const int min = Pick(rng, 0, 600);
            const int max = Pick(rng, 0, 5) == 0 ? min : Pick(rng, 900, 2000);
            m.SetRange(c, r, max, min);
            return "a head's range changes";
        }
        case 13: {
            ChannelModes modes{};
            modes.fill(Pick(rng, 0, 1) == 0 ? Masked : Tested);
            m.SetChannelModes(c, r, modes);
            return "a head is masked or tested whole";
        }
        case 14:
            m.SetFpcTest(m.GetFpcTest() != 0 ? 0 : 1);
            return "the FPC test is switched";
        case 15:
            m.ClearGreenMarks();
            return "green marks cleared";
        case 16:
            for (int row = 0; row < rows; ++row) {
                for (int column = 0; column < columns; ++column) {
                    ChannelValues v = m.GetLowerLimits(column, row);
                    const ChannelValues u = m.GetUpperLimits(column, row);
                    for (int n = 0; n < kChannels; ++n) {
                        v[n] = static_cast<std::int32_t>((static_cast<long long>(v[n]) + u[n]) / 2);
                    }
                    m.SetValues(column, row, v);
                }
            }
            return "every head within its limits";
        case 17:
            m.SetPointer(Pick(rng, -10, 2000), Pick(rng, -10, 1200), 0);
            return "the pointer moves";
        case 18:
            m.ShowVerdictRow(!m.IsVerdictRowShown());
            return "the verdict row is switched";
        case 19: {
            // A greyed bar: outlined, so its top row moves with the value.
            const ChannelModes modes = m.GetChannelModes(c, r);
            for (int n = 0; n < kChannels; ++n) {
                if (modes[n] == Greyed) {
                    ChannelValues v = m.GetValues(c, r);
                    v[n] = Pick(rng, 0, 1600);
                    m.SetValues(c, r, v);
                    return "a greyed bar moves";
                }
            }
            m.SetChannelMode(c, r, k, Greyed);
            return "a channel is greyed";
        }
        case 20:
            m.SetNoData(c, r);
            return "a head loses its data";
        case 21:
            // The same values again, now from the board.
            m.SetValues(c, r, m.GetValues(c, r));
            return "a head regains its data";
        case 22:
            m.ForgetData();
            return "every head loses its data";
        default:
            return "nothing";
    }
}

// Where `a` and `b` first differ, or an empty string.
std::string FirstDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return "sizes differ";
    }
    for (int y = 0; y < a.height(); ++y) {
        const auto* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        if (std::memcmp(pa, pb, static_cast<std::size_t>(a.width()) * sizeof(QRgb)) == 0) {
            continue;
        }
        for (int x = 0; x < a.width(); ++x) {
            if (pa[x] != pb[x]) {
                return "first at " + std::to_string(x) + "," + std::to_string(y);
            }
        }
    }
    return {};
}

// A pixel that changed between `before` and `after` outside every rectangle
// of `damage`, or an empty string.
std::string ChangeOutside(const QImage& before, const QImage& after,
                          const std::vector<PixelRect>& damage) {
    if (before.size() != after.size()) {
        return {};
    }
    for (int y = 0; y < after.height(); ++y) {
        const auto* pa = reinterpret_cast<const QRgb*>(before.constScanLine(y));
        const auto* pb = reinterpret_cast<const QRgb*>(after.constScanLine(y));
        for (int x = 0; x < after.width(); ++x) {
            if (pa[x] == pb[x]) {
                continue;
            }
            bool covered = false;
            for (const PixelRect& r : damage) {
                covered |= r.left <= x && x < r.right && r.top <= y && y < r.bottom;
            }
            if (!covered) {
                return "at " + std::to_string(x) + "," + std::to_string(y);
            }
        }
    }
    return {};
}

TEST(GridRepaint, PartialRepaintsMatchAFullRepaint) {
    struct Case {
        int width, height, columns, rows;
        int steps;
    };
    const Case cases[] = {
        {1366, 768, 10, 10, 50}, {1920, 1080, 10, 10, 30}, {961, 541, 2, 2, 150},
        {321, 801, 1, 1, 200},   {640, 480, 3, 2, 150},    {150, 90, 4, 3, 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.columns << "x" << c.rows << " at " << c.width << "x" << c.height);
        GridModel model;
        FillFixtureGrid(model, c.columns, c.rows, FixtureFill::Mixed);
        auto frame = std::make_unique<GridFrame>();
        GridPainter partial;
        GridPainter full;
        std::vector<PixelRect> damage;
        model.Evaluate(c.width, c.height, *frame);
        partial.Paint(*frame);
        Rng rng(static_cast<unsigned>(c.width * 31 + c.columns));
        int partialPaints = 0;
        for (int step = 0; step < c.steps; ++step) {
            const std::string change = Change(model, rng, c.columns, c.rows);
            model.Evaluate(c.width, c.height, *frame);
            const QImage before = partial.image().copy();
            const QImage& after = partial.Paint(*frame, &damage);
            full.Invalidate();
            const QImage& reference = full.Paint(*frame);
            const std::string difference = FirstDifference(after, reference);
            ASSERT_EQ(difference, "") << "step " << step << ": " << change;
            const std::string outside = ChangeOutside(before, after, damage);
            ASSERT_EQ(outside, "") << "step " << step << ": " << change
                                   << " changed a pixel the screen was not told of";
            partialPaints +=
                !damage.empty() && !(damage.size() == 1 && damage[0].Width() == c.width &&
                                     damage[0].Height() == c.height);
        }
        // Most steps went the partial way; the comparison above was not just
        // of two full repaints.
        EXPECT_GT(partialPaints, c.steps / 3);
    }
}

// A head without data is striped over its bar area and, with the verdict
// row, in its verdict box: losing or regaining the data changes pixels all
// over the head, also where nothing else about it changed.
TEST(GridRepaint, HeadLosingAndRegainingDataMatchesAFullRepaint) {
    struct Step {
        const char* what;
        void (*apply)(GridModel&);
    };
    const Step steps[] = {
        {"head (1, 0) loses its data", [](GridModel& m) { m.SetNoData(1, 0); }},
        {"its values move without data",
         [](GridModel& m) {
             ChannelValues v = m.GetValues(1, 0);
             v[3] += 200;
             m.SetValues(1, 0, v, m.DataEpoch() - 1);  // read before the data were forgotten
         }},
        {"it regains its data", [](GridModel& m) { m.SetValues(1, 0, m.GetValues(1, 0)); }},
        {"every head loses its data", [](GridModel& m) { m.ForgetData(); }},
        {"head (0, 1) regains its data",
         [](GridModel& m) { m.SetValues(0, 1, m.GetValues(0, 1)); }},
        {"head (0, 0), LOAD without data, gets a Tested channel",
         [](GridModel& m) { m.SetChannelMode(0, 0, 9, Tested); }},
        {"and loses it again", [](GridModel& m) { m.SetChannelMode(0, 0, 9, Masked); }},
        {"every head regains its data",
         [](GridModel& m) {
             for (int r = 0; r < 2; ++r) {
                 for (int c = 0; c < 2; ++c) {
                     m.SetValues(c, r, m.GetValues(c, r));
                 }
             }
         }},
    };
    for (const bool verdictRow : {true, false}) {
        SCOPED_TRACE(verdictRow ? "verdict row shown" : "verdict row hidden");
        GridModel model;
        FillFixtureGrid(model, 2, 2, FixtureFill::AllPass);
        ChannelModes masked{};
        masked.fill(Masked);
        model.SetChannelModes(0, 0, masked);
        model.ShowVerdictRow(verdictRow);
        auto frame = std::make_unique<GridFrame>();
        GridPainter partial;
        GridPainter full;
        std::vector<PixelRect> damage;
        model.Evaluate(961, 541, *frame);
        partial.Paint(*frame);
        for (const Step& step : steps) {
            step.apply(model);
            model.Evaluate(961, 541, *frame);
            const QImage before = partial.image().copy();
            const QImage& after = partial.Paint(*frame, &damage);
            full.Invalidate();
            EXPECT_EQ(FirstDifference(after, full.Paint(*frame)), "") << step.what;
            EXPECT_EQ(ChangeOutside(before, after, damage), "") << step.what;
            EXPECT_NE(before, after) << step.what << " shows";
            ASSERT_FALSE(damage.empty()) << step.what;
            EXPECT_LT(damage[0].Width(), 961) << step.what << ": a partial repaint";
        }
    }
}

TEST(GridRepaint, UnchangedGridIsNotDrawnAgain) {
    GridModel model;
    FillFixtureGrid(model, 10, 10, FixtureFill::Mixed);
    model.SetFpcTest(1);
    auto frame = std::make_unique<GridFrame>();
    GridPainter painter;
    std::vector<PixelRect> damage;
    // The first repaints settle the green marks of the channels above their
    // limits.
    for (int n = 0; n < 2; ++n) {
        model.Evaluate(1920, 1080, *frame);
        painter.Paint(*frame, &damage);
    }
    const QImage settled = painter.image().copy();
    for (int tick = 0; tick < 20; ++tick) {
        // The worker hands over the same data again, the pointer moves.
        for (int r = 0; r < 10; ++r) {
            for (int c = 0; c < 10; ++c) {
                model.SetValues(c, r, model.GetValues(c, r));
                model.SetChannelModes(c, r, model.GetChannelModes(c, r));
            }
        }
        model.SetPointer(tick * 50, tick * 20, 0);
        model.Evaluate(1920, 1080, *frame);
        painter.Paint(*frame, &damage);
        EXPECT_TRUE(damage.empty()) << "tick " << tick;
    }
    EXPECT_EQ(painter.image(), settled);

    // At every window size the fonts of one repaint stay few enough for the
    // glyph cache to keep them between repaints: no size falls back to
    // drawing everything on every tick.
    for (int width = 1000; width <= 2000; width += 37) {
        const int height = width * 9 / 16;
        model.Evaluate(width, height, *frame);
        painter.Paint(*frame, &damage);
        model.Evaluate(width, height, *frame);
        painter.Paint(*frame, &damage);
        EXPECT_TRUE(damage.empty()) << width << "x" << height;
    }
    model.Evaluate(1920, 1080, *frame);
    painter.Paint(*frame, &damage);

    // One value moves: only its head is drawn again.
    ChannelValues v = model.GetValues(4, 7);
    v[9] += 37;
    model.SetValues(4, 7, v);
    model.Evaluate(1920, 1080, *frame);
    painter.Paint(*frame, &damage);
    ASSERT_FALSE(damage.empty());
    const PixelRect cell = frame->Layout().CellInterior(4, 7);
    for (const PixelRect& d : damage) {
        EXPECT_GE(d.left, cell.left);
        EXPECT_LE(d.right, cell.right);
        EXPECT_GE(d.top, cell.top);
        EXPECT_LE(d.bottom, cell.bottom);
    }
}

}  // namespace
}  // namespace kx

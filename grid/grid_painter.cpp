// SPDX-License-Identifier: MIT
#include "grid/grid_painter.h"

#include <QBrush>
#include <QColor>
#include <QCoreApplication>
#include <QPainter>
#include <QStringList>
#include <QTextLayout>
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kx {

namespace {

using namespace grid_colors;

// Direct access to an RGB32 image: solid and patterned rectangle fills,
// outlines, lines and coloured glyph masks, all clipped.
class Canvas {
public:
    explicit Canvas(QImage& image)
        : bits_(reinterpret_cast<QRgb*>(image.bits())),
          stride_(image.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb))),
          bounds_{0, 0, image.width(), image.height()},
          clip_(bounds_) {}

    // Every operation below touches only pixels inside the clip, and what it
    // writes to a pixel depends on nothing but the operation and that pixel.
    void SetClip(PixelRect r) { clip_ = Intersect(r, bounds_); }
    void ResetClip() { clip_ = bounds_; }
    const PixelRect& clip() const { return clip_; }

    static PixelRect Intersect(PixelRect a, PixelRect b) {
        return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
    }

    QRgb* Line(int y) const { return bits_ + y * stride_; }

    PixelRect Clip(PixelRect r) const { return Intersect(r, clip_); }

    bool Inside(PixelRect r) const {
        return r.left >= clip_.left && r.top >= clip_.top && r.right <= clip_.right &&
               r.bottom <= clip_.bottom;
    }

    void Fill(PixelRect r, QRgb color) {
        r = Clip(r);
        if (r.Empty()) {
            return;
        }
        FillRows(Line(r.top) + r.left, r.Width(), r.Height(), color);
    }

    // An 8 x 8 pattern anchored at the image's origin, like a brush.
    void FillPattern(PixelRect r, const QRgb (&tile)[8][8]) {
        r = Clip(r);
        if (r.Empty()) {
            return;
        }
        for (int y = r.top; y < r.bottom; ++y) {
            QRgb* line = Line(y);
            const QRgb* row = tile[y & 7];
            for (int x = r.left; x < r.right; ++x) {
                line[x] = row[x & 7];
            }
        }
    }

    // One-pixel outline on the rectangle's outermost pixels. Channel frames
    // are tall and a few pixels wide: one pass down the rows writes both
    // sides, which mostly share a cache line.
    void Outline(PixelRect r, QRgb color) {
        if (r.Empty()) {
            return;
        }
        const int w = r.Width();
        const int h = r.Height();
        if (!Inside(r) || w <= 2 || h <= 2) {
            Fill({r.left, r.top, r.right, r.top + 1}, color);
            Fill({r.left, r.bottom - 1, r.right, r.bottom}, color);
            Fill({r.left, r.top, r.left + 1, r.bottom}, color);
            Fill({r.right - 1, r.top, r.right, r.bottom}, color);
            return;
        }
        QRgb* p = Line(r.top) + r.left;
        std::fill_n(p, w, color);
        p += stride_;
        for (int y = 1; y < h - 1; ++y, p += stride_) {
            p[0] = color;
            p[w - 1] = color;
        }
        std::fill_n(p, w, color);
    }

    static PixelRect Interior(PixelRect r) {
        return {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
    }

    // Outline and solid interior. Channel frames are tall and a few pixels
    // wide, so the common case writes each row once.
    void OutlineFilled(PixelRect r, QRgb pen, QRgb fill) {
        if (r.Empty()) {
            return;
        }
        if (!Inside(r)) {
            Fill(Interior(r), fill);
            Outline(r, pen);
            return;
        }
        const int w = r.Width();
        const int h = r.Height();
        if (w <= 2 || h <= 2) {
            FillRows(Line(r.top) + r.left, w, h, pen);
            return;
        }
        QRgb* p = Line(r.top) + r.left;
        std::fill_n(p, w, pen);
        p += stride_;
        for (int y = 1; y < h - 1; ++y, p += stride_) {
            p[0] = pen;
            FillSpan(p + 1, w - 2, fill);
            p[w - 1] = pen;
        }
        std::fill_n(p, w, pen);
    }

    // Diagonal stripes rising to the right, 4 pixels of every 16 along a row,
    // anchored at the image's origin like the pattern; the pixels between
    // them keep what is there.
    void Stripes(PixelRect r, QRgb color) {
        r = Clip(r);
        if (r.Empty()) {
            return;
        }
        for (int y = r.top; y < r.bottom; ++y) {
            QRgb* line = Line(y);
            // The first x at or left of r.left where (x + y) % 16 == 0.
            for (int x = r.left - ((r.left + y) & 15); x < r.right; x += 16) {
                const int from = std::max(x, r.left);
                const int to = std::min(x + 4, r.right);
                for (int px = from; px < to; ++px) {
                    line[px] = color;
                }
            }
        }
    }

    void OutlineHatched(PixelRect r, QRgb pen, const QRgb (&tile)[8][8]) {
        FillPattern(Interior(r), tile);
        Outline(r, pen);
    }

    // Blends `color` through the mask placed with its top-left corner at x, y.
    void Blend(const GlyphMask& mask, int x, int y, QRgb color) {
        const int x0 = std::max(x, clip_.left);
        const int y0 = std::max(y, clip_.top);
        const int x1 = std::min(x + mask.width, clip_.right);
        const int y1 = std::min(y + mask.height, clip_.bottom);
        for (int py = y0; py < y1; ++py) {
            QRgb* line = Line(py);
            const std::uint8_t* alpha = mask.alpha.data() + (py - y) * mask.width;
            for (int px = x0; px < x1; ++px) {
                const unsigned a = alpha[px - x];
                if (a == 0) {
                    continue;
                }
                line[px] = a == 255 ? color : Interpolate(color, line[px], a);
            }
        }
    }

    // Bitwise AND of `source` into the image with its top-left corner at x, y:
    // white leaves the image as it is. The same operation as a painter's
    // RasterOp_SourceAndDestination, without its set-up and worker threads.
    void And(const QImage& source, int x, int y) {
        const PixelRect r = Clip({x, y, x + source.width(), y + source.height()});
        for (int py = r.top; py < r.bottom; ++py) {
            QRgb* line = Line(py);
            const auto* src = reinterpret_cast<const QRgb*>(source.constScanLine(py - y));
            for (int px = r.left; px < r.right; ++px) {
                line[px] &= src[px - x];
            }
        }
    }

private:
    // Most spans of a partial repaint are a few pixels long: a library call
    // per row would cost more than the stores.
    // (Written out: a loop would be turned back into the library call.)
    static void FillSpan(QRgb* p, int w, QRgb color) {
        switch (w) {
            case 8:
                p[7] = color;
                [[fallthrough]];
            case 7:
                p[6] = color;
                [[fallthrough]];
            case 6:
                p[5] = color;
                [[fallthrough]];
            case 5:
                p[4] = color;
                [[fallthrough]];
            case 4:
                p[3] = color;
                [[fallthrough]];
            case 3:
                p[2] = color;
                [[fallthrough]];
            case 2:
                p[1] = color;
                [[fallthrough]];
            case 1:
                p[0] = color;
                [[fallthrough]];
            case 0:
                return;
            default:
                std::fill_n(p, w, color);
                return;
        }
    }

    // Most rectangles of a large grid are one to three pixels wide: a loop
    // per width keeps the per-row cost to a few stores.
    void FillRows(QRgb* p, int w, int h, QRgb color) const {
        switch (w) {
            case 1:
                for (; h > 0; --h, p += stride_) {
                    p[0] = color;
                }
                return;
            case 2:
                for (; h > 0; --h, p += stride_) {
                    p[0] = p[1] = color;
                }
                return;
            case 3:
                for (; h > 0; --h, p += stride_) {
                    p[0] = p[1] = p[2] = color;
                }
                return;
            default:
                for (; h > 0; --h, p += stride_) {
                    FillSpan(p, w, color);
                }
                return;
        }
    }

    // c * a + d * (255 - a), rounded, with red and blue worked on together in
    // one word and alpha and green in another.
    static QRgb Interpolate(QRgb c, QRgb d, unsigned a) {
        const unsigned b = 255 - a;
        unsigned rb = (c & 0xff00ff) * a + (d & 0xff00ff) * b;
        rb = (rb + ((rb >> 8) & 0xff00ff) + 0x800080) >> 8;
        unsigned ag = ((c >> 8) & 0xff00ff) * a + ((d >> 8) & 0xff00ff) * b;
        ag = ag + ((ag >> 8) & 0xff00ff) + 0x800080;
        return (rb & 0xff00ff) | (ag & 0xff00ff00);
    }

    QRgb* bits_;
    qsizetype stride_;
    PixelRect bounds_;
    PixelRect clip_;
};

// Calls fn(glyph, x, y) for every glyph of `text` written from its
// reference point x, y along the font's reading direction, with the glyph
// mask's top-left corner. Drawing and the search for changed glyphs both go
// through here, so they agree on every position.
template <typename Fn>
void ForEachGlyph(TextFont& font, int x, int y, std::string_view text, Fn&& fn) {
    double pen = 0;
    for (char c : text) {
        const GlyphMask& g = font.Glyph(c);
        const int offset = static_cast<int>(std::lround(pen));
        fn(g, x + offset * font.stepX() + g.dx, y + offset * font.stepY() + g.dy);
        pen += font.Advance(c);
    }
}

void DrawText(Canvas& canvas, TextFont& font, int x, int y, std::string_view text, QRgb color) {
    ForEachGlyph(font, x, y, text,
                 [&](const GlyphMask& g, int gx, int gy) { canvas.Blend(g, gx, gy, color); });
}

// The decimal text of a figure.
struct Figure {
    char text[24];
    int size = 0;

    explicit Figure(long long value) {
        size = static_cast<int>(std::to_chars(text, text + sizeof text, value).ptr - text);
    }
    std::string_view view() const { return {text, static_cast<std::size_t>(size)}; }
};

void DrawWord(Canvas& canvas, TextFont& font, int x, int y, std::string_view word, QRgb color) {
    const GlyphMask& g = font.Word(word);
    canvas.Blend(g, x + g.dx, y + g.dy, color);
}

PixelRect Unite(PixelRect a, PixelRect b) {
    if (a.Empty()) {
        return b;
    }
    if (b.Empty()) {
        return a;
    }
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

bool Overlap(PixelRect a, PixelRect b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Adds to `box` the ink of every glyph of `a` and of `b`, both written from
// x, y, from the first character where they differ on: the glyphs before it
// are the same in the same places.
void TextChange(TextFont& font, int x, int y, std::string_view a, std::string_view b,
                PixelRect& box) {
    std::size_t same = 0;
    while (same < a.size() && same < b.size() && a[same] == b[same]) {
        ++same;
    }
    if (same == a.size() && same == b.size()) {
        return;
    }
    for (std::string_view text : {a, b}) {
        std::size_t n = 0;
        ForEachGlyph(font, x, y, text, [&](const GlyphMask& g, int gx, int gy) {
            if (n++ >= same) {
                box = Unite(box, {gx, gy, gx + g.width, gy + g.height});
            }
        });
    }
}

long long Area(const PixelRect& r) {
    return r.Empty() ? 0 : static_cast<long long>(r.Width()) * r.Height();
}

// Adds r to the rectangles of one head from `first` on, which together cover
// all that changed there. The screen pays for every rectangle asked of it
// (about as much as for copying a few thousand pixels) as well as for the
// pixels, so r joins a rectangle already there when their union wastes fewer
// pixels than that, or than the two hold: changed figures of neighbouring
// channels gather into strips, bar tops nearby into blocks. A head keeps at
// most kMaxHeadDamage rectangles.
constexpr std::size_t kMaxHeadDamage = 48;
constexpr long long kMergeSlack = 2048;

void Gather(std::vector<PixelRect>& list, std::size_t first, PixelRect r) {
    std::size_t cheapest = first;
    long long cheapestGrowth = -1;
    for (std::size_t n = first; n < list.size(); ++n) {
        const long long united = Area(Unite(list[n], r));
        const long long parts = Area(list[n]) + Area(r);
        if (united - parts <= std::max(kMergeSlack, parts)) {
            list[n] = Unite(list[n], r);
            return;
        }
        if (cheapestGrowth < 0 || united - Area(list[n]) < cheapestGrowth) {
            cheapestGrowth = united - Area(list[n]);
            cheapest = n;
        }
    }
    if (list.size() - first < kMaxHeadDamage) {
        list.push_back(r);
    } else {
        list[cheapest] = Unite(list[cheapest], r);
    }
}

// The coverage of `mask` widened by r pixels in every direction (the
// largest coverage within a square of 2r + 1 pixels), r pixels larger on
// each side. Rows first, then columns.
GlyphMask Widen(const GlyphMask& mask, int r) {
    GlyphMask out;
    if (mask.width == 0 || mask.height == 0) {
        return out;
    }
    out.dx = mask.dx - r;
    out.dy = mask.dy - r;
    out.width = mask.width + 2 * r;
    out.height = mask.height + 2 * r;
    const auto at = [](int x, int y, int width) {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
               static_cast<std::size_t>(x);
    };
    // Along the rows: row y of `mask` is row y + r of `rows`.
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(out.width) * out.height, 0);
    for (int y = 0; y < mask.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            std::uint8_t m = 0;
            for (int sx = std::max(0, x - 2 * r); sx <= std::min(mask.width - 1, x); ++sx) {
                m = std::max(m, mask.alpha[at(sx, y, mask.width)]);
            }
            rows[at(x, y + r, out.width)] = m;
        }
    }
    out.alpha.assign(rows.size(), 0);
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            std::uint8_t m = 0;
            for (int sy = std::max(0, y - r); sy <= std::min(out.height - 1, y + r); ++sy) {
                m = std::max(m, rows[at(x, sy, out.width)]);
            }
            out.alpha[at(x, y, out.width)] = m;
        }
    }
    return out;
}

// Where a verdict word goes in its box and in which font.
struct PlacedWord {
    FontSpec spec;
    int dx = 0;  // reference point relative to the box's left edge
    bool drawn = false;
};

}  // namespace

struct GridPainter::Impl {
    GlyphCache glyphs;
    QRgb hatch[8][8] = {};
    QImage image;

    // The frame the image shows, and whether the image shows one at all.
    std::unique_ptr<GridFrame> shown = std::make_unique<GridFrame>();
    bool valid = false;

    // What a head needs besides its data, worked out at every full repaint.
    struct HeadGeometry {
        PixelRect cell;
        // Left and right of everything channel k draws: frame, column, bar,
        // figures, number cell and number.
        std::array<int, kChannels> x0{};
        std::array<int, kChannels> x1{};
        // The verdict box, the number strip and the bar area across the head.
        PixelRect verdictBox;
        PixelRect strip;
        PixelRect barArea;
        // Rows of the number cells and numbers.
        int numberTop = 0;
        int numberBottom = 0;
        TextFont* numberFont = nullptr;
    };
    HeadGrid<HeadGeometry> geometry{};
    // Fonts of the current layout; valid until the glyph cache is trimmed,
    // which forces a full repaint.
    TextFont* valueFont = nullptr;
    TextFont* diffFont = nullptr;
    // How far a figure's glyphs reach, to skip the figures a partial repaint
    // does not touch without walking their glyphs.
    struct FigureReach {
        int lo = 0;  // ink across the reading direction, from the reference point
        int hi = 0;
        int top = 0;  // ink along it, beyond the pen's positions
        int bottom = 0;
        double advance = 0;  // the widest step of the pen
    };
    FigureReach valueReach;
    FigureReach diffReach;

    // Verdict words by box size, so that a word is fitted once per size.
    struct FittedWord {
        int boxWidth;
        int boxHeight;
        HeadVerdict verdict;
        PlacedWord placed;
    };
    std::vector<FittedWord> fittedWords;
    // The same for the word of a head without data, rendered to fit, with
    // the white halo that keeps it legible on its stripes: the word's
    // coverage widened by `halo` pixels on every side.
    struct FittedMask {
        int boxWidth;
        int boxHeight;
        GlyphMask word;
        GlyphMask outline;
        int halo = 0;
    };
    std::deque<FittedMask> noDataWords;  // references stay valid
    // The idle note's lines as last rendered, and for which note, size and
    // width (the lines are broken for the window's width).
    std::string idleNoteText;
    int idleNoteSize = 0;
    int idleNoteWidth = 0;
    std::vector<GlyphMask> idleNoteLines;

    // The overlay's second image, reduced to the box of its text: outside it
    // the second image is white and the AND leaves the grid unchanged.
    QImage overlayPatch;
    FontSpec overlaySpec;
    QPoint overlayAt;

    // Rectangles of one head to draw again.
    std::vector<PixelRect> rects;

    Impl() {
        QImage tile(8, 8, QImage::Format_RGB32);
        tile.fill(kBackground);
        {
            QPainter p(&tile);
            p.fillRect(tile.rect(), QBrush(QColor::fromRgb(kHatch), Qt::DiagCrossPattern));
        }
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                hatch[y][x] = tile.pixel(x, y);
            }
        }
    }

    void Paint(const GridFrame& f, std::vector<PixelRect>* damage);
    void PaintAll(const GridFrame& f);
    bool HeadChanged(const GridFrame& f, int j, int i) const;
    void HeadDamage(const GridLayout& L, const GridFrame& f, int j, int i);
    std::uint32_t ChannelsMeeting(int j, int i, PixelRect r) const;
    void ComputeGeometry(const GridLayout& L, const GridFrame& f);
    void DrawIdle(Canvas& c, const GridFrame& f);
    void DrawLines(Canvas& c, const GridLayout& L);
    void DrawHead(Canvas& c, const GridLayout& L, const GridFrame& f, int j, int i,
                  std::uint32_t channels);
    void DrawUnder(Canvas& c, const GridLayout& L, const GridFrame& f, int j, int i,
                   std::uint32_t channels);
    void DrawOver(Canvas& c, const GridLayout& L, const GridFrame& f, int j, int i,
                  std::uint32_t channels);
    void DrawVerdict(Canvas& c, HeadVerdict verdict, const PixelRect& box);
    PlacedWord PlaceVerdictWord(const PixelRect& box, HeadVerdict verdict, const char* word);
    const FittedMask& NoDataWord(const PixelRect& box);
    void PrepareOverlay(const GridFrame& f);
};

namespace {

// Everything of the frame that a full repaint depends on as a whole.
bool SameLayout(const GridFrame& a, const GridFrame& b) {
    return a.clientWidth == b.clientWidth && a.clientHeight == b.clientHeight &&
           a.columns == b.columns && a.rows == b.rows && a.showVerdictRow == b.showVerdictRow &&
           a.fpcTest == b.fpcTest && a.idleNote == b.idleNote;
}

bool HasBar(std::uint8_t mode) {
    return mode == Tested || mode == Greyed;
}

// Tested channels and no data from the board: the values shown are stale
// (or were never read), and the head is striped. The verdict row need not be
// shown, so this is told from the head itself, as its NoData verdict is.
bool WithoutData(const HeadSlot& h) {
    return !h.hasData && std::find(h.mode.begin(), h.mode.end(), Tested) != h.mode.end();
}

template <typename Fn>
void ForEachChannel(std::uint32_t channels, Fn&& fn) {
    for (std::uint32_t m = channels; m != 0; m &= m - 1) {
        fn(std::countr_zero(m));
    }
}

// A Tested channel left unjudged (its head has no data) takes `unjudged`:
// never the colour of a channel within its limits.
QRgb ClassColor(ChannelClass c, QRgb over, QRgb under, QRgb within, QRgb unjudged) {
    switch (c) {
        case ChannelClass::Over:
            return over;
        case ChannelClass::Under:
            return under;
        case ChannelClass::Unjudged:
            return unjudged;
        case ChannelClass::Within:
            break;
    }
    return within;
}

}  // namespace

void GridPainter::Impl::Paint(const GridFrame& f, std::vector<PixelRect>* damage) {
    if (damage != nullptr) {
        damage->clear();
    }
    if (f.clientWidth <= 0 || f.clientHeight <= 0) {
        image = QImage();
        valid = false;
        return;
    }
    if (!valid || !SameLayout(f, *shown) || image.width() != f.clientWidth ||
        image.height() != f.clientHeight) {
        // Fonts pile up only as the size or layout changes: the cache is
        // emptied, when it has grown, only before a full repaint, which makes
        // all the fonts it needs afresh.
        if (glyphs.Trim()) {
            fittedWords.clear();
            noDataWords.clear();
            overlayPatch = QImage();
        }
        PaintAll(f);
        if (damage != nullptr) {
            damage->push_back({0, 0, f.clientWidth, f.clientHeight});
        }
        return;
    }

    const GridLayout L = f.Layout();
    Canvas c(image);
    const bool overlay = f.passOverlay && !overlayPatch.isNull();
    // The overlay coming or going changes the pixels under its letters only,
    // grid lines included: that rectangle is drawn again as a full repaint
    // draws it.
    if (f.passOverlay != shown->passOverlay && !overlayPatch.isNull()) {
        const PixelRect r =
            Canvas::Intersect({overlayAt.x(), overlayAt.y(), overlayAt.x() + overlayPatch.width(),
                               overlayAt.y() + overlayPatch.height()},
                              {0, 0, f.clientWidth, f.clientHeight});
        if (!r.Empty()) {
            c.SetClip(r);
            c.Fill(r, kBackground);
            DrawLines(c, L);
            for (int i = 0; i < f.rows; ++i) {
                for (int j = 0; j < f.columns; ++j) {
                    const PixelRect part = Canvas::Intersect(r, geometry[j][i].cell);
                    if (!part.Empty()) {
                        c.SetClip(part);
                        DrawHead(c, L, f, j, i, ChannelsMeeting(j, i, part));
                    }
                }
            }
            c.SetClip(r);
            if (overlay) {
                c.And(overlayPatch, overlayAt.x(), overlayAt.y());
            }
            c.ResetClip();
            if (damage != nullptr) {
                damage->push_back(r);
            }
        }
    }
    for (int i = 0; i < f.rows; ++i) {
        for (int j = 0; j < f.columns; ++j) {
            if (!HeadChanged(f, j, i)) {
                continue;
            }
            const HeadGeometry& g = geometry[j][i];
            rects.clear();
            HeadDamage(L, f, j, i);
            const std::size_t firstOfHead = damage != nullptr ? damage->size() : 0;
            for (const PixelRect& d : rects) {
                const PixelRect r = Canvas::Intersect(d, g.cell);
                if (r.Empty()) {
                    continue;
                }
                c.SetClip(r);
                c.Fill(r, kBackground);
                DrawHead(c, L, f, j, i, ChannelsMeeting(j, i, r));
                if (overlay) {
                    c.And(overlayPatch, overlayAt.x(), overlayAt.y());
                }
                if (damage != nullptr) {
                    Gather(*damage, firstOfHead, r);
                }
            }
            shown->heads[j][i] = f.heads[j][i];
            shown->classes[j][i] = f.classes[j][i];
            shown->verdicts[j][i] = f.verdicts[j][i];
        }
    }
    shown->passOverlay = f.passOverlay;
}

void GridPainter::Impl::PaintAll(const GridFrame& f) {
    if (image.width() != f.clientWidth || image.height() != f.clientHeight) {
        image = QImage(f.clientWidth, f.clientHeight, QImage::Format_RGB32);
    }
    const GridLayout L = f.Layout();
    ComputeGeometry(L, f);
    // Ready whether it shows or not: it may come with any later frame.
    if (f.columns > 1 && f.rows > 1) {
        PrepareOverlay(f);
    }
    Canvas c(image);
    if (f.rows == 0 && f.columns == 0) {
        DrawIdle(c, f);
    } else {
        c.Fill({0, 0, f.clientWidth, f.clientHeight}, kBackground);
    }
    DrawLines(c, L);
    for (int i = 0; i < f.rows; ++i) {
        for (int j = 0; j < f.columns; ++j) {
            c.SetClip(geometry[j][i].cell);
            DrawHead(c, L, f, j, i, ~std::uint32_t{0});
        }
    }
    c.ResetClip();
    if (f.passOverlay && !overlayPatch.isNull()) {
        c.And(overlayPatch, overlayAt.x(), overlayAt.y());
    }
    *shown = f;
    valid = true;
}

// Only what the picture is drawn from counts: green marks show only while
// the FPC test is on, verdicts only with the verdict row.
bool GridPainter::Impl::HeadChanged(const GridFrame& f, int j, int i) const {
    const HeadSlot& n = f.heads[j][i];
    const HeadSlot& o = shown->heads[j][i];
    if (n.value != o.value || n.reference != o.reference || n.upper != o.upper ||
        n.lower != o.lower || n.mode != o.mode || n.rangeMax != o.rangeMax ||
        n.rangeMin != o.rangeMin || f.classes[j][i] != shown->classes[j][i]) {
        return true;
    }
    if (f.showVerdictRow && f.verdicts[j][i] != shown->verdicts[j][i]) {
        return true;
    }
    if (WithoutData(n) != WithoutData(o)) {
        return true;
    }
    return f.fpcTest != 0 && n.greenMark != o.greenMark;
}

// The rectangles of head (j, i) whose pixels may differ between the frame
// shown and `f`. A channel whose value alone moved changes only where its
// bar's top moved and where its figures' glyphs differ; a new class changes
// its difference figure and number cell; any other change of a channel takes
// its whole width, a new range or the stripes of a head without data coming
// or going the whole head.
void GridPainter::Impl::HeadDamage(const GridLayout& L, const GridFrame& f, int j, int i) {
    const HeadSlot& n = f.heads[j][i];
    const HeadSlot& o = shown->heads[j][i];
    const HeadGeometry& g = geometry[j][i];
    if (n.rangeMax != o.rangeMax || n.rangeMin != o.rangeMin || WithoutData(n) != WithoutData(o)) {
        rects.push_back(g.cell);
        return;
    }
    if (f.showVerdictRow && f.verdicts[j][i] != shown->verdicts[j][i]) {
        rects.push_back(g.verdictBox);
    }
    const auto& nc = f.classes[j][i];
    const auto& oc = shown->classes[j][i];
    const bool fpc = f.fpcTest != 0;
    const bool scale = GridLayout::HasScale(n.rangeMax, n.rangeMin);
    const int top = L.BarTop(i);
    const int bottom = L.BarBottom(i);
    const double chW = L.chW();
    for (int k = 0; k < kChannels; ++k) {
        const bool markN = fpc && n.greenMark[k] != 0;
        const bool markO = fpc && o.greenMark[k] != 0;
        if (n.mode[k] != o.mode[k] || n.upper[k] != o.upper[k] || n.lower[k] != o.lower[k] ||
            n.reference[k] != o.reference[k] || markN != markO) {
            rects.push_back({g.x0[k], g.cell.top, g.x1[k], g.cell.bottom});
            continue;
        }
        if (nc[k] != oc[k]) {
            rects.push_back({g.x0[k], g.cell.top, g.x1[k], g.cell.bottom});
        }
        if (n.value[k] == o.value[k] || !HasBar(n.mode[k])) {
            continue;
        }
        if (scale) {
            const int nt = Trunc(top + L.Level(n.value[k], n.rangeMax, n.rangeMin));
            const int ot = Trunc(top + L.Level(o.value[k], n.rangeMax, n.rangeMin));
            if (nt != ot) {
                // A greyed bar's outline moves with its top: one row more.
                const PixelRect bar = L.ValueBar(j, i, k, 0);
                rects.push_back({bar.left, std::min(nt, ot), bar.right, std::max(nt, ot) + 1});
            }
        }
        if (n.mode[k] != Tested || nc[k] != oc[k]) {
            continue;
        }
        PixelRect text;
        if (valueFont != nullptr) {
            TextChange(*valueFont, Trunc(L.ColumnLeft(j, k) + chW / 8), bottom - 1,
                       Figure(o.value[k]).view(), Figure(n.value[k]).view(), text);
            if (!text.Empty()) {
                rects.push_back(text);
            }
        }
        text = {};
        if (diffFont != nullptr) {
            const long long nd = static_cast<long long>(n.value[k]) - n.reference[k];
            const long long od = static_cast<long long>(o.value[k]) - o.reference[k];
            TextChange(*diffFont, Trunc(L.ColumnLeft(j, k) + chW * 2 / 3 + chW / 8), top + 1,
                       Figure(od).view(), Figure(nd).view(), text);
            if (!text.Empty()) {
                rects.push_back(text);
            }
        }
    }
}

// The channels of head (j, i) that may draw into r.
std::uint32_t GridPainter::Impl::ChannelsMeeting(int j, int i, PixelRect r) const {
    const HeadGeometry& g = geometry[j][i];
    std::uint32_t channels = 0;
    for (int k = 0; k < kChannels; ++k) {
        channels |= static_cast<std::uint32_t>(g.x0[k] < r.right && r.left < g.x1[k]) << k;
    }
    return channels;
}

void GridPainter::Impl::ComputeGeometry(const GridLayout& L, const GridFrame& f) {
    const double chW = L.chW();
    const int figureHeight = Trunc(chW * 2 / 3);
    const int figureWidth = f.rows > 1 ? 5 : 8;
    valueFont = glyphs.Font({FontFace::Arial, figureHeight, figureWidth, 90});
    diffFont = glyphs.Font({FontFace::Arial, figureHeight, figureWidth, 270});
    // Rotated figures run along the column: every glyph of one figure has the
    // same left and right whatever the pen, so the extremes over all the
    // characters a figure can have bound it; along the column the pen moves
    // by at most the widest advance per character.
    const auto reach = [](TextFont* font) {
        FigureReach r;
        if (font == nullptr) {
            return r;
        }
        bool any = false;
        for (char ch : std::string_view("-0123456789")) {
            r.advance = std::max(r.advance, font->Advance(ch));
            const GlyphMask& m = font->Glyph(ch);
            if (m.width == 0) {
                continue;
            }
            r.lo = any ? std::min(r.lo, m.dx) : m.dx;
            r.hi = any ? std::max(r.hi, m.dx + m.width) : m.dx + m.width;
            r.top = any ? std::min(r.top, m.dy) : m.dy;
            r.bottom = any ? std::max(r.bottom, m.dy + m.height) : m.dy + m.height;
            any = true;
        }
        return r;
    };
    valueReach = reach(valueFont);
    diffReach = reach(diffFont);

    for (int i = 0; i < f.rows; ++i) {
        for (int j = 0; j < f.columns; ++j) {
            HeadGeometry& g = geometry[j][i];
            g.cell = L.CellInterior(j, i);
            g.verdictBox = L.VerdictBox(j, i);
            g.strip = L.NumberStrip(j, i);
            g.barArea = L.BarArea(j, i);
            const PixelRect& strip = g.strip;
            g.numberFont = glyphs.Font({FontFace::Arial, strip.Height(), strip.Width() / 128, 0});
            g.numberTop = L.NumberCell(j, i, 0).top;
            g.numberBottom = L.NumberCell(j, i, 0).bottom;
            for (int k = 0; k < kChannels; ++k) {
                const PixelRect frame = L.ChannelFrame(j, i, k);
                const GridLayout::Span span = L.ColumnSpan(j, k);
                const PixelRect bar = L.ValueBar(j, i, k, 0);
                int lo = std::min({frame.left, span.left, bar.left});
                int hi = std::max({frame.right, span.right, bar.right});
                if (valueFont != nullptr) {
                    const int x = Trunc(L.ColumnLeft(j, k) + chW / 8);
                    lo = std::min(lo, x + valueReach.lo);
                    hi = std::max(hi, x + valueReach.hi);
                }
                if (diffFont != nullptr) {
                    const int x = Trunc(L.ColumnLeft(j, k) + chW * 2 / 3 + chW / 8);
                    lo = std::min(lo, x + diffReach.lo);
                    hi = std::max(hi, x + diffReach.hi);
                }
                if (g.numberFont != nullptr) {
                    const char digits[2] = {static_cast<char>('0' + k / 10),
                                            static_cast<char>('0' + k % 10)};
                    const PixelRect cell = L.NumberCell(j, i, k);
                    ForEachGlyph(*g.numberFont, cell.left + 1, cell.top - 1,
                                 std::string_view(digits, 2),
                                 [&](const GlyphMask& m, int gx, int gy) {
                                     if (m.width > 0) {
                                         lo = std::min(lo, gx);
                                         hi = std::max(hi, gx + m.width);
                                         g.numberTop = std::min(g.numberTop, gy);
                                         g.numberBottom = std::max(g.numberBottom, gy + m.height);
                                     }
                                 });
                }
                g.x0[k] = lo;
                g.x1[k] = hi;
            }
        }
    }
}

void GridPainter::Impl::DrawIdle(Canvas& c, const GridFrame& f) {
    c.Fill({0, 0, f.clientWidth, f.clientHeight}, kIdleBackground);
    const int fontHeight = f.clientHeight / 5;
    const int fontWidth = f.clientWidth / 37;
    TextFont* font = glyphs.Font({FontFace::ArialBlack, fontHeight, fontWidth, 0});
    if (font == nullptr) {
        return;
    }
    const int x = (f.clientWidth - 32 * fontWidth) / 2;
    const int y = Trunc(f.clientHeight - 1.5 * fontHeight) / 2;
    // The first pass is in the background colour; only the second, offset by
    // ten pixels, shows.
    DrawWord(c, *font, x, y, kIdleTitle, kIdleTitleFirst);
    DrawWord(c, *font, x + 10, y + 10, kIdleTitle, kIdleTitleSecond);

    // The note under the title, every line centred: the first one names the
    // case, the others say what to do.
    if (f.idleNote.empty()) {
        return;
    }
    const int size = std::clamp(f.clientHeight / 26, 12, 40);
    // A line wider than the window (a narrow screen, the longer English)
    // goes on to the next, broken where the language allows.
    const int width = std::max(f.clientWidth - 2 * size, size);
    if (f.idleNote != idleNoteText || size != idleNoteSize || width != idleNoteWidth) {
        idleNoteText = f.idleNote;
        idleNoteSize = size;
        idleNoteWidth = width;
        idleNoteLines.clear();
        const QStringList lines = QString::fromStdString(f.idleNote).split(QLatin1Char('\n'));
        for (int k = 0; k < lines.size(); ++k) {
            // The first line a little larger than the ones that follow.
            const QFont font = ChineseFont(k == 0 ? size * 5 / 4 : size);
            QTextLayout layout(lines[k], font);
            layout.beginLayout();
            for (QTextLine part = layout.createLine(); part.isValid(); part = layout.createLine()) {
                part.setLineWidth(width);
                idleNoteLines.push_back(
                    RenderText(font, lines[k].mid(part.textStart(), part.textLength()).trimmed()));
            }
            layout.endLayout();
        }
    }
    int lineTop = y + 10 + fontHeight + size;
    for (const GlyphMask& line : idleNoteLines) {
        c.Blend(line, (f.clientWidth - line.width) / 2, lineTop, kIdleNote);
        lineTop += std::max(line.height, size) + size / 2;
    }
}

void GridPainter::Impl::DrawLines(Canvas& c, const GridLayout& L) {
    const int width = L.clientWidth();
    const int height = L.clientHeight();
    // At y = 0, H / rows, 2 H / rows ... while inside the window; with no rows
    // only the top edge. The count bound only matters for a window so small
    // that the step is 0.
    c.Fill({0, 0, width, 1}, kFrame);
    for (int n = 1; L.rows() > 0 && n <= 4 * L.rows() + 4; ++n) {
        const double y = n * L.H() / L.rows();
        if (!(y < height)) {
            break;
        }
        const int row = Trunc(y);
        c.Fill({0, row, width, row + 1}, kFrame);
    }
    c.Fill({0, 0, 1, height}, kFrame);
    for (int n = 1; L.columns() > 0 && n <= 4 * L.columns() + 4; ++n) {
        const double x = n * L.W() / L.columns();
        if (!(x < width)) {
            break;
        }
        const int column = Trunc(x);
        c.Fill({column, 0, column + 1, height}, kFrame);
    }
}

// Head (j, i) within the canvas's clip, for the channels whose bits are set
// (the others must not reach into the clip): what lies under the figures,
// then the figures and what comes after them.
void GridPainter::Impl::DrawHead(Canvas& c, const GridLayout& L, const GridFrame& f, int j, int i,
                                 std::uint32_t channels) {
    DrawUnder(c, L, f, j, i, channels);
    DrawOver(c, L, f, j, i, channels);
}

// Frames, then bands, bars, reference markers and hatching, each pass over
// all the channels before the next. Frames are outlined and filled white; the
// area is white already (the background, or the white a partial repaint
// starts from), and the frames of one head do not meet, so only the outlines
// need writing.
void GridPainter::Impl::DrawUnder(Canvas& c, const GridLayout& L, const GridFrame& f, int j, int i,
                                  std::uint32_t channels) {
    const HeadGeometry& g = geometry[j][i];
    const PixelRect clip = c.clip();
    if (L.verdictRow() && Overlap(g.verdictBox, clip)) {
        c.Outline(g.verdictBox, kFrame);
    }
    if (Overlap(g.strip, clip)) {
        c.Outline(g.strip, kFrame);
    }
    ForEachChannel(channels, [&](int k) { c.Outline(L.ChannelFrame(j, i, k), kFrame); });

    const HeadSlot& h = f.heads[j][i];
    const int top = L.BarTop(i);
    const int bottom = L.BarBottom(i);
    // Bands, bars and markers need the head's scale; an empty range has none.
    // They lie between the bar area's top (a marker up to two rows above it)
    // and its bottom.
    if (GridLayout::HasScale(h.rangeMax, h.rangeMin) && top - 2 < clip.bottom &&
        clip.top < bottom + 1) {
        const auto level = [&](std::int32_t v) { return L.Level(v, h.rangeMax, h.rangeMin); };
        double upper[kChannels];
        double lower[kChannels];
        GridLayout::Span span[kChannels];
        ForEachChannel(channels, [&](int k) {
            upper[k] = level(h.upper[k]);
            lower[k] = level(h.lower[k]);
            span[k] = L.ColumnSpan(j, k);
        });
        ForEachChannel(channels, [&](int k) {
            if (upper[k] > 0) {
                c.Fill({span[k].left, top, span[k].right, Trunc(top + upper[k])}, kOver);
            }
        });
        ForEachChannel(channels, [&](int k) {
            if (lower[k] > 0) {
                c.Fill({span[k].left, Trunc(top + lower[k]), span[k].right, bottom}, kUnder);
            }
        });
        ForEachChannel(channels, [&](int k) {
            if (upper[k] > 0 || lower[k] > 0) {
                const int u = Trunc(top + upper[k]);
                c.Fill({span[k].left, u, span[k].right, Trunc(u + lower[k] - upper[k])}, kWithin);
            }
        });
        ForEachChannel(channels, [&](int k) {
            if (!HasBar(h.mode[k])) {
                return;
            }
            const PixelRect bar = L.ValueBar(j, i, k, level(h.value[k]));
            if (h.mode[k] == Tested) {
                const bool marked = h.greenMark[k] != 0 && f.fpcTest != 0;
                c.Fill(bar, marked ? kMarkedBar : kValueBar);
            } else {
                c.OutlineFilled(bar, kFrame, kGreyedBar);
            }
        });
        ForEachChannel(channels, [&](int k) {
            const double ref = level(h.reference[k]);
            if (ref > 0) {
                const int y = Trunc(top + ref - 2);
                c.Fill({span[k].left, y, span[k].right, y + 2}, kReference);
            }
        });
    }

    if (top < clip.bottom && clip.top < bottom) {
        ForEachChannel(channels, [&](int k) {
            if ((h.mode[k] & 1) != 0) {
                c.OutlineHatched(L.ChannelColumn(j, i, k), kFrame, hatch);
            }
        });
    }
}

// Value figures, difference figures, number cells with their numbers, the
// stripes over a head without data, then the verdict.
void GridPainter::Impl::DrawOver(Canvas& c, const GridLayout& L, const GridFrame& f, int j, int i,
                                 std::uint32_t channels) {
    const HeadSlot& h = f.heads[j][i];
    const auto& classes = f.classes[j][i];
    const HeadGeometry& g = geometry[j][i];
    const int top = L.BarTop(i);
    const int bottom = L.BarBottom(i);
    const double chW = L.chW();
    const PixelRect clip = c.clip();
    // The value reads upward from the bottom, the difference downward from
    // the top. A partial repaint touches a few rows of a channel or two:
    // figures that cannot reach the clip are skipped before their glyphs are
    // walked.
    const auto meets = [&clip](const FigureReach& r, int y, int step, const Figure& figure) {
        const int along = static_cast<int>(figure.size * r.advance) + 1;
        return step < 0 ? y - along + r.top < clip.bottom && clip.top < y + r.bottom
                        : y + r.top < clip.bottom && clip.top < y + along + r.bottom;
    };
    if (valueFont != nullptr) {
        ForEachChannel(channels, [&](int k) {
            if (h.mode[k] != Tested) {
                return;
            }
            const Figure figure(h.value[k]);
            if (meets(valueReach, bottom - 1, valueFont->stepY(), figure)) {
                DrawText(c, *valueFont, Trunc(L.ColumnLeft(j, k) + chW / 8), bottom - 1,
                         figure.view(), kValueFigure);
            }
        });
    }
    if (diffFont != nullptr) {
        ForEachChannel(channels, [&](int k) {
            if (h.mode[k] != Tested) {
                return;
            }
            // Widened: two arbitrary int32 values may not have an int32 difference.
            const Figure figure(static_cast<long long>(h.value[k]) - h.reference[k]);
            if (meets(diffReach, top + 1, diffFont->stepY(), figure)) {
                DrawText(c, *diffFont, Trunc(L.ColumnLeft(j, k) + chW * 2 / 3 + chW / 8), top + 1,
                         figure.view(),
                         ClassColor(classes[k], kDiffOver, kDiffUnder, kDiffWithin, kDiffUnjudged));
            }
        });
    }

    if (g.numberTop < clip.bottom && clip.top < g.numberBottom) {
        ForEachChannel(channels, [&](int k) {
            const PixelRect cell = L.NumberCell(j, i, k);
            if (h.mode[k] == Tested) {
                c.Fill(cell, ClassColor(classes[k], kOver, kUnder, kWithin, kUnjudged));
            } else {
                c.OutlineHatched(cell, kFrame, hatch);
            }
            if (g.numberFont != nullptr) {
                const char digits[2] = {static_cast<char>('0' + k / 10),
                                        static_cast<char>('0' + k % 10)};
                DrawText(c, *g.numberFont, cell.left + 1, cell.top - 1, std::string_view(digits, 2),
                         kChannelNumber);
            }
        });
    }

    // Over everything in the bar area, so that nobody reads the figures and
    // bars underneath as live.
    if (WithoutData(h)) {
        c.Stripes(g.barArea, kNoDataHatch);
    }

    if (f.showVerdictRow && Overlap(g.verdictBox, clip)) {
        DrawVerdict(c, f.verdicts[j][i], g.verdictBox);
    }
}

void GridPainter::Impl::DrawVerdict(Canvas& c, HeadVerdict verdict, const PixelRect& box) {
    const PixelRect inner{box.left + 2, box.top + 2, box.right - 2, box.bottom - 2};
    const char* word = "PASS";
    QRgb textColor = kPassText;
    switch (verdict) {
        case HeadVerdict::Fail:
            c.Fill(inner, kOver);
            word = "FAIL";
            textColor = kFailText;
            break;
        case HeadVerdict::Pass:
            c.Fill(inner, kWithin);
            break;
        case HeadVerdict::Load:
            c.FillPattern(inner, hatch);
            word = "LOAD";
            textColor = kLoadText;
            break;
        case HeadVerdict::NoData: {
            // Striped like the bar area above it, the word centred on a thin
            // white halo that the stripes do not cross.
            c.Fill(inner, kBackground);
            c.Stripes(inner, kNoDataHatch);
            const FittedMask& w = NoDataWord(box);
            const int x = inner.left + (inner.Width() - w.word.width) / 2;
            const int y = inner.top + (inner.Height() - w.word.height) / 2;
            const PixelRect clip = c.clip();
            c.SetClip(Canvas::Intersect(clip, inner));
            c.Blend(w.outline, x - w.halo, y - w.halo, kBackground);
            c.Blend(w.word, x, y, kNoDataText);
            c.SetClip(clip);
            return;
        }
    }
    const PlacedWord placed = PlaceVerdictWord(box, verdict, word);
    if (!placed.drawn) {
        return;
    }
    if (TextFont* font = glyphs.Font(placed.spec)) {
        DrawWord(c, *font, box.left + placed.dx, box.top + 1, word, textColor);
    }
}

// The word is written in a font as high as the box less two pixels and 30
// pixels wide on average, from 90 pixels left of the box's centre. That suits
// boxes of some 180 pixels and more; in a narrower box (10 heads across a
// window narrower than some 1900 pixels) the word would run into the
// neighbouring heads. Where the word's ink does not lie inside the box's
// coloured fill, it is moved in just far enough, and where it is wider than
// the fill, it is written in a narrower font that fits, centred.
PlacedWord GridPainter::Impl::PlaceVerdictWord(const PixelRect& box, HeadVerdict verdict,
                                               const char* word) {
    for (const FittedWord& w : fittedWords) {
        if (w.boxWidth == box.Width() && w.boxHeight == box.Height() && w.verdict == verdict) {
            return w.placed;
        }
    }
    PlacedWord placed;
    placed.spec = {FontFace::Arial, box.Height() - 2, 30, 0};
    placed.dx = box.Width() / 2 - 90;
    const int availLeft = 2;
    const int availRight = box.Width() - 2;
    const int avail = availRight - availLeft;
    if (TextFont* font = glyphs.Font(placed.spec)) {
        const GlyphMask& g = font->Word(word);
        const int inkLeft = placed.dx + g.dx;
        if (g.width == 0 || (inkLeft >= availLeft && inkLeft + g.width <= availRight)) {
            placed.drawn = true;
        } else if (g.width <= avail) {
            placed.dx += std::clamp(inkLeft, availLeft, availRight - g.width) - inkLeft;
            placed.drawn = true;
        } else if (avail > 0) {
            // Ink width follows the average width closely; a few steps down
            // from the proportional guess settle the rounding.
            for (int width = std::min(29, 30 * avail / g.width); width >= 1; --width) {
                const FontSpec spec{FontFace::Arial, box.Height() - 2, width, 0};
                TextFont* narrow = glyphs.Font(spec);
                if (narrow == nullptr) {
                    break;
                }
                const GlyphMask& n = narrow->Word(word);
                if (n.width <= avail) {
                    placed.spec = spec;
                    placed.dx = availLeft + (avail - n.width) / 2 - n.dx;
                    placed.drawn = true;
                    break;
                }
            }
        }
    }
    fittedWords.push_back({box.Width(), box.Height(), verdict, placed});
    return placed;
}

// The word of a head without data, in the station's language (chosen once
// at the start, so the fitted words stay valid), as large as the box's fill
// allows: the CJK face's ink is a little less than its pixel size high, and
// its three characters are three times as wide, so one or two tries settle
// it. Empty when the box has no room.
const GridPainter::Impl::FittedMask& GridPainter::Impl::NoDataWord(const PixelRect& box) {
    for (const FittedMask& w : noDataWords) {
        if (w.boxWidth == box.Width() && w.boxHeight == box.Height()) {
            return w;
        }
    }
    const int availWidth = box.Width() - 4;
    const int availHeight = box.Height() - 4;
    GlyphMask fitted;
    const QString word = QCoreApplication::translate("GridPainter", kNoDataWord);
    int size = availHeight;
    for (int attempt = 0; attempt < 8 && size >= 1 && availWidth >= 1; ++attempt) {
        GlyphMask m = RenderText(ChineseFont(size), word);
        if (m.width == 0) {
            break;
        }
        if (m.width <= availWidth && m.height <= availHeight) {
            fitted = std::move(m);
            break;
        }
        const double shrink = std::min(static_cast<double>(availWidth) / m.width,
                                       static_cast<double>(availHeight) / m.height);
        size = std::min(size - 1, static_cast<int>(size * shrink));
    }
    const int halo = std::max(1, fitted.height / 16);
    GlyphMask outline = Widen(fitted, halo);
    noDataWords.push_back({box.Width(), box.Height(), std::move(fitted), std::move(outline), halo});
    return noDataWords.back();
}

void GridPainter::Impl::PrepareOverlay(const GridFrame& f) {
    const int fontHeight = f.clientHeight / 5;
    const int fontWidth = f.clientWidth / 9;
    const FontSpec spec{FontFace::ArialBlack, fontHeight, fontWidth, 0};
    TextFont* font = glyphs.Font(spec);
    if (font == nullptr) {
        overlayPatch = QImage();
        return;
    }
    const int x = Trunc(f.clientWidth - 4 * fontWidth * 1.3) / 2;
    const int y = Trunc(f.clientHeight - 1.5 * fontHeight) / 2;
    const GlyphMask& g = font->Word("PASS");
    if (overlayPatch.isNull() || !(overlaySpec == spec)) {
        overlaySpec = spec;
        overlayPatch = QImage(std::max(g.width, 1), std::max(g.height, 1), QImage::Format_RGB32);
        overlayPatch.fill(kBackground);
        Canvas patch(overlayPatch);
        patch.Blend(g, 0, 0, kPassOverlay);
    }
    overlayAt = QPoint(x + g.dx, y + g.dy);
}

GridPainter::GridPainter() : impl_(std::make_unique<Impl>()) {}
GridPainter::~GridPainter() = default;

const QImage& GridPainter::Paint(const GridFrame& frame, std::vector<PixelRect>* damage) {
    impl_->Paint(frame, damage);
    return impl_->image;
}

void GridPainter::Invalidate() {
    impl_->valid = false;
}

const QImage& GridPainter::image() const {
    return impl_->image;
}

QImage RenderGrid(GridModel& model, QSize size) {
    auto frame = std::make_unique<GridFrame>();
    model.Evaluate(size.width(), size.height(), *frame);
    GridPainter painter;
    return painter.Paint(*frame);
}

}  // namespace kx

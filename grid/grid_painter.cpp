#include "grid/grid_painter.h"

#include <QBrush>
#include <QColor>
#include <QPainter>
#include <algorithm>
#include <charconv>
#include <cmath>

namespace kx {

namespace {

using namespace grid_colors;

// Direct access to an RGB32 image: solid and patterned rectangle fills,
// outlines, lines and coloured glyph masks, all clipped to the image.
class Canvas {
public:
    explicit Canvas(QImage& image)
        : bits_(reinterpret_cast<QRgb*>(image.bits())),
          stride_(image.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb))),
          width_(image.width()),
          height_(image.height()) {}

    QRgb* Line(int y) const { return bits_ + y * stride_; }

    PixelRect Clip(PixelRect r) const {
        return {std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, width_),
                std::min(r.bottom, height_)};
    }

    bool Inside(PixelRect r) const {
        return r.left >= 0 && r.top >= 0 && r.right <= width_ && r.bottom <= height_;
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

    void OutlineHatched(PixelRect r, QRgb pen, const QRgb (&tile)[8][8]) {
        FillPattern(Interior(r), tile);
        Outline(r, pen);
    }

    // Blends `color` through the mask placed with its top-left corner at x, y.
    void Blend(const GlyphMask& mask, int x, int y, QRgb color) {
        const int x0 = std::max(x, 0);
        const int y0 = std::max(y, 0);
        const int x1 = std::min(x + mask.width, width_);
        const int y1 = std::min(y + mask.height, height_);
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
    static void FillSpan(QRgb* p, int w, QRgb color) {
        switch (w) {
            case 1:
                p[0] = color;
                return;
            case 2:
                p[0] = p[1] = color;
                return;
            case 3:
                p[0] = p[1] = p[2] = color;
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
                    std::fill_n(p, w, color);
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
    int width_;
    int height_;
};

// Writes text glyph by glyph from its reference point along the font's
// reading direction.
void DrawText(Canvas& canvas, TextFont& font, int x, int y, std::string_view text, QRgb color) {
    double pen = 0;
    for (char c : text) {
        const GlyphMask& g = font.Glyph(c);
        const int offset = static_cast<int>(std::lround(pen));
        canvas.Blend(g, x + offset * font.stepX() + g.dx, y + offset * font.stepY() + g.dy, color);
        pen += font.Advance(c);
    }
}

void DrawNumber(Canvas& canvas, TextFont& font, int x, int y, long long value, QRgb color) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    DrawText(canvas, font, x, y, std::string_view(buffer, result.ptr - buffer), color);
}

void DrawWord(Canvas& canvas, TextFont& font, int x, int y, std::string_view word, QRgb color) {
    const GlyphMask& g = font.Word(word);
    canvas.Blend(g, x + g.dx, y + g.dy, color);
}

}  // namespace

struct GridPainter::Impl {
    GlyphCache glyphs;
    QRgb hatch[8][8] = {};
    // The overlay's second image, reduced to the box of its text: outside it
    // the second image is white and the AND leaves the grid unchanged.
    QImage overlayPatch;
    FontSpec overlaySpec;
    QPoint overlayOffset;

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

    void Paint(const GridFrame& f, QImage& image);
    void DrawIdle(Canvas& c, const GridFrame& f);
    void DrawLines(Canvas& c, const GridLayout& L);
    void DrawHeadFrames(Canvas& c, const GridLayout& L, int j, int i);
    void DrawChannels(Canvas& c, const GridLayout& L, const GridFrame& f, int j, int i);
    void DrawVerdict(Canvas& c, const GridLayout& L, HeadVerdict verdict, int j, int i);
    void DrawOverlay(QImage& image, const GridFrame& f);
};

void GridPainter::Impl::Paint(const GridFrame& f, QImage& image) {
    if (f.clientWidth <= 0 || f.clientHeight <= 0) {
        image = QImage();
        return;
    }
    if (image.width() != f.clientWidth || image.height() != f.clientHeight ||
        image.format() != QImage::Format_RGB32) {
        image = QImage(f.clientWidth, f.clientHeight, QImage::Format_RGB32);
    }
    glyphs.Trim();
    const GridLayout L = f.Layout();
    {
        Canvas c(image);
        if (f.rows == 0 && f.columns == 0) {
            DrawIdle(c, f);
        } else {
            c.Fill({0, 0, f.clientWidth, f.clientHeight}, kBackground);
        }
        DrawLines(c, L);
        for (int i = 0; i < f.rows; ++i) {
            for (int j = 0; j < f.columns; ++j) {
                DrawHeadFrames(c, L, j, i);
            }
        }
        for (int i = 0; i < f.rows; ++i) {
            for (int j = 0; j < f.columns; ++j) {
                DrawChannels(c, L, f, j, i);
            }
        }
        if (f.showVerdictRow) {
            for (int i = 0; i < f.rows; ++i) {
                for (int j = 0; j < f.columns; ++j) {
                    DrawVerdict(c, L, f.verdicts[j][i], j, i);
                }
            }
        }
    }
    if (f.passOverlay) {
        DrawOverlay(image, f);
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

// Frames are outlined and filled white. Only the white background and the
// grid lines have been drawn so far, and the lines run between heads, outside
// every frame (each frame keeps at least a pixel from its cell's edges, and
// the frames of one head do not meet), so the interiors are still white and
// only the outlines need writing.
void GridPainter::Impl::DrawHeadFrames(Canvas& c, const GridLayout& L, int j, int i) {
    if (L.verdictRow()) {
        c.Outline(L.VerdictBox(j, i), kFrame);
    }
    c.Outline(L.NumberStrip(j, i), kFrame);
    for (int k = 0; k < kChannels; ++k) {
        c.Outline(L.ChannelFrame(j, i, k), kFrame);
    }
}

void GridPainter::Impl::DrawChannels(Canvas& c, const GridLayout& L, const GridFrame& f, int j,
                                     int i) {
    const HeadSlot& h = f.heads[j][i];
    const auto& classes = f.classes[j][i];
    const int top = L.BarTop(i);
    const int bottom = L.BarBottom(i);
    const double chW = L.chW();

    // Bands, bars and markers need the head's scale; an empty range has none.
    if (GridLayout::HasScale(h.rangeMax, h.rangeMin)) {
        const auto level = [&](std::int32_t v) { return L.Level(v, h.rangeMax, h.rangeMin); };
        double upper[kChannels];
        double lower[kChannels];
        for (int k = 0; k < kChannels; ++k) {
            upper[k] = level(h.upper[k]);
            lower[k] = level(h.lower[k]);
        }
        for (int k = 0; k < kChannels; ++k) {
            if (upper[k] > 0) {
                c.Fill({L.ColumnLeft(j, k), top, L.ColumnRight(j, k), Trunc(top + upper[k])},
                       kOver);
            }
        }
        for (int k = 0; k < kChannels; ++k) {
            if (lower[k] > 0) {
                c.Fill({L.ColumnLeft(j, k), Trunc(top + lower[k]), L.ColumnRight(j, k), bottom},
                       kUnder);
            }
        }
        for (int k = 0; k < kChannels; ++k) {
            if (upper[k] > 0 || lower[k] > 0) {
                const int u = Trunc(top + upper[k]);
                c.Fill({L.ColumnLeft(j, k), u, L.ColumnRight(j, k), Trunc(u + lower[k] - upper[k])},
                       kWithin);
            }
        }
        for (int k = 0; k < kChannels; ++k) {
            const PixelRect bar = L.ValueBar(j, i, k, level(h.value[k]));
            if (h.mode[k] == Tested) {
                const bool marked = h.greenMark[k] != 0 && f.fpcTest != 0;
                c.Fill(bar, marked ? kMarkedBar : kValueBar);
            } else if (h.mode[k] == Greyed) {
                c.OutlineFilled(bar, kFrame, kGreyedBar);
            }
        }
        for (int k = 0; k < kChannels; ++k) {
            const double ref = level(h.reference[k]);
            if (ref > 0) {
                const int y = Trunc(top + ref - 2);
                c.Fill({L.ColumnLeft(j, k), y, L.ColumnRight(j, k), y + 2}, kReference);
            }
        }
    }

    for (int k = 0; k < kChannels; ++k) {
        if ((h.mode[k] & 1) != 0) {
            c.OutlineHatched(L.ChannelColumn(j, i, k), kFrame, hatch);
        }
    }

    const int figureHeight = Trunc(chW * 2 / 3);
    const int figureWidth = f.rows > 1 ? 5 : 8;
    if (TextFont* font = glyphs.Font({FontFace::Arial, figureHeight, figureWidth, 90})) {
        for (int k = 0; k < kChannels; ++k) {
            if (h.mode[k] == Tested) {
                DrawNumber(c, *font, Trunc(L.ColumnLeft(j, k) + chW / 8), bottom - 1, h.value[k],
                           kValueFigure);
            }
        }
    }
    if (TextFont* font = glyphs.Font({FontFace::Arial, figureHeight, figureWidth, 270})) {
        for (int k = 0; k < kChannels; ++k) {
            if (h.mode[k] != Tested) {
                continue;
            }
            QRgb color = kDiffWithin;
            if (classes[k] == ChannelClass::Over) {
                color = kDiffOver;
            } else if (classes[k] == ChannelClass::Under) {
                color = kDiffUnder;
            }
            // Widened: two arbitrary int32 values may not have an int32 difference.
            const long long diff = static_cast<long long>(h.value[k]) - h.reference[k];
            DrawNumber(c, *font, Trunc(L.ColumnLeft(j, k) + chW * 2 / 3 + chW / 8), top + 1, diff,
                       color);
        }
    }

    const PixelRect strip = L.NumberStrip(j, i);
    TextFont* numberFont = glyphs.Font({FontFace::Arial, strip.Height(), strip.Width() / 128, 0});
    for (int k = 0; k < kChannels; ++k) {
        const PixelRect cell = L.NumberCell(j, i, k);
        if (h.mode[k] == Tested) {
            QRgb color = kWithin;
            if (classes[k] == ChannelClass::Over) {
                color = kOver;
            } else if (classes[k] == ChannelClass::Under) {
                color = kUnder;
            }
            c.Fill(cell, color);
        } else {
            c.OutlineHatched(cell, kFrame, hatch);
        }
        if (numberFont != nullptr) {
            const char digits[2] = {static_cast<char>('0' + k / 10),
                                    static_cast<char>('0' + k % 10)};
            DrawText(c, *numberFont, cell.left + 1, cell.top - 1, std::string_view(digits, 2),
                     kChannelNumber);
        }
    }
}

void GridPainter::Impl::DrawVerdict(Canvas& c, const GridLayout& L, HeadVerdict verdict, int j,
                                    int i) {
    const PixelRect box = L.VerdictBox(j, i);
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
    }
    if (TextFont* font = glyphs.Font({FontFace::Arial, box.Height() - 2, 30, 0})) {
        DrawWord(c, *font, box.left + box.Width() / 2 - 90, box.top + 1, word, textColor);
    }
}

void GridPainter::Impl::DrawOverlay(QImage& image, const GridFrame& f) {
    const int fontHeight = f.clientHeight / 5;
    const int fontWidth = f.clientWidth / 9;
    const FontSpec spec{FontFace::ArialBlack, fontHeight, fontWidth, 0};
    TextFont* font = glyphs.Font(spec);
    if (font == nullptr) {
        return;
    }
    if (overlayPatch.isNull() || !(overlaySpec == spec)) {
        const GlyphMask& g = font->Word("PASS");
        overlaySpec = spec;
        overlayOffset = QPoint(g.dx, g.dy);
        overlayPatch = QImage(std::max(g.width, 1), std::max(g.height, 1), QImage::Format_RGB32);
        overlayPatch.fill(kBackground);
        Canvas patch(overlayPatch);
        patch.Blend(g, 0, 0, kPassOverlay);
    }
    const int x = Trunc(f.clientWidth - 4 * fontWidth * 1.3) / 2;
    const int y = Trunc(f.clientHeight - 1.5 * fontHeight) / 2;
    Canvas(image).And(overlayPatch, x + overlayOffset.x(), y + overlayOffset.y());
}

GridPainter::GridPainter() : impl_(std::make_unique<Impl>()) {}
GridPainter::~GridPainter() = default;

void GridPainter::Paint(const GridFrame& frame, QImage& image) {
    impl_->Paint(frame, image);
}

QImage RenderGrid(GridModel& model, QSize size) {
    auto frame = std::make_unique<GridFrame>();
    model.Evaluate(size.width(), size.height(), *frame);
    GridPainter painter;
    QImage image;
    painter.Paint(*frame, image);
    return image;
}

}  // namespace kx

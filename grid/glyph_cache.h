// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>
#include <QString>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

enum class FontFace {
    Arial,       // Liberation Sans through fontconfig
    ArialBlack,  // no free twin: Liberation Sans at QFont::Black weight
};

// A font as the grid asks for it: face, cell height in pixels (ascent plus
// descent), average character width in pixels (0: the face's own
// proportions) and the reading direction in degrees counter-clockwise
// (0 left to right, 90 bottom to top, 270 top to bottom).
struct FontSpec {
    FontFace face = FontFace::Arial;
    int height = 0;
    int width = 0;
    int rotation = 0;

    bool operator==(const FontSpec&) const = default;
};

// Coverage of one rendered glyph or word. (dx, dy) is the mask's top-left
// corner relative to the text's reference point, the top-left corner of its
// unrotated character cell.
struct GlyphMask {
    int dx = 0;
    int dy = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> alpha;  // width x height, row by row
};

// The QFont for a FontSpec: pixel size chosen so that ascent plus
// descent come to the requested height, stretch so that the average
// character width (weighted over lower-case text, as the classic metric is
// defined) comes to the requested width.
QFont ResolveFont(const FontSpec& spec);

// The grid's fonts are Latin faces; its one Chinese word is written in Noto
// Sans CJK (bold, `pixelSize` pixels) and rendered on its own with
// RenderText, outside the cache.
QFont ChineseFont(int pixelSize);

// Coverage of `text` in `font`, left to right, with (dx, dy) relative to the
// top-left corner of its character cell; an empty mask when nothing is inked.
GlyphMask RenderText(const QFont& font, const QString& text);

// One font with its glyphs rendered once, on first use. Digits and signs are
// drawn glyph by glyph along the reading direction; whole words keep the
// font's own layout.
class TextFont {
public:
    explicit TextFont(const FontSpec& spec);

    const FontSpec& spec() const { return spec_; }
    // Rendered on first use; every repaint asks for thousands of glyphs, so
    // the lookup of one already rendered stays inline.
    const GlyphMask& Glyph(char c) {
        const auto& slot = glyphs_[static_cast<unsigned char>(c) & 0x7f];
        return slot ? *slot : RenderGlyph(c);
    }
    double Advance(char c) {
        const double a = advances_[static_cast<unsigned char>(c) & 0x7f];
        return a >= 0 ? a : MeasureAdvance(c);
    }
    const GlyphMask& Word(std::string_view text);
    // Unit step of the pen along the reading direction, in image pixels.
    int stepX() const { return stepX_; }
    int stepY() const { return stepY_; }

private:
    FontSpec spec_;
    QFont font_;
    int stepX_ = 1;
    int stepY_ = 0;
    std::array<std::optional<GlyphMask>, 128> glyphs_;
    std::array<double, 128> advances_{};
    std::deque<std::pair<std::string, GlyphMask>> words_;  // references stay valid

    GlyphMask Render(const QString& text) const;
    const GlyphMask& RenderGlyph(char c);
    double MeasureAdvance(char c);
};

// The fonts of the last repaints. A resize brings new sizes, so the owner
// empties the cache with Trim before drawing everything anew, once it has
// collected a few dozen fonts; pointers handed out stay valid until then.
class GlyphCache {
public:
    // True when the cache was emptied: every TextFont and GlyphMask handed
    // out before is gone.
    bool Trim();
    // nullptr for a font less than one pixel high: nothing legible to draw.
    TextFont* Font(const FontSpec& spec);

private:
    std::vector<std::unique_ptr<TextFont>> fonts_;
};

}  // namespace kx

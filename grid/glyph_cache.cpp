// SPDX-License-Identifier: MIT
#include "grid/glyph_cache.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <cmath>

namespace kx {

namespace {

constexpr int kMaxFonts = 48;

QFont BaseFont(FontFace face) {
    if (face == FontFace::ArialBlack) {
        QFont f(QStringLiteral("Liberation Sans"));
        f.setWeight(QFont::Black);
        return f;
    }
    return QFont(QStringLiteral("Arial"));
}

// Average character width of a font, weighted by the frequency of lower-case
// letters and the space in English text. The grid's font widths are averages
// in this classic sense; a plain mean over all glyphs would come out wider and
// make every stretched text narrower than intended.
double WeightedAverageWidth(const QFontMetricsF& fm) {
    static constexpr int kWeights[26] = {64, 14, 27, 35, 100, 20, 14, 42, 63, 3,  6, 35, 20,
                                         56, 56, 17, 4,  49,  56, 71, 31, 10, 18, 3, 18, 2};
    double sum = 166.0 * fm.horizontalAdvance(QLatin1Char(' '));
    for (int i = 0; i < 26; ++i) {
        sum += kWeights[i] * fm.horizontalAdvance(QLatin1Char(static_cast<char>('a' + i)));
    }
    return sum / 1000.0;
}

struct FaceMetrics {
    double cellPerPixel = 1.0;   // (ascent + descent) / pixel size
    double widthPerPixel = 0.5;  // weighted average width / pixel size
};

FaceMetrics MeasureFace(FontFace face) {
    QFont f = BaseFont(face);
    f.setPixelSize(200);
    const QFontMetricsF fm(f);
    FaceMetrics m;
    if (fm.ascent() + fm.descent() > 0) {
        m.cellPerPixel = (fm.ascent() + fm.descent()) / 200.0;
    }
    const double avg = WeightedAverageWidth(fm);
    if (avg > 0) {
        m.widthPerPixel = avg / 200.0;
    }
    return m;
}

const FaceMetrics& Metrics(FontFace face) {
    static const FaceMetrics arial = MeasureFace(FontFace::Arial);
    static const FaceMetrics black = MeasureFace(FontFace::ArialBlack);
    return face == FontFace::ArialBlack ? black : arial;
}

}  // namespace

QFont ResolveFont(const FontSpec& spec) {
    const FaceMetrics& m = Metrics(spec.face);
    QFont f = BaseFont(spec.face);
    const int pixelSize = std::max(1, static_cast<int>(std::lround(spec.height / m.cellPerPixel)));
    f.setPixelSize(pixelSize);
    if (spec.width > 0) {
        const double natural = m.widthPerPixel * pixelSize;
        const long stretch = std::lround(100.0 * spec.width / natural);
        f.setStretch(static_cast<int>(std::clamp<long>(stretch, 1, 4000)));
    }
    return f;
}

TextFont::TextFont(const FontSpec& spec) : spec_(spec), font_(ResolveFont(spec)) {
    switch (spec.rotation) {
        case 90:
            stepX_ = 0;
            stepY_ = -1;
            break;
        case 270:
            stepX_ = 0;
            stepY_ = 1;
            break;
        default:
            stepX_ = 1;
            stepY_ = 0;
            break;
    }
    advances_.fill(-1.0);
}

namespace {

// The coverage of `text` in `font` written along `degrees` (counter-clockwise)
// from the top-left corner of its unrotated cell.
GlyphMask RenderMask(const QFont& font, const QString& text, int degrees) {
    const QFontMetricsF fm(font);
    const double ascent = fm.ascent();
    // Text coordinates: the cell's top-left corner at the origin, baseline at
    // the ascent. The box holds the cell and the ink with a margin.
    const QRectF cell(0, 0, fm.horizontalAdvance(text), fm.height());
    const QRectF ink = fm.boundingRect(text).translated(0, ascent);
    const QRectF box = cell.united(ink).adjusted(-2, -2, 2, 2);
    QTransform rotation;
    rotation.rotate(-degrees);  // counter-clockwise on screen
    const QRect area = rotation.mapRect(box).toAlignedRect();

    QImage image(area.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.setFont(font);
        p.setPen(Qt::black);
        p.translate(-area.left(), -area.top());
        p.rotate(-degrees);
        p.drawText(QPointF(0, ascent), text);
    }

    // Crop to the pixels the text touched.
    int top = image.height();
    int bottom = -1;
    int left = image.width();
    int right = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(line[x]) != 0) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    GlyphMask mask;
    if (bottom < 0) {
        return mask;  // blank, e.g. a space
    }
    mask.dx = area.left() + left;
    mask.dy = area.top() + top;
    mask.width = right - left + 1;
    mask.height = bottom - top + 1;
    mask.alpha.resize(static_cast<std::size_t>(mask.width) * mask.height);
    for (int y = 0; y < mask.height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(top + y));
        for (int x = 0; x < mask.width; ++x) {
            mask.alpha[static_cast<std::size_t>(y) * mask.width + x] =
                static_cast<std::uint8_t>(qAlpha(line[left + x]));
        }
    }
    return mask;
}

}  // namespace

GlyphMask TextFont::Render(const QString& text) const {
    return RenderMask(font_, text, spec_.rotation);
}

QFont ChineseFont(int pixelSize) {
    QFont f(QStringLiteral("Noto Sans CJK SC"));
    f.setPixelSize(std::max(1, pixelSize));
    f.setWeight(QFont::Bold);
    return f;
}

GlyphMask RenderText(const QFont& font, const QString& text) {
    return RenderMask(font, text, 0);
}

const GlyphMask& TextFont::RenderGlyph(char c) {
    const auto index = static_cast<unsigned char>(c) & 0x7f;
    auto& slot = glyphs_[index];
    if (!slot) {
        slot = Render(QString(QLatin1Char(static_cast<char>(index))));
    }
    return *slot;
}

double TextFont::MeasureAdvance(char c) {
    const auto index = static_cast<unsigned char>(c) & 0x7f;
    if (advances_[index] < 0) {
        advances_[index] =
            QFontMetricsF(font_).horizontalAdvance(QLatin1Char(static_cast<char>(index)));
    }
    return advances_[index];
}

const GlyphMask& TextFont::Word(std::string_view text) {
    for (const auto& [word, mask] : words_) {
        if (word == text) {
            return mask;
        }
    }
    words_.emplace_back(std::string(text), Render(QString::fromLatin1(
                                               text.data(), static_cast<qsizetype>(text.size()))));
    return words_.back().second;
}

bool GlyphCache::Trim() {
    if (fonts_.size() > kMaxFonts) {
        fonts_.clear();
        return true;
    }
    return false;
}

TextFont* GlyphCache::Font(const FontSpec& spec) {
    if (spec.height < 1) {
        return nullptr;
    }
    for (const auto& font : fonts_) {
        if (font->spec() == spec) {
            return font.get();
        }
    }
    fonts_.push_back(std::make_unique<TextFont>(spec));
    return fonts_.back().get();
}

}  // namespace kx

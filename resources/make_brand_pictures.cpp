// SPDX-License-Identifier: MIT
// Draws the brand pictures of the device-information dialogs and the
// station's icon, and writes them as PNG files:
//
//     make_brand_pictures <output folder>
//
// The PNGs in resources/brand/ and resources/icons/ are this program's output,
// committed, so that a build does not depend on the fonts of the machine it
// runs on. Run it again after changing a picture here, look at the result and
// commit both.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QString>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

constexpr int kWidth = 380;
constexpr int kHeight = 420;

QFont LatinFont(int pixelSize, QFont::Weight weight, qreal letterSpacing = 0) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    if (letterSpacing != 0) {
        font.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    }
    return font;
}

QFont ChineseFont(int pixelSize) {
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(pixelSize);
    return font;
}

void CentredText(QPainter& p, const QRectF& box, const QFont& font, const QColor& colour,
                 const QString& text) {
    p.setFont(font);
    p.setPen(colour);
    p.drawText(box, Qt::AlignCenter, text);
}

// A small bar chart of eight channels against an upper limit, as the station's
// grid shows a head.
void HeadTile(QPainter& p, const QRectF& tile, int seed, bool failing) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 28));
    p.drawRoundedRect(tile, 6, 6);
    const qreal inner = tile.width() - 16;
    const qreal barWidth = inner / 8 * 0.62;
    const qreal limitY = tile.top() + tile.height() * 0.28;
    for (int k = 0; k < 8; ++k) {
        const qreal level = 0.38 + 0.22 * std::fabs(std::sin(seed * 1.7 + k * 0.9));
        qreal h = (tile.height() - 14) * level;
        const bool over = failing && k == 5;
        if (over) {
            h = tile.bottom() - 7 - (limitY - 8);
        }
        const qreal x = tile.left() + 8 + k * inner / 8 + (inner / 8 - barWidth) / 2;
        p.setBrush(over ? QColor(0xE5, 0x48, 0x3B) : QColor(0x4C, 0xD1, 0x7A));
        p.drawRect(QRectF(x, tile.bottom() - 7 - h, barWidth, h));
    }
    p.setPen(QPen(QColor(0xFF, 0xC1, 0x4D), 1.5, Qt::DashLine));
    p.drawLine(QPointF(tile.left() + 6, limitY), QPointF(tile.right() - 6, limitY));
}

// The station's own picture: a panel of heads on a navy ground.
QImage DrawDefault() {
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient ground(0, 0, 0, kHeight);
    ground.setColorAt(0, QColor(0x0F, 0x27, 0x41));
    ground.setColorAt(1, QColor(0x1D, 0x4F, 0x7A));
    p.fillRect(img.rect(), ground);

    const QRectF panel(40, 60, 300, 190);
    p.setPen(QPen(QColor(0x8F, 0xB8, 0xDE), 2));
    p.setBrush(QColor(0x0A, 0x1B, 0x2E));
    p.drawRoundedRect(panel, 12, 12);
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 3; ++c) {
            const QRectF tile(panel.left() + 14 + c * 92, panel.top() + 14 + r * 84, 84, 76);
            HeadTile(p, tile, r * 3 + c, r == 1 && c == 2);
        }
    }
    CentredText(p, QRectF(0, 285, kWidth, 50), LatinFont(40, QFont::Bold), Qt::white,
                QStringLiteral("KaldrixPlus"));
    CentredText(p, QRectF(0, 335, kWidth, 30), ChineseFont(18), QColor(0xB8, 0xD4, 0xF0),
                QStringLiteral("触摸屏传感器测试站"));
    p.setPen(QPen(QColor(0x8F, 0xB8, 0xDE), 1));
    p.drawLine(QPointF(120, 378), QPointF(260, 378));
    return img;
}

// TARSEL: three overlapping peaks in warm oranges on sand.
QImage DrawTarsel() {
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(img.rect(), QColor(0xF6, 0xEC, 0xDC));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xFA, 0xD7, 0x9B));
    p.drawEllipse(QPointF(270, 95), 42, 42);
    const auto peak = [&](QPointF left, QPointF top, QPointF right, QColor colour) {
        p.setBrush(colour);
        p.drawPolygon(QPolygonF({left, top, right}));
    };
    peak({30, 280}, {140, 110}, {250, 280}, QColor(0xC4, 0x51, 0x1C));
    peak({130, 280}, {235, 140}, {350, 280}, QColor(0xE8, 0x70, 0x2A));
    peak({90, 280}, {180, 185}, {270, 280}, QColor(0xF2, 0x9E, 0x4C));
    p.setBrush(QColor(0x5A, 0x2D, 0x0C));
    p.drawRect(QRectF(30, 280, 320, 6));
    CentredText(p, QRectF(0, 305, kWidth, 60), LatinFont(50, QFont::Black, 6),
                QColor(0x5A, 0x2D, 0x0C), QStringLiteral("TARSEL"));
    CentredText(p, QRectF(0, 362, kWidth, 24), LatinFont(14, QFont::Normal, 3),
                QColor(0x9A, 0x5B, 0x2E), QStringLiteral("TOUCH PANEL TESTING"));
    return img;
}

// MOVIRA: ripples spreading from a point on deep teal.
QImage DrawMovira() {
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient ground(0, 0, kWidth, kHeight);
    ground.setColorAt(0, QColor(0x0B, 0x4F, 0x4A));
    ground.setColorAt(1, QColor(0x17, 0x8C, 0x84));
    p.fillRect(img.rect(), ground);
    const QPointF centre(190, 175);
    for (int i = 1; i <= 7; ++i) {
        p.setPen(QPen(QColor(255, 255, 255, 230 - i * 28), 3.0));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(centre, i * 19.0, i * 19.0);
    }
    QRadialGradient dot(centre, 16);
    dot.setColorAt(0, Qt::white);
    dot.setColorAt(1, QColor(0xB2, 0xF0, 0xE8));
    p.setPen(Qt::NoPen);
    p.setBrush(dot);
    p.drawEllipse(centre, 14, 14);
    CentredText(p, QRectF(0, 320, kWidth, 56), LatinFont(46, QFont::Light, 10), Qt::white,
                QStringLiteral("MOVIRA"));
    return img;
}

QPolygonF Hexagon(QPointF centre, qreal radius) {
    QPolygonF hex;
    for (int i = 0; i < 6; ++i) {
        const qreal a = M_PI / 3 * i + M_PI / 6;
        hex << QPointF(centre.x() + radius * std::cos(a), centre.y() + radius * std::sin(a));
    }
    return hex;
}

// DARMOLEN: a honeycomb in gold on burgundy.
QImage DrawDarmolen() {
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(img.rect(), QColor(0x3B, 0x0D, 0x22));
    const qreal r = 30;
    const qreal dx = r * std::sqrt(3.0);
    const QColor gold(0xD4, 0xA7, 0x3A);
    for (int row = 0; row < 5; ++row) {
        for (int col = 0; col < 6; ++col) {
            const QPointF c(40 + col * dx + (row % 2) * dx / 2, 50 + row * r * 1.5);
            if (c.x() > kWidth - 20) {
                continue;
            }
            const bool filled = (row * 7 + col * 3) % 5 == 0;
            p.setPen(QPen(gold, 2));
            p.setBrush(filled ? QBrush(QColor(0xD4, 0xA7, 0x3A, 150)) : Qt::NoBrush);
            p.drawPolygon(Hexagon(c, r - 3));
        }
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3B, 0x0D, 0x22));
    p.drawRect(QRectF(0, 270, kWidth, kHeight - 270));
    p.setBrush(gold);
    p.drawRect(QRectF(60, 292, 260, 3));
    CentredText(p, QRectF(0, 305, kWidth, 60), LatinFont(40, QFont::Bold, 4), gold,
                QStringLiteral("DARMOLEN"));
    p.drawRect(QRectF(60, 372, 260, 3));
    return img;
}

// The maker's picture: a chip with traces on light steel.
QImage DrawMaker() {
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(img.rect(), QColor(0xE6, 0xEA, 0xEE));
    const QColor trace(0x2E, 0x7D, 0x32);
    const QRectF chip(140, 100, 100, 100);
    p.setPen(QPen(trace, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 4; ++i) {
        const qreal off = 112 + i * 25.0;
        QPainterPath left;
        left.moveTo(chip.left(), off);
        left.lineTo(chip.left() - 40 - i * 12, off);
        left.lineTo(chip.left() - 40 - i * 12, off + (i < 2 ? -60 : 60));
        p.drawPath(left);
        QPainterPath right;
        right.moveTo(chip.right(), off);
        right.lineTo(chip.right() + 70, off);
        p.drawPath(right);
        QPainterPath top;
        top.moveTo(152 + i * 25.0, chip.top());
        top.lineTo(152 + i * 25.0, chip.top() - 45);
        p.drawPath(top);
        QPainterPath down;
        down.moveTo(152 + i * 25.0, chip.bottom());
        down.lineTo(152 + i * 25.0 + (i - 1.5) * 20, chip.bottom() + 55);
        p.drawPath(down);
    }
    p.setBrush(Qt::white);
    p.setPen(QPen(trace, 3));
    for (int i = 0; i < 4; ++i) {
        const qreal off = 112 + i * 25.0;
        p.drawEllipse(QPointF(chip.right() + 76, off), 6, 6);
        p.drawEllipse(QPointF(152 + i * 25.0, chip.top() - 51), 6, 6);
        p.drawEllipse(QPointF(chip.left() - 40 - i * 12, off + (i < 2 ? -66 : 66)), 6, 6);
        p.drawEllipse(QPointF(152 + i * 25.0 + (i - 1.5) * 22.2, chip.bottom() + 61), 6, 6);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x26, 0x32, 0x38));
    p.drawRoundedRect(chip, 8, 8);
    CentredText(p, chip, LatinFont(56, QFont::Bold), QColor(0xE6, 0xEA, 0xEE), QStringLiteral("B"));
    CentredText(p, QRectF(0, 300, kWidth, 56), LatinFont(46, QFont::Bold, 5),
                QColor(0x26, 0x32, 0x38), QStringLiteral("BORVANE"));
    CentredText(p, QRectF(0, 356, kWidth, 24), ChineseFont(16), QColor(0x54, 0x6E, 0x7A),
                QStringLiteral("测试设备制造"));
    return img;
}

// The station's icon: three channel bars, one over its limit.
QImage DrawIcon() {
    QImage img(64, 64, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x14, 0x3A, 0x5E));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    const qreal heights[3] = {26, 36, 44};
    for (int k = 0; k < 3; ++k) {
        p.setBrush(k == 2 ? QColor(0xE5, 0x48, 0x3B) : QColor(0x4C, 0xD1, 0x7A));
        p.drawRect(QRectF(13 + k * 14, 52 - heights[k], 10, heights[k]));
    }
    p.setPen(QPen(QColor(0xFF, 0xC1, 0x4D), 3));
    p.drawLine(QPointF(9, 18), QPointF(55, 18));
    return img;
}

bool Save(const QImage& img, const QString& path) {
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_brand_pictures <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("brand")) || !out.mkpath(QStringLiteral("icons"))) {
        std::fprintf(stderr, "cannot create the folders under %s\n", argv[1]);
        return 1;
    }
    bool ok = true;
    ok &= Save(DrawDefault(), out.filePath(QStringLiteral("brand/default.png")));
    ok &= Save(DrawTarsel(), out.filePath(QStringLiteral("brand/tarsel.png")));
    ok &= Save(DrawMovira(), out.filePath(QStringLiteral("brand/movira.png")));
    ok &= Save(DrawDarmolen(), out.filePath(QStringLiteral("brand/darmolen.png")));
    ok &= Save(DrawMaker(), out.filePath(QStringLiteral("brand/maker.png")));
    ok &= Save(DrawIcon(), out.filePath(QStringLiteral("icons/kaldrix.png")));
    return ok ? 0 : 1;
}

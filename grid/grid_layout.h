// SPDX-License-Identifier: MIT
#pragma once

namespace kx {

inline constexpr int kMaxGridColumns = 10;
inline constexpr int kMaxGridRows = 10;

// Pixel rectangle with exclusive right and bottom edges: it covers the
// columns left .. right - 1 and the rows top .. bottom - 1.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool Empty() const { return right <= left || bottom <= top; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// Truncation toward zero of a layout coordinate. Every coordinate comes from
// a window size of at most a few thousand pixels, but a tiny or degenerate
// window can still push intermediate values far out; clamping keeps the
// conversion defined whatever arrives.
inline int Trunc(double v) {
    if (!(v > -1e9)) {  // also NaN
        return -1000000000;
    }
    if (v > 1e9) {
        return 1000000000;
    }
    return static_cast<int>(v);
}

// Where everything of the grid lies for one client size. Column j, row i and
// channel k count from 0; the double symbols keep their fractions and every
// rectangle edge is truncated on its own, so neighbouring heads and channels
// share the rounding of the window size between them.
class GridLayout {
public:
    GridLayout(int clientWidth, int clientHeight, int columns, int rows, bool verdictRow)
        : clientWidth_(clientWidth),
          clientHeight_(clientHeight),
          columns_(columns),
          rows_(rows),
          verdictRow_(verdictRow),
          W_(clientWidth - 1.0),
          H_(clientHeight - 1.0),
          headW_(columns > 0 ? W_ / columns : 0.0),
          headH_(rows > 0 ? H_ / rows : 0.0),
          chW_(headW_ / 32.0),
          barH_(0.95 * headH_ - 0.125 * headH_ - 6.0),
          ext_(Trunc(headH_) * 0.125) {}

    int clientWidth() const { return clientWidth_; }
    int clientHeight() const { return clientHeight_; }
    int columns() const { return columns_; }
    int rows() const { return rows_; }
    bool verdictRow() const { return verdictRow_; }
    bool HasHeads() const { return columns_ > 0 && rows_ > 0; }

    double W() const { return W_; }
    double H() const { return H_; }
    double headW() const { return headW_; }
    double headH() const { return headH_; }
    double chW() const { return chW_; }
    double barH() const { return barH_; }
    double ext() const { return ext_; }

    // Without the verdict row the lower parts of a head move down by an
    // eighth of the cell.
    int Extend(int coordinate) const { return verdictRow_ ? coordinate : Trunc(coordinate + ext_); }

    // Distance from the top of the bar area down to the height of v on the
    // head's scale, kept inside 0 .. barH. Only for a head whose range is not
    // empty (rangeMax != rangeMin): callers check HasScale first.
    static bool HasScale(double rangeMax, double rangeMin) { return rangeMax != rangeMin; }
    double Level(double v, double rangeMax, double rangeMin) const {
        const double scale = barH_ / (rangeMax - rangeMin);
        double level = barH_ - v * scale + rangeMin * scale;
        if (!(level > 0)) {
            level = 0;
        }
        if (level > barH_) {
            level = barH_;
        }
        return level;
    }

    // Where the grid line left of head column j (j = columns: right of the
    // last) and above head row i lie; the same arithmetic as the lines drawn.
    int LineX(int j) const { return columns_ > 0 ? Trunc(j * W_ / columns_) : 0; }
    int LineY(int i) const { return rows_ > 0 ? Trunc(i * H_ / rows_) : 0; }

    // The pixels of head (j, i) between its grid lines. Everything a head
    // draws stays inside it, so a head can be repainted on its own.
    PixelRect CellInterior(int j, int i) const {
        return {LineX(j) + 1, LineY(i) + 1, LineX(j + 1), LineY(i + 1)};
    }

    // Left edge of channel k's column as the arithmetic gives it; the figures
    // are placed from it.
    int ColumnLeft(int j, int k) const { return Trunc(k * chW_ + j * headW_ + 3); }

    // Channel k's column, left and right (exclusive). The arithmetic leaves
    // 5 pixels of every channel's width to frame and gaps, so below about
    // 6 pixels per channel (10 heads across a window narrower than some
    // 1900 pixels) truncation gives many channels, or all of them, no column
    // at all: no band, marker, hatch or number cell would show. Such a
    // channel gets one pixel instead, at the column's left edge when that is
    // free, otherwise in the middle of the channel's width; a head narrower
    // than 2 pixels per channel has no room for it.
    // No default member values: painting keeps arrays of these on the stack
    // and fills only the entries it uses.
    struct Span {
        int left;
        int right;
    };
    Span ColumnSpan(int j, int k) const {
        const int left = ColumnLeft(j, k);
        const int right = Trunc((k + 1) * chW_ + j * headW_ - 2);
        if (right > left || !(chW_ >= 2)) {
            return {left, right};
        }
        // The pixel must stay left of everything the next channel draws (its
        // value bar starts furthest left) and of the head's right line, and
        // right of this head's left line.
        const int limit = k + 1 < 32 ? Trunc((k + 1) * chW_ + j * headW_ + chW_ / 4) : LineX(j + 1);
        int x = left;
        if (x >= limit) {
            x = Trunc(k * chW_ + j * headW_ + chW_ / 2);
        }
        if (x >= limit || x <= LineX(j)) {
            return {left, left};
        }
        return {x, x + 1};
    }
    // T and B of a head row; BarBottom is B' when the verdict row is off.
    int BarTop(int i) const { return Trunc(i * headH_ + 3); }
    int BarBottomShort(int i) const { return Trunc(BarTop(i) + barH_); }
    int BarBottom(int i) const { return Extend(BarBottomShort(i)); }

    // The channel's column from T down to B (B' without the verdict row).
    PixelRect ChannelColumn(int j, int i, int k) const {
        const Span span = ColumnSpan(j, k);
        return {span.left, BarTop(i), span.right, BarBottom(i)};
    }

    // The narrower value bar from level down to the bottom of the column.
    PixelRect ValueBar(int j, int i, int k, double level) const {
        return {Trunc(k * chW_ + j * headW_ + chW_ / 4), Trunc(BarTop(i) + level),
                Trunc((k + 1) * chW_ + j * headW_ + 1 - chW_ / 4), BarBottom(i)};
    }

    PixelRect ChannelFrame(int j, int i, int k) const {
        return {Trunc(k * chW_ + j * headW_ + 2), Trunc(i * headH_ + 2),
                Trunc((k + 1) * chW_ + j * headW_ - 1),
                Extend(Trunc(0.95 * headH_ + i * headH_ - 0.125 * headH_ - 2))};
    }

    // The bar area across the whole head: the rows of the channel frames,
    // from the number strip's left edge to its right.
    PixelRect BarArea(int j, int i) const {
        const PixelRect strip = NumberStrip(j, i);
        return {strip.left, Trunc(i * headH_ + 2), strip.right, ChannelFrame(j, i, 0).bottom};
    }

    PixelRect NumberStrip(int j, int i) const {
        return {Trunc(j * headW_ + 2),
                Extend(Trunc(Trunc(0.95 * headH_) + i * headH_ - 0.125 * headH_)),
                Trunc(j * headW_ + headW_ - 1),
                Extend(Trunc(i * headH_ + headH_ - 1 - 0.125 * headH_))};
    }

    PixelRect NumberCell(int j, int i, int k) const {
        const Span span = ColumnSpan(j, k);
        return {span.left, Extend(Trunc(Trunc(0.95 * headH_) + i * headH_ - 0.125 * headH_ + 2)),
                span.right, Extend(Trunc(i * headH_ + headH_ - 1 - 0.125 * headH_ - 2))};
    }

    PixelRect VerdictBox(int j, int i) const {
        return {Trunc(j * headW_ + 2), Trunc(Trunc(0.875 * headH_) + i * headH_),
                Trunc(j * headW_ + headW_ - 1), Trunc(i * headH_ + headH_ - 1)};
    }

    // Head under a pointer position, possibly outside the grid (the window's
    // last pixel column and row give one past the last head, a pointer
    // dragged out of the window anything); callers clamp.
    int HitColumnUnclamped(int x) const { return headW_ > 0 ? Trunc(x / headW_) : 0; }
    int HitRowUnclamped(int y) const { return headH_ > 0 ? Trunc(y / headH_) : 0; }

    // Channel whose frame strictly contains x in head column j, or -1 when x
    // lies on a frame line or in a gap. A channel whose column had to be
    // given its one pixel (see ColumnSpan) is also hit on that pixel, which
    // may lie on its frame line: what shows as the channel selects it.
    int HitChannel(int x, int j) const {
        int hit = -1;
        for (int k = 0; k < 32; ++k) {
            const int left = Trunc(k * chW_ + j * headW_ + 2);
            const int right = Trunc((k + 1) * chW_ + j * headW_ - 1);
            if (left < x && x < right) {
                hit = k;
            } else if (ColumnLeft(j, k) >= Trunc((k + 1) * chW_ + j * headW_ - 2)) {
                const Span span = ColumnSpan(j, k);
                if (span.left <= x && x < span.right) {
                    hit = k;
                }
            }
        }
        return hit;
    }

private:
    int clientWidth_;
    int clientHeight_;
    int columns_;
    int rows_;
    bool verdictRow_;
    double W_;
    double H_;
    double headW_;
    double headH_;
    double chW_;
    double barH_;
    double ext_;
};

}  // namespace kx

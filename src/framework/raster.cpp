// Software drawing that covers exactly the pixels the GDI covers. The shapes
// are built the way the GDI builds them: Bresenham lines with its octant
// tie-breaking, the same integer ellipse tracer for outlines and for the
// elliptic regions behind fills and round pen ends, and wide strokes as a
// union of rectangles, quadrilaterals and round caps, each scan-converted with
// the region rules (top-left edges in, bottom-right edges out).
// Every shape has the one colour, so the union can go straight to the surface.
#include "framework/raster.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using i64 = int64_t;

// Wider pens are drawn at this width: the work per cap stays bounded, and such
// a pen already covers the whole surface from anywhere near it.
constexpr i64 kMaxPenWidth = i64{1} << 15;
// Ellipse boxes are clamped to this range so that the tracer's error terms
// (which grow with width * height^2) stay well inside 64 bits.
constexpr i64 kEllipseLimit = i64{1} << 18;
// Wide strokes reaching beyond this are cut at it, which keeps the edge
// arithmetic of their polygons inside 64 bits.
constexpr i64 kWideLineLimit = i64{1} << 28;
// The GDI scales a thin diagonal line's end point down by 8 once one of its
// coordinates reaches this, to keep its own line arithmetic from overflowing.
constexpr i64 kCropLimit = 0x10000000;

struct Point { i64 x, y; };

i64 CeilDiv(i64 num, i64 den)  // den > 0
{
    i64 q = num / den;
    if (num % den != 0 && num > 0) ++q;
    return q;
}

// The surface with clipping; every write is the one value.
class Canvas {
public:
    Canvas(const RasterTarget& t, uint8_t value)
        : bits_(t.bits), width_(t.width), height_(t.height), stride_(t.stride), value_(value) {}

    bool Usable() const { return bits_ != nullptr && width_ > 0 && height_ > 0; }
    i64 Width() const { return width_; }
    i64 Height() const { return height_; }
    // Once everything is painted there is nothing left to draw.
    bool Full() const { return full_; }

    // Pixels x0 .. x1-1 of row y.
    void Span(i64 y, i64 x0, i64 x1)
    {
        if (y < 0 || y >= height_) return;
        x0 = std::max<i64>(x0, 0);
        x1 = std::min<i64>(x1, width_);
        if (x0 < x1)
            std::memset(bits_ + static_cast<std::ptrdiff_t>(y) * stride_ + x0, value_, static_cast<size_t>(x1 - x0));
    }

    // Half-open box.
    void Box(i64 left, i64 top, i64 right, i64 bottom)
    {
        top = std::max<i64>(top, 0);
        bottom = std::min<i64>(bottom, height_);
        for (i64 y = top; y < bottom; ++y) Span(y, left, right);
    }

    void Dot(i64 x, i64 y)
    {
        if (x >= 0 && x < width_ && y >= 0 && y < height_)
            bits_[static_cast<std::ptrdiff_t>(y) * stride_ + x] = value_;
    }

    void FillAll()
    {
        Box(0, 0, width_, height_);
        full_ = true;
    }

    // Whether the inclusive box touches the surface.
    bool Touches(i64 left, i64 top, i64 right, i64 bottom) const
    {
        return right >= 0 && left < width_ && bottom >= 0 && top < height_;
    }

private:
    uint8_t* bits_;
    i64 width_, height_, stride_;
    uint8_t value_;
    bool full_ = false;
};

// ---------------------------------------------------------------------------
// One-pixel lines

Point CropForLine(Point p)
{
    if (p.x >= kCropLimit || p.x <= -kCropLimit || p.y >= kCropLimit || p.y <= -kCropLimit) {
        p.x /= 8;
        p.y /= 8;
    }
    return p;
}

// Octants numbered clockwise from the +x axis, as the GDI's line code does;
// the boundaries decide which octant takes the rounding bias.
int Octant(i64 dx, i64 dy)
{
    if (dy > 0) {
        if (dx > 0) return dx > dy ? 1 : 2;
        return -dx > dy ? 4 : 3;
    }
    if (dx < 0) return -dx > -dy ? 5 : 6;
    return dx > -dy ? 8 : 7;
}

// Steps i in [0, count) for which start + i * dir lies in [0, limit).
void VisibleSteps(i64 start, i64 dir, i64 count, i64 limit, i64& first, i64& last)
{
    if (dir > 0) {
        first = -start;
        last = limit - start;
    } else {
        first = start - limit + 1;
        last = start + 1;
    }
    first = std::max<i64>(first, 0);
    last = std::min<i64>(last, count);
}

// MoveTo(a) + LineTo(b) with a cosmetic pen: the end point is left out.
void ThinLine(Canvas& c, Point a, Point b)
{
    if (a.y == b.y) {
        if (a.x <= b.x) c.Box(a.x, a.y, b.x, a.y + 1);
        else c.Box(b.x + 1, a.y, a.x + 1, a.y + 1);
        return;
    }
    if (a.x == b.x) {
        if (a.y <= b.y) c.Box(a.x, a.y, a.x + 1, b.y);
        else c.Box(a.x, b.y + 1, a.x + 1, a.y + 1);
        return;
    }

    a = CropForLine(a);
    b = CropForLine(b);
    const i64 dx = b.x - a.x;
    const i64 dy = b.y - a.y;
    const int octant = Octant(dx, dy);
    const bool xMajor = octant == 1 || octant == 4 || octant == 5 || octant == 8;
    const i64 sx = (octant == 1 || octant == 2 || octant == 7 || octant == 8) ? 1 : -1;
    const i64 sy = octant <= 4 ? 1 : -1;
    const i64 bias = (octant == 3 || octant == 5 || octant == 6 || octant == 8) ? 1 : 0;
    const i64 adx = std::abs(dx);
    const i64 ady = std::abs(dy);

    // Closed form of the Bresenham loop (error 2*minor - major, minor step when
    // error + bias > 0): after i major steps the minor axis has moved
    // ceil((2*i*minor + bias - major) / (2*major)) times. That lets a long line
    // be drawn from its first visible pixel without walking the part outside.
    i64 first = 0, last = 0;
    if (xMajor) {
        VisibleSteps(a.x, sx, adx, c.Width(), first, last);
        for (i64 i = first; i < last; ++i)
            c.Dot(a.x + i * sx, a.y + CeilDiv(2 * i * ady + bias - adx, 2 * adx) * sy);
    } else {
        VisibleSteps(a.y, sy, ady, c.Height(), first, last);
        for (i64 j = first; j < last; ++j)
            c.Dot(a.x + CeilDiv(2 * j * adx + bias - ady, 2 * ady) * sx, a.y + j * sy);
    }
}

// ---------------------------------------------------------------------------
// Ellipses: Alois Zingl's integer tracer in the form the GDI uses, for the
// quadrant from the right end of the horizontal axis up to the top.

class EllipseTracer {
public:
    EllipseTracer(i64 width, i64 height)
    {
        const i64 a = width - 1;
        const i64 b = height - 1;
        asq_ = 8 * a * a;
        bsq_ = 8 * b * b;
        dx_ = 4 * b * b * (1 - a);
        dy_ = 4 * a * a * (1 + b % 2);
        err_ = dx_ + dy_ + a * a * (b % 2);
    }

    // One step inwards along x, upwards along y, or both.
    void Step(bool& stepX, bool& stepY)
    {
        const i64 e2 = 2 * err_;
        stepX = e2 >= dx_;
        stepY = e2 <= dy_;
        if (stepX) {
            dx_ += bsq_;
            err_ += dx_;
        }
        if (stepY) {
            dy_ += asq_;
            err_ += dy_;
        }
    }

private:
    i64 asq_, bsq_, dx_, dy_, err_;
};

// Rows of the elliptic region of a width x height box (width, height >= 2):
// row i spans [left + inset[i], left + width - inset[i]).
std::vector<i64> EllipseInsets(i64 width, i64 height)
{
    // A tall, thin ellipse can pass the centre column before the tracer gets
    // to the top row; rows it never reaches stay empty, as inside the outline.
    std::vector<i64> inset(static_cast<size_t>(height), width);
    EllipseTracer tracer(width, height);
    i64 x = 0;
    i64 y = height / 2;
    inset[static_cast<size_t>(y)] = 0;
    while (x <= width / 2) {
        bool stepX = false, stepY = false;
        tracer.Step(stepX, stepY);
        if (stepX) ++x;
        if (stepY) {
            if (++y >= height) break;
            inset[static_cast<size_t>(y)] = x;
        }
        if (!stepX && !stepY) break;
    }
    for (i64 i = 0; i < height / 2; ++i)
        inset[static_cast<size_t>(i)] = inset[static_cast<size_t>(height - 1 - i)];
    return inset;
}

// The closed outline of the ellipse in a box (width, height > 2), point by
// point in the order the GDI strokes it: the traced quadrant, mirrored left to
// right and then top to bottom, without doubling a centre point.
class EllipseOutline {
public:
    EllipseOutline(i64 left, i64 top, i64 right, i64 bottom)
        : left_(left), top_(top), right_(right), bottom_(bottom)
    {
        const i64 width = right - left;
        const i64 height = bottom - top;
        EllipseTracer tracer(width, height);
        i64 x = width - 1;
        i64 y = height / 2;
        while (x >= width / 2) {
            quadrant_.push_back({left + x, top + height - 1 - y});
            bool stepX = false, stepY = false;
            tracer.Step(stepX, stepY);
            if (stepX) --x;
            if (stepY) ++y;
            if (!stepX && !stepY) break;
        }
        const i64 n = static_cast<i64>(quadrant_.size());
        end1_ = 2 * n - 1 - (width % 2);
        const i64 count2 = end1_ + 1;
        end2_ = 2 * count2 - 1 - (height % 2);
        mirror1_ = end1_ - (n - 1);
        mirror2_ = end2_ - (count2 - 1);
    }

    i64 Count() const { return end2_ + 1; }

    Point At(i64 i) const
    {
        if (i < mirror2_) return HalfAt(i);
        Point p = HalfAt(end2_ - i);
        p.y = top_ + bottom_ - 1 - p.y;
        return p;
    }

private:
    Point HalfAt(i64 i) const
    {
        if (i < mirror1_) return quadrant_[static_cast<size_t>(i)];
        Point p = quadrant_[static_cast<size_t>(end1_ - i)];
        p.x = left_ + right_ - 1 - p.x;
        return p;
    }

    i64 left_, top_, right_, bottom_;
    std::vector<Point> quadrant_;
    i64 end1_ = 0, end2_ = 0, mirror1_ = 0, mirror2_ = 0;
};

// ---------------------------------------------------------------------------
// The same tracer in closed form, for boxes far larger than the surface: its
// decisions at any point are read off the ellipse equation, so the walk can
// start at the first row that shows instead of at the horizontal axis.
//
// X counts the steps in, Y the steps up; with a = width - 1, b = height - 1,
// p = 2X + 2 - a and q = 2Y + 2 + b % 2 the tracer's error term is
// b^2 p^2 + a^2 q^2 - a^2 b^2, so it steps up when
// b^2 p^2 + a^2 (q - 1)^2 + a^2 <= a^2 b^2 and in when
// b^2 (p - 1)^2 + b^2 + a^2 q^2 >= a^2 b^2. Left of the last column
// (X < width / 2) both tests are monotone in X and Y and the walk never
// stalls, so row by row it enters row Y + 1 at
// clamp(entry(Y) + 1, T(Y) + [T(Y) <= S(Y)], S(Y) + 1), T(Y) being the first X
// that steps up and S(Y) the last that steps in: a chain of clamps, which
// merge into a constant after a few rows wherever the curve bends.

// 128-bit sums of squares, which a 2^19 box needs.
struct Wide {
    uint64_t hi, lo;
};

Wide Square(uint64_t v)
{
    const uint64_t v0 = v & 0xFFFFFFFFu, v1 = v >> 32;
    const uint64_t p00 = v0 * v0, p01 = v0 * v1, p11 = v1 * v1;
    const uint64_t mid = (p00 >> 32) + 2 * (p01 & 0xFFFFFFFFu);
    return {p11 + 2 * (p01 >> 32) + (mid >> 32), (mid << 32) | (p00 & 0xFFFFFFFFu)};
}

Wide Add(Wide x, Wide y)
{
    const uint64_t lo = x.lo + y.lo;
    return {x.hi + y.hi + (lo < x.lo ? 1 : 0), lo};
}

int Compare(Wide x, Wide y)
{
    if (x.hi != y.hi) return x.hi < y.hi ? -1 : 1;
    return x.lo == y.lo ? 0 : (x.lo < y.lo ? -1 : 1);
}

struct EllipseWalk {
    i64 a, b, odd;  // width - 1, height - 1, height's parity
    i64 half;       // width / 2: the last column, where the tests lose their order
    i64 reach;      // the row in which the walk gets to the last column
    i64 end;        // the last row it visits in that column
    bool stepsOut;  // it leaves that column diagonally, into row end + 1
};

i64 Abs(i64 v) { return v < 0 ? -v : v; }

bool StepsUp(const EllipseWalk& w, i64 x, i64 y)
{
    const i64 p = 2 * x + 2 - w.a, q = 2 * y + 2 + w.odd;
    const Wide left = Add(Add(Square(static_cast<uint64_t>(w.b * Abs(p))), Square(static_cast<uint64_t>(w.a * (q - 1)))),
                          Square(static_cast<uint64_t>(w.a)));
    return Compare(left, Square(static_cast<uint64_t>(w.a * w.b))) <= 0;
}

bool StepsIn(const EllipseWalk& w, i64 x, i64 y)
{
    const i64 p = 2 * x + 2 - w.a, q = 2 * y + 2 + w.odd;
    const Wide left = Add(Add(Square(static_cast<uint64_t>(w.b * Abs(p - 1))), Square(static_cast<uint64_t>(w.a * q))),
                          Square(static_cast<uint64_t>(w.b)));
    return Compare(left, Square(static_cast<uint64_t>(w.a * w.b))) >= 0;
}

// T(Y): the first X left of the last column that steps up, else half. Found
// from the equation in floating point, then settled with the exact test.
i64 FirstUp(const EllipseWalk& w, i64 y)
{
    const double a = static_cast<double>(w.a), b = static_cast<double>(w.b);
    const double q1 = static_cast<double>(2 * y + 1 + w.odd);
    const double room = b * b - 1 - q1 * q1;
    i64 x = w.half;
    if (room >= 0) x = std::clamp<i64>(static_cast<i64>(std::ceil((a - 2 - a / b * std::sqrt(room)) / 2)), 0, w.half);
    while (x > 0 && StepsUp(w, x - 1, y)) --x;
    while (x < w.half && !StepsUp(w, x, y)) ++x;
    return x;
}

// S(Y): the last X left of the last column that steps in, else -1.
i64 LastIn(const EllipseWalk& w, i64 y)
{
    const double a = static_cast<double>(w.a), b = static_cast<double>(w.b);
    const double q = static_cast<double>(2 * y + 2 + w.odd);
    const double room = a * a - 1 - a * a * q * q / (b * b);
    i64 x = w.half - 1;
    if (room > 0) x = std::clamp<i64>(static_cast<i64>(std::floor((a - 1 - std::sqrt(room)) / 2)), -1, w.half - 1);
    while (x < w.half - 1 && StepsIn(w, x + 1, y)) ++x;
    while (x >= 0 && !StepsIn(w, x, y)) --x;
    return x;
}

// The rows of one step: entry(Y + 1) = clamp(entry(Y) + 1, low, high).
void RowClamp(const EllipseWalk& w, i64 y, i64& low, i64& high)
{
    const i64 t = FirstUp(w, y), s = LastIn(w, y);
    low = t + (t <= s ? 1 : 0);
    high = s + 1;
}

// Where the walk enters row Y (0 on the axis), for rows before `reach`: the
// clamps of the rows below are composed downwards until they agree.
i64 EntryOf(const EllipseWalk& w, i64 y)
{
    i64 low = std::numeric_limits<i64>::min(), high = std::numeric_limits<i64>::max();
    for (i64 row = y - 1; row >= 0 && low != high; --row) {
        i64 l = 0, h = 0;
        RowClamp(w, row, l, h);
        // In entry - row terms each step is a plain clamp.
        l -= row + 1;
        h -= row + 1;
        const i64 newLow = std::clamp(l, low, high), newHigh = std::clamp(h, low, high);
        low = newLow;
        high = newHigh;
    }
    return std::clamp<i64>(0, low, high) + y;
}

i64 EntryAfter(const EllipseWalk& w, i64 y, i64 entry)
{
    i64 low = 0, high = 0;
    RowClamp(w, y, low, high);
    return std::clamp(entry + 1, low, high);
}

// The walk to its last column and through it.
EllipseWalk MakeWalk(i64 width, i64 height)
{
    EllipseWalk w{width - 1, height - 1, (height - 1) % 2, width / 2, 0, 0, false};
    // From this row on nothing steps up left of the last column.
    i64 low = 0, high = (w.b - w.odd) / 2;
    auto reached = [&](i64 y) { return FirstUp(w, y) == w.half || EntryOf(w, y) >= w.half; };
    while (low < high) {
        const i64 mid = low + (high - low) / 2;
        if (reached(mid)) high = mid;
        else low = mid + 1;
    }
    w.reach = low;
    // Up the last column until it steps in, or stops stepping up.
    auto leaves = [&](i64 y) { return StepsIn(w, w.half, y) || !StepsUp(w, w.half, y); };
    i64 span = 1;
    while (!leaves(w.reach + span)) span *= 2;
    low = w.reach;
    high = w.reach + span;
    while (low < high) {
        const i64 mid = low + (high - low) / 2;
        if (leaves(mid)) high = mid;
        else low = mid + 1;
    }
    w.end = low;
    w.stepsOut = StepsIn(w, w.half, w.end) && StepsUp(w, w.half, w.end);
    return w;
}

// ---------------------------------------------------------------------------
// Wide pens

// Even-odd scan conversion with the region rules: rows from the top vertex to
// the row above the bottom one, each edge at the first pixel at or right of it.
void FillPolygon(Canvas& c, const Point* pts, int count)
{
    i64 ymin = pts[0].y, ymax = pts[0].y;
    for (int i = 1; i < count; ++i) {
        ymin = std::min(ymin, pts[i].y);
        ymax = std::max(ymax, pts[i].y);
    }
    ymin = std::max<i64>(ymin, 0);
    ymax = std::min<i64>(ymax, c.Height());
    i64 xs[8];
    for (i64 y = ymin; y < ymax; ++y) {
        int found = 0;
        for (int i = 0; i < count && found < 8; ++i) {
            const Point& prev = pts[(i + count - 1) % count];
            const Point& cur = pts[i];
            if (prev.y == cur.y) continue;
            const Point& top = prev.y > cur.y ? cur : prev;
            const Point& bottom = prev.y > cur.y ? prev : cur;
            if (y < top.y || y >= bottom.y) continue;
            xs[found++] = top.x + CeilDiv((bottom.x - top.x) * (y - top.y), bottom.y - top.y);
        }
        // At most eight crossings: an insertion sort does.
        for (int i = 1; i < found; ++i)
            for (int j = i; j > 0 && xs[j - 1] > xs[j]; --j) std::swap(xs[j - 1], xs[j]);
        for (int i = 0; i + 1 < found; i += 2) c.Span(y, xs[i], xs[i + 1]);
    }
}

i64 RoundAway(double f)
{
    return static_cast<i64>(f > 0 ? f + 0.5 : f - 0.5);
}

class WidePen {
public:
    WidePen(Canvas& c, i64 width)
        : c_(c), width_(width), capInset_(EllipseInsets(width, width)),
          capLeft_(-(width / 2)), capRight_((width + 1) / 2) {}

    // The round end or join: the elliptic region of the box
    // (-(w/2), -(w/2), (w+1)/2 + 1, (w+1)/2 + 1) around the point.
    void Cap(Point p)
    {
        if (c_.Full()) return;
        const i64 top = p.y + capLeft_;
        if (!c_.Touches(p.x + capLeft_, top, p.x + capRight_, top + width_)) return;
        if (CapCoversRow(p, 0) && CapCoversRow(p, c_.Height() - 1)) {
            c_.FillAll();  // the cap is convex, so its first and last rows settle it
            return;
        }
        const i64 first = std::max<i64>(0, -top);
        const i64 last = std::min<i64>(width_, c_.Height() - top);
        for (i64 i = first; i < last; ++i) {
            const i64 inset = capInset_[static_cast<size_t>(i)];
            c_.Span(top + i, p.x + capLeft_ + inset, p.x + capRight_ - inset);
        }
    }

    // The body of the stroke from a to b, without its ends. Its width is split
    // about the one-pixel path with the odd pixel above / to the left.
    void Segment(Point a, Point b)
    {
        if (c_.Full()) return;
        const i64 dx = b.x - a.x;
        const i64 dy = b.y - a.y;
        if (dx == 0 && dy == 0) return;
        if (dy == 0) {
            const i64 top = a.y - width_ / 2;
            c_.Box(std::min(a.x, b.x), top, std::max(a.x, b.x), top + width_);
            return;
        }
        if (dx == 0) {
            const i64 left = a.x - width_ / 2;
            c_.Box(left, std::min(a.y, b.y), left + width_, std::max(a.y, b.y));
            return;
        }

        // The sides are offset by the pen's width across the direction of the
        // segment, rounded to whole pixels the way the GDI rounds them.
        const double len = std::hypot(static_cast<double>(dx), static_cast<double>(dy));
        const double widthX = static_cast<double>(width_ * std::abs(dy)) / len;
        const double widthY = static_cast<double>(width_ * std::abs(dx)) / len;
        Point narrow{RoundAway(widthX / 2), RoundAway(widthY / 2)};
        Point wide{RoundAway((widthX + 1) / 2), RoundAway((widthY + 1) / 2)};
        if (dx < 0) {
            wide.y = -wide.y;
            narrow.y = -narrow.y;
        }
        if (dy < 0) {
            std::swap(narrow, wide);
            wide.x = -wide.x;
            narrow.x = -narrow.x;
        }
        const Point quad[4] = {
            {a.x - narrow.x, a.y + narrow.y},
            {a.x + wide.x, a.y - wide.y},
            {b.x + wide.x, b.y - wide.y},
            {b.x - narrow.x, b.y + narrow.y},
        };
        i64 left = quad[0].x, right = quad[0].x, top = quad[0].y, bottom = quad[0].y;
        for (const Point& q : quad) {
            left = std::min(left, q.x);
            right = std::max(right, q.x);
            top = std::min(top, q.y);
            bottom = std::max(bottom, q.y);
        }
        if (c_.Touches(left, top, right, bottom)) FillPolygon(c_, quad, 4);
    }

private:
    bool CapCoversRow(Point p, i64 y) const
    {
        const i64 i = y - (p.y + capLeft_);
        if (i < 0 || i >= width_) return false;
        const i64 inset = capInset_[static_cast<size_t>(i)];
        return p.x + capLeft_ + inset <= 0 && p.x + capRight_ - inset >= c_.Width();
    }

    Canvas& c_;
    i64 width_;
    std::vector<i64> capInset_;
    i64 capLeft_, capRight_;
};

// An ellipse whose box reaches beyond the surface (and beyond the pen's reach
// around it) is traced only where it can show: the same rows and points as
// the whole walk gives, from the walk in closed form.
class LargeEllipse {
public:
    LargeEllipse(Canvas& c, i64 left, i64 top, i64 right, i64 bottom)
        : c_(c), left_(left), top_(top), width_(right - left), height_(bottom - top),
          walk_(MakeWalk(width_, height_)), lastColumn_(width_ % 2 ? walk_.half : walk_.half - 1) {}

    void Fill()
    {
        // The rows that show, as walk rows: the lower half downwards, the
        // upper half mirrored onto it.
        const i64 first = std::max<i64>(0, -top_), last = std::min<i64>(height_, c_.Height() - top_);
        if (first >= last) return;
        i64 low = std::numeric_limits<i64>::max(), high = -1;
        for (i64 i : {first, last - 1, std::clamp(height_ / 2, first, last - 1)}) {
            low = std::min(low, WalkRow(i));
            high = std::max(high, WalkRow(i));
        }
        std::vector<i64> inset(static_cast<size_t>(high - low + 1), width_);
        i64 entry = low <= walk_.reach ? EntryOf(walk_, low) : 0;
        for (i64 y = low; y <= high; ++y) {
            i64& v = inset[static_cast<size_t>(y - low)];
            if (y <= walk_.reach) {
                v = entry;
                if (y < walk_.reach) entry = EntryAfter(walk_, y, entry);
            } else if (y <= walk_.end) {
                v = walk_.half;
            } else if (y == walk_.end + 1 && walk_.stepsOut) {
                v = walk_.half + 1;
            }
        }
        for (i64 i = first; i < last; ++i) {
            const i64 v = inset[static_cast<size_t>(WalkRow(i) - low)];
            c_.Span(top_ + i, left_ + v, left_ + width_ - v);
        }
    }

    // The outline's four mirrored quarters, each pair of neighbours drawn
    // from the first with `draw`, as the whole outline draws them.
    template <typename Draw>
    void Outline(i64 reach, Draw draw)
    {
        const Point first{0, 0}, second = After(first), lastPoint = Last(), beforeLast = Before(lastPoint);
        const bool oddWidth = width_ % 2 != 0, oddHeight = height_ % 2 != 0;
        const Point lastA = oddWidth ? beforeLast : lastPoint;
        for (int mirror = 0; mirror < 4 && !c_.Full(); ++mirror) {
            const bool backwards = mirror % 2 != 0;
            NearPairs(mirror, reach, [&](Point p, Point next) {
                if (p.x == lastPoint.x && p.y == lastPoint.y) return;
                // Pairs at the ends of a quarter belong to the joins below.
                if (oddWidth && (mirror == 0 || mirror == 3) && next.x == lastPoint.x && next.y == lastPoint.y) return;
                if (oddHeight && mirror == 1 && p.x == 0 && p.y == 0) return;
                if (backwards)
                    draw(Place(mirror, next), Place(mirror, p));
                else
                    draw(Place(mirror, p), Place(mirror, next));
            });
        }
        // The joins between the quarters.
        draw(Place(0, lastA), Place(1, lastPoint));
        draw(Place(1, oddHeight ? second : first), Place(2, first));
        draw(Place(2, lastPoint), Place(3, lastA));
        draw(Place(3, first), Place(0, first));
    }

private:
    i64 lastRow() const { return width_ % 2 ? walk_.end : walk_.reach; }

    // Box row i (0 at the top) as a walk row.
    i64 WalkRow(i64 i) const { return i >= height_ / 2 ? i - height_ / 2 : height_ - 1 - i - height_ / 2; }

    Point Place(int mirror, Point q) const
    {
        const bool mx = mirror == 1 || mirror == 2, fy = mirror >= 2;
        return {mx ? left_ + q.x : left_ + width_ - 1 - q.x,
                fy ? top_ + height_ / 2 + q.y : top_ + height_ - 1 - height_ / 2 - q.y};
    }

    // The walk's points in row y run from RowStart to RowEnd.
    i64 RowStart(i64 y) const { return y <= walk_.reach ? EntryOf(walk_, y) : walk_.half; }
    i64 RowEnd(i64 y) const
    {
        if (y < walk_.reach) return std::max(EntryOf(walk_, y), FirstUp(walk_, y));
        return y == walk_.reach ? lastColumn_ : walk_.half;
    }
    Point After(Point p) const { return p.x < RowEnd(p.y) ? Point{p.x + 1, p.y} : Point{RowStart(p.y + 1), p.y + 1}; }
    Point Before(Point p) const { return p.x > RowStart(p.y) ? Point{p.x - 1, p.y} : Point{RowEnd(p.y - 1), p.y - 1}; }
    Point Last() const
    {
        const i64 y = lastRow();
        return RowStart(y) <= RowEnd(y) ? Point{RowEnd(y), y} : Point{RowEnd(y - 1), y - 1};
    }

    // Each walk point that lies, under the mirror, within `reach` of the
    // surface (a walk is monotone, so they follow one another), and the one
    // on either side, with the point after it; until the surface is full.
    template <typename Visit>
    void NearPairs(int mirror, i64 reach, Visit visit) const
    {
        const bool mx = mirror == 1 || mirror == 2, fy = mirror >= 2;
        const i64 xa = -reach - 1, xb = c_.Width() + reach, ya = -reach - 1, yb = c_.Height() + reach;
        const i64 x0 = mx ? xa - left_ : left_ + width_ - 1 - xb, x1 = mx ? xb - left_ : left_ + width_ - 1 - xa;
        const i64 base = top_ + height_ / 2;
        const i64 y0 = fy ? ya - base : base - 1 - yb, y1 = fy ? yb - base : base - 1 - ya;
        i64 from = std::max<i64>(0, y0);
        const i64 to = std::min(lastRow(), y1);
        // Rows whose points all lie short of the surface are passed over.
        if (from <= to && RowEnd(from) < x0) {
            i64 low = from + 1, high = to + 1;
            while (low < high) {
                const i64 mid = low + (high - low) / 2;
                if (RowEnd(mid) >= x0) high = mid;
                else low = mid + 1;
            }
            from = low - 1;
        }
        if (from > to) return;
        bool started = false;
        Point previous{0, 0};
        i64 entry = from <= walk_.reach ? EntryOf(walk_, from) : walk_.half;
        for (i64 y = from; y <= to && entry <= x1 && !c_.Full(); ++y) {
            const i64 end = y < walk_.reach ? std::max(entry, FirstUp(walk_, y)) : RowEnd(y);
            for (i64 x = std::max(entry, x0); x <= std::min(end, x1); ++x) {
                if (started) visit(previous, Point{x, y});
                previous = {x, y};
                started = true;
            }
            entry = y < walk_.reach ? EntryAfter(walk_, y, entry) : walk_.half;
        }
        if (started && !c_.Full()) visit(previous, After(previous));
    }

    Canvas& c_;
    i64 left_, top_, width_, height_;
    EllipseWalk walk_;
    i64 lastColumn_;
};

// Device pen width: CreatePen keeps the absolute value, and 0 means one pixel.
i64 PenWidthOf(int32_t penWidth)
{
    const i64 w = std::abs(static_cast<i64>(penWidth));
    return std::clamp<i64>(w, 1, kMaxPenWidth);
}

// Cuts a segment to the square [-limit, limit]^2; false when nothing is left.
bool CutToSquare(Point& a, Point& b, i64 limit)
{
    const double ax = static_cast<double>(a.x), ay = static_cast<double>(a.y);
    const double dx = static_cast<double>(b.x - a.x), dy = static_cast<double>(b.y - a.y);
    const double lim = static_cast<double>(limit);
    double t0 = 0, t1 = 1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {ax + lim, lim - ax, ay + lim, lim - ay};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double r = q[i] / p[i];
        if (p[i] < 0) t0 = std::max(t0, r);
        else t1 = std::min(t1, r);
    }
    if (t0 > t1) return false;
    const Point from = a;
    if (t0 > 0) a = {std::llround(ax + t0 * dx), std::llround(ay + t0 * dy)};
    if (t1 < 1) b = {std::llround(static_cast<double>(from.x) + t1 * dx), std::llround(static_cast<double>(from.y) + t1 * dy)};
    a.x = std::clamp(a.x, -limit, limit);
    a.y = std::clamp(a.y, -limit, limit);
    b.x = std::clamp(b.x, -limit, limit);
    b.y = std::clamp(b.y, -limit, limit);
    return true;
}

bool Beyond(Point p, i64 limit)
{
    return p.x < -limit || p.x > limit || p.y < -limit || p.y > limit;
}

// Rectangle on a normalised, non-empty box.
void DrawBox(Canvas& c, i64 left, i64 top, i64 right, i64 bottom, bool pen, bool brush, i64 penWidth)
{
    // The outline runs through the last column and row inside the box.
    right -= 1;
    bottom -= 1;
    const Point corners[4] = {{right, top}, {left, top}, {left, bottom}, {right, bottom}};
    if (pen && penWidth > 1) {
        WidePen wide(c, penWidth);
        for (int i = 0; i < 4; ++i) {
            wide.Cap(corners[i]);
            wide.Segment(corners[i], corners[(i + 1) % 4]);
        }
        if (brush && !c.Full()) c.Box(left, top, right, bottom);
        return;
    }
    if (pen)
        for (int i = 0; i < 4; ++i) ThinLine(c, corners[i], corners[(i + 1) % 4]);
    if (brush) {
        // The brush keeps clear of a cosmetic pen's outline; with no pen it
        // stops one short of the right and bottom edges.
        const i64 w = pen ? 1 : 0;
        c.Box(left + (w + 1) / 2, top + (w + 1) / 2, right - w / 2, bottom - w / 2);
    }
}

// The box of a Rectangle or Ellipse call with its corners in order; false
// when the call draws nothing (no tool, no surface, no width or height).
struct ShapeBox {
    i64 left, top, right, bottom;
    bool pen, brush;
};

bool MakeShapeBox(const Canvas& c, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t toolMode,
                  ShapeBox& box)
{
    box = {std::min<i64>(left, right), std::min<i64>(top, bottom), std::max<i64>(left, right),
           std::max<i64>(top, bottom), (toolMode & 1) != 0, (toolMode & 2) != 0};
    return c.Usable() && (box.pen || box.brush) && box.left != box.right && box.top != box.bottom;
}

}  // namespace

void RasterPixel(const RasterTarget& t, int32_t x, int32_t y, uint8_t value)
{
    Canvas c(t, value);
    if (c.Usable()) c.Dot(x, y);
}

void RasterLine(const RasterTarget& t, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t penWidth, uint8_t value)
{
    Canvas c(t, value);
    if (!c.Usable()) return;
    Point a{x1, y1}, b{x2, y2};
    const i64 width = PenWidthOf(penWidth);
    if (width == 1) {
        ThinLine(c, a, b);
        return;
    }
    if ((Beyond(a, kWideLineLimit) || Beyond(b, kWideLineLimit)) && !CutToSquare(a, b, kWideLineLimit)) return;
    // Round ends at both points, even for a line of no length.
    WidePen wide(c, width);
    wide.Cap(a);
    wide.Cap(b);
    wide.Segment(a, b);
}

void RasterRect(const RasterTarget& t, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t toolMode, int32_t penWidth, uint8_t value)
{
    Canvas c(t, value);
    ShapeBox box;
    if (MakeShapeBox(c, left, top, right, bottom, toolMode, box))
        DrawBox(c, box.left, box.top, box.right, box.bottom, box.pen, box.brush, PenWidthOf(penWidth));
}

void RasterEllipse(const RasterTarget& t, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t toolMode, int32_t penWidth, uint8_t value)
{
    Canvas c(t, value);
    ShapeBox box;
    if (!MakeShapeBox(c, left, top, right, bottom, toolMode, box)) return;
    const bool pen = box.pen, brush = box.brush;
    i64 l = box.left, r = box.right, tp = box.top, bt = box.bottom;
    l = std::clamp(l, -kEllipseLimit, kEllipseLimit);
    r = std::clamp(r, -kEllipseLimit, kEllipseLimit);
    tp = std::clamp(tp, -kEllipseLimit, kEllipseLimit);
    bt = std::clamp(bt, -kEllipseLimit, kEllipseLimit);
    if (l == r || tp == bt) return;
    const i64 width = r - l;
    const i64 height = bt - tp;
    const i64 w = PenWidthOf(penWidth);
    // Too thin to trace: the GDI draws it as a rectangle.
    if (width <= 2 || height <= 2) {
        DrawBox(c, l, tp, r, bt, pen, brush, w);
        return;
    }

    // Far beyond the surface only what can show is traced.
    const i64 reach = w / 2 + 4;
    if (l < -reach || tp < -reach || r > c.Width() + reach || bt > c.Height() + reach) {
        LargeEllipse large(c, l, tp, r, bt);
        if (brush) large.Fill();
        if (!pen) return;
        if (w == 1) {
            large.Outline(reach, [&](Point a, Point b) { ThinLine(c, a, b); });
            return;
        }
        WidePen wide(c, w);
        large.Outline(reach, [&](Point a, Point b) {
            wide.Cap(a);
            wide.Segment(a, b);
        });
        return;
    }
    if (brush) {
        const std::vector<i64> inset = EllipseInsets(width, height);
        const i64 first = std::max<i64>(0, -tp);
        const i64 last = std::min<i64>(height, c.Height() - tp);
        for (i64 i = first; i < last; ++i)
            c.Span(tp + i, l + inset[static_cast<size_t>(i)], r - inset[static_cast<size_t>(i)]);
    }
    if (!pen) return;

    const EllipseOutline outline(l, tp, r, bt);
    const i64 count = outline.Count();
    if (w == 1) {
        for (i64 i = 0; i < count; ++i) ThinLine(c, outline.At(i), outline.At((i + 1) % count));
        return;
    }
    WidePen wide(c, w);
    for (i64 i = 0; i < count && !c.Full(); ++i) {
        const Point p = outline.At(i);
        wide.Cap(p);
        wide.Segment(p, outline.At((i + 1) % count));
    }
}

void RasterTextMask(const RasterTarget& t, int32_t x, int32_t y, const uint8_t* coverage, int32_t width,
                    int32_t height, uint8_t ink, uint8_t paper)
{
    // An 8-bit surface has no shade between two entries: a pixel is the
    // text's when the glyph covers it at least half.
    for (int32_t row = 0; row < height; ++row) {
        const int64_t ty = static_cast<int64_t>(y) + row;
        if (ty < 0 || ty >= t.height) continue;
        for (int32_t col = 0; col < width; ++col) {
            const int64_t tx = static_cast<int64_t>(x) + col;
            if (tx < 0 || tx >= t.width) continue;
            const uint8_t cover = coverage[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(col)];
            t.bits[ty * t.stride + tx] = cover >= 128 ? ink : paper;
        }
    }
}

void RasterCopyBlock(uint8_t* to, int32_t toStride, const uint8_t* from, int32_t fromStride, int32_t width,
                     int32_t height)
{
    if (width <= 0 || height <= 0) return;
    if (width == toStride && width == fromStride) {
        std::memcpy(to, from, static_cast<size_t>(width) * static_cast<size_t>(height));
        return;
    }
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(to + static_cast<ptrdiff_t>(y) * toStride, from + static_cast<ptrdiff_t>(y) * fromStride,
                    static_cast<size_t>(width));
}

// Pixel coverage of the rasteriser against coverage measured from the GDI, plus
// what the measurements do not reach: far-away and extreme coordinates,
// reversed corners, negative pen widths.
#include "framework/raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#ifndef GDI_COVERAGE_JSON
#error "GDI_COVERAGE_JSON must name the measured coverage file"
#endif

namespace {

constexpr int kWidth = 336;
constexpr int kHeight = 402;
constexpr int32_t kPen = 1;
constexpr int32_t kBrush = 2;
constexpr int32_t kMin = INT32_MIN;
constexpr int32_t kMax = INT32_MAX;

struct Surface {
    explicit Surface(int stride = kWidth)
        : pixels(static_cast<size_t>(stride) * kHeight, 0), target{pixels.data(), kWidth, kHeight, stride} {}
    std::vector<uint8_t> pixels;
    RasterTarget target;

    uint8_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * target.stride + x]; }
    int Count() const { return static_cast<int>(pixels.size() - std::count(pixels.begin(), pixels.end(), 0)); }
    // Pixel (x, y) set to 1 when it lies on the surface.
    void Set(int64_t x, int64_t y)
    {
        if (x >= 0 && x < kWidth && y >= 0 && y < kHeight) pixels[static_cast<size_t>(y * target.stride + x)] = 1;
    }
    // op 'P' pixel (a, b), 'L' line, 'R' rectangle, 'E' ellipse.
    Surface& Draw(char op, int32_t a, int32_t b, int32_t c, int32_t d, int32_t tools, int32_t width, uint8_t value = 1)
    {
        if (op == 'P') RasterPixel(target, a, b, value);
        if (op == 'L') RasterLine(target, a, b, c, d, width, value);
        if (op == 'R') RasterRect(target, a, b, c, d, tools, width, value);
        if (op == 'E') RasterEllipse(target, a, b, c, d, tools, width, value);
        return *this;
    }
};

Surface Drawn(char op, int32_t a, int32_t b, int32_t c, int32_t d, int32_t tools, int32_t width)
{
    Surface s;
    s.Draw(op, a, b, c, d, tools, width);
    return s;
}

// Empty when the surfaces are equal, else how many pixels differ and the first.
std::string Diff(const Surface& got, const Surface& want)
{
    int n = 0;
    size_t first = 0;
    for (size_t i = got.pixels.size(); i-- > 0;)
        if (got.pixels[i] != want.pixels[i]) ++n, first = i;
    if (n == 0) return "";
    const size_t stride = static_cast<size_t>(got.target.stride);
    return std::to_string(n) + " pixels differ, first (" + std::to_string(first % stride) + ", " +
           std::to_string(first / stride) + "): drew " + std::to_string(got.pixels[first]) + ", expected " +
           std::to_string(want.pixels[first]);
}

// ---------------------------------------------------------------------------
// Measured cases

struct CoverageCase {
    std::string id, op, mode;
    std::vector<int32_t> args;
    int32_t penWidth = 0;
    std::vector<std::vector<int32_t>> spans;
};

const std::vector<CoverageCase>& Cases()
{
    static const std::vector<CoverageCase> cases = [] {
        std::vector<CoverageCase> list;
        std::ifstream in(GDI_COVERAGE_JSON);
        if (!in) return list;
        const nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
        if (doc.is_discarded() || !doc.contains("cases")) return list;
        for (const auto& item : doc["cases"])
            list.push_back({item["id"].get<std::string>(), item["op"].get<std::string>(), item["mode"].get<std::string>(),
                            item["args"].get<std::vector<int32_t>>(),
                            item["pen_width"].is_null() ? 0 : item["pen_width"].get<int32_t>(),
                            item["spans"].get<std::vector<std::vector<int32_t>>>()});
        return list;
    }();
    return cases;
}

class RasterMeasured : public ::testing::TestWithParam<CoverageCase> {};

TEST_P(RasterMeasured, MatchesPixelForPixel)
{
    const CoverageCase& c = GetParam();
    Surface expected, s;
    for (const auto& span : c.spans) {
        ASSERT_EQ(span.size(), 3u) << c.id;
        for (int x = span[1]; x <= span[2]; ++x) expected.pixels[static_cast<size_t>(span[0]) * kWidth + x] = 1;
    }
    const char op = c.op == "pixel" ? 'P' : c.op == "line" ? 'L' : c.op == "rect" ? 'R' : c.op == "ellipse" ? 'E' : 0;
    ASSERT_NE(op, 0) << "unknown op " << c.op;
    ASSERT_EQ(c.args.size(), op == 'P' ? 2u : 4u) << c.id;
    const int32_t tools = c.mode == "outline" ? kPen : c.mode == "fill" ? kBrush : kPen | kBrush;
    s.Draw(op, c.args[0], c.args[1], op == 'P' ? 0 : c.args[2], op == 'P' ? 0 : c.args[3], tools, c.penWidth);

    EXPECT_EQ(Diff(s, expected), "") << c.id;
}

std::string CaseName(const ::testing::TestParamInfo<CoverageCase>& info)
{
    std::string name = info.param.id;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Gdi, RasterMeasured, ::testing::ValuesIn(Cases()), CaseName);

TEST(RasterMeasuredFile, LoadsEveryCase)
{
    EXPECT_EQ(Cases().size(), 460u) << "could not read " << GDI_COVERAGE_JSON;
}

// ---------------------------------------------------------------------------
// Thin lines against a plain Bresenham walk

// The GDI's line loop step by step, unclipped, onto a surface.
Surface WalkLine(int64_t x1, int64_t y1, int64_t x2, int64_t y2)
{
    const int64_t dx = x2 - x1, dy = y2 - y1;
    // Octants counted clockwise from +x; 3, 5, 6 and 8 take the rounding bias.
    int octant;
    if (dy > 0) octant = dx > 0 ? (dx > dy ? 1 : 2) : (-dx > dy ? 4 : 3);
    else octant = dx < 0 ? (-dx > -dy ? 5 : 6) : (dx > -dy ? 8 : 7);
    const int bias = (octant == 3 || octant == 5 || octant == 6 || octant == 8) ? 1 : 0;
    const int64_t sx = dx > 0 || (dx == 0 && dy <= 0) ? 1 : -1, sy = dy > 0 ? 1 : -1;
    const bool xMajor = std::llabs(dx) > std::llabs(dy);
    const int64_t major = xMajor ? std::llabs(dx) : std::llabs(dy), minor = xMajor ? std::llabs(dy) : std::llabs(dx);
    Surface s;
    int64_t x = x1, y = y1, err = 2 * minor - major;
    for (int64_t i = 0; i < major; ++i) {
        s.Set(x, y);
        const bool side = err + bias > 0;
        err += 2 * minor - (side ? 2 * major : 0);
        if (xMajor || side) x += sx;
        if (!xMajor || side) y += sy;
    }
    return s;
}

TEST(RasterThinLine, ClippedLinesMatchAnUnclippedWalk)
{
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> coord(-700, 1100);
    for (int n = 0; n < 3000; ++n) {
        const int x1 = coord(rng), y1 = coord(rng), x2 = coord(rng), y2 = coord(rng);
        ASSERT_EQ(Diff(Drawn('L', x1, y1, x2, y2, 0, 1), WalkLine(x1, y1, x2, y2)), "")
            << "line " << x1 << "," << y1 << " -> " << x2 << "," << y2;
    }
    // A shallow line from far away lands where the walk puts it.
    const Surface far = Drawn('L', -90000, 10, 90000, 390, 0, 1);
    EXPECT_EQ(Diff(far, WalkLine(-90000, 10, 90000, 390)), "");
    EXPECT_GT(far.Count(), 0);
}

TEST(RasterThinLine, LeavesOutTheEndPointInEveryDirection)
{
    const int cx = 150, cy = 200;
    const int ends[][2] = {{40, 0}, {40, 13}, {40, 40}, {13, 40}, {0, 40}, {-13, 40}, {-40, 40}, {-40, 13},
                           {-40, 0}, {-40, -13}, {-40, -40}, {-13, -40}, {0, -40}, {13, -40}, {40, -40}, {40, -13}};
    for (const auto& e : ends) {
        SCOPED_TRACE(std::to_string(e[0]) + "," + std::to_string(e[1]));
        const Surface s = Drawn('L', cx, cy, cx + e[0], cy + e[1], 0, 1);
        EXPECT_EQ(s.At(cx, cy), 1);
        EXPECT_EQ(s.At(cx + e[0], cy + e[1]), 0);
        EXPECT_EQ(s.Count(), std::max(std::abs(e[0]), std::abs(e[1])));
    }
    // No length: nothing with a thin pen, a round dot with a wide one.
    EXPECT_EQ(Drawn('L', 50, 60, 50, 60, 0, 1).Count(), 0);
    const Surface dot = Drawn('L', 50, 60, 50, 60, 0, 6);
    EXPECT_EQ(dot.At(50, 60), 1);
    EXPECT_GT(dot.Count(), 20);
    EXPECT_LT(dot.Count(), 40);
    // A dot of radius 350 centred above the surface covers its top rows only.
    const Surface big = Drawn('L', 168, -200, 168, -200, 0, 700);
    EXPECT_EQ(big.At(0, 0) + big.At(335, 0) + big.At(168, 140), 3);
    EXPECT_EQ(big.At(168, 200) + big.At(0, 140), 0);
}

// ---------------------------------------------------------------------------
// Far away and extreme coordinates

TEST(RasterExtreme, ShapesReachingFarOutCoverExactlyTheirVisibleBox)
{
    const struct {
        char op;
        int32_t a, b, c, d, tools, width;
        int x0, y0, x1, y1;  // the covered box, half-open
    } cases[] = {
        {'L', kMin, 7, kMax, 7, 0, 1, 0, 7, kWidth, 8},
        {'L', 9, kMax, 9, kMin, 0, 0, 9, 0, 10, kHeight},
        {'L', kMin, 200, kMax, 200, 0, 5, 0, 198, kWidth, 203},
        // Once a coordinate reaches 2^28 the GDI divides a thin diagonal's ends by 8: row 200 / 8.
        {'L', -0x10000000, 200, 0x10000000, 201, 0, 1, 0, 25, kWidth, 26},
        {'R', kMin, kMin, kMax, kMax, kBrush, 0, 0, 0, kWidth, kHeight},
        {'R', kMax, kMax, kMin, kMin, kPen | kBrush, 7, 0, 0, kWidth, kHeight},
        {'R', kMin, kMin, kMax, kMax, kPen, 9, 0, 0, 0, 0},
        {'E', -100000, -100000, 100000, 100000, kBrush, 0, 0, 0, kWidth, kHeight},
        {'E', -100000, -100000, 100000, 100000, kPen, 3, 0, 0, 0, 0},
        {'E', kMin, kMin, kMax, kMax, kPen | kBrush, 5, 0, 0, kWidth, kHeight},
        // The widest pens, either sign, stay bounded.
        {'L', 100, 100, 120, 130, 0, kMax, 0, 0, kWidth, kHeight},
        {'L', 100, 100, 120, 130, 0, kMin, 0, 0, kWidth, kHeight},
        {'E', -300000, -300000, 300000, 300000, kPen, kMax, 0, 0, 0, 0},
        {'E', -5000, 100, 5000, 300, kPen, 40000, 0, 0, kWidth, kHeight},
        // No pen and no brush: nothing.
        {'R', 10, 10, 100, 100, 0, 3, 0, 0, 0, 0},
        {'E', 10, 10, 100, 100, 0, 3, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        Surface expected;
        for (int y = c.y0; y < c.y1; ++y)
            for (int x = c.x0; x < c.x1; ++x) expected.Set(x, y);
        const Surface s = Drawn(c.op, c.a, c.b, c.c, c.d, c.tools, c.width);
        EXPECT_EQ(Diff(s, expected), "") << c.op << " " << c.a << "," << c.b << "," << c.c << "," << c.d << " tools " << c.tools
                                         << " width " << c.width;
    }
}

TEST(RasterExtreme, FarLinesKeepTheirCourse)
{
    const Surface diagonal = Drawn('L', -100000, -100000, 100000, 100000, 0, 1);
    EXPECT_EQ(diagonal.Count(), kWidth);
    for (int i = 0; i < kWidth; ++i) EXPECT_EQ(diagonal.At(i, i), 1) << i;
    // Just inside 2^28 nothing is scaled: one pixel a column on rows 200-201.
    const Surface near = Drawn('L', -0xFFFFFFF, 200, 0xFFFFFFF, 201, 0, 1);
    EXPECT_EQ(near.Count(), kWidth);
    EXPECT_EQ(near.At(0, 200) + near.At(0, 201), 1);
    // Wide lines.
    const Surface wide = Drawn('L', kMin, kMin, kMax, kMax, 0, 3);
    EXPECT_EQ(wide.At(0, 0) + wide.At(200, 200), 2);
    EXPECT_EQ(wide.At(200, 100), 0);
    const Surface slope = Drawn('L', -1000000, 100, 1000000, 120, 0, 7);
    EXPECT_GT(slope.Count(), kWidth * 6);
    EXPECT_LT(slope.Count(), kWidth * 9);
    const Surface toFar = Drawn('L', 100, 100, kMax, kMax / 2, 0, 3);
    EXPECT_EQ(toFar.At(100, 100) + toFar.At(300, 200), 2);
    EXPECT_EQ(toFar.At(300, 300) + toFar.At(100, 120), 0);
}

TEST(RasterExtreme, BigEllipseEdgeThroughTheSurfaceIsDrawn)
{
    // Circle of radius 100000 whose left edge passes through column 20; near
    // its axis the edge is almost vertical, one pixel a row.
    const Surface ring = Drawn('E', 20, 201 - 100000, 20 + 200000, 201 + 100000, kPen, 1);
    EXPECT_EQ(ring.At(20, 201), 1);
    EXPECT_EQ(ring.At(21, 201), 0);
    EXPECT_EQ(std::count(ring.pixels.begin() + 150 * kWidth, ring.pixels.begin() + 250 * kWidth, 1), 100);
    const Surface filled = Drawn('E', 20, 201 - 100000, 20 + 200000, 201 + 100000, kBrush, 0);
    EXPECT_EQ(filled.At(19, 201), 0);
    EXPECT_EQ(filled.At(20, 201) + filled.At(kWidth - 1, 0), 2);
}

TEST(RasterExtreme, NothingIsWrittenOffTheSurfaceOrBeyondItsWidth)
{
    // Every byte of a wider buffer is watched, so a stray write beside the surface shows too.
    Surface s(kWidth + 16);
    const int32_t boxes[][4] = {
        {-50, -50, -5, -5}, {kWidth + 5, 10, kWidth + 60, 40}, {10, kHeight + 5, 60, kHeight + 60}, {-60, 100, -8, 140},
        {kMin, kMin, kMin + 1000, kMin + 1000}, {kMax - 1000, kMax - 1000, kMax, kMax}, {-200000, 5, -100000, 50},
    };
    for (const auto& b : boxes) {
        for (int width : {0, 1, 2, 3, 6})
            s.Draw('R', b[0], b[1], b[2], b[3], kPen | kBrush, width)
                .Draw('E', b[0], b[1], b[2], b[3], kPen | kBrush, width)
                .Draw('L', b[0], b[1], b[2], b[3], 0, width)
                .Draw('L', b[2], b[1], b[0], b[3], 0, width);
        s.Draw('P', b[0], b[1], 0, 0, 0, 0);
    }
    s.Draw('P', -1, 0, 0, 0, 0, 0).Draw('P', kWidth, 0, 0, 0, 0, 0).Draw('P', 0, kHeight, 0, 0, 0, 0);
    EXPECT_EQ(s.Count(), 0);

    // Covering everything still leaves the bytes past the width alone.
    Surface padded(kWidth + 8);
    padded.Draw('R', -10, -10, kWidth + 10, kHeight + 10, kPen | kBrush, 5).Draw('L', -10, 3, kWidth + 10, 3, 0, 1);
    for (int y = 0; y < kHeight; ++y)
        for (int x = kWidth; x < kWidth + 8; ++x) ASSERT_EQ(padded.At(x, y), 0) << x << "," << y;
    EXPECT_EQ(padded.Count(), kWidth * kHeight);
}

// ---------------------------------------------------------------------------
// Argument forms and shapes

TEST(RasterArguments, ReversedCornersDrawTheSame)
{
    const int32_t boxes[][4] = {{10, 10, 70, 50}, {5, 7, 8, 30}, {100, 100, 103, 101}, {-20, 300, 60, 420}, {30, 30, 31, 31}};
    for (const auto& b : boxes)
        for (int tools : {kPen, kBrush, kPen | kBrush})
            for (int width : {0, 1, 2, 5})
                for (char op : {'R', 'E'}) {
                    const int32_t l = b[0], t = b[1], r = b[2], bt = b[3];
                    const Surface once = Drawn(op, l, t, r, bt, tools, width);
                    const int32_t flips[][4] = {{r, t, l, bt}, {l, bt, r, t}, {r, bt, l, t}};
                    for (const auto& f : flips)
                        EXPECT_EQ(Diff(Drawn(op, f[0], f[1], f[2], f[3], tools, width), once), "")
                            << op << " " << l << "," << t << "," << r << "," << bt << " tools " << tools << " width " << width;
                }
}

TEST(RasterArguments, NegativePenWidthDrawsLikeItsAbsoluteValueAndEveryPixelGetsTheValue)
{
    for (int width : {1, 2, 3, 6}) {
        Surface pos, neg;
        for (Surface* s : {&pos, &neg}) {
            const int w = s == &pos ? width : -width;
            s->Draw('L', 20, 30, 180, 95, 0, w, 7).Draw('E', 40, 150, 200, 260, kPen | kBrush, w, 7);
            s->Draw('R', 220, 20, 300, 300, kPen | kBrush, w, 7);
        }
        EXPECT_EQ(Diff(neg, pos), "") << width;
        EXPECT_GT(pos.Count(), 1000);
        EXPECT_EQ(std::count(pos.pixels.begin(), pos.pixels.end(), 7), pos.Count());
    }
}

// In a tall, thin ellipse the tracer passes the centre column before the top
// row; the fill must not spill into rows the outline never reaches.
TEST(RasterEllipseShape, ThinEllipseFillStaysInTheOutlineRows)
{
    auto rowUsed = [](const Surface& s, int y) {
        return std::any_of(s.pixels.begin() + y * kWidth, s.pixels.begin() + (y + 1) * kWidth, [](uint8_t v) { return v != 0; });
    };
    for (int w = 3; w <= 7; ++w)
        for (int h = 3; h <= 90; ++h) {
            const Surface fill = Drawn('E', 20, 20, 20 + w, 20 + h, kBrush, 0);
            const Surface outline = Drawn('E', 20, 20, 20 + w, 20 + h, kPen, 1);
            for (int y = 0; y < kHeight; ++y)
                ASSERT_TRUE(!rowUsed(fill, y) || rowUsed(outline, y)) << w << "x" << h << " row " << y;
            ASSERT_GT(fill.Count(), 0) << w << "x" << h;
        }
}

TEST(RasterEllipseShape, SymmetricAboutBothAxes)
{
    // Columns 40..140, rows 30..229: centre (90, 129.5). Wide pens lean left and up, so thin pens and the brush only.
    for (auto [tools, width] :
         {std::pair{kPen, 0}, {kPen, 1}, {kBrush, 0}, {kBrush, 3}, {kPen | kBrush, 0}, {kPen | kBrush, 1}}) {
        const Surface s = Drawn('E', 40, 30, 141, 230, tools, width);
        for (int y = 30; y < 230; ++y)
            for (int x = 40; x <= 140; ++x) {
                ASSERT_EQ(s.At(x, y), s.At(180 - x, y)) << x << "," << y;
                ASSERT_EQ(s.At(x, y), s.At(x, 259 - y)) << x << "," << y;
            }
    }
}

}  // namespace

namespace {

// Ellipses far larger than the surface are traced only where they show, with
// the pixels of the whole trace: drawn whole on a large surface and in parts
// on the small one (near their outline, mostly), they agree everywhere.
TEST(RasterEllipseShape, PartsOfLargeEllipsesMatchTheWhole)
{
    constexpr int big = 1500, x0 = 20, y0 = 25;
    std::mt19937 rng(7);
    const struct {
        int w, h;
    } boxes[] = {{1400, 1300}, {1401, 1299}, {1450, 37}, {38, 1450}, {701, 700}, {1201, 5}, {4, 1203}, {999, 1000}, {37, 1451}, {7, 1400}};
    std::vector<uint8_t> whole(static_cast<size_t>(big) * big);
    for (const auto& box : boxes)
        for (const auto& [tools, pen] : {std::pair{kPen, 0}, {kPen, 2}, {kPen, 5}, {kPen, 40}, {kBrush, 0}, {kPen | kBrush, 3}}) {
            std::fill(whole.begin(), whole.end(), 0);
            RasterEllipse(RasterTarget{whole.data(), big, big, big}, x0, y0, x0 + box.w, y0 + box.h, tools, pen, 1);
            for (int n = 0; n < 16; ++n) {
                const double t = n * 0.4;
                int ox = static_cast<int>(x0 + box.w / 2.0 * (1 + std::cos(t))) - kWidth / 2;
                int oy = static_cast<int>(y0 + box.h / 2.0 * (1 + std::sin(t))) - kHeight / 2;
                if (n % 4 == 3) ox = static_cast<int>(rng() % (big - kWidth)), oy = static_cast<int>(rng() % (big - kHeight));
                ox = std::clamp(ox, 0, big - kWidth);
                oy = std::clamp(oy, 0, big - kHeight);
                Surface part;
                part.Draw('E', x0 - ox, y0 - oy, x0 + box.w - ox, y0 + box.h - oy, tools, pen);
                int wrong = 0;
                for (int y = 0; y < kHeight; ++y)
                    for (int x = 0; x < kWidth; ++x)
                        wrong += part.At(x, y) != whole[static_cast<size_t>(y + oy) * big + static_cast<size_t>(x + ox)];
                ASSERT_EQ(wrong, 0) << box.w << "x" << box.h << " tools " << tools << " pen " << pen << " at " << ox << "," << oy;
            }
        }
}

} // namespace

// ---------------------------------------------------------------------------
// Text from a platform's font

TEST(RasterText, CoverageOfHalfOrMoreInksTheBoxIsPaperAndTheEdgesClip)
{
    // Coverage 127 is paper, 128 ink; the box hangs over the right and
    // bottom edges, and a padded stride shows no stray write past the width.
    const uint8_t coverage[] = {0, 127, 128, 255, 255, 0, 64, 200};
    Surface s(kWidth + 8);
    RasterTextMask(s.target, kWidth - 3, kHeight - 1, coverage, 4, 2, 9, 7);
    EXPECT_EQ(s.At(kWidth - 3, kHeight - 1), 7);
    EXPECT_EQ(s.At(kWidth - 2, kHeight - 1), 7);
    EXPECT_EQ(s.At(kWidth - 1, kHeight - 1), 9);
    EXPECT_EQ(s.Count(), 3);
    // Left of and above the surface only the part inside is drawn.
    Surface t;
    RasterTextMask(t.target, -2, -1, coverage, 4, 2, 9, 7);
    EXPECT_EQ(t.At(0, 0), 7); // coverage[6]
    EXPECT_EQ(t.At(1, 0), 9); // coverage[7]
    EXPECT_EQ(t.Count(), 2);
}

TEST(RasterCopyBlock, CopiesTheBlockAndNothingBesideIt)
{
    std::vector<uint8_t> from(12 * 5);
    for (size_t i = 0; i < from.size(); ++i) from[i] = static_cast<uint8_t>(i + 1);
    // Whole rows of equal strides: the first height rows, no byte after them.
    std::vector<uint8_t> whole(12 * 5, 0);
    RasterCopyBlock(whole.data(), 12, from.data(), 12, 12, 3);
    EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + 36, from.begin()));
    EXPECT_EQ(std::count(whole.begin() + 36, whole.end(), 0), 24);
    // Part of each row, into a narrower target: row by row, each row's own.
    std::vector<uint8_t> part(7 * 5, 0);
    RasterCopyBlock(part.data(), 7, from.data(), 12, 4, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(part[static_cast<size_t>(y * 7 + x)], x < 4 ? from[static_cast<size_t>(y * 12 + x)] : 0)
                << x << "," << y;
    // Rows as wide as the target's but not the source's are still row by row.
    std::vector<uint8_t> narrow(4 * 2, 0);
    RasterCopyBlock(narrow.data(), 4, from.data(), 12, 4, 2);
    EXPECT_EQ(narrow[4], from[12]);
    // Nothing to copy: nothing written.
    std::vector<uint8_t> none(4, 0);
    RasterCopyBlock(none.data(), 4, from.data(), 12, 0, 2);
    RasterCopyBlock(none.data(), 4, from.data(), 12, 4, -1);
    EXPECT_EQ(std::count(none.begin(), none.end(), 0), 4);
}

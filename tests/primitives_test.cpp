// Which surface bytes the drawing primitives write, and which byte a colour
// from the palette turns into.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "framework/headless/headless.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "test_support.h"

namespace {

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }

using Pixel = std::pair<int32_t, int32_t>;
using PixelSet = std::set<Pixel>;

// The default base palette in force, every byte 0 (empty), nothing mirrored.
void StartBlank()
{
    StartProgram();
    BuildBasePalette();
    SetMirror(0);
    std::memset(Field, 0, FieldSize);
}

// The cells holding `byte`.
PixelSet CellsWith(uint8_t byte)
{
    PixelSet cells;
    for (int32_t y = 0; y < FieldHeight; ++y)
        for (int32_t x = 0; x < FieldWidth; ++x)
            if (Field[FieldPos(x, y)] == byte) cells.insert({x, y});
    return cells;
}

PixelSet Box(int32_t x0, int32_t y0, int32_t x1, int32_t y1) // inclusive
{
    PixelSet cells;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x) cells.insert({x, y});
    return cells;
}

PixelSet Union(PixelSet a, const PixelSet& b)
{
    a.insert(b.begin(), b.end());
    return a;
}

// Columns x0..x1 of a row, or rows y0..y1 of a column.
PixelSet Row(int32_t y, int32_t x0, int32_t x1) { return Box(x0, y, x1, y); }
PixelSet Column(int32_t x, int32_t y0, int32_t y1) { return Box(x, y0, x, y1); }

uint32_t WallColour() { return PaletteColour(CellWall); }

// -------------------------------------------------------------- rectangles

TEST(PrimitivesRect, OutlineOnlyCoversTheBorderOfTheHalfOpenBox)
{
    StartBlank();
    DrawRect(10, 10, 20, 15, 1, WallColour());
    const PixelSet expected =
        Union(Union(Row(10, 10, 19), Row(14, 10, 19)), Union(Column(10, 10, 14), Column(19, 10, 14)));
    EXPECT_EQ(CellsWith(1), expected);
    EXPECT_EQ(expected.size(), 26u);
}

TEST(PrimitivesRect, FillOnlyIsOnePixelShortInBothDirections)
{
    StartBlank();
    DrawRect(10, 10, 20, 15, 2, WallColour());
    EXPECT_EQ(CellsWith(1), Box(10, 10, 18, 13));
    EXPECT_EQ(CellsWith(1).size(), 36u);
}

TEST(PrimitivesRect, OutlineAndFillCoverTheWholeBox)
{
    StartBlank();
    DrawRect(10, 10, 20, 15, 3, WallColour());
    EXPECT_EQ(CellsWith(1), Box(10, 10, 19, 14));
    EXPECT_EQ(CellsWith(1).size(), 50u);
}

TEST(PrimitivesRect, ModeZeroAndHigherBitsAlone)
{
    StartBlank();
    DrawRect(10, 10, 20, 15, 0, WallColour());
    EXPECT_TRUE(CellsWith(1).empty());
    DrawRect(10, 10, 20, 15, 4, WallColour());
    EXPECT_TRUE(CellsWith(1).empty());
    // Only bits 0 and 1 count: 7 draws as 3, 5 as 1.
    DrawRect(30, 30, 35, 33, 7, WallColour());
    EXPECT_EQ(CellsWith(1), Box(30, 30, 34, 32));
    std::memset(Field, 0, FieldSize);
    DrawRect(10, 10, 20, 15, 5, WallColour());
    EXPECT_EQ(CellsWith(1), Union(Union(Row(10, 10, 19), Row(14, 10, 19)), Union(Column(10, 10, 14), Column(19, 10, 14))));
}

TEST(PrimitivesRect, ModesPaintInTheOneColourOfTheCall)
{
    StartBlank();
    // A box one pixel larger than its border: mode 3 leaves no second colour.
    DrawRect(50, 50, 60, 58, 3, PaletteColour(4));
    EXPECT_EQ(CellsWith(4), Box(50, 50, 59, 57));
    // Outline over a fill of another colour changes only the border.
    DrawRect(50, 50, 60, 58, 1, PaletteColour(2));
    EXPECT_EQ(CellsWith(2), Union(Union(Row(50, 50, 59), Row(57, 50, 59)), Union(Column(50, 50, 57), Column(59, 50, 57))));
    EXPECT_EQ(CellsWith(4), Box(51, 51, 58, 56));
}

TEST(PrimitivesRect, SceneSetUpShapes)
{
    StartBlank();
    std::memset(Field, 3, FieldSize);
    // The fill of a new scene empties every cell.
    DrawRect(0, 0, 336, 402, 3, PaletteColour(0));
    EXPECT_EQ(CellsWith(0).size(), static_cast<size_t>(FieldSize));

    // The reservoir outline: rows 0 and 59, columns 0 and 335 of rows 0..59.
    DrawRect(0, 0, 336, 60, 1, WallColour());
    const PixelSet reservoir =
        Union(Union(Row(0, 0, 335), Row(59, 0, 335)), Union(Column(0, 0, 59), Column(335, 0, 59)));
    EXPECT_EQ(CellsWith(1), reservoir);

    // Emptying the gate line leaves its two end cells on each side.
    DrawLine(4, 59, 332, 59, PaletteColour(0));
    PixelSet afterGate = reservoir;
    for (int32_t x = 4; x <= 331; ++x) afterGate.erase({x, 59});
    EXPECT_EQ(CellsWith(1), afterGate);
    EXPECT_EQ(Field[FieldPos(3, 59)], 1);
    EXPECT_EQ(Field[FieldPos(332, 59)], 1);
}

TEST(PrimitivesRect, FieldFrameIsExactlyTheRing)
{
    StartBlank();
    // Cells of every kind and shade, so that any stray write shows.
    for (int32_t p = 0; p < FieldSize; ++p) Field[p] = static_cast<uint8_t>((p * 37 + 11) & 0xFF);
    std::vector<uint8_t> before(Field, Field + FieldSize);
    DrawFieldFrame();
    for (int32_t y = 0; y < FieldHeight; ++y) {
        for (int32_t x = 0; x < FieldWidth; ++x) {
            const bool ring = x == 0 || x == FieldWidth - 1 || y == 0 || y == FieldHeight - 1;
            const int32_t p = FieldPos(x, y);
            if (ring)
                ASSERT_EQ(Field[p], 1) << x << "," << y;
            else
                ASSERT_EQ(Field[p], before[static_cast<size_t>(p)]) << x << "," << y;
        }
    }
}

TEST(PrimitivesRect, ClearSurfaceFillsTheClientWidthInTheBackColour)
{
    StartBlank();
    WndProc(MainWindow, WM_SIZE, 0, PackPoint(100, 50));
    SetBackColour(Rgb(200, 160, 64));
    ClearSurface();
    // (0,0)-(101,403) filled only: columns 0..99, every row; the client height plays no part.
    EXPECT_EQ(CellsWith(1), Box(0, 0, 99, 401));
}

// -------------------------------------------------------------------- lines

TEST(PrimitivesLine, HorizontalExcludesTheEndInBothDirections)
{
    StartBlank();
    DrawLine(10, 5, 20, 5, WallColour());
    EXPECT_EQ(CellsWith(1), Row(5, 10, 19));
    std::memset(Field, 0, FieldSize);
    DrawLine(20, 5, 10, 5, WallColour());
    EXPECT_EQ(CellsWith(1), Row(5, 11, 20));
}

TEST(PrimitivesLine, VerticalExcludesTheEndInBothDirections)
{
    StartBlank();
    DrawLine(7, 3, 7, 9, WallColour());
    EXPECT_EQ(CellsWith(1), Column(7, 3, 8));
    std::memset(Field, 0, FieldSize);
    DrawLine(7, 9, 7, 3, WallColour());
    EXPECT_EQ(CellsWith(1), Column(7, 4, 9));
}

TEST(PrimitivesLine, EqualEndsCoverNothing)
{
    StartBlank();
    DrawLine(40, 40, 40, 40, WallColour());
    EXPECT_TRUE(CellsWith(1).empty());
}

TEST(PrimitivesLine, GateOpenings)
{
    StartBlank();
    DrawLine(0, 59, 336, 59, WallColour());
    ASSERT_EQ(CellsWith(1), Row(59, 0, 335));
    DrawLine(82, 59, 85, 59, PaletteColour(0));
    PixelSet walls = Row(59, 0, 335);
    for (int32_t x = 82; x <= 84; ++x) walls.erase({x, 59});
    EXPECT_EQ(CellsWith(1), walls);

    // A two-cell gap from x to x + 2.
    DrawLine(200, 59, 202, 59, PaletteColour(0));
    walls.erase({200, 59});
    walls.erase({201, 59});
    EXPECT_EQ(CellsWith(1), walls);
    // Closing it again with a wall line of the same span.
    DrawLine(200, 59, 202, 59, WallColour());
    walls.insert({200, 59});
    walls.insert({201, 59});
    EXPECT_EQ(CellsWith(1), walls);
}

// ------------------------------------------------------------------ pixels

TEST(PrimitivesPixel, WritesExactlyOnePixelInsideAndNothingOutside)
{
    StartBlank();
    PutPixel(17, 23, WallColour());
    EXPECT_EQ(CellsWith(1), (PixelSet{{17, 23}}));
    PutPixel(0, 0, WallColour());
    PutPixel(335, 401, WallColour());
    EXPECT_EQ(CellsWith(1), (PixelSet{{17, 23}, {0, 0}, {335, 401}}));

    std::memset(Field, 0, FieldSize);
    for (const Pixel& p : {Pixel{-1, 0}, Pixel{0, -1}, Pixel{336, 0}, Pixel{0, 402}, Pixel{336, 402}, Pixel{-5, 200},
                           Pixel{100000, 3}, Pixel{3, -100000}})
        PutPixel(p.first, p.second, WallColour());
    EXPECT_TRUE(CellsWith(1).empty());
}

// ---------------------------------------------------------------- clipping

TEST(PrimitivesClip, ShapesPastTheEdgeWriteOnlyTheirInsidePixels)
{
    StartBlank();
    DrawRect(-5, -5, 10, 10, 3, WallColour());
    EXPECT_EQ(CellsWith(1), Box(0, 0, 9, 9));

    std::memset(Field, 0, FieldSize);
    // Outline whose right and bottom edges (344, 409) lie outside.
    DrawRect(330, 395, 345, 410, 1, WallColour());
    EXPECT_EQ(CellsWith(1), Union(Row(395, 330, 335), Column(330, 395, 401)));

    std::memset(Field, 0, FieldSize);
    DrawLine(-10, 5, 10, 5, WallColour());
    DrawLine(330, 400, 340, 400, WallColour());
    DrawLine(100, 395, 100, 450, WallColour());
    DrawLine(200, -20, 200, 3, WallColour());
    EXPECT_EQ(CellsWith(1), Union(Union(Row(5, 0, 9), Row(400, 330, 335)), Union(Column(100, 395, 401), Column(200, 0, 2))));
}

TEST(PrimitivesClip, ShapesWhollyOutsideWriteNothing)
{
    StartBlank();
    DrawRect(-50, -50, -10, -10, 3, WallColour());
    DrawRect(400, 10, 500, 20, 3, WallColour());
    DrawRect(10, 402, 20, 450, 3, WallColour());
    DrawRect(-100, -100, 500, 0, 3, WallColour()); // bottom edge excluded: ends above row 0
    DrawLine(-10, -1, 400, -1, WallColour());
    DrawLine(336, 0, 336, 402, WallColour());
    DrawEllipse(-100, -100, -50, -50, 3, WallColour());
    EXPECT_TRUE(CellsWith(1).empty());
}

TEST(PrimitivesClip, HugeShapesCoverTheWholeSurface)
{
    StartBlank();
    DrawRect(-100000, -100000, 100000, 100000, 2, WallColour());
    EXPECT_EQ(CellsWith(1).size(), static_cast<size_t>(FieldSize));
}

// ---------------------------------------------------------- colour to byte

TEST(PrimitivesColour, BaseEntriesDrawAsTheirOwnIndex)
{
    StartBlank();
    for (int32_t i = 0; i < BaseColourCount; ++i) {
        PutPixel(i, 0, PaletteColour(i));
        DrawLine(0, 10 + i, 5, 10 + i, PaletteColour(i));
        DrawRect(20 * i, 100, 20 * i + 10, 110, 3, PaletteColour(i));
    }
    for (int32_t i = 0; i < BaseColourCount; ++i) {
        EXPECT_EQ(Field[FieldPos(i, 0)], i);
        EXPECT_EQ(Field[FieldPos(4, 10 + i)], i);
        EXPECT_EQ(Field[FieldPos(20 * i + 5, 105)], i);
    }
}

TEST(PrimitivesColour, AllEntriesOfAFullPaletteDrawAsTheirOwnIndex)
{
    StartBlank();
    // 256 different colours, as a stored full palette would be installed.
    PaletteBegin();
    for (uint32_t j = 0; j < 256; ++j) PaletteAdd(Rgb(j, 255 - j, (j * 7) & 0xFF));
    PaletteRealize();
    for (int32_t j = 0; j < 256; ++j) {
        PutPixel(j, 0, PaletteColour(j));
        DrawRect(j, 10, j + 1, 12, 3, PaletteColour(j));
    }
    for (int32_t j = 0; j < 256; ++j) {
        EXPECT_EQ(Field[FieldPos(j, 0)], j) << "entry " << j;
        EXPECT_EQ(Field[FieldPos(j, 11)], j) << "entry " << j;
    }
}

TEST(PrimitivesColour, ComposedFullPaletteEntriesDrawAsTheirOwnIndex)
{
    StartBlank();
    uint32_t shades[ShadeCount];
    for (uint32_t s = 0; s < ShadeCount; ++s) shades[s] = Rgb(8 * s, 255 - 8 * s, 90 + s);
    BuildFullPalette(shades);
    int32_t checked = 0;
    for (int32_t j = 0; j < 256; ++j) {
        if ((j & 7) > 5) continue; // no cell ever holds kinds 6 and 7
        bool unique = true;
        for (int32_t i = 0; i < j; ++i) unique = unique && FullPalette[i] != FullPalette[j];
        ASSERT_TRUE(unique) << "test colours must differ; entry " << j;
        PutPixel(j, 200, PaletteColour(j));
        EXPECT_EQ(Field[FieldPos(j, 200)], j) << "entry " << j;
        ++checked;
    }
    EXPECT_EQ(checked, 192);
}

// When two entries of the colour table hold the same colour, our program
// stores the lower index.
TEST(PrimitivesColour, EqualEntriesDrawAsTheFirstOne)
{
    StartBlank();
    PaletteBegin();
    PaletteAdd(Rgb(0, 0, 0));
    PaletteAdd(Rgb(0, 0, 0));
    PaletteAdd(Rgb(10, 20, 30));
    PaletteAdd(Rgb(40, 50, 60));
    PaletteAdd(Rgb(10, 20, 30));
    PaletteRealize();
    std::memset(Field, 2, FieldSize);
    DrawRect(10, 10, 20, 20, 3, PaletteColour(1));
    EXPECT_EQ(Field[FieldPos(15, 15)], 0);
    DrawLine(30, 30, 40, 30, PaletteColour(4));
    EXPECT_EQ(Field[FieldPos(35, 30)], 2);
    PutPixel(50, 50, PaletteColour(3));
    EXPECT_EQ(Field[FieldPos(50, 50)], 3);
    EXPECT_EQ(CellsWith(4).size(), 0u);
    EXPECT_EQ(CellsWith(1).size(), 0u);
}

TEST(PrimitivesColour, StaleEntriesBeyondTheCountStillMatch)
{
    StartBlank();
    PaletteBegin();
    for (uint32_t j = 0; j < 256; ++j) PaletteAdd(Rgb(j, 3, 200));
    PaletteRealize();
    BuildBasePalette();
    // Entry 77 keeps the colour of the larger build and draws as 77.
    PutPixel(5, 5, PaletteColour(77));
    EXPECT_EQ(Field[FieldPos(5, 5)], 77);
    PutPixel(6, 5, PaletteColour(1));
    EXPECT_EQ(Field[FieldPos(6, 5)], 1);
}

// --------------------------------------------------------------- pen width

TEST(PrimitivesPen, WidthAppliesToLaterLinesUntilReset)
{
    StartBlank();
    DrawLine(50, 100, 100, 100, WallColour());
    EXPECT_EQ(CellsWith(1), Row(100, 50, 99));

    std::memset(Field, 0, FieldSize);
    SetPenWidth(5);
    EXPECT_EQ(PenWidth, 5);
    DrawLine(50, 100, 100, 100, WallColour());
    // Away from the rounded ends a 5-wide stroke centred on row 100 covers rows 98..102.
    for (int32_t x = 60; x <= 90; x += 10) {
        for (int32_t y = 98; y <= 102; ++y) EXPECT_EQ(Field[FieldPos(x, y)], 1) << x << "," << y;
        EXPECT_EQ(Field[FieldPos(x, 96)], 0) << x;
        EXPECT_EQ(Field[FieldPos(x, 104)], 0) << x;
    }

    // Width 1 and 0 are both the one-pixel pen.
    for (int32_t width : {1, 0}) {
        std::memset(Field, 0, FieldSize);
        SetPenWidth(width);
        DrawLine(50, 100, 100, 100, WallColour());
        EXPECT_EQ(CellsWith(1), Row(100, 50, 99)) << "width " << width;
    }
}

TEST(PrimitivesPen, WideOutlineIsCentredOnTheOnePixelBorder)
{
    StartBlank();
    SetPenWidth(3);
    DrawRect(100, 100, 200, 180, 1, WallColour());
    // Middle of the top edge: rows 99..101; of the left edge: columns 99..101.
    for (int32_t y = 99; y <= 101; ++y) EXPECT_EQ(Field[FieldPos(150, y)], 1) << y;
    for (int32_t x = 99; x <= 101; ++x) EXPECT_EQ(Field[FieldPos(x, 140)], 1) << x;
    EXPECT_EQ(Field[FieldPos(150, 97)], 0);
    EXPECT_EQ(Field[FieldPos(150, 103)], 0);
    // The inside stays untouched by an outline.
    EXPECT_EQ(Field[FieldPos(150, 140)], 0);
}

// ------------------------------------------------------- surface vs window

TEST(PrimitivesWindow, UnmirroredDrawingReachesTheWindowOnlyThroughCopy)
{
    StartBlank();
    CopyToWindow();
    const std::vector<uint8_t> shown(HeadlessWindowBytes(), HeadlessWindowBytes() + FieldSize);
    const int32_t presents = HeadlessPresentCount();
    PutPixel(3, 3, WallColour());
    DrawLine(10, 20, 60, 20, WallColour());
    DrawRect(100, 100, 150, 150, 3, WallColour());
    DrawEllipse(200, 200, 260, 240, 3, WallColour());
    SetBackColour(Rgb(200, 160, 64));
    ClearSurface();
    EXPECT_EQ(HeadlessPresentCount(), presents);
    EXPECT_EQ(std::memcmp(HeadlessWindowBytes(), shown.data(), shown.size()), 0);
    ASSERT_NE(std::memcmp(Field, shown.data(), shown.size()), 0);
    CopyToWindow();
    EXPECT_EQ(std::memcmp(HeadlessWindowBytes(), Field, static_cast<size_t>(FieldSize)), 0);
}

TEST(PrimitivesWindow, MirroredDrawingShowsAtOnce)
{
    StartBlank();
    SetMirror(1);
    DrawRect(100, 100, 150, 150, 3, WallColour());
    EXPECT_EQ(HeadlessWindowBytes()[FieldPos(120, 120)], 1);
    PutPixel(3, 3, WallColour());
    EXPECT_EQ(HeadlessWindowBytes()[FieldPos(3, 3)], 1);
}

} // namespace

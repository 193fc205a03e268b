// Which surface bytes the drawing primitives write, and which byte a colour
// from the palette turns into.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <set>
#include <utility>
#include <vector>

#include "framework/drawing_target.h"
#include "framework/headless/headless.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "test_support.h"

namespace {

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }

using PixelSet = std::set<std::pair<int32_t, int32_t>>;

// The default base palette in force, every byte 0 (empty), nothing mirrored.
void StartBlank()
{
    StartProgram();
    BuildBasePalette();
    SetMirror(0);
    std::memset(Field, 0, FieldSize);
}

PixelSet CellsWith(uint8_t byte)
{
    PixelSet cells;
    for (int32_t y = 0; y < FieldHeight; ++y)
        for (int32_t x = 0; x < FieldWidth; ++x)
            if (Field[FieldPos(x, y)] == byte) cells.insert({x, y});
    return cells;
}

// The union of boxes given by their inclusive corners x0, y0, x1, y1.
PixelSet Boxes(std::initializer_list<std::array<int32_t, 4>> boxes)
{
    PixelSet cells;
    for (const auto& b : boxes)
        for (int32_t y = b[1]; y <= b[3]; ++y)
            for (int32_t x = b[0]; x <= b[2]; ++x) cells.insert({x, y});
    return cells;
}

// The border of the inclusive box x0..x1, y0..y1.
PixelSet Ring(int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    return Boxes({{x0, y0, x1, y0}, {x0, y1, x1, y1}, {x0, y0, x0, y1}, {x1, y0, x1, y1}});
}

uint32_t Wall() { return PaletteColour(CellWall); }
uint32_t Empty() { return PaletteColour(0); }

// One call: Rect, Line, Pixel, Ellipse (in the wall colour, or empty when `clear`), Frame,
// pen Width a, or Clear the surface at client size a x b.
struct Call {
    char what;
    int32_t a = 0, b = 0, c = 0, d = 0, mode = 1;
    bool clear = false;
};

void Perform(const Call& k)
{
    const uint32_t colour = k.clear ? Empty() : Wall();
    switch (k.what) {
    case 'R': DrawRect(k.a, k.b, k.c, k.d, k.mode, colour); break;
    case 'L': DrawLine(k.a, k.b, k.c, k.d, colour); break;
    case 'P': PutPixel(k.a, k.b, colour); break;
    case 'E': DrawEllipse(k.a, k.b, k.c, k.d, k.mode, colour); break;
    case 'F': DrawFieldFrame(); break;
    case 'W': SetPenWidth(k.a); break;
    case 'C':
        WndProc(MainWindow, WmSize, 0, PackPoint(k.a, k.b));
        SetBackColour(Rgb(200, 160, 64));
        ClearSurface();
        break;
    default: FAIL() << k.what;
    }
}

TEST(PrimitivesCoverage, ShapesWriteExactlyTheirPixelsClippedToTheSurface)
{
    const struct {
        const char* what;
        std::vector<Call> calls;
        PixelSet walls;
    } cases[] = {
        {"outline: border of the half-open box", {{'R', 10, 10, 20, 15, 1}}, Ring(10, 10, 19, 14)},
        {"fill: one pixel short both ways", {{'R', 10, 10, 20, 15, 2}}, Boxes({{10, 10, 18, 13}})},
        {"outline and fill: the whole box", {{'R', 10, 10, 20, 15, 3}}, Boxes({{10, 10, 19, 14}})},
        {"modes 0 and 4 draw nothing", {{'R', 10, 10, 20, 15, 0}, {'R', 10, 10, 20, 15, 4}}, {}},
        {"mode 5 is an outline", {{'R', 10, 10, 20, 15, 5}}, Ring(10, 10, 19, 14)},
        {"mode 7 is outline and fill", {{'R', 30, 30, 35, 33, 7}}, Boxes({{30, 30, 34, 32}})},
        {"reservoir outline", {{'R', 0, 0, 336, 60, 1}}, Ring(0, 0, 335, 59)},
        {"gate line emptied", {{'R', 0, 0, 336, 60, 1}, {'L', 4, 59, 332, 59, 1, true}},
         Boxes({{0, 0, 335, 0}, {0, 0, 0, 59}, {335, 0, 335, 59}, {0, 59, 3, 59}, {332, 59, 335, 59}})},
        {"field frame", {{'F'}}, Ring(0, 0, 335, 401)},
        {"line rightwards", {{'L', 10, 5, 20, 5}}, Boxes({{10, 5, 19, 5}})},
        {"line leftwards", {{'L', 20, 5, 10, 5}}, Boxes({{11, 5, 20, 5}})},
        {"line downwards", {{'L', 7, 3, 7, 9}}, Boxes({{7, 3, 7, 8}})},
        {"line upwards", {{'L', 7, 9, 7, 3}}, Boxes({{7, 4, 7, 9}})},
        {"line with equal ends", {{'L', 40, 40, 40, 40}}, {}},
        {"gate opening", {{'L', 0, 59, 336, 59}, {'L', 82, 59, 85, 59, 1, true}},
         Boxes({{0, 59, 81, 59}, {85, 59, 335, 59}})},
        {"gap", {{'L', 0, 59, 336, 59}, {'L', 200, 59, 202, 59, 1, true}}, Boxes({{0, 59, 199, 59}, {202, 59, 335, 59}})},
        {"gap closed", {{'L', 0, 59, 336, 59}, {'L', 200, 59, 202, 59, 1, true}, {'L', 200, 59, 202, 59}},
         Boxes({{0, 59, 335, 59}})},
        {"pixels inside", {{'P', 17, 23}, {'P', 0, 0}, {'P', 335, 401}},
         Boxes({{17, 23, 17, 23}, {0, 0, 0, 0}, {335, 401, 335, 401}})},
        {"pixels outside",
         {{'P', -1, 0}, {'P', 0, -1}, {'P', 336, 0}, {'P', 0, 402}, {'P', 336, 402}, {'P', 100000, 3}, {'P', 3, -100000}},
         {}},
        {"fill past the top-left corner", {{'R', -5, -5, 10, 10, 3}}, Boxes({{0, 0, 9, 9}})},
        {"outline past the bottom-right corner", {{'R', 330, 395, 345, 410, 1}},
         Boxes({{330, 395, 335, 395}, {330, 395, 330, 401}})},
        {"lines past each edge",
         {{'L', -10, 5, 10, 5}, {'L', 330, 400, 340, 400}, {'L', 100, 395, 100, 450}, {'L', 200, -20, 200, 3}},
         Boxes({{0, 5, 9, 5}, {330, 400, 335, 400}, {100, 395, 100, 401}, {200, 0, 200, 2}})},
        {"shapes wholly outside (the fourth ends above row 0)",
         {{'R', -50, -50, -10, -10, 3}, {'R', 400, 10, 500, 20, 3}, {'R', 10, 402, 20, 450, 3}, {'R', -100, -100, 500, 0, 3},
          {'L', -10, -1, 400, -1}, {'L', 336, 0, 336, 402}, {'E', -100, -100, -50, -50, 3}},
         {}},
        {"huge fill", {{'R', -100000, -100000, 100000, 100000, 2}}, Boxes({{0, 0, 335, 401}})},
        {"pen widths 1 and 0 draw one pixel wide",
         {{'W', 5}, {'W', 1}, {'L', 50, 100, 100, 100}, {'W', 0}, {'L', 50, 110, 100, 110}},
         Boxes({{50, 100, 99, 100}, {50, 110, 99, 110}})},
        {"clear: the client width, every row", {{'C', 100, 50}}, Boxes({{0, 0, 99, 401}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartBlank();
        for (const Call& k : c.calls) Perform(k);
        EXPECT_EQ(CellsWith(1), c.walls);
    }
}

TEST(PrimitivesCoverage, DrawingChangesOnlyTheCoveredCellsAndUsesOneColour)
{
    StartBlank();
    // Cells of every kind and shade, so that any stray write shows.
    for (int32_t p = 0; p < FieldSize; ++p) Field[p] = static_cast<uint8_t>((p * 37 + 11) & 0xFF);
    const std::vector<uint8_t> before(Field, Field + FieldSize);
    DrawFieldFrame();
    for (int32_t y = 1; y < FieldHeight - 1; ++y)
        for (int32_t x = 1; x < FieldWidth - 1; ++x) ASSERT_EQ(Field[FieldPos(x, y)], before[FieldPos(x, y)]) << x << "," << y;
    // The fill of a new scene empties every cell.
    DrawRect(0, 0, 336, 402, 3, Empty());
    EXPECT_EQ(CellsWith(0).size(), static_cast<size_t>(FieldSize));
    // Mode 3 leaves no second colour; an outline over it changes only the border.
    DrawRect(50, 50, 60, 58, 3, PaletteColour(4));
    EXPECT_EQ(CellsWith(4), Boxes({{50, 50, 59, 57}}));
    DrawRect(50, 50, 60, 58, 1, PaletteColour(2));
    EXPECT_EQ(CellsWith(2), Ring(50, 50, 59, 57));
    EXPECT_EQ(CellsWith(4), Boxes({{51, 51, 58, 56}}));
}

TEST(PrimitivesPen, WideStrokesAreCentredOnTheOnePixelPath)
{
    StartBlank();
    SetPenWidth(5);
    DrawLine(50, 100, 100, 100, Wall());
    SetPenWidth(3);
    DrawRect(100, 150, 200, 230, 1, Wall());
    // Away from the rounded ends the line covers rows 98..102, not 96 or 104; the outline's top
    // edge rows 149..151, not 147 or 153, its left edge columns 99..101. -1: coverage left open.
    for (int32_t d = -4; d <= 4; ++d) {
        const int32_t line = d * d <= 4 ? 1 : d * d == 16 ? 0 : -1, edge = d * d <= 1 ? 1 : d * d == 9 ? 0 : -1;
        for (int32_t x = 60; x <= 90; x += 10) EXPECT_TRUE(line < 0 || Field[FieldPos(x, 100 + d)] == line) << x << "," << d;
        EXPECT_TRUE(edge < 0 || Field[FieldPos(150, 150 + d)] == edge) << d;
        EXPECT_TRUE(edge < 1 || Field[FieldPos(100 + d, 190)] == 1) << d;
    }
    EXPECT_EQ(Field[FieldPos(150, 190)], 0);
}

// Draws entries 0..count-1 with every primitive and checks each stored its own index.
void ExpectEntriesDrawAsTheirIndex(int32_t count)
{
    for (int32_t j = 0; j < count; ++j) {
        PutPixel(j, 0, PaletteColour(j));
        DrawLine(j, 10, j, 12, PaletteColour(j));
        DrawRect(j, 20, j + 1, 22, 3, PaletteColour(j));
    }
    for (int32_t j = 0; j < count; ++j) {
        EXPECT_EQ(Field[FieldPos(j, 0)], j) << "entry " << j;
        EXPECT_EQ(Field[FieldPos(j, 11)], j) << "entry " << j;
        EXPECT_EQ(Field[FieldPos(j, 21)], j) << "entry " << j;
    }
}

TEST(PrimitivesColour, EntriesInForceAndStaleOnesDrawAsTheirOwnIndex)
{
    StartBlank();
    ExpectEntriesDrawAsTheirIndex(BaseColourCount);
    PaletteBegin();
    for (uint32_t j = 0; j < 256; ++j) PaletteAdd(Rgb(j, 255 - j, (j * 7) & 0xFF));
    PaletteRealize();
    ExpectEntriesDrawAsTheirIndex(256);
    // A smaller build leaves entries from 6 on with the colours of the larger one.
    BuildBasePalette();
    ExpectEntriesDrawAsTheirIndex(256);
}

// Where entries of the colour table are equal, our program stores the lower index.
TEST(PrimitivesColour, EqualEntriesDrawAsTheFirstOne)
{
    StartBlank();
    PaletteBegin();
    for (uint32_t colour : {Rgb(0, 0, 0), Rgb(0, 0, 0), Rgb(10, 20, 30), Rgb(40, 50, 60), Rgb(10, 20, 30)}) PaletteAdd(colour);
    PaletteRealize();
    std::memset(Field, 2, FieldSize);
    DrawRect(10, 10, 20, 20, 3, PaletteColour(1));
    DrawLine(30, 30, 40, 30, PaletteColour(4));
    PutPixel(50, 50, PaletteColour(3));
    EXPECT_EQ(CellsWith(0), Boxes({{10, 10, 19, 19}}));
    EXPECT_EQ(CellsWith(3), Boxes({{50, 50, 50, 50}}));
    EXPECT_TRUE(CellsWith(4).empty());
    EXPECT_TRUE(CellsWith(1).empty());
}

TEST(PrimitivesWindow, UnmirroredDrawingShowsOnlyThroughCopyMirroredAtOnce)
{
    StartBlank();
    CopyToWindow();
    const std::vector<uint8_t> shown(HeadlessWindowBytes(), HeadlessWindowBytes() + FieldSize);
    const int32_t presents = HeadlessPresentCount();
    PutPixel(3, 3, Wall());
    DrawLine(10, 20, 60, 20, Wall());
    DrawRect(100, 100, 150, 150, 3, Wall());
    DrawEllipse(200, 200, 260, 240, 3, Wall());
    SetBackColour(Rgb(200, 160, 64));
    ClearSurface();
    EXPECT_EQ(HeadlessPresentCount(), presents);
    EXPECT_EQ(std::memcmp(HeadlessWindowBytes(), shown.data(), shown.size()), 0);
    ASSERT_NE(std::memcmp(Field, shown.data(), shown.size()), 0);
    CopyToWindow();
    EXPECT_EQ(std::memcmp(HeadlessWindowBytes(), Field, static_cast<size_t>(FieldSize)), 0);

    StartBlank();
    SetMirror(1);
    DrawRect(100, 100, 150, 150, 3, Wall());
    EXPECT_EQ(HeadlessWindowBytes()[FieldPos(120, 120)], 1);
    PutPixel(3, 3, Wall());
    EXPECT_EQ(HeadlessWindowBytes()[FieldPos(3, 3)], 1);
}

// Drawing and palette builds go to the target selected, with its own
// colours, and nothing of them reaches the window's surface, its tables or
// the screen, mirrored or not; the window's target comes back after.
TEST(PrimitivesTarget, ASelectedTargetTakesTheDrawingAndTheBuildsAndTheWindowNothing)
{
    StartBlank();
    SetMirror(1);
    const std::vector<uint8_t> field(Field, Field + FieldSize);
    const std::vector<uint8_t> shown(HeadlessWindowBytes(), HeadlessWindowBytes() + FieldSize);
    uint8_t surface[256][4];
    std::memcpy(surface, SurfaceColours, sizeof surface);
    const PaletteTables window = WindowPalette;
    const int32_t presents = HeadlessPresentCount();

    std::vector<uint8_t> cells(FieldSize, 0);
    uint8_t colours[256][4] = {};
    PaletteTables tables;
    const DrawingTarget target{cells.data(), colours, &tables};
    SelectDrawingTarget(&target);
    EXPECT_FALSE(DrawingOnWindow());
    PaletteBegin();
    for (uint32_t colour : {Rgb(1, 2, 3), Rgb(200, 0, 0), Rgb(0, 200, 0)}) PaletteAdd(colour);
    PaletteRealize();
    EXPECT_EQ(tables.entryCount, 3);
    EXPECT_EQ(colours[2][1], 200);
    EXPECT_EQ(PaletteColour(2), Rgb(0, 200, 0) | PaletteRelative);
    DrawRect(10, 10, 20, 20, 3, PaletteColour(2));
    DrawLine(30, 40, 60, 40, PaletteColour(1));
    DrawEllipse(100, 100, 140, 130, 3, PaletteColour(2));
    EXPECT_EQ(PutPixel(5, 5, PaletteColour(1)), static_cast<int32_t>(Rgb(200, 0, 0)));
    EXPECT_EQ(cells[FieldPos(15, 15)], 2);
    EXPECT_EQ(cells[FieldPos(45, 40)], 1);
    EXPECT_EQ(cells[FieldPos(120, 115)], 2);
    EXPECT_EQ(cells[FieldPos(5, 5)], 1);

    EXPECT_TRUE(std::equal(field.begin(), field.end(), Field)) << "the window's surface was drawn on";
    EXPECT_EQ(std::memcmp(HeadlessWindowBytes(), shown.data(), shown.size()), 0);
    EXPECT_EQ(HeadlessPresentCount(), presents) << "drawing elsewhere was presented";
    EXPECT_EQ(std::memcmp(SurfaceColours, surface, sizeof surface), 0);
    EXPECT_EQ(std::memcmp(&WindowPalette, &window, sizeof window), 0);

    SelectDrawingTarget(nullptr);
    EXPECT_TRUE(DrawingOnWindow());
    EXPECT_EQ(PaletteColour(CellWall), Wall());
    DrawRect(10, 10, 20, 20, 3, Wall());
    EXPECT_EQ(Field[FieldPos(15, 15)], CellWall);
    EXPECT_EQ(HeadlessWindowBytes()[FieldPos(15, 15)], CellWall) << "mirrored drawing on the window again";
}

} // namespace

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/main_routine.h"
#include "files/background.h"
#include "framework/headless/headless.h"
#include "framework/palette_builder.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "test_support.h"

namespace {

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return (r & 255) | (g & 255) << 8 | (b & 255) << 16; }

uint32_t TableColour(int32_t i) { return ColourTable[i][2] | ColourTable[i][1] << 8 | ColourTable[i][0] << 16; }

// Weighted mean per channel, rounded down.
uint32_t Mix(uint32_t a, uint32_t b, uint32_t wa, uint32_t wb)
{
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8)
        out |= ((wa * ((a >> shift) & 255) + wb * ((b >> shift) & 255)) / (wa + wb)) << shift;
    return out;
}

// Whether no entry before j has the colour of entry j.
bool FirstOfItsColour(int32_t j) { return std::find(FullPalette, FullPalette + j, FullPalette[j]) == FullPalette + j; }

// In force every composed colour shows as kept, except a repeat of an earlier
// entry, which is moved to a colour of its own.
void ExpectInForce()
{
    for (int32_t j = 0; j < 256; ++j) {
        EXPECT_TRUE(!FirstOfItsColour(j) || TableColour(j) == FullPalette[j]) << j;
        for (int32_t i = 0; i < j; ++i) ASSERT_NE(TableColour(i), TableColour(j)) << i << " and " << j;
    }
}

std::string ColourText(uint32_t c)
{
    return std::to_string(c & 255) + " " + std::to_string((c >> 8) & 255) + " " + std::to_string((c >> 16) & 255);
}

// Three header lines, then one line per colour.
std::string PalText(const std::vector<uint32_t>& colours)
{
    std::string text = "Header one\nHeader two\nHeader three\n";
    for (uint32_t c : colours) text += ColourText(c) + "\n";
    return text;
}

// 32 colours far enough apart that their blends differ too; black, mid grey and white among them.
std::vector<uint32_t> DistinctShades()
{
    std::vector<uint32_t> shades;
    for (uint32_t s = 0; s < 32; ++s) shades.push_back(Rgb(16 * (s % 16) + 3, 128 * (s / 16) + 40 + s, 5 * s + 7));
    shades[0] = Rgb(0, 0, 0);
    shades[16] = Rgb(128, 128, 128);
    shades[31] = Rgb(255, 255, 255);
    return shades;
}

// The patterned bg.raw: shade (x / 3 + 5 y) mod 32.
uint8_t RawShade(int32_t x, int32_t y) { return static_cast<uint8_t>((x / 3 + y * 5) % 32); }

std::vector<uint8_t> PatternRaw()
{
    std::vector<uint8_t> raw(FieldSize);
    for (int32_t i = 0; i < FieldSize; ++i) raw[static_cast<size_t>(i)] = RawShade(i % FieldWidth, i / FieldWidth);
    return raw;
}

bool NewSceneWall(int32_t x, int32_t y) { return y == 0 || y == 59 || y == FieldHeight - 1 || x == 0 || x == FieldWidth - 1; }

// The colour the window shows at (x, y).
uint32_t Shown(int32_t x, int32_t y)
{
    std::vector<uint8_t> rgb(static_cast<size_t>(FieldSize) * 3);
    HeadlessSurfaceRgb(rgb.data());
    const size_t i = static_cast<size_t>(FieldPos(x, y)) * 3;
    return Rgb(rgb[i], rgb[i + 1], rgb[i + 2]);
}

std::vector<uint8_t> Snapshot() { return std::vector<uint8_t>(Field, Field + FieldSize); }

class BackgroundTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartProgram();
        BuildBasePalette();
        std::memset(Field, 0, FieldSize);
    }
    // Loads an all-shade-0 bg.raw with this bg.pal; returns the 32 shade colours kept.
    static std::vector<uint32_t> LoadShades(const std::string& pal)
    {
        WriteFileBytes("bg.raw", std::vector<uint8_t>(FieldSize, 0));
        WriteFileText("bg.pal", pal);
        LoadBackgroundImage();
        std::vector<uint32_t> shades;
        for (int32_t s = 0; s < 32; ++s) shades.push_back(FullPalette[8 * s]);
        return shades;
    }
    TempDir dir;
};

// ---------------------------------------------------------------------------
// Shades in the field

TEST_F(BackgroundTest, MissingRawOrPalChangesNothing)
{
    for (bool rawThere : {false, true}) {
        SCOPED_TRACE(rawThere ? "bg.raw without bg.pal" : "bg.pal without bg.raw");
        std::remove("bg.raw");
        std::remove("bg.pal");
        if (rawThere) WriteFileBytes("bg.raw", std::vector<uint8_t>(FieldSize, 9));
        else WriteFileText("bg.pal", PalText(DistinctShades()));
        for (int32_t i = 0; i < FieldSize; i += 7) Field[i] = 1;
        const std::vector<uint8_t> before = Snapshot();
        uint8_t table[256][4];
        std::memcpy(table, ColourTable, sizeof table);
        const int32_t realizes = HeadlessRealizeCount();
        for (int32_t flag : {0, 1}) {
            FullPaletteFlag = flag;
            LoadBackgroundImage();
            EXPECT_EQ(FullPaletteFlag, flag);
            EXPECT_TRUE(Snapshot() == before);
        }
        EXPECT_EQ(PaletteEntryCount, 6);
        EXPECT_EQ(HeadlessRealizeCount(), realizes);
        EXPECT_EQ(std::memcmp(table, ColourTable, sizeof table), 0);
    }
}

TEST_F(BackgroundTest, ShadesAreOredIntoTheCellBytes)
{
    std::vector<uint8_t> raw(FieldSize);
    for (int32_t i = 0; i < FieldSize; ++i) raw[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + i / 336);
    const uint8_t bytes[] = {31, 32, 255, 1, 3}, want[] = {31 * 8, 0, 0, 8, 0x99};  // at (10..14, 10)
    std::copy(bytes, bytes + 5, raw.begin() + FieldPos(10, 10));
    WriteFileBytes("bg.raw", raw);
    WriteFileText("bg.pal", PalText(DistinctShades()));
    // Kinds already in the field stay; a cell with shade bits ends with both shades ORed.
    for (int32_t i = 0; i < FieldSize; i += 5) Field[i] = static_cast<uint8_t>(i % 6);
    std::fill(Field + FieldPos(10, 10), Field + FieldPos(14, 10), 0);
    Field[FieldPos(14, 10)] = 0x81;
    std::vector<uint8_t> expected = Snapshot();
    for (size_t i = 0; i < expected.size(); ++i) expected[i] |= static_cast<uint8_t>(raw[i] <= 31 ? raw[i] * 8 : 0);

    LoadBackgroundImage();
    EXPECT_TRUE(Snapshot() == expected);
    for (int32_t k = 0; k < 5; ++k) EXPECT_EQ(Field[FieldPos(10 + k, 10)], want[k]) << k;
}

TEST_F(BackgroundTest, ShortRawLeavesTheRestAtShadeZeroAndLongRawIsCut)
{
    WriteFileText("bg.pal", PalText(DistinctShades()));
    WriteFileBytes("bg.raw", std::vector<uint8_t>(1000, 5));
    Field[999] = Field[1000] = 1;
    LoadBackgroundImage();
    std::vector<uint8_t> want(FieldSize, 0);
    std::fill(want.begin(), want.begin() + 1000, 5 * 8);
    want[999] = 5 * 8 + 1;
    want[1000] = 1;
    EXPECT_TRUE(Snapshot() == want);
    EXPECT_EQ(FullPaletteFlag, 1);

    // An empty bg.raw still counts as found: no shades, but the palette.
    std::memset(Field, 0, FieldSize);
    FullPaletteFlag = 0;
    WriteFileBytes("bg.raw", {});
    LoadBackgroundImage();
    EXPECT_EQ(std::count(Field, Field + FieldSize, 0), FieldSize);
    EXPECT_EQ(FullPaletteFlag, 1);
    EXPECT_EQ(PaletteEntryCount, 256);

    std::vector<uint8_t> raw(FieldSize + 10000, 31);
    std::fill(raw.begin(), raw.begin() + FieldSize, 7);
    WriteFileBytes("bg.raw", raw);
    LoadBackgroundImage();
    EXPECT_EQ(std::count(Field, Field + FieldSize, 7 * 8), FieldSize);
}

// ---------------------------------------------------------------------------
// The full palette

TEST_F(BackgroundTest, FullPaletteIsComposedFromShadesAndBaseColours)
{
    const std::vector<uint32_t> shades = DistinctShades();
    BaseColours[0] = Rgb(9, 99, 199);  // the background colour takes no part
    const int32_t realizes = HeadlessRealizeCount();
    EXPECT_EQ(LoadShades(PalText(shades)), shades);
    EXPECT_EQ(FullPaletteFlag, 1);
    EXPECT_EQ(PaletteEntryCount, 256);
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 1);
    for (int32_t s = 0; s < 32; ++s) {
        const uint32_t shade = shades[static_cast<size_t>(s)];
        EXPECT_EQ(FullPalette[8 * s + 1], Mix(BaseColours[1], shade, 15, 1)) << "wall over shade " << s;
        for (int32_t k = 2; k <= 5; ++k)
            EXPECT_EQ(FullPalette[8 * s + k], Mix(BaseColours[k], shade, 5, 1)) << "kind " << k << " shade " << s;
    }
    // With these shades no shown kind repeats a colour, so all are in force as composed.
    for (int32_t j = 0; j < 256; ++j) EXPECT_TRUE((j & 7) > 5 || FirstOfItsColour(j)) << j;
    ExpectInForce();
    // The worked values with the default colours.
    EXPECT_EQ(TableColour(1), Rgb(187, 150, 60));
    EXPECT_EQ(TableColour(8 * 31 + 1), Rgb(203, 165, 75));
    EXPECT_EQ(TableColour(2), Rgb(0, 200, 183));
    EXPECT_EQ(TableColour(8 * 31 + 4), Rgb(255, 42, 42));
    EXPECT_EQ(TableColour(8 * 16 + 5), Rgb(154, 21, 21));

    // Composed from the base colours of the moment.
    BaseColours[1] = Rgb(16, 32, 48);
    BaseColours[3] = Rgb(60, 120, 240);
    LoadBackgroundImage();
    EXPECT_EQ(FullPalette[8 * 31 + 1], Rgb(30, 45, 60));  // (15 * 16 + 255) / 16 = 30, ...
    EXPECT_EQ(FullPalette[3], Rgb(50, 100, 200));         // 5 * 60 / 6 = 50, ...
    ExpectInForce();
}

// ---------------------------------------------------------------------------
// Reading bg.pal

TEST_F(BackgroundTest, MissingColourLinesRepeatTheLastShade)
{
    std::vector<uint32_t> shades = DistinctShades();
    shades.resize(10);
    const std::vector<uint32_t> got = LoadShades(PalText(shades));
    shades.resize(32, shades[9]);
    EXPECT_EQ(got, shades);
    ExpectInForce();  // the repeats are kept as read, told apart in force
    // Nothing at all, or nothing but the header: every shade black.
    for (const char* pal : {"", "a\nb\nc\n"}) {
        EXPECT_EQ(LoadShades(PalText(shades)), shades);
        EXPECT_EQ(LoadShades(pal), std::vector<uint32_t>(32, 0)) << '"' << pal << '"';
        ExpectInForce();
    }
}

TEST_F(BackgroundTest, NumbersALineDoesNotGiveKeepThePreviousShades)
{
    const std::pair<std::string, uint32_t> lines[] = {
        {"10 20", Rgb(10, 20, 0)},  // blue from before shade 0: 0
        {"1 2 3", Rgb(1, 2, 3)},
        {"4 5", Rgb(4, 5, 3)},
        {"6", Rgb(6, 5, 3)},
        {"", Rgb(6, 5, 3)},
        {"abc 1 2", Rgb(6, 5, 3)},
        {"7 x 9", Rgb(7, 5, 3)},
        {"  \t 8\t9 \t10  ", Rgb(8, 9, 10)},
        {"+11 -1 +0", Rgb(11, 255, 0)},
        {"12 13 14 junk", Rgb(12, 13, 14)},
        {"15 16 17 18", Rgb(15, 16, 17)},
        // Only the low eight bits count.
        {"256 512 -1", Rgb(0, 0, 255)},
        {"-256 1023 4294967295", Rgb(0, 255, 255)},
        {"4294967297 8589934594", Rgb(1, 2, 255)},     // 2^32 + 1, 2^33 + 2
        {"99999999999999999999 0 0", Rgb(255, 0, 0)},  // beyond 64 bits: low 32 bits end in 0xFF
        {"-4294967293 300 -300", Rgb(3, 44, 212)},     // -(2^32 - 3)
        // A comma or a NUL ends the numbers.
        {"7,8,9", Rgb(7, 44, 212)},
        {"10, 11, 12", Rgb(10, 44, 212)},
        {std::string("20 21\0 22", 9), Rgb(20, 21, 212)},
    };
    std::string text = "h\nh\nh\n";
    std::vector<uint32_t> want;
    for (const auto& [line, colour] : lines) text += line + "\n", want.push_back(colour);
    want.resize(32, want.back());
    EXPECT_EQ(LoadShades(text), want);
}

TEST_F(BackgroundTest, ColourLineOfMoreThanThirtyCharactersIsReadAsTwo)
{
    std::string greys;
    for (uint32_t s = 0; s < 32; ++s) greys += ColourText(Rgb(s, s, s)) + "\n";
    // Shade 2's line padded to 30 characters is one line. At 31 the line end alone
    // is shade 3's line, keeping every number, or the rest gives shade 3 its
    // numbers; later shades move down by one.
    for (auto [length, rest] : {std::pair<size_t, std::string>{30, ""}, {31, ""}, {31, "77 88 99"}}) {
        SCOPED_TRACE(std::to_string(length) + " " + rest);
        std::string line = "2 2 2", text = "h\nh\nh\n" + greys;
        line.resize(length, ' ');
        text.replace(text.find("2 2 2"), 5, line + rest);
        std::vector<uint32_t> want;
        for (uint32_t s = 0; s < 32; ++s) {
            const uint32_t g = length == 30 || s < 3 ? s : s - 1;
            want.push_back(s == 3 && !rest.empty() ? Rgb(77, 88, 99) : Rgb(g, g, g));
        }
        EXPECT_EQ(LoadShades(text), want);
    }
}

TEST_F(BackgroundTest, HeaderLineOfMoreThanThirtyCharactersCountsAsTwo)
{
    std::string body;
    std::vector<uint32_t> colours;
    for (int32_t s = 0; s < 32; ++s) colours.push_back(Rgb(s + 100, s, s)), body += ColourText(colours.back()) + "\n";
    // 30 characters: three header lines as usual; 31 or more: the third header line becomes shade 0.
    for (size_t length : {30u, 31u, 40u, 61u}) {
        SCOPED_TRACE(length);
        std::vector<uint32_t> want = colours;
        if (length > 30) want.insert(want.begin(), Rgb(5, 6, 7)), want.pop_back();
        EXPECT_EQ(LoadShades(std::string(length, '#') + "\nsecond\n5 6 7\n" + body), want);
    }
}

TEST_F(BackgroundTest, CrlfLineEnds)
{
    std::string text = "h1\r\nh2\r\nh3\r\n";
    std::vector<uint32_t> want;
    for (int32_t s = 0; s < 32; ++s) want.push_back(Rgb(s, 2 * s, 3 * s)), text += ColourText(want.back()) + "\r\n";
    EXPECT_EQ(LoadShades(text), want);
}

TEST_F(BackgroundTest, JunkFilesAreHarmless)
{
    std::mt19937 random(77);
    auto junk = [&](size_t size) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
        return bytes;
    };
    for (int32_t round = 0; round < 6; ++round) {
        const std::string raw = junk(static_cast<size_t>(FieldSize));
        WriteFileBytes("bg.raw", std::vector<uint8_t>(raw.begin(), raw.end()));
        WriteFileText("bg.pal", junk(4096 << round));
        std::memset(Field, 0, FieldSize);
        LoadBackgroundImage();
        EXPECT_EQ(FullPaletteFlag, 1);
        EXPECT_EQ(PaletteEntryCount, 256);
        EXPECT_EQ(CountKind(0), FieldSize);
    }
    // Lines of 10000 characters.
    const std::string letters(10000, 'x'), digits(10000, '9'), blanks(10000, ' ');
    EXPECT_EQ(LoadShades(letters + "\n" + letters + "\n" + letters + "\n" + letters + "\n"), std::vector<uint32_t>(32, 0));
    LoadShades(digits + "\n" + digits + "\n" + digits + "\n" + digits + "\n" + digits + "\n");
    EXPECT_EQ(PaletteEntryCount, 256);
    LoadShades("a\nb\nc\n" + blanks + "1 2 3\n" + blanks + "\n" + "-" + digits + "\n");
    EXPECT_EQ(PaletteEntryCount, 256);
}

// ---------------------------------------------------------------------------
// A new scene with a background

TEST_F(BackgroundTest, NewSceneShadesFrameWallsAndEmptyCells)
{
    const std::vector<uint32_t> shades = DistinctShades();
    WriteFileBytes("bg.raw", PatternRaw());
    WriteFileText("bg.pal", PalText(shades));
    WriteFileText("init.txt", "BGCOLOR 9 9 9\nWALLCOLOR 100 50 25\nFILLBOX 100 100 120 110 1\n");
    NewScene();
    EXPECT_EQ(FullPaletteFlag, 1);
    EXPECT_EQ(PaletteEntryCount, 256);
    for (int32_t y = 0; y < FieldHeight; ++y)
        for (int32_t x = 0; x < FieldWidth; ++x) {
            const bool wall = NewSceneWall(x, y) || (x >= 100 && x <= 118 && y >= 100 && y <= 108);
            ASSERT_EQ(Field[FieldPos(x, y)], RawShade(x, y) * 8 + (wall ? 1 : 0)) << x << "," << y;
        }
    // Empty cells show the shade colour alone, walls the script's wall colour blended with their shade.
    for (auto [x, y] : {std::pair{50, 200}, {51, 200}, {52, 201}, {200, 300}, {334, 400}, {1, 1}, {0, 0}, {335, 200},
                        {200, 401}, {150, 59}, {110, 105}, {0, 17}}) {
        const uint32_t shade = shades[RawShade(x, y)];
        ASSERT_TRUE(FirstOfItsColour(Field[FieldPos(x, y)]));
        EXPECT_EQ(Shown(x, y), Field[FieldPos(x, y)] & 1 ? Mix(Rgb(100, 50, 25), shade, 15, 1) : shade) << x << "," << y;
    }
}

TEST_F(BackgroundTest, ClearWithoutBackgroundKeepsTheFullPalette)
{
    std::vector<uint32_t> shades = DistinctShades();
    shades[0] = Rgb(10, 20, 30);
    WriteFileBytes("bg.raw", PatternRaw());
    WriteFileText("bg.pal", PalText(shades));
    NewScene();
    ASSERT_EQ(FullPaletteFlag, 1);
    ASSERT_EQ(std::remove("bg.raw"), 0);
    const int32_t realizes = HeadlessRealizeCount();
    NewScene();
    EXPECT_EQ(FullPaletteFlag, 1);
    EXPECT_EQ(PaletteEntryCount, 256);
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    for (int32_t i = 0; i < FieldSize; ++i) ASSERT_EQ(Field[i], NewSceneWall(i % FieldWidth, i / FieldWidth) ? 1 : 0) << i;
    // Empty cells show shade 0's colour, walls the wall blended with it.
    EXPECT_EQ(Shown(100, 200), Rgb(10, 20, 30));
    EXPECT_EQ(Shown(0, 200), Mix(DefaultBaseColours[1], Rgb(10, 20, 30), 15, 1));
}

}  // namespace

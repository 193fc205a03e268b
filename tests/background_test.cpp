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
#include "files/init_script.h"
#include "framework/headless/headless.h"
#include "framework/palette_builder.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "test_support.h"

namespace {

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return (r & 255) | (g & 255) << 8 | (b & 255) << 16; }

uint32_t TableColour(int32_t i)
{
    return ColourTable[i][2] | ColourTable[i][1] << 8 | ColourTable[i][0] << 16;
}

// Weighted mean per channel, rounded down.
uint32_t Mix(uint32_t a, uint32_t b, uint32_t wa, uint32_t wb)
{
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8)
        out |= ((wa * ((a >> shift) & 255) + wb * ((b >> shift) & 255)) / (wa + wb)) << shift;
    return out;
}

// The colour of shade s as the full palette keeps it (entry 8 * s).
uint32_t Shade(int32_t s) { return FullPalette[8 * s]; }

// Whether no entry before j has the colour of entry j.
bool FirstOfItsColour(int32_t j)
{
    for (int32_t i = 0; i < j; ++i)
        if (FullPalette[i] == FullPalette[j]) return false;
    return true;
}

// The palette in force shows every composed colour as kept, except that a
// colour repeated from an earlier entry is moved to one of its own.
void ExpectInForce()
{
    for (int32_t j = 0; j < 256; ++j) {
        if (FirstOfItsColour(j)) {
            EXPECT_EQ(TableColour(j), FullPalette[j]) << j;
        }
        for (int32_t i = 0; i < j; ++i) ASSERT_NE(TableColour(i), TableColour(j)) << i << " and " << j;
    }
}

std::string ColourText(uint32_t c)
{
    return std::to_string(c & 255) + " " + std::to_string((c >> 8) & 255) + " " + std::to_string((c >> 16) & 255);
}

// Three header lines, then one line per colour.
std::string PalText(const std::vector<std::string>& lines)
{
    std::string text = "Header one\nHeader two\nHeader three\n";
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

std::string PalText(const std::vector<uint32_t>& colours)
{
    std::vector<std::string> lines;
    for (uint32_t c : colours) lines.push_back(ColourText(c));
    return PalText(lines);
}

// 32 colours far enough apart that every blend with them differs too;
// black, mid grey and white among them.
std::vector<uint32_t> DistinctShades()
{
    std::vector<uint32_t> shades;
    for (uint32_t s = 0; s < 32; ++s) shades.push_back(Rgb(16 * (s % 16) + 3, 128 * (s / 16) + 40 + s, 5 * s + 7));
    shades[0] = Rgb(0, 0, 0);
    shades[16] = Rgb(128, 128, 128);
    shades[31] = Rgb(255, 255, 255);
    return shades;
}

std::vector<uint8_t> Uniform(size_t size, uint8_t value) { return std::vector<uint8_t>(size, value); }

class BackgroundTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartProgram();
        BuildBasePalette();
        std::memset(Field, 0, FieldSize);
    }
    static std::vector<uint8_t> Snapshot() { return std::vector<uint8_t>(Field, Field + FieldSize); }
    static bool FieldIs(const std::vector<uint8_t>& cells) { return std::equal(cells.begin(), cells.end(), Field); }
    // Loads a background whose bg.raw shades every cell 0 and checks the
    // shade colours that bg.pal gives.
    static std::vector<uint32_t> LoadShades(const std::string& pal)
    {
        WriteFileBytes("bg.raw", Uniform(FieldSize, 0));
        WriteFileText("bg.pal", pal);
        LoadBackgroundImage();
        std::vector<uint32_t> shades;
        for (int32_t s = 0; s < 32; ++s) shades.push_back(Shade(s));
        return shades;
    }
    TempDir dir;
};

// ---------------------------------------------------------------------------
// Shades in the field

TEST_F(BackgroundTest, NoRawChangesNothing)
{
    WriteFileText("bg.pal", PalText(DistinctShades()));
    for (int32_t i = 0; i < FieldSize; i += 7) Field[i] = 1;
    const std::vector<uint8_t> before = Snapshot();
    uint8_t table[256][4];
    std::memcpy(table, ColourTable, sizeof table);
    const int32_t realizes = HeadlessRealizeCount();

    LoadBackgroundImage();
    EXPECT_TRUE(FieldIs(before));
    EXPECT_EQ(FullPaletteFlag, 0);
    EXPECT_EQ(PaletteEntryCount, 6);
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    EXPECT_EQ(std::memcmp(table, ColourTable, sizeof table), 0);

    // A flag that is set stays set.
    FullPaletteFlag = 1;
    LoadBackgroundImage();
    EXPECT_EQ(FullPaletteFlag, 1);
    EXPECT_TRUE(FieldIs(before));
}

TEST_F(BackgroundTest, ShadesAreOredIntoTheCellBytes)
{
    std::vector<uint8_t> raw(FieldSize);
    for (int32_t i = 0; i < FieldSize; ++i) raw[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + i / 336);
    raw[FieldPos(10, 10)] = 31;
    raw[FieldPos(11, 10)] = 32;
    raw[FieldPos(12, 10)] = 255;
    raw[FieldPos(13, 10)] = 1;
    raw[FieldPos(14, 10)] = 3;
    WriteFileBytes("bg.raw", raw);
    WriteFileText("bg.pal", PalText(DistinctShades()));
    // Kinds already in the field stay; a cell that already has shade bits
    // ends with both shades ORed.
    for (int32_t i = 0; i < FieldSize; i += 5) Field[i] = static_cast<uint8_t>(i % 6);
    for (int32_t x = 10; x <= 13; ++x) Field[FieldPos(x, 10)] = 0;
    Field[FieldPos(14, 10)] = 0x81;
    const std::vector<uint8_t> before = Snapshot();

    LoadBackgroundImage();
    int32_t wrong = 0;
    for (int32_t i = 0; i < FieldSize; ++i) {
        const uint8_t v = raw[static_cast<size_t>(i)];
        const uint8_t want = static_cast<uint8_t>(before[static_cast<size_t>(i)] | (v <= 31 ? v * 8 : 0));
        if (Field[i] != want && wrong++ < 5) ADD_FAILURE() << "cell " << i << " is " << int(Field[i]) << ", expected " << int(want);
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(Field[FieldPos(10, 10)], 31 * 8);
    EXPECT_EQ(Field[FieldPos(11, 10)], 0);
    EXPECT_EQ(Field[FieldPos(12, 10)], 0);
    EXPECT_EQ(Field[FieldPos(13, 10)], 8);
    EXPECT_EQ(Field[FieldPos(14, 10)], 0x99);
}

TEST_F(BackgroundTest, ShortRawLeavesTheRestAtShadeZero)
{
    WriteFileBytes("bg.raw", Uniform(1000, 5));
    WriteFileText("bg.pal", PalText(DistinctShades()));
    Field[999] = 1;
    Field[1000] = 1;
    LoadBackgroundImage();
    for (int32_t i = 0; i < 999; ++i) ASSERT_EQ(Field[i], 5 * 8) << i;
    EXPECT_EQ(Field[999], 5 * 8 + 1);
    EXPECT_EQ(Field[1000], 1);
    for (int32_t i = 1001; i < FieldSize; ++i) ASSERT_EQ(Field[i], 0) << i;
    EXPECT_EQ(FullPaletteFlag, 1);

    // An empty bg.raw still counts as found: no shades, but the palette.
    std::memset(Field, 0, FieldSize);
    FullPaletteFlag = 0;
    WriteFileBytes("bg.raw", {});
    LoadBackgroundImage();
    EXPECT_EQ(CountKind(0), FieldSize);
    for (int32_t i = 0; i < FieldSize; ++i) ASSERT_EQ(Field[i], 0) << i;
    EXPECT_EQ(FullPaletteFlag, 1);
    EXPECT_EQ(PaletteEntryCount, 256);
}

TEST_F(BackgroundTest, LongRawExtraBytesAreIgnored)
{
    std::vector<uint8_t> raw = Uniform(FieldSize + 10000, 31);
    std::fill(raw.begin(), raw.begin() + FieldSize, 7);
    WriteFileBytes("bg.raw", raw);
    WriteFileText("bg.pal", PalText(DistinctShades()));
    LoadBackgroundImage();
    for (int32_t i = 0; i < FieldSize; ++i) ASSERT_EQ(Field[i], 7 * 8) << i;
}

TEST_F(BackgroundTest, RawWithoutPalChangesNothing)
{
    WriteFileBytes("bg.raw", Uniform(FieldSize, 9));
    for (int32_t i = 0; i < FieldSize; i += 3) Field[i] = 1;
    const std::vector<uint8_t> before = Snapshot();
    uint8_t table[256][4];
    std::memcpy(table, ColourTable, sizeof table);
    const int32_t realizes = HeadlessRealizeCount();

    LoadBackgroundImage();
    EXPECT_TRUE(FieldIs(before));
    EXPECT_EQ(FullPaletteFlag, 0);
    EXPECT_EQ(PaletteEntryCount, 6);
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    EXPECT_EQ(std::memcmp(table, ColourTable, sizeof table), 0);

    FullPaletteFlag = 1;
    LoadBackgroundImage();
    EXPECT_EQ(FullPaletteFlag, 1);
    EXPECT_TRUE(FieldIs(before));
}

// ---------------------------------------------------------------------------
// The full palette

TEST_F(BackgroundTest, FullPaletteIsComposedFromShadesAndBaseColours)
{
    const std::vector<uint32_t> shades = DistinctShades();
    // The background colour takes no part; the wall colour does.
    BaseColours[0] = Rgb(9, 99, 199);
    WriteFileBytes("bg.raw", Uniform(FieldSize, 0));
    WriteFileText("bg.pal", PalText(shades));
    const int32_t realizes = HeadlessRealizeCount();
    LoadBackgroundImage();

    EXPECT_EQ(FullPaletteFlag, 1);
    EXPECT_EQ(PaletteEntryCount, 256);
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 1);
    for (int32_t s = 0; s < 32; ++s) {
        const uint32_t shade = shades[static_cast<size_t>(s)];
        EXPECT_EQ(FullPalette[8 * s], shade) << "shade " << s;
        EXPECT_EQ(FullPalette[8 * s + 1], Mix(BaseColours[1], shade, 15, 1)) << "wall over shade " << s;
        for (int32_t k = 2; k <= 5; ++k)
            EXPECT_EQ(FullPalette[8 * s + k], Mix(BaseColours[k], shade, 5, 1)) << "kind " << k << " shade " << s;
    }
    // With these shades no shown kind repeats a colour, so all are in force
    // exactly as composed.
    for (int32_t j = 0; j < 256; ++j)
        if ((j & 7) <= 5) {
            EXPECT_TRUE(FirstOfItsColour(j)) << j;
        }
    ExpectInForce();

    // The worked values with the default colours.
    EXPECT_EQ(TableColour(1), Rgb(187, 150, 60));
    EXPECT_EQ(TableColour(8 * 31 + 1), Rgb(203, 165, 75));
    EXPECT_EQ(TableColour(2), Rgb(0, 200, 183));
    EXPECT_EQ(TableColour(8 * 31 + 4), Rgb(255, 42, 42));
    EXPECT_EQ(TableColour(8 * 16 + 5), Rgb(154, 21, 21));
}

TEST_F(BackgroundTest, FullPaletteUsesTheCurrentBaseColours)
{
    BaseColours[1] = Rgb(16, 32, 48);
    BaseColours[3] = Rgb(60, 120, 240);
    WriteFileBytes("bg.raw", Uniform(FieldSize, 0));
    WriteFileText("bg.pal", PalText(DistinctShades()));
    LoadBackgroundImage();
    // 15 * 16 + 255 = 495, / 16 = 30; 15 * 32 + 255 = 735 -> 45; 15 * 48 + 255 = 975 -> 60.
    EXPECT_EQ(FullPalette[8 * 31 + 1], Rgb(30, 45, 60));
    // 5 * 60 = 300 -> 50; 5 * 120 = 600 -> 100; 5 * 240 = 1200 -> 200.
    EXPECT_EQ(FullPalette[3], Rgb(50, 100, 200));
    ExpectInForce();
}

// ---------------------------------------------------------------------------
// Reading bg.pal

TEST_F(BackgroundTest, MissingColourLinesRepeatTheLastShade)
{
    std::vector<uint32_t> ten = DistinctShades();
    ten.resize(10);
    const std::vector<uint32_t> got = LoadShades(PalText(ten));
    for (int32_t s = 0; s < 10; ++s) EXPECT_EQ(got[static_cast<size_t>(s)], ten[static_cast<size_t>(s)]) << s;
    for (int32_t s = 10; s < 32; ++s) EXPECT_EQ(got[static_cast<size_t>(s)], ten[9]) << s;
    // The repeats are kept as read; in force they are told apart.
    ExpectInForce();

    // Nothing but the header: every shade black.
    const std::vector<uint32_t> none = LoadShades("a\nb\nc\n");
    for (int32_t s = 0; s < 32; ++s) EXPECT_EQ(none[static_cast<size_t>(s)], 0u) << s;
}

TEST_F(BackgroundTest, NumbersALineDoesNotGiveKeepThePreviousShades)
{
    const std::vector<uint32_t> got = LoadShades(PalText(std::vector<std::string>{
        "10 20",            // 0: blue from "shade -1", that is 0
        "1 2 3",            // 1
        "4 5",              // 2: blue 3
        "6",                // 3: green 5, blue 3
        "",                 // 4: all kept
        "abc 1 2",          // 5: all kept
        "7 x 9",            // 6: stops at x
        "  \t 8\t9 \t10  ", // 7: blanks and tabs between numbers
        "+11 -1 +0",        // 8: signs
        "12 13 14 junk",    // 9: what follows the third number is ignored
        "15 16 17 18",      // 10: a fourth number too
    }));
    EXPECT_EQ(got[0], Rgb(10, 20, 0));
    EXPECT_EQ(got[1], Rgb(1, 2, 3));
    EXPECT_EQ(got[2], Rgb(4, 5, 3));
    EXPECT_EQ(got[3], Rgb(6, 5, 3));
    EXPECT_EQ(got[4], Rgb(6, 5, 3));
    EXPECT_EQ(got[5], Rgb(6, 5, 3));
    EXPECT_EQ(got[6], Rgb(7, 5, 3));
    EXPECT_EQ(got[7], Rgb(8, 9, 10));
    EXPECT_EQ(got[8], Rgb(11, 255, 0));
    EXPECT_EQ(got[9], Rgb(12, 13, 14));
    EXPECT_EQ(got[10], Rgb(15, 16, 17));
    EXPECT_EQ(got[31], Rgb(15, 16, 17));
}

TEST_F(BackgroundTest, OnlyTheLowEightBitsOfEachNumberCount)
{
    const std::vector<uint32_t> got = LoadShades(PalText(std::vector<std::string>{
        "256 512 -1",
        "-256 1023 4294967295",
        "1 2 3",
        "4294967297 8589934594",    // 2^32 + 1, 2^33 + 2; blue kept
        "99999999999999999999 0 0", // beyond 64 bits: low 32 bits end in 0xFF
        "-4294967293 300 -300",     // -(2^32 - 3)
    }));
    EXPECT_EQ(got[0], Rgb(0, 0, 255));
    EXPECT_EQ(got[1], Rgb(0, 255, 255));
    EXPECT_EQ(got[3], Rgb(1, 2, 3));
    EXPECT_EQ(got[4], Rgb(255, 0, 0));
    EXPECT_EQ(got[5], Rgb(3, 44, 212));
}

TEST_F(BackgroundTest, CommasEndTheNumbers)
{
    const std::vector<uint32_t> got = LoadShades(PalText(std::vector<std::string>{"1 2 3", "7,8,9", "10, 11, 12"}));
    EXPECT_EQ(got[0], Rgb(1, 2, 3));
    EXPECT_EQ(got[1], Rgb(7, 2, 3));
    EXPECT_EQ(got[2], Rgb(10, 2, 3));
}

TEST_F(BackgroundTest, NulInALineEndsItsNumbers)
{
    const char text[] = "h\nh\nh\n1 2\0 3\n4 5 6\n";
    const std::vector<uint32_t> got = LoadShades(std::string(text, sizeof text - 1));
    EXPECT_EQ(got[0], Rgb(1, 2, 0));
    EXPECT_EQ(got[1], Rgb(4, 5, 6));
}

// Colour lines "s s s" for s = 0..31, line `at` replaced.
std::vector<std::string> CountingLines(int32_t at, const std::string& replacement)
{
    std::vector<std::string> lines;
    for (int32_t s = 0; s < 32; ++s) lines.push_back(s == at ? replacement : ColourText(Rgb(s, s, s)));
    return lines;
}

TEST_F(BackgroundTest, ColourLinesOfMoreThanThirtyCharactersAreReadInTwo)
{
    // Exactly 30 characters before the line end: one line.
    std::string thirty = "2 2 2";
    thirty.resize(30, ' ');
    std::vector<uint32_t> got = LoadShades(PalText(CountingLines(2, thirty)));
    for (int32_t s = 0; s < 32; ++s) EXPECT_EQ(got[static_cast<size_t>(s)], Rgb(s, s, s)) << s;

    // 31: the line end alone is read as the next shade's line, which keeps
    // every number; all later shades move down by one.
    std::string thirtyOne = "2 2 2";
    thirtyOne.resize(31, ' ');
    got = LoadShades(PalText(CountingLines(2, thirtyOne)));
    EXPECT_EQ(got[1], Rgb(1, 1, 1));
    EXPECT_EQ(got[2], Rgb(2, 2, 2));
    EXPECT_EQ(got[3], Rgb(2, 2, 2));
    for (int32_t s = 4; s < 32; ++s) EXPECT_EQ(got[static_cast<size_t>(s)], Rgb(s - 1, s - 1, s - 1)) << s;

    // The rest of a long line gives the next shade its numbers.
    std::string split = "2 2 2";
    split.resize(31, ' ');
    split += "77 88 99";
    got = LoadShades(PalText(CountingLines(2, split)));
    EXPECT_EQ(got[2], Rgb(2, 2, 2));
    EXPECT_EQ(got[3], Rgb(77, 88, 99));
    for (int32_t s = 4; s < 32; ++s) EXPECT_EQ(got[static_cast<size_t>(s)], Rgb(s - 1, s - 1, s - 1)) << s;
}

TEST_F(BackgroundTest, LongHeaderLineCountsAsTwoSkippedLines)
{
    std::string colours;
    for (int32_t s = 0; s < 32; ++s) colours += ColourText(Rgb(s + 100, s, s)) + "\n";

    // 30 characters: three header lines, as usual.
    std::vector<uint32_t> got = LoadShades(std::string(30, '#') + "\nsecond\n5 6 7\n" + colours);
    for (int32_t s = 0; s < 32; ++s) EXPECT_EQ(got[static_cast<size_t>(s)], Rgb(s + 100, s, s)) << s;

    // 31 or more: the third header line becomes shade 0.
    for (size_t length : {31u, 40u, 61u}) {
        got = LoadShades(std::string(length, '#') + "\nsecond\n5 6 7\n" + colours);
        EXPECT_EQ(got[0], Rgb(5, 6, 7)) << length;
        for (int32_t s = 1; s < 32; ++s) EXPECT_EQ(got[static_cast<size_t>(s)], Rgb(s + 99, s - 1, s - 1)) << length;
    }
}

TEST_F(BackgroundTest, CrlfLineEnds)
{
    std::string text = "h1\r\nh2\r\nh3\r\n";
    for (int32_t s = 0; s < 32; ++s) text += ColourText(Rgb(s, 2 * s, 3 * s)) + "\r\n";
    const std::vector<uint32_t> got = LoadShades(text);
    for (int32_t s = 0; s < 32; ++s) EXPECT_EQ(got[static_cast<size_t>(s)], Rgb(s, 2 * s, 3 * s)) << s;
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
        std::string raw = junk(static_cast<size_t>(FieldSize));
        WriteFileBytes("bg.raw", std::vector<uint8_t>(raw.begin(), raw.end()));
        WriteFileText("bg.pal", junk(4096 << round));
        std::memset(Field, 0, FieldSize);
        LoadBackgroundImage();
        EXPECT_EQ(FullPaletteFlag, 1);
        EXPECT_EQ(PaletteEntryCount, 256);
        EXPECT_EQ(CountKind(0), FieldSize);
    }

    // Empty files: all shades 0, all black.
    WriteFileBytes("bg.raw", {});
    WriteFileText("bg.pal", "");
    std::memset(Field, 0, FieldSize);
    LoadBackgroundImage();
    for (int32_t i = 0; i < FieldSize; ++i) ASSERT_EQ(Field[i], 0) << i;
    for (int32_t s = 0; s < 32; ++s) EXPECT_EQ(Shade(s), 0u) << s;
    ExpectInForce();

    // Lines of 10000 characters.
    const std::string letters(10000, 'x'), digits(10000, '9'), blanks(10000, ' ');
    std::vector<uint32_t> got = LoadShades(letters + "\n" + letters + "\n" + letters + "\n" + letters + "\n");
    for (int32_t s = 0; s < 32; ++s) EXPECT_EQ(got[static_cast<size_t>(s)], 0u) << s;
    LoadShades(digits + "\n" + digits + "\n" + digits + "\n" + digits + "\n" + digits + "\n");
    EXPECT_EQ(PaletteEntryCount, 256);
    LoadShades("a\nb\nc\n" + blanks + "1 2 3\n" + blanks + "\n" + "-" + digits + "\n");
    EXPECT_EQ(PaletteEntryCount, 256);
}

// ---------------------------------------------------------------------------
// A new scene with a background

uint8_t RawShade(int32_t x, int32_t y) { return static_cast<uint8_t>((x / 3 + y * 5) % 32); }

std::vector<uint8_t> PatternRaw()
{
    std::vector<uint8_t> raw(FieldSize);
    for (int32_t y = 0; y < FieldHeight; ++y)
        for (int32_t x = 0; x < FieldWidth; ++x) raw[static_cast<size_t>(FieldPos(x, y))] = RawShade(x, y);
    return raw;
}

bool NewSceneWall(int32_t x, int32_t y)
{
    return y == 0 || y == 59 || y == FieldHeight - 1 || x == 0 || x == FieldWidth - 1;
}

TEST_F(BackgroundTest, NewSceneShadesFrameWallsAndEmptyCells)
{
    const std::vector<uint32_t> shades = DistinctShades();
    WriteFileBytes("bg.raw", PatternRaw());
    WriteFileText("bg.pal", PalText(shades));
    WriteFileText("init.txt", "BGCOLOR 9 9 9\nWALLCOLOR 100 50 25\nFILLBOX 100 100 120 110 1\n");
    NewScene();

    EXPECT_EQ(FullPaletteFlag, 1);
    EXPECT_EQ(PaletteEntryCount, 256);
    int32_t wrong = 0;
    for (int32_t y = 0; y < FieldHeight; ++y)
        for (int32_t x = 0; x < FieldWidth; ++x) {
            const bool wall = NewSceneWall(x, y) || (x >= 100 && x <= 118 && y >= 100 && y <= 108);
            const uint8_t want = static_cast<uint8_t>(RawShade(x, y) * 8 + (wall ? 1 : 0));
            if (Field[FieldPos(x, y)] != want && wrong++ < 5)
                ADD_FAILURE() << "(" << x << ", " << y << ") is " << int(Field[FieldPos(x, y)]) << ", expected "
                              << int(want);
        }
    EXPECT_EQ(wrong, 0);

    // What shows: empty cells the shade colour alone, walls the script's wall
    // colour blended with their shade.
    std::vector<uint8_t> rgb(static_cast<size_t>(FieldSize) * 3);
    HeadlessSurfaceRgb(rgb.data());
    auto shown = [&](int32_t x, int32_t y) {
        const size_t i = static_cast<size_t>(FieldPos(x, y)) * 3;
        return Rgb(rgb[i], rgb[i + 1], rgb[i + 2]);
    };
    for (auto [x, y] : {std::pair{50, 200}, {51, 200}, {52, 201}, {200, 300}, {334, 400}, {1, 1}}) {
        const uint32_t shade = shades[RawShade(x, y)];
        ASSERT_TRUE(FirstOfItsColour(Field[FieldPos(x, y)]));
        EXPECT_EQ(shown(x, y), shade) << x << "," << y;
    }
    for (auto [x, y] : {std::pair{0, 0}, {335, 200}, {200, 401}, {150, 59}, {110, 105}, {0, 17}}) {
        const uint32_t shade = shades[RawShade(x, y)];
        ASSERT_TRUE(FirstOfItsColour(Field[FieldPos(x, y)]));
        EXPECT_EQ(shown(x, y), Mix(Rgb(100, 50, 25), shade, 15, 1)) << x << "," << y;
    }
}

TEST_F(BackgroundTest, NewSceneWithRawButNoPalIsUnshaded)
{
    WriteFileBytes("bg.raw", PatternRaw());
    NewScene();
    EXPECT_EQ(FullPaletteFlag, 0);
    EXPECT_EQ(PaletteEntryCount, 6);
    for (int32_t y = 0; y < FieldHeight; ++y)
        for (int32_t x = 0; x < FieldWidth; ++x)
            ASSERT_EQ(Field[FieldPos(x, y)], NewSceneWall(x, y) ? 1 : 0) << x << "," << y;
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
    for (int32_t y = 0; y < FieldHeight; ++y)
        for (int32_t x = 0; x < FieldWidth; ++x)
            ASSERT_EQ(Field[FieldPos(x, y)], NewSceneWall(x, y) ? 1 : 0) << x << "," << y;

    // Empty cells show shade 0's colour, walls the wall blended with it.
    std::vector<uint8_t> rgb(static_cast<size_t>(FieldSize) * 3);
    HeadlessSurfaceRgb(rgb.data());
    const size_t empty = static_cast<size_t>(FieldPos(100, 200)) * 3;
    const size_t wall = static_cast<size_t>(FieldPos(0, 200)) * 3;
    EXPECT_EQ(Rgb(rgb[empty], rgb[empty + 1], rgb[empty + 2]), Rgb(10, 20, 30));
    EXPECT_EQ(Rgb(rgb[wall], rgb[wall + 1], rgb[wall + 2]), Mix(DefaultBaseColours[1], Rgb(10, 20, 30), 15, 1));
}

}  // namespace

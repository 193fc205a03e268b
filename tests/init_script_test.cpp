#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/main_routine.h"
#include "files/init_script.h"
#include "framework/headless/headless.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "test_support.h"

namespace {

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | g << 8 | b << 16; }

// Colour-table entry i as red | green << 8 | blue << 16.
uint32_t TableColour(int32_t i) { return ColourTable[i][2] | ColourTable[i][1] << 8 | ColourTable[i][0] << 16; }

uint8_t At(int32_t x, int32_t y) { return Field[FieldPos(x, y)]; }

// Cells of value v in the inclusive box.
int32_t CountIn(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t v)
{
    int32_t n = 0;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x) n += At(x, y) == v;
    return n;
}

// 'F': the inclusive box (x0, y0)-(x1, y1) filled with v; 'O': the one-cell
// outline of the rectangle with those corners.
struct Box {
    char form;
    int32_t x0, y0, x1, y1;
    uint8_t v;
};

// Empty when the field holds exactly the boxes, drawn in order on empty cells.
std::string Differences(std::initializer_list<Box> boxes)
{
    std::vector<uint8_t> want(FieldSize, 0);
    auto fill = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t v) {
        for (int32_t y = std::max(y0, 0); y <= std::min(y1, FieldHeight - 1); ++y)
            for (int32_t x = std::max(x0, 0); x <= std::min(x1, FieldWidth - 1); ++x) want[FieldPos(x, y)] = v;
    };
    for (const auto& [form, x0, y0, x1, y1, v] : boxes) {
        if (form == 'F') fill(x0, y0, x1, y1, v);
        if (form == 'O') {
            fill(x0, y0, x1 - 1, y0, v), fill(x0, y1 - 1, x1 - 1, y1 - 1, v);
            fill(x0, y0, x0, y1 - 1, v), fill(x1 - 1, y0, x1 - 1, y1 - 1, v);
        }
    }
    int32_t n = 0, first = 0;
    for (int32_t i = FieldSize - 1; i >= 0; --i)
        if (Field[i] != want[i]) ++n, first = i;
    if (n == 0) return "";
    return std::to_string(n) + " cells differ, first (" + std::to_string(first % FieldWidth) + ", " +
           std::to_string(first / FieldWidth) + ") is " + std::to_string(Field[first]) + ", not " + std::to_string(want[first]);
}

// A fresh process in an empty directory, six-colour palette in force, all-empty field.
class ScriptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartProgram();
        BuildBasePalette();
        ClearField();
    }
    static void ClearField() { std::memset(Field, 0, FieldSize); }
    static int32_t Run(const std::string& script)
    {
        WriteFileText("init.txt", script);
        return RunInitScript();
    }
    TempDir dir;
};

// ---------------------------------------------------------------------------
// Tokenizing and keywords

TEST(InitScriptTokenize, SplitsLinesIntoCodeAndNumbers)
{
    struct Case {
        std::string line;
        int32_t count;
        std::vector<int32_t> values;  // the leading elements expected
    } cases[] = {
        // ";" makes a comment only as the very first character.
        {";LINE 1 2 3 4 1", 0, {}}, {";", 0, {}}, {" ;LINE 1 2 3 4 1", 6, {0, 1}}, {"PENWIDTH ;3", 2, {1, 0}},
        // Spaces are skipped; a tab or other control character ends the line, 0x7F does not.
        {"   LINE    10   20 30  40 1\n", 6, {2, 10, 20, 30, 40, 1}}, {"LINE\t10 20 30 40 1\n", 1, {2}},
        {"BOX 1 2\t3 4 5\n", 3, {3, 1, 2}}, {"\tLINE 10 20 30 40 1\n", 1, {0}}, {"LINE 1\x01 2 3 4 5", 2, {2, 1}},
        {"LINE 1\r\n", 2, {2, 1}}, {"LINE 1\x7F 2", 3, {2, 1, 2}},
        // Empty and blank lines give one empty token; tokens are upper-cased.
        {"", 1, {0}}, {"\n", 1, {0}}, {"     \n", 1, {0}},
        {"fillEllipse 1 2 3 4 5", 6, {6}}, {"sandcolor2b 1 2 3", 4, {12}}, {"PenWidth 2", 2, {1, 2}},
        // Fourteen characters fit; a fifteenth drops the whole line, unless past the eighth token.
        {"ABCDEFGHIJKLMN 1", 2, {0, 1}}, {"ABCDEFGHIJKLMNO 1", 0, {}}, {"SANDCOLOR1AABCD 1 2 3", 0, {}},
        {"LINE 1 2 3 4 123456789012345", 0, {}}, {"LINE 1 2 3 4 1 2 xxxxxxxxxxxxxxx", 0, {}},
        {"LINE 1 2 3 4 1 2 3 xxxxxxxxxxxxxxxxxxxx", 8, {2, 1, 2, 3, 4, 1, 2, 3}},
        // A 14-digit number keeps the low 32 bits of its value.
        {"LINE 12345678901234 99999999999999 -1234567890123", 4, {2, 1942892530, 276447231, -1912276171}},
        // A trailing space gives one more, empty token; at most eight tokens.
        {"BGCOLOR 1 2 3 \n", 5, {7, 1, 2, 3, 0}}, {"BGCOLOR 1 2 3      ", 5, {7}}, {"PENWIDTH 3 ", 3, {1, 3, 0}},
        {"LINE 1 2 3 4 5 6 7 8 9 10\n", 8, {2, 1, 2, 3, 4, 5, 6, 7}}, {"A B C D E F G H", 8, {0}}, {"A B C D E F G", 7, {0}},
        // High bytes belong to tokens; only a-z are raised.
        {"LINE\xC3\xA9 1 2", 3, {0, 1, 2}}, {"LINE 1\xE9 2 3 4 5", 6, {2, 1, 2}}, {"\xE9LINE 1", 2, {0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("\"" + c.line + "\"");
        ScriptCommand command;
        std::fill(command.values, command.values + 8, -12345);
        EXPECT_EQ(TokenizeLine(c.line.c_str(), command), c.count);
        for (size_t i = 0; i < c.values.size(); ++i) EXPECT_EQ(command.values[i], c.values[i]) << "element " << i;
    }
}

TEST(InitScriptTokenize, NumbersTakeSignAndDigitsUpToTheFirstOtherCharacter)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"0", 0},    {"42", 42}, {"+12", 12}, {"-7", -7}, {"007", 7}, {"12abc", 12}, {"3-4", 3},
        {"5.9", 5},  {"abc", 0}, {"-", 0},    {"+", 0},   {"+-5", 0}, {"--5", 0},    {"x12", 0},
        {"2147483647", 2147483647}, {"2147483648", INT32_MIN}, {"-2147483648", INT32_MIN},
        {"4294967295", -1}, {"4294967296", 0}, {"4294967340", 44},
    };
    for (const auto& [token, value] : cases) {
        ScriptCommand command{};
        EXPECT_EQ(TokenizeLine((std::string("PENWIDTH ") + token).c_str(), command), 2) << token;
        EXPECT_EQ(command.values[1], value) << token;
    }
}

TEST(InitScriptKeyword, TwelveCodesInTableOrderAndWholeCaseSensitiveMatchesOnly)
{
    const char* keywords[] = {"PENWIDTH", "LINE",      "BOX",         "FILLBOX",     "ELLIPSE",     "FILLELLIPSE",
                              "BGCOLOR",  "WALLCOLOR", "SANDCOLOR1A", "SANDCOLOR1B", "SANDCOLOR2A", "SANDCOLOR2B"};
    for (int32_t i = 0; i < 12; ++i) EXPECT_EQ(LookUpKeyword(keywords[i]), i + 1) << keywords[i];
    for (const char* token : {"line", "Line", "LINES", "LIN", "", "BOXX", "FILL", "SANDCOLOR1", "SANDCOLOR1C",
                              "SANDCOLOR3A", " LINE", "LINE ", "WALLCOLOUR", "ELLIPSE2"})
        EXPECT_EQ(LookUpKeyword(token), 0) << '"' << token << '"';
}

// ---------------------------------------------------------------------------
// Executing one command

TEST_F(ScriptTest, CommandsRunOnlyWithAKnownCodeAndTheirTokenCount)
{
    for (int32_t code : {0, 13, 14, -1, 100, INT32_MIN, INT32_MAX})
        for (int32_t count = 1; count <= 8; ++count) ExecuteCommand(ScriptCommand{{code, 3, 10, 10, 50, 1, 7, 7}}, count);
    for (int32_t count : {1, 3, 8}) ExecuteCommand(ScriptCommand{{1, 5}}, count);  // PENWIDTH: exactly two
    for (int32_t count : {1, 2, 3, 5, 6, 7, 8}) ExecuteCommand(ScriptCommand{{8, 1, 2, 3, 4, 5, 6, 7}}, count);  // colours: four
    EXPECT_EQ(CountKind(0), FieldSize);
    EXPECT_EQ(PenWidth, 0);
    EXPECT_EQ(ColoursSetFlag, 0);
    for (int32_t i = 0; i < BaseColourCount; ++i) EXPECT_EQ(BaseColours[i], DefaultBaseColours[i]);
    ExecuteCommand(ScriptCommand{{1, 5}}, 2);
    EXPECT_EQ(PenWidth, 5);
    SetPenWidth(0);

    // Drawing: six or more, the numbers past the fifth ignored.
    for (int32_t code = 2; code <= 6; ++code) {
        SCOPED_TRACE("code " + std::to_string(code));
        const ScriptCommand shape{{code, 10, 20, 60, 40, 1, 99, 99}};
        ExecuteCommand(shape, 5);
        EXPECT_EQ(CountKind(1), 0);
        ExecuteCommand(shape, 6);
        const int32_t drawn = CountKind(1);
        EXPECT_GT(drawn, 0);
        for (int32_t count : {7, 8}) {
            ClearField();
            ExecuteCommand(shape, count);
            EXPECT_EQ(CountKind(1), drawn) << count << " tokens";
        }
        ClearField();
    }
}

TEST_F(ScriptTest, ColourCommandsStoreTheLowEightBitsAndLeaveThePaletteInForce)
{
    const int32_t realizes = HeadlessRealizeCount();
    for (int32_t code = 7; code <= 12; ++code) {
        ExecuteCommand(ScriptCommand{{code, code, 2 * code, 3 * code}}, 4);
        EXPECT_EQ(BaseColours[code - 7], Rgb(code, 2 * code, 3 * code)) << "code " << code;
    }
    EXPECT_EQ(ColoursSetFlag, 1);
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    EXPECT_EQ(TableColour(1), DefaultBaseColours[1]);

    ExecuteCommand(ScriptCommand{{8, 0x12345678, INT32_MIN, -256}}, 4);
    EXPECT_EQ(BaseColours[1], Rgb(0x78, 0, 0));
    ExecuteCommand(ScriptCommand{{9, 511, 257, -255}}, 4);
    EXPECT_EQ(BaseColours[2], Rgb(255, 1, 1));
}

// ---------------------------------------------------------------------------
// Running the script

TEST_F(ScriptTest, MissingFileChangesNothingAndEmptyFileResetsThePen)
{
    PenWidth = 7;
    ColoursSetFlag = 1;
    const int32_t realizes = HeadlessRealizeCount();
    EXPECT_EQ(RunInitScript(), 0);
    EXPECT_EQ(PenWidth, 7);
    EXPECT_EQ(ColoursSetFlag, 1);
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    EXPECT_EQ(CountKind(0), FieldSize);
    for (int32_t i = 0; i < BaseColourCount; ++i) EXPECT_EQ(BaseColours[i], DefaultBaseColours[i]);

    EXPECT_EQ(Run(""), 1);
    EXPECT_EQ(PenWidth, 0);
    EXPECT_EQ(CountKind(0), FieldSize);
}

TEST_F(ScriptTest, LinesAndBoxesCoverTheirCellsInTheirColour)
{
    // Lines right, left, down, up, of no length, in colour 3, clipped left and right.
    EXPECT_EQ(Run("LINE 10 20 50 20 1\nLINE 50 30 10 30 1\nLINE 70 10 70 40 1\nLINE 80 40 80 10 1\n"
                  "LINE 90 90 90 90 1\nLINE 100 50 140 50 3\nLINE -20 60 5 60 1\nLINE 330 70 400 70 5\n"),
              1);
    EXPECT_EQ(Differences({{'F', 10, 20, 49, 20, 1}, {'F', 11, 30, 50, 30, 1}, {'F', 70, 10, 70, 39, 1},
                           {'F', 80, 11, 80, 40, 1}, {'F', 100, 50, 139, 50, 3}, {'F', 0, 60, 4, 60, 1},
                           {'F', 330, 70, 335, 70, 5}}),
              "");
    // A filled box framed afterwards keeps its inside; colour 0 empties; the last box is clipped.
    ClearField();
    EXPECT_EQ(Run("FILLBOX 200 100 230 130 2\nBOX 200 100 230 130 1\nBOX 100 100 120 110 1\n"
                  "FILLBOX 100 200 120 210 4\nFILLBOX 10 300 30 320 1\nFILLBOX 15 305 25 315 0\nBOX 300 380 400 500 5\n"),
              1);
    EXPECT_EQ(Differences({{'F', 200, 100, 228, 128, 2}, {'O', 200, 100, 230, 130, 1}, {'O', 100, 100, 120, 110, 1},
                           {'F', 100, 200, 118, 208, 4}, {'F', 10, 300, 28, 318, 1}, {'F', 15, 305, 23, 313, 0},
                           {'F', 300, 380, 335, 380, 5}, {'F', 300, 380, 300, 401, 5}}),
              "");
    // The worked figures: 56 outline cells, a 19 x 9 fill.
    EXPECT_EQ(CountIn(95, 95, 124, 114, 1), 56);
    EXPECT_EQ(CountIn(95, 195, 124, 214, 4), 171);
}

// Any ellipse inscribed in the box: centre inside, box corners outside.
TEST_F(ScriptTest, EllipsesStayInsideTheirBox)
{
    // A box one column wide has no inside to fill.
    EXPECT_EQ(Run("FILLELLIPSE 50 250 151 311 1\nFILLBOX 200 250 301 311 2\nELLIPSE 200 250 301 311 1\n"
                  "FILLELLIPSE 10 10 11 40 1\n"),
              1);
    for (auto [x, y] : {std::pair{100, 280}, {90, 275}, {110, 285}}) EXPECT_EQ(At(x, y), 1) << x << "," << y;
    for (auto [x, y] : {std::pair{50, 250}, {150, 250}, {50, 310}, {150, 310}, {51, 251}, {149, 309}, {300, 250}, {300, 310}})
        EXPECT_EQ(At(x, y), 0) << x << "," << y;
    // The outline keeps the inside and the corners as they were.
    for (auto [x, y] : {std::pair{250, 280}, {240, 270}, {200, 250}, {299, 250}, {200, 309}, {299, 309}})
        EXPECT_EQ(At(x, y), 2) << x << "," << y;
    // It touches all four sides of its box near their middles, and nothing lies outside the boxes.
    EXPECT_GT(CountIn(240, 250, 260, 250, 1) * CountIn(240, 310, 260, 310, 1), 0);
    EXPECT_GT(CountIn(200, 270, 200, 290, 1) * CountIn(300, 270, 300, 290, 1), 0);
    auto drawn = [](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        return (x1 - x0 + 1) * (y1 - y0 + 1) - CountIn(x0, y0, x1, y1, 0);
    };
    EXPECT_EQ(drawn(0, 0, 335, 401), drawn(50, 250, 150, 310) + drawn(200, 250, 300, 310));
}

TEST_F(ScriptTest, PenWidthHoldsForTheRestOfTheRunOnly)
{
    EXPECT_EQ(Run("PENWIDTH 3\nBOX 100 100 201 201 1\nLINE 50 300 150 300 1\n"), 1);
    // Three cells wide, centred on the one-cell path: rows 100 and 200, columns 100 and 200.
    for (int32_t d = -2; d <= 2; ++d) {
        const uint8_t want = (d >= -1 && d <= 1) ? 1 : 0;
        EXPECT_EQ(At(150, 100 + d), want) << "top " << d;
        EXPECT_EQ(At(150, 200 + d), want) << "bottom " << d;
        EXPECT_EQ(At(100 + d, 150), want) << "left " << d;
        EXPECT_EQ(At(200 + d, 150), want) << "right " << d;
        EXPECT_EQ(At(100, 300 + d), want) << "line " << d;
    }
    EXPECT_EQ(At(150, 150), 0);
    EXPECT_EQ(PenWidth, 0);
    // The next run starts with the one-cell pen; PENWIDTH with a trailing space
    // is ignored, a drawing command with one still runs.
    ClearField();
    EXPECT_EQ(Run("PENWIDTH 3 \nBOX 10 10 31 31 1  \n"), 1);
    EXPECT_EQ(Differences({{'O', 10, 10, 31, 31, 1}}), "");
}

TEST_F(ScriptTest, ColourCommandsRebuildThePaletteOnceAtTheEnd)
{
    const int32_t realizes = HeadlessRealizeCount();
    // The box drawn after WALLCOLOR in the same run still takes index 1.
    EXPECT_EQ(Run("WALLCOLOR 0 0 0\nFILLBOX 10 10 20 20 1\nsandcolor1a 1 2 3\nBGCOLOR 300 -1 0\nSANDCOLOR2B 7 8 9\n"), 1);
    EXPECT_EQ(Differences({{'F', 10, 10, 18, 18, 1}}), "");
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 1);
    EXPECT_EQ(ColoursSetFlag, 1);
    EXPECT_EQ(PaletteEntryCount, 6);
    EXPECT_EQ(FullPaletteFlag, 0);
    const uint32_t want[] = {Rgb(44, 255, 0), 0, Rgb(1, 2, 3), DefaultBaseColours[3], DefaultBaseColours[4], Rgb(7, 8, 9)};
    for (int32_t i = 0; i < BaseColourCount; ++i) {
        EXPECT_EQ(BaseColours[i], want[i]) << i;
        EXPECT_EQ(TableColour(i), want[i]) << i;
    }
    // A later run without colour commands keeps them and rebuilds nothing.
    EXPECT_EQ(Run("LINE 0 0 5 0 1\n"), 1);
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 1);
    EXPECT_EQ(BaseColours[5], Rgb(7, 8, 9));
}

TEST_F(ScriptTest, WallInTheBackgroundColourStillMakesWalls)
{
    // Both black as set, yet told apart in force, so the new scene's frame is walls.
    WriteFileText("init.txt", "WALLCOLOR 0 0 0\n");
    NewScene();
    EXPECT_EQ(BaseColours[0], 0u);
    EXPECT_EQ(BaseColours[1], 0u);
    EXPECT_NE(TableColour(0), TableColour(1));
    EXPECT_EQ(Differences({{'O', 0, 0, 336, 402, 1}, {'F', 0, 59, 335, 59, 1}}), "");
}

TEST_F(ScriptTest, DrawingOnlyLeavesThePaletteAloneAndSkipsColoursOutsideIt)
{
    // Six-colour palette: 0..5 only. Colour lines with the wrong token count change nothing.
    ColoursSetFlag = 1;  // cleared when the run begins
    int32_t realizes = HeadlessRealizeCount();
    uint8_t table[256][4];
    std::memcpy(table, ColourTable, sizeof table);
    std::string script = "FILLBOX 10 10 60 60 1\nWALLCOLOR 1 2\nBGCOLOR 1 2 3 4\n";
    for (const char* c : {"6", "-1", "7", "255", "256", "2147483647", "-2147483648"})
        for (const char* shape : {"LINE 10 30 60 30 ", "BOX 10 10 60 60 ", "FILLBOX 10 10 60 60 ", "ELLIPSE 10 10 60 60 ",
                                  "FILLELLIPSE 10 10 60 60 "})
            script += std::string(shape) + c + "\n";
    EXPECT_EQ(Run(script + "FILLBOX 100 10 110 20 5\nFILLBOX 120 10 130 20 0\n"), 1);
    EXPECT_EQ(Differences({{'F', 10, 10, 58, 58, 1}, {'F', 100, 10, 108, 18, 5}}), "");
    EXPECT_EQ(ColoursSetFlag, 0);
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    EXPECT_EQ(std::memcmp(table, ColourTable, sizeof table), 0);
    EXPECT_EQ(PaletteEntryCount, 6);

    // Full palette: 0..255 draw and it stays in force; 256 and negatives are skipped.
    // 100 is kind 4 over shade 12, 200 shade 25 alone, 253 kind 5 over shade 31.
    ClearField();
    uint32_t shades[ShadeCount];
    for (int32_t s = 0; s < ShadeCount; ++s) shades[s] = Rgb(7 * s + 3, 0x11, 0x22);
    BuildFullPalette(shades);
    realizes = HeadlessRealizeCount();
    EXPECT_EQ(Run("FILLBOX 10 10 60 60 1\nFILLBOX 10 10 60 60 256\nFILLBOX 10 10 60 60 -1\n"
                  "FILLBOX 100 10 110 20 100\nFILLBOX 120 10 130 20 200\nLINE 140 10 150 10 253\n"),
              1);
    EXPECT_EQ(Differences({{'F', 10, 10, 58, 58, 1}, {'F', 100, 10, 108, 18, 100}, {'F', 120, 10, 128, 18, 200},
                           {'F', 140, 10, 149, 10, 253}}),
              "");
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    EXPECT_EQ(PaletteEntryCount, 256);
    EXPECT_EQ(FullPaletteFlag, 1);
}

TEST_F(ScriptTest, LongLineIsReadAs254CharactersAndTheRest)
{
    // 254 characters ending in "X", then 46 that form a BOX only if the cut falls right after the X.
    std::string first = "FILLBOX 10 10 20 20 1", second = "BOX 100 100 120 120 1";
    first.resize(253, ' ');
    second.resize(46, ' ');
    const std::string line = first + "X" + second;
    ASSERT_EQ(line.size(), 300u);
    EXPECT_EQ(Run(line + "\nLINE 200 5 210 5 1\n"), 1);
    EXPECT_EQ(Differences({{'F', 10, 10, 18, 18, 1}, {'O', 100, 100, 120, 120, 1}, {'F', 200, 5, 209, 5, 1}}), "");
}

TEST_F(ScriptTest, CrlfEndsLinesAndNulEndsTheRestOfItsLine)
{
    EXPECT_EQ(Run("PENWIDTH 3\r\nBOX 100 100 201 201 1\r\nWALLCOLOR 1 2 3\r\nFILLBOX 10 10 20 20 2\r\n"), 1);
    EXPECT_EQ(At(150, 99) + At(150, 101), 2);
    EXPECT_EQ(CountIn(10, 10, 19, 19, 2), 81);
    EXPECT_EQ(BaseColours[1], Rgb(1, 2, 3));
    EXPECT_EQ(TableColour(1), Rgb(1, 2, 3));

    ClearField();
    const char text[] = "FILLBOX 10 10 20 20 1\0FILLBOX 0 0 336 402 2\n";
    EXPECT_EQ(Run(std::string(text, sizeof text - 1)), 1);
    EXPECT_EQ(Differences({{'F', 10, 10, 18, 18, 1}}), "");
}

TEST_F(ScriptTest, SkippedLinesDoNotStopTheRun)
{
    // Only the eight-token FILLBOX and the last one run.
    EXPECT_EQ(Run(";FILLBOX 0 0 336 402 1\n ;FILLBOX 0 0 336 402 1\n\tFILLBOX 0 0 336 402 1\n"
                  "FILLBOX\t0 0 336 402 1\nFILLBOXXXXXXXXX 0 0 336 402 1\nSANDCOLOR1AABCD 1 2 3\n"
                  "FILLBOX 0 0 336 402 123456789012345\nLINE 0 0 336\n"
                  "FILLBOX 0 0 336 402 1 extra words here\nFILLBOX 5 5 15 15 0\n"),
              1);
    EXPECT_EQ(Differences({{'F', 0, 0, 334, 400, 1}, {'F', 5, 5, 13, 13, 0}}), "");
    EXPECT_EQ(BaseColours[2], DefaultBaseColours[2]);
}

// ---------------------------------------------------------------------------
// Bad input ends the run normally, whatever it holds.

TEST_F(ScriptTest, VeryLongLinesAndBinaryJunkAreHarmless)
{
    EXPECT_EQ(Run(std::string(100000, 'A')), 1);
    EXPECT_EQ(Run(std::string(100000, '9') + "\n" + std::string(50000, ' ') + "\n"), 1);
    EXPECT_EQ(Run("LINE " + std::string(100000, '-') + "\n"), 1);
    EXPECT_EQ(CountKind(0), FieldSize);
    std::mt19937 random(20240607);
    for (int32_t round = 0; round < 8; ++round) {
        std::string junk(1 << 16, '\0');
        for (char& c : junk) c = static_cast<char>(random() & 0xFF);
        EXPECT_EQ(Run(junk), 1);
        EXPECT_EQ(PenWidth, 0);
    }
    const std::string zeros(5000, '\0');
    EXPECT_EQ(Run(zeros + "\n" + zeros), 1);
}

TEST_F(ScriptTest, HugeNumbersAndCoordinatesAreHarmless)
{
    const char* shapes[] = {"LINE", "BOX", "FILLBOX", "ELLIPSE", "FILLELLIPSE"};
    const std::string big[] = {"2147483647", "-2147483648", "99999999999999", "-9999999999999", "335"};
    std::string script;
    for (const std::string shape : shapes)
        script += shape + " -2147483648 -2147483648 2147483647 2147483647 1\n" + shape +
                  " 2147483647 2147483647 -2147483648 -2147483648 2\n";
    for (const char* pen : {"0", "3", "-5"}) {
        script += std::string("PENWIDTH ") + pen + "\n";
        for (const std::string shape : shapes)
            for (const std::string& a : big)
                for (const std::string& b : big) script += shape + " " + a + " " + b + " " + b + " " + a + " 1\n";
    }
    EXPECT_EQ(Run(script), 1);
    EXPECT_EQ(PenWidth, 0);
}

TEST_F(ScriptTest, HugeShapesAreClippedToTheField)
{
    // A fill from far left-top to far right-bottom covers every cell; its outline none.
    EXPECT_EQ(Run("FILLBOX -2147483648 -2147483648 2147483647 2147483647 1\n"), 1);
    EXPECT_EQ(CountKind(1), FieldSize);
    ClearField();
    EXPECT_EQ(Run("BOX -2147483648 -2147483648 2147483647 2147483647 1\n"), 1);
    EXPECT_EQ(CountKind(0), FieldSize);
    EXPECT_EQ(Run("LINE -2147483648 10 2147483647 10 1\nLINE 20 2147483647 20 -2147483648 2\n"), 1);
    EXPECT_EQ(Differences({{'F', 0, 10, 335, 10, 1}, {'F', 20, 0, 20, 401, 2}}), "");
    // An ellipse far larger than the field, centred on it, fills all of it.
    EXPECT_EQ(Run("FILLELLIPSE -999999832 -999999799 1000000168 1000000201 3\n"), 1);
    EXPECT_EQ(CountKind(3), FieldSize);
}

TEST_F(ScriptTest, NegativePenWidthsAreHarmlessAndFillsTakeNoPen)
{
    EXPECT_EQ(Run("PENWIDTH -1\nBOX 10 10 50 50 1\nLINE 5 100 300 100 1\nLINE 5 100 300 200 1\n"
                  "ELLIPSE 100 200 200 300 1\nPENWIDTH -2147483648\nFILLBOX 200 10 220 20 2\n"),
              1);
    EXPECT_EQ(PenWidth, 0);
    EXPECT_EQ(CountIn(200, 10, 218, 18, 2), 19 * 9);
    EXPECT_EQ(CountIn(195, 5, 225, 25, 0), 31 * 21 - 19 * 9);
    EXPECT_EQ(Run("PENWIDTH -2147483648\nBOX 60 60 120 120 1\nELLIPSE 100 200 200 300 1\nLINE 0 0 335 401 1\n"
                  "PENWIDTH -7\nLINE -2147483648 -2147483648 2147483647 2147483647 1\nELLIPSE -2147483648 0 2147483647 401 1\n"),
              1);
    EXPECT_EQ(PenWidth, 0);
}

}  // namespace

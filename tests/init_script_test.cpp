#include <gtest/gtest.h>

#include <sstream>

#include <algorithm>
#include <climits>
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

// ---------------------------------------------------------------------------
// Helpers

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | g << 8 | b << 16; }

// The colour entry i of the palette in force holds, as red | green << 8 | blue << 16.
uint32_t TableColour(int32_t i)
{
    return ColourTable[i][2] | ColourTable[i][1] << 8 | ColourTable[i][0] << 16;
}

struct Tokens {
    int32_t count;
    ScriptCommand command;
};

Tokens Tokenize(const std::string& line)
{
    Tokens t{};
    for (auto& v : t.command.values) v = -12345;
    t.count = TokenizeLine(line.c_str(), t.command);
    return t;
}

uint8_t At(int32_t x, int32_t y) { return Field[FieldPos(x, y)]; }

// A model of the field the test expects, built from the coverage rules of
// pixels, horizontal and vertical lines and rectangles.
struct Expected {
    std::vector<uint8_t> cells = std::vector<uint8_t>(FieldSize, 0);
    // Inclusive box, clipped to the field.
    void Fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t v)
    {
        for (int32_t y = std::max(y0, 0); y <= std::min(y1, FieldHeight - 1); ++y)
            for (int32_t x = std::max(x0, 0); x <= std::min(x1, FieldWidth - 1); ++x)
                cells[static_cast<size_t>(FieldPos(x, y))] = v;
    }
    // Rectangle outline of the box left..right-1, top..bottom-1.
    void Outline(int32_t l, int32_t t, int32_t r, int32_t b, uint8_t v)
    {
        Fill(l, t, r - 1, t, v);
        Fill(l, b - 1, r - 1, b - 1, v);
        Fill(l, t, l, b - 1, v);
        Fill(r - 1, t, r - 1, b - 1, v);
    }
};

// Empty when the field equals the model, else where and how it differs.
std::string Differences(const Expected& e)
{
    int32_t n = 0;
    std::string first;
    for (int32_t i = 0; i < FieldSize; ++i) {
        if (Field[i] == e.cells[static_cast<size_t>(i)]) continue;
        if (n++ == 0) {
            std::ostringstream where;
            where << "(" << i % FieldWidth << ", " << i / FieldWidth << ") is " << int{Field[i]} << ", expected "
                  << int{e.cells[static_cast<size_t>(i)]};
            first = where.str();
        }
    }
    return n == 0 ? std::string() : std::to_string(n) + " cells differ, first " + first;
}

// A fresh process in an empty directory with the six-colour palette in force
// and an all-empty field.
class ScriptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartProgram();
        ColoursSetFlag = 0;  // StartProgram leaves the script's flag alone
        BuildBasePalette();
        std::memset(Field, 0, FieldSize);
    }
    static int32_t Run(const std::string& script)
    {
        WriteFileText("init.txt", script);
        return RunInitScript();
    }
    TempDir dir;
};

// ---------------------------------------------------------------------------
// TokenizeLine

TEST(InitScriptTokenize, CommentOnlyWhenSemicolonIsTheVeryFirstCharacter)
{
    EXPECT_EQ(Tokenize(";LINE 1 2 3 4 1").count, 0);
    EXPECT_EQ(Tokenize(";").count, 0);

    // After a space the ";" is part of an unknown keyword.
    Tokens t = Tokenize(" ;LINE 1 2 3 4 1");
    EXPECT_EQ(t.count, 6);
    EXPECT_EQ(t.command.values[0], 0);
    EXPECT_EQ(t.command.values[1], 1);

    // A ";" later on is no comment either.
    t = Tokenize("PENWIDTH ;3");
    EXPECT_EQ(t.count, 2);
    EXPECT_EQ(t.command.values[0], 1);
    EXPECT_EQ(t.command.values[1], 0);
}

TEST(InitScriptTokenize, SpacesAreSkippedButATabEndsTheLine)
{
    Tokens t = Tokenize("   LINE    10   20 30  40 1\n");
    EXPECT_EQ(t.count, 6);
    EXPECT_EQ(t.command.values[0], 2);
    EXPECT_EQ(t.command.values[1], 10);
    EXPECT_EQ(t.command.values[2], 20);
    EXPECT_EQ(t.command.values[3], 30);
    EXPECT_EQ(t.command.values[4], 40);
    EXPECT_EQ(t.command.values[5], 1);

    t = Tokenize("LINE\t10 20 30 40 1\n");
    EXPECT_EQ(t.count, 1);
    EXPECT_EQ(t.command.values[0], 2);

    t = Tokenize("BOX 1 2\t3 4 5\n");
    EXPECT_EQ(t.count, 3);
    EXPECT_EQ(t.command.values[2], 2);

    // Indented with a tab: one empty token.
    t = Tokenize("\tLINE 10 20 30 40 1\n");
    EXPECT_EQ(t.count, 1);
    EXPECT_EQ(t.command.values[0], 0);

    // Other control characters end the line too; 0x7F does not.
    t = Tokenize("LINE 1\x01 2 3 4 5");
    EXPECT_EQ(t.count, 2);
    t = Tokenize("LINE 1\r\n");
    EXPECT_EQ(t.count, 2);
    t = Tokenize("LINE 1\x7F 2");
    EXPECT_EQ(t.count, 3);
}

TEST(InitScriptTokenize, EmptyAndBlankLinesGiveOneEmptyToken)
{
    Tokens t = Tokenize("");
    EXPECT_EQ(t.count, 1);
    EXPECT_EQ(t.command.values[0], 0);
    t = Tokenize("\n");
    EXPECT_EQ(t.count, 1);
    EXPECT_EQ(t.command.values[0], 0);
    t = Tokenize("     \n");
    EXPECT_EQ(t.count, 1);
    EXPECT_EQ(t.command.values[0], 0);
}

TEST(InitScriptTokenize, TokensAreUpperCased)
{
    Tokens t = Tokenize("fillEllipse 1 2 3 4 5");
    EXPECT_EQ(t.count, 6);
    EXPECT_EQ(t.command.values[0], 6);
    EXPECT_EQ(Tokenize("sandcolor2b 1 2 3").command.values[0], 12);
    EXPECT_EQ(Tokenize("PenWidth 2").command.values[0], 1);
}

TEST(InitScriptTokenize, FourteenCharactersFitAndAFifteenthDropsTheLine)
{
    Tokens t = Tokenize("ABCDEFGHIJKLMN 1");
    EXPECT_EQ(t.count, 2);
    EXPECT_EQ(t.command.values[0], 0);
    EXPECT_EQ(t.command.values[1], 1);

    EXPECT_EQ(Tokenize("ABCDEFGHIJKLMNO 1").count, 0);
    EXPECT_EQ(Tokenize("SANDCOLOR1AABCD 1 2 3").count, 0);
    // A long token late in the line drops the tokens before it as well.
    EXPECT_EQ(Tokenize("LINE 1 2 3 4 123456789012345").count, 0);
    EXPECT_EQ(Tokenize("LINE 1 2 3 4 1 2 xxxxxxxxxxxxxxx").count, 0);
    // Past the eighth token nothing is read, so length no longer matters.
    EXPECT_EQ(Tokenize("LINE 1 2 3 4 1 2 3 xxxxxxxxxxxxxxxxxxxx").count, 8);

    // A 14-digit number keeps the low 32 bits of its value.
    t = Tokenize("LINE 12345678901234 99999999999999 -1234567890123");
    EXPECT_EQ(t.count, 4);
    EXPECT_EQ(t.command.values[1], 1942892530);   // 12345678901234 mod 2^32
    EXPECT_EQ(t.command.values[2], 276447231);    // 99999999999999 mod 2^32
    EXPECT_EQ(t.command.values[3], -1912276171);  // -1234567890123 mod 2^32
}

TEST(InitScriptTokenize, TrailingSpaceGivesOneMoreEmptyToken)
{
    Tokens t = Tokenize("BGCOLOR 1 2 3 \n");
    EXPECT_EQ(t.count, 5);
    EXPECT_EQ(t.command.values[4], 0);
    EXPECT_EQ(Tokenize("BGCOLOR 1 2 3      ").count, 5);
    EXPECT_EQ(Tokenize("PENWIDTH 3 ").count, 3);
}

TEST(InitScriptTokenize, AtMostEightTokens)
{
    Tokens t = Tokenize("LINE 1 2 3 4 5 6 7 8 9 10\n");
    EXPECT_EQ(t.count, 8);
    EXPECT_EQ(t.command.values[0], 2);
    for (int32_t i = 1; i < 8; ++i) EXPECT_EQ(t.command.values[i], i);
    EXPECT_EQ(Tokenize("A B C D E F G H").count, 8);
    EXPECT_EQ(Tokenize("A B C D E F G").count, 7);
}

TEST(InitScriptTokenize, HighBytesBelongToTokens)
{
    Tokens t = Tokenize("LINE\xC3\xA9 1 2");
    EXPECT_EQ(t.count, 3);
    EXPECT_EQ(t.command.values[0], 0);

    t = Tokenize("LINE 1\xE9 2 3 4 5");
    EXPECT_EQ(t.count, 6);
    EXPECT_EQ(t.command.values[1], 1);
    EXPECT_EQ(t.command.values[2], 2);

    // Only a-z are raised, so an accented letter stays and no keyword matches.
    EXPECT_EQ(Tokenize("\xE9LINE 1").command.values[0], 0);
}

TEST(InitScriptTokenize, NumbersTakeSignAndDigitsUpToTheFirstOtherCharacter)
{
    struct Case {
        const char* token;
        int32_t value;
    } cases[] = {
        {"0", 0},          {"42", 42},         {"+12", 12},       {"-7", -7},
        {"007", 7},        {"12abc", 12},      {"3-4", 3},        {"5.9", 5},
        {"abc", 0},        {"-", 0},           {"+", 0},          {"+-5", 0},
        {"--5", 0},        {"x12", 0},         {"2147483647", 2147483647},
        {"2147483648", INT32_MIN},             {"-2147483648", INT32_MIN},
        {"4294967295", -1},                    {"4294967296", 0},
        {"4294967340", 44},
    };
    for (const Case& c : cases) {
        Tokens t = Tokenize(std::string("PENWIDTH ") + c.token);
        EXPECT_EQ(t.count, 2) << c.token;
        EXPECT_EQ(t.command.values[1], c.value) << c.token;
    }
}

// ---------------------------------------------------------------------------
// LookUpKeyword

TEST(InitScriptKeyword, AllTwelveCodesInTableOrder)
{
    const char* keywords[] = {"PENWIDTH",    "LINE",        "BOX",         "FILLBOX",
                              "ELLIPSE",     "FILLELLIPSE", "BGCOLOR",     "WALLCOLOR",
                              "SANDCOLOR1A", "SANDCOLOR1B", "SANDCOLOR2A", "SANDCOLOR2B"};
    for (int32_t i = 0; i < 12; ++i) EXPECT_EQ(LookUpKeyword(keywords[i]), i + 1) << keywords[i];
}

TEST(InitScriptKeyword, WholeCaseSensitiveMatchesOnly)
{
    for (const char* token : {"line", "Line", "LINES", "LIN", "", "BOXX", "FILL", "SANDCOLOR1", "SANDCOLOR1C",
                              "SANDCOLOR3A", " LINE", "LINE ", "WALLCOLOUR", "ELLIPSE2"})
        EXPECT_EQ(LookUpKeyword(token), 0) << '"' << token << '"';
}

// ---------------------------------------------------------------------------
// ExecuteCommand

ScriptCommand Command(std::initializer_list<int32_t> values)
{
    ScriptCommand c{};
    int32_t i = 0;
    for (int32_t v : values) c.values[i++] = v;
    return c;
}

TEST_F(ScriptTest, PenWidthNeedsExactlyTwoTokens)
{
    const ScriptCommand pen = Command({1, 5, 0, 0, 0, 0, 0, 0});
    ExecuteCommand(pen, 1);
    EXPECT_EQ(PenWidth, 0);
    ExecuteCommand(pen, 3);
    EXPECT_EQ(PenWidth, 0);
    ExecuteCommand(pen, 8);
    EXPECT_EQ(PenWidth, 0);
    ExecuteCommand(pen, 2);
    EXPECT_EQ(PenWidth, 5);
}

TEST_F(ScriptTest, DrawingNeedsSixTokensOrMore)
{
    // Each of these draws walls with six tokens; with five, none.
    const ScriptCommand shapes[] = {
        Command({2, 10, 20, 60, 20, 1, 0, 0}), Command({3, 10, 20, 60, 40, 1, 0, 0}),
        Command({4, 10, 20, 60, 40, 1, 0, 0}), Command({5, 10, 20, 60, 40, 1, 0, 0}),
        Command({6, 10, 20, 60, 40, 1, 0, 0}),
    };
    for (const ScriptCommand& shape : shapes) {
        std::memset(Field, 0, FieldSize);
        ExecuteCommand(shape, 5);
        EXPECT_EQ(CountKind(1), 0) << "code " << shape.values[0];
        ExecuteCommand(shape, 6);
        EXPECT_GT(CountKind(1), 0) << "code " << shape.values[0];
    }
    std::memset(Field, 0, FieldSize);
    Expected e;
    ExecuteCommand(Command({4, 10, 10, 20, 20, 1, 0, 0}), 6);
    e.Fill(10, 10, 18, 18, 1);
    ExecuteCommand(Command({4, 30, 10, 40, 20, 1, 99, 0}), 7);
    e.Fill(30, 10, 38, 18, 1);
    ExecuteCommand(Command({3, 50, 10, 60, 20, 1, 99, 99}), 8);
    e.Outline(50, 10, 60, 20, 1);
    ExecuteCommand(Command({2, 70, 10, 80, 10, 1, 99, 99}), 8);
    e.Fill(70, 10, 79, 10, 1);
    EXPECT_EQ(Differences(e), "");
}

TEST_F(ScriptTest, ColoursNeedExactlyFourTokensAndWaitForTheRunsEnd)
{
    const int32_t realizes = HeadlessRealizeCount();
    ColoursSetFlag = 0;
    for (int32_t count : {1, 2, 3, 5, 6, 7, 8}) ExecuteCommand(Command({8, 1, 2, 3, 4, 5, 6, 7}), count);
    EXPECT_EQ(BaseColours[1], DefaultBaseColours[1]);
    EXPECT_EQ(ColoursSetFlag, 0);

    for (int32_t code = 7; code <= 12; ++code) {
        ExecuteCommand(Command({code, code, 2 * code, 3 * code, 0, 0, 0, 0}), 4);
        EXPECT_EQ(BaseColours[code - 7], Rgb(code, 2 * code, 3 * code)) << "code " << code;
    }
    EXPECT_EQ(ColoursSetFlag, 1);
    // Storing a colour does not rebuild the palette in force.
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    EXPECT_EQ(TableColour(1), DefaultBaseColours[1]);
}

TEST_F(ScriptTest, ColourNumbersKeepTheirLowEightBits)
{
    ScriptCommand c{};
    ASSERT_EQ(TokenizeLine("BGCOLOR 300 -1 0", c), 4);
    ExecuteCommand(c, 4);
    EXPECT_EQ(BaseColours[0], Rgb(44, 255, 0));

    ExecuteCommand(Command({8, 0x12345678, INT32_MIN, -256, 0, 0, 0, 0}), 4);
    EXPECT_EQ(BaseColours[1], Rgb(0x78, 0, 0));
    ExecuteCommand(Command({9, 511, 257, -255, 0, 0, 0, 0}), 4);
    EXPECT_EQ(BaseColours[2], Rgb(255, 1, 1));
}

TEST_F(ScriptTest, UnknownCodesDoNothing)
{
    const std::vector<uint8_t> before(Field, Field + FieldSize);
    for (int32_t code : {0, 13, 14, -1, 100, INT32_MIN, INT32_MAX})
        for (int32_t count = 1; count <= 8; ++count)
            ExecuteCommand(Command({code, 3, 10, 10, 50, 1, 7, 7}), count);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), Field));
    EXPECT_EQ(PenWidth, 0);
    EXPECT_EQ(ColoursSetFlag, 0);
    for (int32_t i = 0; i < BaseColourCount; ++i) EXPECT_EQ(BaseColours[i], DefaultBaseColours[i]);
}

// ---------------------------------------------------------------------------
// RunInitScript

TEST_F(ScriptTest, MissingFileChangesNothing)
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
}

TEST_F(ScriptTest, EmptyFileRunsAndResetsThePen)
{
    PenWidth = 5;
    EXPECT_EQ(Run(""), 1);
    EXPECT_EQ(PenWidth, 0);
    EXPECT_EQ(CountKind(0), FieldSize);
}

TEST_F(ScriptTest, LinesCoverStartButNotEnd)
{
    EXPECT_EQ(Run("LINE 10 20 50 20 1\n"      // right: columns 10..49
                  "LINE 50 30 10 30 1\n"      // left: columns 11..50
                  "LINE 70 10 70 40 1\n"      // down: rows 10..39
                  "LINE 80 40 80 10 1\n"      // up: rows 11..40
                  "LINE 90 90 90 90 1\n"      // no length: nothing
                  "LINE 100 50 140 50 3\n"    // other colours keep their index
                  "LINE -20 60 5 60 1\n"      // clipped at the left edge
                  "LINE 330 70 400 70 5\n"),  // and at the right edge
              1);
    Expected e;
    e.Fill(10, 20, 49, 20, 1);
    e.Fill(11, 30, 50, 30, 1);
    e.Fill(70, 10, 70, 39, 1);
    e.Fill(80, 11, 80, 40, 1);
    e.Fill(100, 50, 139, 50, 3);
    e.Fill(0, 60, 4, 60, 1);
    e.Fill(330, 70, 335, 70, 5);
    EXPECT_EQ(Differences(e), "");
}

TEST_F(ScriptTest, BoxAndFillBoxFollowTheRectangleRule)
{
    EXPECT_EQ(Run("FILLBOX 200 100 230 130 2\n"  // filled first,
                  "BOX 200 100 230 130 1\n"      // then framed: the inside stays
                  "BOX 100 100 120 110 1\n"
                  "FILLBOX 100 200 120 210 4\n"
                  "FILLBOX 10 300 30 320 1\n"
                  "FILLBOX 15 305 25 315 0\n"    // colour 0 empties
                  "BOX 300 380 400 500 5\n"),    // clipped at the field's edge
              1);
    Expected e;
    e.Fill(200, 100, 228, 128, 2);
    e.Outline(200, 100, 230, 130, 1);
    e.Outline(100, 100, 120, 110, 1);
    e.Fill(100, 200, 118, 208, 4);
    e.Fill(10, 300, 28, 318, 1);
    e.Fill(15, 305, 23, 313, 0);
    e.Fill(300, 380, 335, 380, 5);
    e.Fill(300, 380, 300, 401, 5);
    EXPECT_EQ(Differences(e), "");
    // The worked figures: 56 outline cells, a 19 x 9 fill.
    int32_t outline = 0, fill = 0;
    for (int32_t y = 95; y < 115; ++y)
        for (int32_t x = 95; x < 125; ++x) outline += At(x, y) == 1;
    for (int32_t y = 195; y < 215; ++y)
        for (int32_t x = 95; x < 125; ++x) fill += At(x, y) == 4;
    EXPECT_EQ(outline, 56);
    EXPECT_EQ(fill, 171);
}

// Any ellipse inscribed in the box: centre inside, box corners outside.
TEST_F(ScriptTest, EllipsesStayInsideTheirBox)
{
    EXPECT_EQ(Run("FILLELLIPSE 50 250 151 311 1\n"
                  "FILLBOX 200 250 301 311 2\n"
                  "ELLIPSE 200 250 301 311 1\n"),
              1);
    // Filled: centre taken, corners not, nothing outside the box.
    EXPECT_EQ(At(100, 280), 1);
    EXPECT_EQ(At(90, 275), 1);
    EXPECT_EQ(At(110, 285), 1);
    for (auto [x, y] : {std::pair{50, 250}, {150, 250}, {50, 310}, {150, 310}, {51, 251}, {149, 309}})
        EXPECT_EQ(At(x, y), 0) << x << "," << y;
    // Outline: the inside keeps what was there, the corners too.
    EXPECT_EQ(At(250, 280), 2);
    EXPECT_EQ(At(240, 270), 2);
    for (auto [x, y] : {std::pair{200, 250}, {299, 250}, {200, 309}, {299, 309}})
        EXPECT_EQ(At(x, y), 2) << x << "," << y;
    EXPECT_EQ(At(300, 250), 0);
    EXPECT_EQ(At(300, 310), 0);
    // It touches all four sides of its box near their middles.
    auto anyWall = [](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x)
                if (At(x, y) == 1) return true;
        return false;
    };
    EXPECT_TRUE(anyWall(240, 250, 260, 250));
    EXPECT_TRUE(anyWall(240, 310, 260, 310));
    EXPECT_TRUE(anyWall(200, 270, 200, 290));
    EXPECT_TRUE(anyWall(300, 270, 300, 290));
    // Nothing outside the two boxes.
    for (int32_t y = 0; y < FieldHeight; ++y)
        for (int32_t x = 0; x < FieldWidth; ++x) {
            const bool inFirst = x >= 50 && x <= 150 && y >= 250 && y <= 310;
            const bool inSecond = x >= 200 && x <= 300 && y >= 250 && y <= 310;
            if (!inFirst && !inSecond) {
                ASSERT_EQ(At(x, y), 0) << x << "," << y;
            }
        }
}

TEST_F(ScriptTest, PenWidthThreeHoldsForTheRestOfTheRunOnly)
{
    EXPECT_EQ(Run("PENWIDTH 3\n"
                  "BOX 100 100 201 201 1\n"
                  "LINE 50 300 150 300 1\n"),
              1);
    // The one-pixel path is rows 100 and 200, columns 100 and 200; the
    // stroke is three cells wide, centred on it.
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

    // The next run starts with the one-cell pen again.
    std::memset(Field, 0, FieldSize);
    EXPECT_EQ(Run("BOX 10 10 31 31 1\n"), 1);
    Expected e;
    e.Outline(10, 10, 31, 31, 1);
    EXPECT_EQ(Differences(e), "");
}

TEST_F(ScriptTest, PenWidthLineWithTrailingSpaceIsIgnored)
{
    EXPECT_EQ(Run("PENWIDTH 3 \nBOX 10 10 31 31 1  \n"), 1);
    Expected e;
    e.Outline(10, 10, 31, 31, 1);
    EXPECT_EQ(Differences(e), "");
}

TEST_F(ScriptTest, ColourCommandsRebuildThePaletteOnceAtTheEnd)
{
    const int32_t realizes = HeadlessRealizeCount();
    // The wall becomes black like the background, yet the box drawn after it
    // in the same run is still drawn in the old wall colour: its cells hold 1.
    EXPECT_EQ(Run("WALLCOLOR 0 0 0\n"
                  "FILLBOX 10 10 20 20 1\n"
                  "sandcolor1a 1 2 3\n"
                  "BGCOLOR 300 -1 0\n"
                  "SANDCOLOR2B 7 8 9\n"),
              1);
    Expected e;
    e.Fill(10, 10, 18, 18, 1);
    EXPECT_EQ(Differences(e), "");
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 1);
    EXPECT_EQ(ColoursSetFlag, 1);
    EXPECT_EQ(PaletteEntryCount, 6);
    EXPECT_EQ(BaseColours[0], Rgb(44, 255, 0));
    EXPECT_EQ(BaseColours[1], Rgb(0, 0, 0));
    EXPECT_EQ(BaseColours[2], Rgb(1, 2, 3));
    EXPECT_EQ(BaseColours[3], DefaultBaseColours[3]);
    EXPECT_EQ(BaseColours[4], DefaultBaseColours[4]);
    EXPECT_EQ(BaseColours[5], Rgb(7, 8, 9));
    for (int32_t i = 0; i < BaseColourCount; ++i) EXPECT_EQ(TableColour(i), BaseColours[i]) << i;
    EXPECT_EQ(FullPaletteFlag, 0);

    // A later run without colour commands keeps them and rebuilds nothing.
    EXPECT_EQ(Run("LINE 0 0 5 0 1\n"), 1);
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 1);
    EXPECT_EQ(BaseColours[5], Rgb(7, 8, 9));
}

TEST_F(ScriptTest, WallInTheBackgroundColourStillMakesWalls)
{
    // Both colours black: kept as set, yet the palette in force tells them
    // apart, so the frame drawn after the run is walls, not empty cells.
    WriteFileText("init.txt", "WALLCOLOR 0 0 0\n");
    NewScene();
    EXPECT_EQ(BaseColours[0], 0u);
    EXPECT_EQ(BaseColours[1], 0u);
    EXPECT_NE(TableColour(0), TableColour(1));
    for (int32_t y = 0; y < FieldHeight; ++y)
        for (int32_t x = 0; x < FieldWidth; ++x) {
            const bool wall = y == 0 || y == 59 || y == FieldHeight - 1 || x == 0 || x == FieldWidth - 1;
            ASSERT_EQ(At(x, y), wall ? 1 : 0) << x << "," << y;
        }
}

TEST_F(ScriptTest, DrawingOnlyLeavesThePaletteAlone)
{
    ColoursSetFlag = 1;  // cleared when the run begins
    const int32_t realizes = HeadlessRealizeCount();
    uint8_t table[256][4];
    std::memcpy(table, ColourTable, sizeof table);
    EXPECT_EQ(Run("FILLBOX 10 10 20 20 1\nBOX 30 30 40 40 2\nWALLCOLOR 1 2\nBGCOLOR 1 2 3 4\n"), 1);
    EXPECT_EQ(ColoursSetFlag, 0);
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    EXPECT_EQ(std::memcmp(table, ColourTable, sizeof table), 0);
    EXPECT_EQ(PaletteEntryCount, 6);
    EXPECT_EQ(At(10, 10), 1);
}

TEST_F(ScriptTest, FullPaletteStaysInForceWhenTheScriptOnlyDraws)
{
    uint32_t shades[ShadeCount];
    for (int32_t s = 0; s < ShadeCount; ++s) shades[s] = Rgb(7 * s + 3, 0x11, 0x22);
    BuildFullPalette(shades);
    const int32_t realizes = HeadlessRealizeCount();
    EXPECT_EQ(Run("FILLBOX 10 10 20 20 1\n"), 1);
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    EXPECT_EQ(PaletteEntryCount, 256);
    EXPECT_EQ(FullPaletteFlag, 1);
    EXPECT_EQ(At(10, 10), 1);
}

TEST_F(ScriptTest, ColourOutsideThePaletteInForceIsSkipped)
{
    // Six-colour palette: 0..5 only.
    std::string script = "FILLBOX 10 10 60 60 1\n";
    for (const char* c : {"6", "-1", "7", "255", "256", "2147483647", "-2147483648"}) {
        for (const char* shape : {"LINE 10 30 60 30 ", "BOX 10 10 60 60 ", "FILLBOX 10 10 60 60 ",
                                  "ELLIPSE 10 10 60 60 ", "FILLELLIPSE 10 10 60 60 "})
            script += std::string(shape) + c + "\n";
    }
    script += "FILLBOX 100 10 110 20 5\nFILLBOX 120 10 130 20 0\n";
    EXPECT_EQ(Run(script), 1);
    Expected e;
    e.Fill(10, 10, 58, 58, 1);
    e.Fill(100, 10, 108, 18, 5);
    EXPECT_EQ(Differences(e), "");

    // Full palette: 0..255 all draw, 256 and negatives are skipped.
    std::memset(Field, 0, FieldSize);
    uint32_t shades[ShadeCount];
    for (int32_t s = 0; s < ShadeCount; ++s) shades[s] = Rgb(7 * s + 3, 0x11, 0x22);
    BuildFullPalette(shades);
    EXPECT_EQ(Run("FILLBOX 10 10 60 60 1\n"
                  "FILLBOX 10 10 60 60 256\n"
                  "FILLBOX 10 10 60 60 -1\n"
                  "FILLBOX 100 10 110 20 100\n"  // kind 4 over shade 12
                  "FILLBOX 120 10 130 20 200\n"  // shade 25 alone
                  "LINE 140 10 150 10 253\n"),   // kind 5 over shade 31
              1);
    Expected f;
    f.Fill(10, 10, 58, 58, 1);
    f.Fill(100, 10, 108, 18, 100);
    f.Fill(120, 10, 128, 18, 200);
    f.Fill(140, 10, 149, 10, 253);
    EXPECT_EQ(Differences(f), "");
}

TEST_F(ScriptTest, LongLineIsReadAs254CharactersAndTheRest)
{
    // 254 characters: a FILLBOX padded with spaces up to an "X" at the end.
    std::string first = "FILLBOX 10 10 20 20 1";
    first.resize(253, ' ');
    first += 'X';
    // 46 more: a BOX that only runs when the cut falls exactly after the X.
    std::string second = "BOX 100 100 120 120 1";
    second.resize(46, ' ');
    const std::string line = first + second;
    ASSERT_EQ(line.size(), 300u);
    EXPECT_EQ(Run(line + "\nLINE 200 5 210 5 1\n"), 1);
    Expected e;
    e.Fill(10, 10, 18, 18, 1);
    e.Outline(100, 100, 120, 120, 1);
    e.Fill(200, 5, 209, 5, 1);
    EXPECT_EQ(Differences(e), "");
}

TEST_F(ScriptTest, CrlfLineEnds)
{
    EXPECT_EQ(Run("PENWIDTH 3\r\n"
                  "BOX 100 100 201 201 1\r\n"
                  "WALLCOLOR 1 2 3\r\n"
                  "FILLBOX 10 10 20 20 2\r\n"),
              1);
    EXPECT_EQ(At(150, 99), 1);
    EXPECT_EQ(At(150, 101), 1);
    EXPECT_EQ(At(10, 10), 2);
    EXPECT_EQ(At(18, 18), 2);
    EXPECT_EQ(At(19, 19), 0);
    EXPECT_EQ(BaseColours[1], Rgb(1, 2, 3));
    EXPECT_EQ(TableColour(1), Rgb(1, 2, 3));
}

TEST_F(ScriptTest, SkippedLinesDoNotStopTheRun)
{
    EXPECT_EQ(Run(";FILLBOX 0 0 336 402 1\n"
                  " ;FILLBOX 0 0 336 402 1\n"
                  "\tFILLBOX 0 0 336 402 1\n"
                  "FILLBOX\t0 0 336 402 1\n"
                  "FILLBOXXXXXXXXX 0 0 336 402 1\n"
                  "SANDCOLOR1AABCD 1 2 3\n"
                  "FILLBOX 0 0 336 402 123456789012345\n"
                  "LINE 0 0 336\n"
                  "FILLBOX 0 0 336 402 1 extra words here\n"  // eight tokens: runs
                  "FILLBOX 5 5 15 15 0\n"),
              1);
    Expected e;
    e.Fill(0, 0, 334, 400, 1);
    e.Fill(5, 5, 13, 13, 0);
    EXPECT_EQ(Differences(e), "");
    EXPECT_EQ(BaseColours[2], DefaultBaseColours[2]);
}

// ---------------------------------------------------------------------------
// Robustness: bad input ends the run normally, whatever it holds.

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
    std::string zeros(5000, '\0');
    EXPECT_EQ(Run(zeros + "\n" + zeros), 1);
}

TEST_F(ScriptTest, NulByteEndsTheLineLikeTheEndOfText)
{
    const char text[] = "FILLBOX 10 10 20 20 1\0FILLBOX 0 0 336 402 2\n";
    EXPECT_EQ(Run(std::string(text, sizeof text - 1)), 1);
    Expected e;
    e.Fill(10, 10, 18, 18, 1);
    EXPECT_EQ(Differences(e), "");
}

TEST_F(ScriptTest, HugeNumbersAndCoordinatesAreHarmless)
{
    const std::string big[] = {"2147483647", "-2147483648", "99999999999999", "-9999999999999", "335"};
    std::string script;
    for (const char* pen : {"0", "3", "-5"}) {
        script += std::string("PENWIDTH ") + pen + "\n";
        for (const char* shape : {"LINE", "BOX", "FILLBOX", "ELLIPSE", "FILLELLIPSE"})
            for (const std::string& a : big)
                for (const std::string& b : big)
                    script += std::string(shape) + " " + a + " " + b + " " + b + " " + a + " 1\n";
    }
    EXPECT_EQ(Run(script), 1);
    EXPECT_EQ(PenWidth, 0);

    for (const char* shape : {"LINE", "BOX", "FILLBOX", "ELLIPSE", "FILLELLIPSE"}) {
        std::memset(Field, 0, FieldSize);
        EXPECT_EQ(Run(std::string(shape) + " -2147483648 -2147483648 2147483647 2147483647 1\n" + shape +
                      " 2147483647 2147483647 -2147483648 -2147483648 2\n" + shape +
                      " 2147483647 -2147483648 -2147483648 2147483647 3\n"),
                  1)
            << shape;
    }
}

TEST_F(ScriptTest, HugeShapesAreClippedToTheField)
{
    // A fill from far left-top to far right-bottom covers every cell.
    EXPECT_EQ(Run("FILLBOX -2147483648 -2147483648 2147483647 2147483647 1\n"), 1);
    EXPECT_EQ(CountKind(1), FieldSize);

    // Its outline lies entirely outside: nothing changes.
    std::memset(Field, 0, FieldSize);
    EXPECT_EQ(Run("BOX -2147483648 -2147483648 2147483647 2147483647 1\n"), 1);
    EXPECT_EQ(CountKind(0), FieldSize);

    // Horizontal and vertical lines across the whole plane.
    EXPECT_EQ(Run("LINE -2147483648 10 2147483647 10 1\n"
                  "LINE 20 2147483647 20 -2147483648 2\n"),
              1);
    Expected e;
    e.Fill(0, 10, 335, 10, 1);
    e.Fill(20, 0, 20, 401, 2);
    EXPECT_EQ(Differences(e), "");

    // An ellipse far larger than the field, centred on it, fills all of it.
    std::memset(Field, 0, FieldSize);
    EXPECT_EQ(Run("FILLELLIPSE -999999832 -999999799 1000000168 1000000201 3\n"), 1);
    EXPECT_EQ(CountKind(3), FieldSize);
}

TEST_F(ScriptTest, NegativePenWidthsAreHarmless)
{
    EXPECT_EQ(Run("PENWIDTH -1\n"
                  "BOX 10 10 50 50 1\n"
                  "LINE 5 100 300 100 1\n"
                  "LINE 5 100 300 200 1\n"
                  "ELLIPSE 100 200 200 300 1\n"
                  "PENWIDTH -2147483648\n"
                  "FILLBOX 200 10 220 20 2\n"),
              1);
    EXPECT_EQ(PenWidth, 0);
    // The fill takes no pen, whatever its width.
    for (int32_t y = 5; y <= 25; ++y)
        for (int32_t x = 195; x <= 225; ++x)
            EXPECT_EQ(At(x, y), (x >= 200 && x <= 218 && y >= 10 && y <= 18) ? 2 : 0) << x << "," << y;

    EXPECT_EQ(Run("PENWIDTH -2147483648\n"
                  "BOX 60 60 120 120 1\n"
                  "ELLIPSE 100 200 200 300 1\n"
                  "LINE 0 0 335 401 1\n"
                  "PENWIDTH -7\n"
                  "LINE -2147483648 -2147483648 2147483647 2147483647 1\n"
                  "ELLIPSE -2147483648 0 2147483647 401 1\n"),
              1);
    EXPECT_EQ(PenWidth, 0);
}

}  // namespace

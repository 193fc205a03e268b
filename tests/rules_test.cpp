#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sim/rules.h"

namespace {

std::vector<int32_t> AllTables()
{
    std::vector<int32_t> block(RuleTextLength);
    BuildAllRuleTables(block.data());
    return block;
}

// The movement chart as users know it, one row per neighbourhood state with
// the five kinds across (Normal, Heavy, Dusty, Boiling, Magical). Kept apart
// from the program's own text, so a slipped letter in either shows.
const char* const Chart[16][SandKindCount] = {
    {"DDDDDDDDDDDDDDDD", "DDDDDDDDDDDDDDDD", "DDDDDDDDDURRRLLL", "DDDDDDDDDDDDDDDD", "DDDDDDDDDDDDDDDD"}, //  0
    {"DDDDDDDDDDDDDDDD", "DDDDDDDDDDDDDDDD", "DDDDDDDDDDRRRLLL", "DDDDDDDDDDDDDDDD", "DDDDDDDDDDDDRRLL"}, //  1
    {"DDDDDDDDDDDDDDDR", "DDDDDDDDDDDDDRRR", "DDDDDDDDDDRRRRRR", "DDDDDDDDDDDDDRRR", "DDDDDDDDDDDDDRRR"}, //  2
    {"DDDDDDDDDDDDDDRR", "DDDDDDDDDDDDRRRR", "DDDDDDDDDDRRRRRR", "DDDDDDDDDDDDRRRR", "XXXXXXXXXXXXXXXD"}, //  3
    {"DDDDDDDDDDDDDDDL", "DDDDDDDDDDDDDLLL", "DDDDDDDDDDLLLLLL", "DDDDDDDDDDDDDLLL", "DDDDDDDDDDDDDLLL"}, //  4
    {"DDDDDDDDDDDDDDLL", "DDDDDDDDDDDDLLLL", "DDDDDDDDDDLLLLLL", "DDDDDDDDDDDDLLLL", "XXXXXXXXXXXXXXXD"}, //  5
    {"DDDDDDDDDDDDDDDD", "DDDDDDDDDDDDDDDD", "DDDDDDDDDDDDDDDD", "DDDDDDDDDDDDDDDD", "XXXXXXXXXXXXXXXU"}, //  6
    {"DDDDDDDDDDDDDDDD", "DDDDDDDDDDDDDDDD", "DDDDDDDDDDDDDDDD", "DDDDDDDDDDDDDDDD", "XXXXXXXXXXXXXXXD"}, //  7
    {"RRRRRRLLLLLLXXXX", "RLXXXXXXXXXXXXXX", "RRRRRRLLLLLLUXXX", "RRRRRRLLLLLLXXXX", "RRRRRRLLLLLLXXXX"}, //  8
    {"RRRRRRRLLLLLLLXX", "RRRRRRLLLLLLXXXX", "RRRRRRRLLLLLLLXX", "RRRRRRRLLLLLLLXX", "RRRRRRRLLLLLLLXX"}, //  9
    {"RRRRRRRRRRRRRRUU", "RXXXXXXXXXXXXXXX", "RRRRRRRRRRRRRRUX", "RRRRRRRRRRRRUUUU", "XXXXXXXXXXXRRRRR"}, // 10
    {"RRRRRRRRRRRRRRRR", "RRRRRRRRRRRRXXXX", "RRRRRRRRRRRRRRRX", "RRRRRRRRRRRRRRRR", "XXXXXXXXXXXXXXXR"}, // 11
    {"LLLLLLLLLLLLLLUU", "LXXXXXXXXXXXXXXX", "LLLLLLLLLLLLLLUX", "LLLLLLLLLLLLUUUU", "XXXXXXXXXXXLLLLL"}, // 12
    {"LLLLLLLLLLLLLLLL", "LLLLLLLLLLLLXXXX", "LLLLLLLLLLLLLLLX", "LLLLLLLLLLLLLLLL", "LXXXXXXXXXXXXXXX"}, // 13
    {"XXXXXXXXXXXUUUUU", "XXXXXXXXXXXXXXXX", "XXXXXXXXXXXXUUUU", "UUUUUUUUUUUUUUUU", "XXXXXXXXXXXXXXXX"}, // 14
    {"XXXXXXXXXXXXXXXX", "XXXXXXXXXXXXXXXX", "XXXXXXXXXXXXXXXX", "XXXXXXXXXXXXXXXX", "XXXXXXXXXXXXXXXX"}, // 15
};

TEST(RuleTables, EveryEntryIsTheMoveOfTheChart)
{
    const std::vector<int32_t> block = AllTables();
    const char* const names[SandKindCount] = {"Normal", "Heavy", "Dusty", "Boiling", "Magical"};
    for (int k = 0; k < SandKindCount; ++k)
        for (int s = 0; s < 16; ++s)
            for (int c = 0; c < 16; ++c) {
                const char letter = Chart[s][k][c];
                const int32_t move = letter == 'D' ? 336 : letter == 'U' ? -336 : letter == 'L' ? -1 : letter == 'R' ? 1 : 0;
                EXPECT_EQ(block[k * 256 + s * 16 + c], move) << names[k] << " sand, state " << s << ", column " << c;
            }
    // Fixed points of the chart, checked apart from the transcription above.
    EXPECT_EQ(block[15], 336);
    EXPECT_EQ(block[47], 1);
    EXPECT_EQ(block[256 + 128], 1);
    EXPECT_EQ(block[256 + 129], -1);
    EXPECT_EQ(block[4 * 256 + 111], -336);
}

// A move never targets a neighbour that the state marks as occupied.
TEST(RuleTables, NoMoveTargetsAnOccupiedNeighbour)
{
    const std::vector<int32_t> block = AllTables();
    for (int k = 0; k < SandKindCount; ++k) {
        for (int s = 0; s < 16; ++s) {
            for (int c = 0; c < 16; ++c) {
                const int32_t offset = block[k * 256 + s * 16 + c];
                const int blockedBit = offset == -336 ? 1 : offset == -1 ? 2 : offset == 1 ? 4 : offset == 336 ? 8 : 0;
                EXPECT_EQ(s & blockedBit, 0) << k << " " << s << " " << c;
                EXPECT_TRUE(offset == 0 || offset == 1 || offset == -1 || offset == 336 || offset == -336);
            }
        }
    }
}

TEST(RuleTables, UnknownLettersStay)
{
    char letters[256];
    std::memset(letters, 'Q', sizeof letters);
    letters[0] = 'D';
    letters[1] = 'U';
    letters[2] = 'L';
    letters[3] = 'R';
    letters[4] = 'd';
    std::vector<int32_t> table(256, 99);
    BuildRuleTable(letters, table.data());
    EXPECT_EQ(table[0], 336);
    EXPECT_EQ(table[1], -336);
    EXPECT_EQ(table[2], -1);
    EXPECT_EQ(table[3], 1);
    EXPECT_EQ(table[4], 0);
    EXPECT_EQ(table[255], 0);
}

} // namespace

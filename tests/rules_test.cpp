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

TEST(RuleTables, EntriesAreTheOffsetsOfTheirLetters)
{
    const std::vector<int32_t> block = AllTables();
    EXPECT_EQ(block[15], 336);       // Normal sand, state 0, column 15
    EXPECT_EQ(block[47], 1);         // Normal sand, state 2, column 15
    EXPECT_EQ(block[256 + 128], 1);  // Heavy sand, state 8, column 0
    EXPECT_EQ(block[256 + 129], -1); // Heavy sand, state 8, column 1
    for (int c = 0; c < 16; ++c) EXPECT_EQ(block[3 * 256 + 14 * 16 + c], -336) << c;
    for (int c = 0; c < 15; ++c) EXPECT_EQ(block[4 * 256 + 96 + c], 0) << c;
    EXPECT_EQ(block[4 * 256 + 111], -336);
    // Dusty sand scatters in free fall: up once, right three, left three.
    EXPECT_EQ(block[2 * 256 + 9], -336);
    EXPECT_EQ(block[2 * 256 + 10], 1);
    EXPECT_EQ(block[2 * 256 + 15], -1);
}

TEST(RuleTables, BoxedInGrainsStayInEveryKind)
{
    const std::vector<int32_t> block = AllTables();
    for (int k = 0; k < SandKindCount; ++k)
        for (int c = 0; c < 16; ++c) EXPECT_EQ(block[k * 256 + 15 * 16 + c], 0) << k << " " << c;
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

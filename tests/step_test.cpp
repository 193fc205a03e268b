#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "sim/field.h"
#include "sim/particles.h"
#include "sim/rules.h"
#include "reference_step.h"

namespace {

class Step : public ::testing::Test {
protected:
    void SetUp() override
    {
        field.assign(FieldSize, 0);
        Field = field.data();
        rules.assign(RuleTextLength, 0);
        BuildAllRuleTables(rules.data());
        StepRandom = {257, 1023};
        // The frame: rows 0 and 401, columns 0 and 335.
        for (int x = 0; x < FieldWidth; ++x) field[FieldPos(x, 0)] = field[FieldPos(x, 401)] = 1;
        for (int y = 0; y < FieldHeight; ++y) field[FieldPos(0, y)] = field[FieldPos(335, y)] = 1;
    }
    const int32_t* Table(int kind) const { return rules.data() + 256 * kind; }
    void Run(std::vector<int32_t>& list, int kind1 = 0, int kind2 = 0)
    {
        StepParticles(list.data(), static_cast<int32_t>(list.size()), Table(kind1), Table(kind2));
    }
    std::vector<uint8_t> field;
    std::vector<int32_t> rules;
};

TEST_F(Step, TwoFallingGrainsOfTheWorkedExample)
{
    std::vector<int32_t> list = {FieldPos(20, 20), FieldPos(10, 10)};
    field[FieldPos(20, 20)] = 5;
    field[FieldPos(10, 10)] = 3;
    Run(list);
    EXPECT_EQ(list[0], FieldPos(20, 21));
    EXPECT_EQ(list[1], FieldPos(10, 11));
    EXPECT_EQ(field[FieldPos(20, 21)], 5);
    EXPECT_EQ(field[FieldPos(20, 20)], 0);
    EXPECT_EQ(field[FieldPos(10, 11)], 3);
    EXPECT_EQ(field[FieldPos(10, 10)], 0);
    StepRandomState expected = {257, 1023};
    for (int i = 0; i < 2; ++i) {
        expected.s1 += expected.s2;
        expected.s2 += expected.s1;
    }
    EXPECT_EQ(StepRandom.s1, expected.s1);
    EXPECT_EQ(StepRandom.s2, expected.s2);
}

TEST_F(Step, GrainIndexDecidesItsDrawingKind)
{
    std::vector<int32_t> list;
    for (int i = 0; i < 10; ++i) list.push_back(FieldPos(20 + 3 * i, 100));
    Run(list);
    const uint8_t expected[10] = {5, 3, 4, 2, 4, 2, 4, 2, 5, 3};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(field[FieldPos(20 + 3 * i, 101)], expected[i]) << i;
    for (int i = 0; i < 10; ++i) EXPECT_EQ(GrainKind(i), expected[i]) << i;
}

TEST_F(Step, FirstColumnsOfTheStepGenerator)
{
    const uint32_t expected[16] = {0, 0, 0, 0, 0, 2, 6, 1, 14, 9, 15, 4, 13, 3, 12, 2};
    for (uint32_t c : expected) EXPECT_EQ(DrawStepColumn(), c);
}

TEST_F(Step, BottomRowWrapsToAnEmptyTopCellWithoutADraw)
{
    std::vector<int32_t> list = {FieldPos(40, 400)};
    field[FieldPos(40, 400)] = 8 * 3 + 4; // shade 3 under a grain
    field[FieldPos(40, 1)] = 8 * 7;       // shade 7, empty
    Run(list, 0, 4);
    EXPECT_EQ(list[0], FieldPos(40, 1));
    EXPECT_EQ(field[FieldPos(40, 1)], 8 * 7 + 5);
    EXPECT_EQ(field[FieldPos(40, 400)], 8 * 3);
    EXPECT_EQ(StepRandom.s1, 257u);
    EXPECT_EQ(StepRandom.s2, 1023u);
}

// With the wrap target taken, the grain is looked up as resting on it
// (state 8): Normal sand's row is "RRRRRRLLLLLLXXXX". The first columns after
// start are 0, 0, 0, 0, 0, 2, 6, 1, 14.
TEST_F(Step, BottomRowWithTheTopCellTakenRestsOnIt)
{
    const struct {
        int skip;
        int32_t expected;
    } cases[] = {{0, FieldPos(41, 400)}, {6, FieldPos(39, 400)}, {8, FieldPos(40, 400)}};
    for (const auto& c : cases) {
        SetUp();
        for (int i = 0; i < c.skip; ++i) DrawStepColumn();
        std::vector<int32_t> list = {FieldPos(40, 400)};
        field[FieldPos(40, 1)] = 1;
        Run(list);
        EXPECT_EQ(list[0], c.expected) << c.skip;
        EXPECT_EQ(field[FieldPos(40, 1)], 1);
    }
}

TEST_F(Step, BottomRowWithBothCellsBelowTakenStaysWithinTheTable)
{
    // The real cell below (row 401) is the frame and the wrap target is a
    // wall: the state must be 8 plus the side bits, never 16 or more.
    std::vector<int32_t> list = {FieldPos(40, 400)};
    field[FieldPos(40, 1)] = 1;
    field[FieldPos(39, 400)] = 1;
    field[FieldPos(41, 400)] = 1;
    field[FieldPos(40, 399)] = 1;
    Run(list, 3, 3);
    EXPECT_EQ(list[0], FieldPos(40, 400)); // state 15 stays in every kind
    EXPECT_NE(StepRandom.s1, 257u);
}

TEST_F(Step, TheFirstCellOfRow400IsNotInTheBand)
{
    // 134400 is row 400, column 0: not wrapped but looked up where it is,
    // between the frame cells left and below (state 2 | 8 with the cell
    // above taken: 11, "always right").
    std::vector<int32_t> list = {134400};
    field[134400 - 336] = 1;
    Run(list);
    EXPECT_EQ(list[0], 134401);
}

TEST_F(Step, GrainInAWallLeavesTheWallStanding)
{
    std::vector<int32_t> list = {FieldPos(50, 50)};
    field[FieldPos(50, 50)] = 8 + 1;
    Run(list);
    EXPECT_EQ(list[0], FieldPos(50, 51));
    EXPECT_EQ(field[FieldPos(50, 50)], 9);
    EXPECT_EQ(field[FieldPos(50, 51)], 5);
}

TEST_F(Step, RestingUnmarkedGrainStaysUnmarked)
{
    // Boxed in on all four sides: state 15 stays, and the cell is not redrawn.
    std::vector<int32_t> list = {FieldPos(60, 60)};
    field[FieldPos(60, 59)] = field[FieldPos(59, 60)] = field[FieldPos(61, 60)] = field[FieldPos(60, 61)] = 1;
    Run(list);
    EXPECT_EQ(list[0], FieldPos(60, 60));
    EXPECT_EQ(field[FieldPos(60, 60)], 0);
    EXPECT_NE(StepRandom.s1, 257u); // an X still draws a column
}

TEST_F(Step, TwoGrainsInOneCellPartAsTheyMove)
{
    std::vector<int32_t> list = {FieldPos(70, 70), FieldPos(70, 70)};
    field[FieldPos(70, 70)] = 5;
    Run(list);
    // Grain 0 falls and clears the cell; grain 1 then finds it empty and falls too.
    EXPECT_EQ(list[0], FieldPos(70, 71));
    EXPECT_EQ(field[FieldPos(70, 70)], 0);
    // Grain 1 now rests on grain 0 (state 8) and draws column 0: right.
    EXPECT_EQ(list[1], FieldPos(71, 70));
    EXPECT_EQ(field[FieldPos(71, 70)], 3);
}

TEST_F(Step, NothingHappensForAnEmptyOrNegativeCount)
{
    std::vector<int32_t> list = {FieldPos(20, 20)};
    const std::vector<uint8_t> before = field;
    StepParticles(list.data(), 0, Table(0), Table(0));
    StepParticles(list.data(), -5, Table(0), Table(0));
    EXPECT_EQ(field, before);
    EXPECT_EQ(list[0], FieldPos(20, 20));
    EXPECT_EQ(StepRandom.s1, 257u);
}

// The fast step against the plain one: random walls, grains anywhere in
// rows 1..400 (shared cells, unmarked cells, grains in walls), every pair of
// kinds and counts that are not multiples of eight.
TEST_F(Step, MatchesThePlainStepOnRandomScenes)
{
    std::mt19937 rng(12345);
    for (int scene = 0; scene < 40; ++scene) {
        SetUp();
        for (int y = 1; y <= 400; ++y)
            for (int x = 1; x <= 334; ++x) {
                const uint32_t roll = rng() % 100;
                const uint8_t shade = static_cast<uint8_t>((rng() % 32) * 8);
                field[FieldPos(x, y)] = static_cast<uint8_t>(shade | (roll < 8 ? 1 : roll < 14 ? 2 + rng() % 4 : 0));
            }
        const int32_t count = 1 + static_cast<int32_t>(rng() % 3000);
        std::vector<int32_t> list(static_cast<size_t>(count));
        for (int32_t& p : list) p = FieldPos(1 + static_cast<int32_t>(rng() % 334), 1 + static_cast<int32_t>(rng() % 400));
        for (int i = 0; i < 30; ++i) list[rng() % list.size()] = FieldPos(1 + static_cast<int32_t>(rng() % 334), 400);
        const int kind1 = scene % 5, kind2 = (scene / 5) % 5;
        std::vector<uint8_t> refField = field;
        std::vector<int32_t> refList = list;
        StepRandomState refRandom = StepRandom;
        for (int frame = 0; frame < 25; ++frame) {
            Run(list, kind1, kind2);
            ReferenceStep(refField.data(), refList.data(), count, Table(kind1), Table(kind2), refRandom);
        }
        ASSERT_EQ(field, refField) << "scene " << scene;
        ASSERT_EQ(list, refList) << "scene " << scene;
        ASSERT_EQ(StepRandom.s1, refRandom.s1);
        ASSERT_EQ(StepRandom.s2, refRandom.s2);
    }
}

// Dense piles, where most grains are boxed in on all four sides and the step
// skips them after the first frame: frame by frame the same as the plain step,
// with grains in the band, grains inside walls and holes in the pile.
TEST_F(Step, MatchesThePlainStepInDensePiles)
{
    std::mt19937 rng(777);
    for (int scene = 0; scene < 10; ++scene) {
        SetUp();
        std::vector<int32_t> list;
        for (int y = 320; y <= 400; ++y)
            for (int x = 1; x <= 334; ++x) {
                const uint32_t roll = rng() % 100;
                const uint8_t shade = static_cast<uint8_t>((rng() % 32) * 8);
                if (roll < 1) continue; // a hole
                field[FieldPos(x, y)] = static_cast<uint8_t>(shade | (roll < 3 ? 1 : 2 + rng() % 4));
                if (roll >= 2) list.push_back(FieldPos(x, y));
            }
        std::shuffle(list.begin(), list.end(), rng);
        list.resize(list.size() - rng() % 8);
        const int kind1 = scene % 5, kind2 = (scene + 2) % 5;
        std::vector<uint8_t> refField = field;
        std::vector<int32_t> refList = list;
        StepRandomState refRandom = StepRandom;
        for (int frame = 0; frame < 12; ++frame) {
            Run(list, kind1, kind2);
            ReferenceStep(refField.data(), refList.data(), static_cast<int32_t>(list.size()), Table(kind1),
                          Table(kind2), refRandom);
            ASSERT_EQ(field, refField) << "scene " << scene << " frame " << frame;
            ASSERT_EQ(list, refList) << "scene " << scene << " frame " << frame;
            ASSERT_EQ(StepRandom.s1, refRandom.s1);
            ASSERT_EQ(StepRandom.s2, refRandom.s2);
        }
    }
}

} // namespace

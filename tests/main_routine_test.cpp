#include <gtest/gtest.h>

#include <set>

#include "app/main_routine.h"
#include "framework/headless/headless.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "sim/palette.h"
#include "framework/platform.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/particles.h"
#include "test_support.h"
#include "ui/menu.h"
#include "ui/settings.h"

namespace {

std::set<int32_t> GateGaps()
{
    std::set<int32_t> gaps;
    for (int32_t x = 0; x < FieldWidth; ++x)
        if ((Field[FieldPos(x, GateRow)] & KindMask) != CellWall) gaps.insert(x);
    return gaps;
}

class MainRoutine : public ::testing::Test {
protected:
    void SetUp() override { StartProgram(); }
    TempDir dir;
};

TEST_F(MainRoutine, NewSceneLaysOutTheReservoirAndItsGrains)
{
    BuildBasePalette();
    SetMirror(0);
    NewScene();
    ASSERT_EQ(ParticleCount, 16366);
    EXPECT_EQ(ParticleList[0], FieldPos(48, 6));
    EXPECT_EQ(ParticleList[1], FieldPos(48, 43));
    EXPECT_EQ(ParticleList[2], FieldPos(48, 31));
    EXPECT_EQ(ParticleList[49], FieldPos(95, 6));
    EXPECT_EQ(ParticleList[16365], FieldPos(1, 18));
    std::set<int32_t> cells(ParticleList, ParticleList + ParticleCount);
    EXPECT_EQ(cells.size(), 16366u);
    EXPECT_EQ(*cells.begin(), FieldPos(1, 6));
    EXPECT_EQ(*cells.rbegin(), FieldPos(334, 54));
    // Walls on rows 0, 59 and 401 and columns 0 and 335; grains unmarked.
    for (int32_t y = 0; y < FieldHeight; ++y)
        for (int32_t x = 0; x < FieldWidth; ++x) {
            const bool wall = y == 0 || y == GateRow || y == 401 || x == 0 || x == 335;
            ASSERT_EQ(Field[FieldPos(x, y)], wall ? 1 : 0) << x << "," << y;
        }
}

TEST_F(MainRoutine, GatePatternsCutTheirGaps)
{
    BuildBasePalette();
    SetMirror(0);
    struct Expected {
        int pattern;
        std::set<int32_t> gaps;
    };
    std::set<int32_t> wide, singles, pairs2, pairs4;
    for (int32_t x = 4; x <= 331; ++x) wide.insert(x);
    for (int32_t x = 20; x < 328; x += 24) singles.insert(x);
    for (int32_t x = 20; x < 328; x += 48) pairs2.insert({x, x + 1});
    for (int32_t x = 20; x < 328; x += 16) pairs4.insert({x, x + 2});
    EXPECT_EQ(singles.size(), 13u);
    EXPECT_EQ(pairs2.size(), 14u);
    EXPECT_EQ(pairs4.size(), 40u);
    for (const Expected& e : {Expected{1, wide}, Expected{2, singles}, Expected{3, pairs2}, Expected{4, pairs4}}) {
        NewScene();
        OpenGate(e.pattern);
        EXPECT_EQ(GateGaps(), e.gaps) << "pattern " << e.pattern;
    }
    for (int trial = 0; trial < 20; ++trial) {
        NewScene();
        OpenGate(0);
        const std::set<int32_t> gaps = GateGaps();
        ASSERT_GE(gaps.size(), 3u);
        ASSERT_LE(gaps.size(), 9u);
        EXPECT_EQ(*gaps.begin(), 82);
        EXPECT_EQ(*gaps.rbegin(), 82 + static_cast<int32_t>(gaps.size()) - 1);
    }
}

TEST_F(MainRoutine, FirstFramesOfAFirstStart)
{
    StartUp();
    EXPECT_EQ(ParticleCount, 16366);
    RunFrame();
    EXPECT_EQ(StepRandom.s1, 1781380744u);
    EXPECT_EQ(StepRandom.s2, 197422267u);
    EXPECT_EQ(CountKind(2), 504);
    EXPECT_EQ(CountKind(3), 169);
    EXPECT_EQ(CountKind(4), 505);
    EXPECT_EQ(CountKind(5), 171);
    std::set<int32_t> cells(ParticleList, ParticleList + ParticleCount);
    EXPECT_EQ(cells.size(), 16333u);
    for (int frame = 2; frame <= 10; ++frame) {
        RunFrame();
        EXPECT_TRUE(GateGaps().empty()) << frame;
    }
    EXPECT_EQ(CountKind(2), 5177);
    EXPECT_EQ(CountKind(3), 1739);
    EXPECT_EQ(CountKind(4), 5188);
    EXPECT_EQ(CountKind(5), 1724);
    RunFrame();
    const std::set<int32_t> gaps = GateGaps();
    ASSERT_FALSE(gaps.empty());
    EXPECT_EQ(*gaps.begin(), 82);
    EXPECT_GE(gaps.size(), 3u);
    EXPECT_LE(gaps.size(), 9u);
}

// The pouring cycle: an opening with counter draw r closes 800 - r frames
// later; the gate shuts along the whole row (column 335 is the frame).
TEST_F(MainRoutine, GateClosesWhenTheCounterReaches800)
{
    StartUp();
    for (int frame = 1; frame <= 11; ++frame) RunFrame();
    ASSERT_FALSE(GateGaps().empty());
    const int32_t framesOpen = 800 - PourCounter + 1;
    for (int i = 1; i < framesOpen; ++i) RunFrame();
    EXPECT_FALSE(GateGaps().empty());
    EXPECT_EQ(PourCounter, 800);
    RunFrame();
    EXPECT_TRUE(GateGaps().empty());
    EXPECT_GT(PourCounter, 800);
    EXPECT_LE(PourCounter, 1750);
}

TEST_F(MainRoutine, ClearWithTheGateOpenClosesItButKeepsTheCycle)
{
    StartUp();
    for (int frame = 1; frame <= 11; ++frame) RunFrame();
    ASSERT_FALSE(GateGaps().empty());
    const int32_t counter = PourCounter;
    const int32_t countdown = GateCountdown;
    WndProc(MainWindow, WmSysCommand, CmdClear, 0);
    EXPECT_TRUE(GateGaps().empty());
    EXPECT_EQ(PourCounter, counter);
    EXPECT_EQ(GateCountdown, countdown);
    EXPECT_EQ(ParticleCount, 16366);
}

// At "Stop" the loop waits for messages and nothing moves; the next speed
// command lets it go on.
TEST_F(MainRoutine, StopStandsStillUntilAnotherSpeedIsChosen)
{
    StartUp();
    RunFrame();
    WndProc(MainWindow, WmSysCommand, CmdSpeedBase + 0, 0);
    ASSERT_EQ(Speed, 0);
    HeadlessSchedule(HeadlessEvent{HeadlessFrame() + 50, HeadlessEvent::Post, WmSysCommand, CmdSpeedBase + 2, 0, {}});
    const int32_t counter = PourCounter;
    const int32_t presents = HeadlessPresentCount();
    RunFrame(); // one step and one copy, then the stand-still until the command
    EXPECT_EQ(Speed, 2);
    EXPECT_EQ(PourCounter, counter + 1);
    EXPECT_EQ(HeadlessPresentCount(), presents + 1);
    EXPECT_FALSE(HeadlessEventsPending());
    EXPECT_TRUE(HeadlessWindowExists());
}

TEST_F(MainRoutine, FrameTimesFollowTheSpeed)
{
    StartUp();
    RunFrame();
    for (int16_t speed : {1, 2, 3, 5, 6, 7, 8, 9}) {
        Speed = speed;
        RunFrame();
        const uint32_t start = PlatformTicks();
        RunFrame();
        EXPECT_EQ(PlatformTicks() - start, static_cast<uint32_t>(FrameTimes[speed])) << speed;
    }
    Speed = 4;
    const uint32_t start = PlatformTicks();
    RunFrame();
    EXPECT_EQ(PlatformTicks(), start);
}

TEST_F(MainRoutine, AFrameAfterALongPauseDoesNotWait)
{
    StartUp();
    Speed = 1;
    RunFrame();
    HeadlessSetTicks(PlatformTicks() + 500);
    const uint32_t start = PlatformTicks();
    RunFrame();
    EXPECT_EQ(PlatformTicks(), start);
}

TEST_F(MainRoutine, KindChoicesSelectTheTablesOfTheNextStep)
{
    StartUp();
    WndProc(MainWindow, WmSysCommand, CmdSlot1Base + 4, 0);
    EXPECT_EQ(SlotKind1, 4);
    EXPECT_EQ(SlotKind2, 0);
    // A lone odd grain of Magical sand between two walls, nothing above or
    // below, stays 15 times in 16: the table in use is kind 4's.
    ParticleCount = 2;
    for (int32_t i = 0; i < FieldSize; ++i) Field[i] &= 0xF8;
    ParticleList[0] = FieldPos(200, 200);
    ParticleList[1] = FieldPos(100, 100);
    Field[FieldPos(99, 100)] = Field[FieldPos(101, 100)] = 1;
    int stays = 0;
    for (int i = 0; i < 16; ++i) {
        ParticleList[1] = FieldPos(100, 100);
        Field[FieldPos(100, 100)] = 0;
        Field[FieldPos(100, 99)] = 0;
        RunFrame();
        stays += ParticleList[1] == FieldPos(100, 100);
    }
    EXPECT_GE(stays, 12);
}

// A script that gives walls the background's colour must not cost the field
// its frame: the palette in force keeps every entry's colour its own.
TEST_F(MainRoutine, WallsInTheBackgroundColourStillMakeTheFrame)
{
    WriteFileText("init.txt", "WALLCOLOR 0 0 0\nSANDCOLOR2B 0 0 0\n");
    StartUp();
    for (int32_t x = 0; x < FieldWidth; ++x) {
        ASSERT_EQ(Field[FieldPos(x, 0)], CellWall) << x;
        ASSERT_EQ(Field[FieldPos(x, 401)], CellWall) << x;
    }
    for (int32_t y = 0; y < FieldHeight; ++y) {
        ASSERT_EQ(Field[FieldPos(0, y)], CellWall) << y;
        ASSERT_EQ(Field[FieldPos(335, y)], CellWall) << y;
    }
    EXPECT_EQ(BaseColours[1], 0u);
    EXPECT_EQ(BaseColours[5], 0u);
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < i; ++j) EXPECT_NE(PaletteColour(i), PaletteColour(j)) << i << " " << j;
    // Clear draws the gate line and the frame the same way.
    WndProc(MainWindow, WmSysCommand, CmdClear, 0);
    for (int32_t x = 0; x < FieldWidth; ++x) ASSERT_EQ(Field[FieldPos(x, GateRow)], CellWall) << x;
    for (int frame = 0; frame < 200; ++frame) RunFrame();
    for (int32_t i = 0; i < ParticleCount; ++i) {
        ASSERT_GE(ParticleList[i], FieldWidth);
        ASSERT_LT(ParticleList[i], FieldSize - FieldWidth);
    }
}

} // namespace

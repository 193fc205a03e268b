#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "app/main_routine.h"
#include "app/standard_random.h"
#include "framework/headless/headless.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "framework/pump.h"
#include "framework/queue/message_queue.h"
#include "sim/palette.h"
#include "framework/platform.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/particles.h"
#include "test_support.h"
#include "ui/commands.h"
#include "ui/keys.h"
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

// The gaps of the wide patterns 1 to 4.
std::set<int32_t> WideGaps(int pattern)
{
    std::set<int32_t> gaps;
    if (pattern == 1)
        for (int32_t x = 4; x <= 331; ++x) gaps.insert(x);
    for (int32_t x = 20; pattern == 2 && x < 328; x += 24) gaps.insert(x);
    for (int32_t x = 20; pattern == 3 && x < 328; x += 48) gaps.insert({x, x + 1});
    for (int32_t x = 20; pattern == 4 && x < 328; x += 16) gaps.insert({x, x + 2});
    return gaps;
}

TEST_F(MainRoutine, GatePatternsCutTheirGaps)
{
    BuildBasePalette();
    SetMirror(0);
    const size_t sizes[] = {0, 328, 13, 14, 40};
    for (int pattern = 1; pattern <= 4; ++pattern) {
        NewScene();
        OpenGate(pattern);
        EXPECT_EQ(GateGaps(), WideGaps(pattern)) << "pattern " << pattern;
        EXPECT_EQ(GateGaps().size(), sizes[pattern]) << "pattern " << pattern;
    }
    // The small gap is 3 + (draw mod 7) cells from column 82: every width
    // from 3 to 9 comes up.
    std::set<size_t> widths;
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        NewScene();
        SeedStandardRandom(seed);
        const int32_t draw = StandardRandom();
        SeedStandardRandom(seed);
        OpenGate(0);
        std::set<int32_t> expected;
        for (int32_t x = 82; x <= 84 + draw % 7; ++x) expected.insert(x);
        EXPECT_EQ(GateGaps(), expected) << "draw " << draw;
        widths.insert(GateGaps().size());
    }
    EXPECT_EQ(widths, (std::set<size_t>{3, 4, 5, 6, 7, 8, 9}));
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

// The pouring cycle watched on the gate line alone, up to the third wide
// opening of each seed: the first gap in frame 11, three small gaps, the
// 950-frame pause, a wide pattern, 4 to 6 small gaps, the pause again, the
// next wide pattern. A gap stays open 11 to 800 frames, the gate shut 11 to
// 960 between small gaps; a closing shuts the whole row.
TEST_F(MainRoutine, PouringCycleRunsItsRounds)
{
    std::set<int> widePatterns, smallRuns;
    for (uint32_t seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        StartProgram();
        StartUp();
        SeedStandardRandom(seed);
        ParticleCount = 0;
        struct Opening {
            int frame, closed, pattern; // pattern 0 for a small gap
        };
        std::vector<Opening> openings;
        int wides = 0;
        for (int frame = 1; frame < 40000 && wides < 3; ++frame) {
            RunFrame();
            const std::set<int32_t> gaps = GateGaps();
            const bool open = !openings.empty() && openings.back().closed == 0;
            if (open && gaps.empty()) {
                openings.back().closed = frame;
            } else if (!open && !gaps.empty()) {
                int pattern = -1;
                if (*gaps.begin() == 82 && gaps.size() >= 3 && gaps.size() <= 9 && *gaps.rbegin() == 81 + int32_t(gaps.size()))
                    pattern = 0;
                for (int p = 1; p <= 4; ++p)
                    if (gaps == WideGaps(p)) pattern = p;
                ASSERT_GE(pattern, 0) << "frame " << frame;
                wides += pattern > 0;
                openings.push_back({frame, 0, pattern});
            }
        }
        ASSERT_EQ(wides, 3);
        EXPECT_EQ(openings[0].frame, 11);
        int small = 0; // small gaps since the last wide one
        for (size_t i = 0; i < openings.size(); ++i) {
            const Opening& o = openings[i];
            EXPECT_TRUE(!o.closed || (o.closed - o.frame >= 11 && o.closed - o.frame <= 800)) << "opening " << i;
            const int pause = i ? o.frame - openings[i - 1].closed : 0;
            if (o.pattern == 0) {
                ++small;
                EXPECT_TRUE(i == 0 || (pause >= 11 && pause <= 960)) << "pause " << pause << " before opening " << i;
                continue;
            }
            EXPECT_EQ(pause, 950) << "before opening " << i;
            if (small == static_cast<int>(i))
                EXPECT_EQ(i, 3u) << "small gaps before the first wide one";
            else
                smallRuns.insert(small);
            widePatterns.insert(o.pattern);
            small = 0;
        }
    }
    EXPECT_EQ(widePatterns, (std::set<int>{1, 2, 3, 4}));
    EXPECT_EQ(smallRuns, (std::set<int>{4, 5, 6}));
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
    // Other messages come and go during the stand-still without ending it.
    HeadlessSchedule(HeadlessEvent{HeadlessFrame() + 10, HeadlessEvent::Post, WmMouseMove, 0, PackPoint(100, 100), {}});
    HeadlessSchedule(HeadlessEvent{HeadlessFrame() + 20, HeadlessEvent::Post, WmMouseMove, 0, PackPoint(120, 100), {}});
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
    const struct {
        int16_t speed;
        uint32_t ms;
    } times[] = {{1, 50}, {2, 36}, {3, 17}, {5, 10}, {6, 60}, {7, 80}, {8, 100}, {9, 120}};
    for (const auto& t : times) {
        Speed = t.speed;
        RunFrame();
        const uint32_t start = PlatformTicks();
        RunFrame();
        EXPECT_EQ(PlatformTicks() - start, t.ms) << "speed " << t.speed;
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

TEST_F(MainRoutine, CtrlCPutsThePictureTheWindowShowsOnTheClipboard)
{
    StartUp();
    for (int frame = 1; frame <= 20; ++frame) RunFrame();
    // A plain C types a letter and copies nothing; Ctrl+C is character 3.
    HeadlessSchedule({HeadlessFrame() + 1, HeadlessEvent::Post, WmKeyDown, 'C', 0, ""});
    RunFrame();
    EXPECT_EQ(HeadlessClipboard().copies, 0);
    HeadlessSchedule({HeadlessFrame() + 1, HeadlessEvent::Post, WmChar, 3, 0, ""});
    RunFrame();
    const HeadlessPicture& copied = HeadlessClipboard();
    ASSERT_EQ(copied.copies, 1);
    ASSERT_EQ(copied.width, 336);
    ASSERT_EQ(copied.height, 402);
    // Copied between the step and the frame's copy to the window: the same
    // picture, through the same colours.
    EXPECT_EQ(std::memcmp(copied.pixels.data(), HeadlessWindowBytes(), copied.pixels.size()), 0);
    EXPECT_EQ(std::memcmp(copied.colours, SurfaceColours, sizeof copied.colours), 0);
}

namespace {

int Undos, Redos, Pictures, Animations;

} // namespace

// A key press as each platform posts it: the key by its Latin meaning, the
// character the layout makes (none, or one beyond ASCII, on a Cyrillic
// layout) and the modifiers held. Each shortcut acts once, whether the
// character follows or not; a character alone (a button, a script) acts too.
TEST_F(MainRoutine, ShortcutsGoByTheKeyOnEveryLayoutAndActOnce)
{
    StartUp();
    OfferCommand(CommandUndo, [] { ++Undos; });
    OfferCommand(CommandRedo, [] { ++Redos; });
    OfferCommand(CommandPicture, [] { ++Pictures; });
    OfferCommand(CommandAnimation, [] { ++Animations; });
    const auto press = [](uint32_t key, int32_t character, uint32_t held) {
        Undos = Redos = Pictures = Animations = 0;
        QueuePostKey(key, character, held);
        PumpMessages();
        return std::vector<int>{Undos, Redos, Pictures, Animations};
    };
    using Counts = std::vector<int>;
    EXPECT_EQ(press('Z', 26, MkControl), (Counts{1, 0, 0, 0})) << "US, or Russian where Win32 makes the character";
    EXPECT_EQ(press('Z', -1, MkControl), (Counts{1, 0, 0, 0})) << "no character made";
    EXPECT_EQ(press('Z', 25, MkControl | MkShift), (Counts{0, 1, 0, 0}));
    EXPECT_EQ(press('Y', 25, MkControl), (Counts{0, 1, 0, 0}));
    EXPECT_EQ(press('P', 'p', 0), (Counts{0, 0, 1, 0}));
    EXPECT_EQ(press('P', -1, 0), (Counts{0, 0, 1, 0})) << "a letter beyond Latin-1 on the P key";
    EXPECT_EQ(press('G', 'G', MkShift), (Counts{0, 0, 0, 1}));
    EXPECT_EQ(press('Z', 'z', 0), (Counts{0, 0, 0, 0}));
    EXPECT_EQ(press('P', 16, MkControl), (Counts{0, 0, 0, 0})) << "Ctrl+P is the browser's and the desktop's";
    EXPECT_EQ(press(0, 26, 0), (Counts{1, 0, 0, 0})) << "the character alone";
    EXPECT_EQ(press(0, 'g', 0), (Counts{0, 0, 0, 1}));
    // A character that the key taken before did not make is taken for itself.
    Undos = Pictures = 0;
    QueuePostKey('Z', -1, MkControl);
    QueuePostKey(0, 'p', 0);
    PumpMessages();
    EXPECT_EQ(Undos, 1);
    EXPECT_EQ(Pictures, 1);
    const int before = HeadlessClipboard().copies;
    press('C', 3, MkControl);
    EXPECT_EQ(HeadlessClipboard().copies, before + 1);
}

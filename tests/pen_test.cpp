#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "app/history.h"
#include "app/main_routine.h"
#include "framework/headless/headless.h"
#include "framework/input.h"
#include "framework/pump.h"
#include "framework/window.h"
#include "sim/field.h"
#include "test_support.h"
#include "ui/menu.h"
#include "ui/pen.h"
#include "ui/settings.h"

namespace {

class Pen : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartProgram();
        StartUp();
        // An empty field inside the frame makes every stamp visible.
        for (int32_t y = 1; y < FieldHeight - 1; ++y)
            for (int32_t x = 1; x < FieldWidth - 1; ++x) Field[FieldPos(x, y)] = 0;
        before.assign(Field, Field + FieldSize);
    }
    static void Send(uint32_t message, int32_t x, int32_t y) { WndProc(MainWindow, message, 0, PackPoint(x, y)); }
    // Cells that changed since SetUp, as (x, y).
    std::vector<std::pair<int32_t, int32_t>> Changed() const
    {
        std::vector<std::pair<int32_t, int32_t>> cells;
        for (int32_t i = 0; i < FieldSize; ++i)
            if (Field[i] != before[static_cast<size_t>(i)]) cells.push_back({i % FieldWidth, i / FieldWidth});
        return cells;
    }
    static bool SquareIs(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t kind)
    {
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x)
                if ((Field[FieldPos(x, y)] & KindMask) != kind) return false;
        return true;
    }
    TempDir dir;
    std::vector<uint8_t> before;
};

TEST_F(Pen, PressAndReleaseAloneChangeNothing)
{
    Send(WmLButtonDown, 100, 100);
    EXPECT_TRUE(HeadlessCaptured());
    Send(WmLButtonUp, 100, 100);
    EXPECT_FALSE(HeadlessCaptured());
    EXPECT_TRUE(Changed().empty());
}

TEST_F(Pen, ThinPenStampsTwoByTwo)
{
    WndProc(MainWindow, WmSysCommand, CmdPenBase + 0, 0);
    Send(WmLButtonDown, 100, 100);
    Send(WmMouseMove, 100, 100);
    const std::vector<std::pair<int32_t, int32_t>> expected = {{99, 99}, {100, 99}, {99, 100}, {100, 100}};
    EXPECT_EQ(Changed(), expected);
    EXPECT_EQ(Field[FieldPos(99, 99)], CellWall);
}

TEST_F(Pen, StampsAreClippedInsideTheFrame)
{
    WndProc(MainWindow, WmSysCommand, CmdPenBase + 2, 0);
    Send(WmLButtonDown, 0, 0);
    Send(WmMouseMove, 0, 0);
    EXPECT_EQ(Changed().size(), 16u);
    EXPECT_TRUE(SquareIs(1, 1, 4, 4, CellWall));
    Send(WmLButtonUp, 0, 0);

    // The big eraser right of the field during a captured drag.
    for (int32_t y = 190; y < 210; ++y)
        for (int32_t x = 320; x < 335; ++x) Field[FieldPos(x, y)] = CellWall;
    Send(WmRButtonDown, 338, 200);
    Send(WmMouseMove, 338, 200);
    EXPECT_TRUE(SquareIs(333, 195, 334, 204, CellEmpty));
    EXPECT_TRUE(SquareIs(320, 195, 332, 204, CellWall));
    EXPECT_TRUE(SquareIs(320, 190, 334, 194, CellWall));
    EXPECT_TRUE(SquareIs(320, 205, 334, 209, CellWall));
    EXPECT_EQ(Field[FieldPos(335, 200)], CellWall);
}

TEST_F(Pen, NegativePositionsReadAsFarAwayAndStampNothing)
{
    Send(WmLButtonDown, 10, 10);
    Send(WmMouseMove, -1, 10);
    Send(WmMouseMove, 10, -3);
    EXPECT_TRUE(Changed().empty());
    EXPECT_EQ(LastPoint.y, 65533);
}

// A move farther than the reach, along either axis, adds one stamp halfway;
// a move of exactly the reach does not. Pen "Normal": reach 3, 6 x 6 squares.
TEST_F(Pen, FastMovesGetOneStampHalfway)
{
    const struct {
        int32_t x, y;           // the move from (100, 100)
        int32_t x0, y0, x1, y1; // the walls it leaves
    } moves[] = {{103, 100, 100, 97, 105, 102}, {100, 103, 97, 100, 102, 105}, {97, 100, 94, 97, 99, 102},
                 {100, 97, 97, 94, 102, 99},    {104, 100, 99, 97, 106, 102},  {100, 104, 97, 99, 102, 106},
                 {96, 100, 93, 97, 100, 102},   {100, 96, 97, 93, 102, 100}};
    for (const auto& m : moves) {
        SetUp();
        Send(WmLButtonDown, 100, 100); // the press stamps nothing
        Send(WmMouseMove, m.x, m.y);
        EXPECT_TRUE(SquareIs(m.x0, m.y0, m.x1, m.y1, CellWall)) << m.x << "," << m.y;
        EXPECT_EQ(Changed().size(), static_cast<size_t>((m.x1 - m.x0 + 1) * (m.y1 - m.y0 + 1))) << m.x << "," << m.y;
    }
}

TEST_F(Pen, ALongJumpLeavesGaps)
{
    WndProc(MainWindow, WmSysCommand, CmdPenBase + 0, 0);
    Send(WmLButtonDown, 100, 100);
    Send(WmMouseMove, 100, 100);
    Send(WmMouseMove, 120, 100);
    // Stamps at 100, at the halfway 110 and at 120: three 2 x 2 squares.
    EXPECT_EQ(Changed().size(), 12u);
    EXPECT_TRUE(SquareIs(109, 99, 110, 100, CellWall));
    EXPECT_TRUE(SquareIs(101, 99, 108, 100, CellEmpty));
}

TEST_F(Pen, EraserKeepsTheShade)
{
    Field[FieldPos(50, 50)] = 8 * 9 + CellWall;
    Field[FieldPos(51, 50)] = 8 * 4 + CellSand2A;
    Send(WmRButtonDown, 51, 51);
    Send(WmMouseMove, 51, 51);
    EXPECT_EQ(Field[FieldPos(50, 50)], 8 * 9);
    EXPECT_EQ(Field[FieldPos(51, 50)], 8 * 4);
}

TEST_F(Pen, DrawingOffCapturesButStampsNothing)
{
    WndProc(MainWindow, WmSysCommand, CmdDrawingOn, 0);
    Field[0] = 7; // the frame is not redrawn either
    Send(WmLButtonDown, 100, 100);
    EXPECT_TRUE(HeadlessCaptured());
    Send(WmMouseMove, 110, 110);
    Send(WmLButtonUp, 110, 110);
    EXPECT_FALSE(HeadlessCaptured());
    EXPECT_EQ(Field[0], 7);
    Field[0] = CellWall;
    EXPECT_TRUE(Changed().empty());
}

TEST_F(Pen, TheOtherButtonIsIgnoredDuringAStroke)
{
    Send(WmLButtonDown, 100, 100);
    Send(WmRButtonDown, 100, 100);
    EXPECT_EQ(ToolState, ToolPen);
    Send(WmMouseMove, 100, 100);
    EXPECT_EQ(Field[FieldPos(100, 100)], CellWall);
    Send(WmRButtonUp, 100, 100);
    EXPECT_EQ(ToolState, ToolPen);
    EXPECT_TRUE(HeadlessCaptured());
    Send(WmMouseMove, 150, 150);
    EXPECT_EQ(Field[FieldPos(150, 150)], CellWall);
    Send(WmLButtonUp, 150, 150);
    EXPECT_EQ(ToolState, ToolIdle);
    Send(WmMouseMove, 200, 200);
    EXPECT_EQ(Field[FieldPos(200, 200)], CellEmpty);
}

TEST_F(Pen, EveryStrokeStepRedrawsTheFrame)
{
    Field[FieldPos(0, 200)] = 8 * 5 + CellWall; // a shaded frame cell
    Field[FieldPos(335, 401)] = CellEmpty;
    Send(WmLButtonDown, 100, 100);
    Send(WmMouseMove, 100, 100);
    EXPECT_EQ(Field[FieldPos(0, 200)], CellWall);
    EXPECT_EQ(Field[FieldPos(335, 401)], CellWall);
}

TEST_F(Pen, ButtonPressesAreStillQueued)
{
    // The handler runs first, then the framework queues the press.
    MouseFlush();
    Send(WmLButtonDown, 5, 7);
    EXPECT_EQ(ToolState, ToolPen);
    ASSERT_EQ(MouseHit(), 1);
    const MouseEvent event = MouseWait();
    EXPECT_EQ(event.x, 5);
    EXPECT_EQ(event.y, 7);
    EXPECT_EQ(event.buttons, 1);
}

} // namespace

namespace {

void SendHeld(uint32_t message, uint32_t held, int32_t x, int32_t y)
{
    WndProc(MainWindow, message, held, PackPoint(x, y));
}

// What the window shows of cell (x, y): its kind in the last picture.
uint8_t ShownKind(int32_t x, int32_t y) { return HeadlessWindowBytes()[FieldPos(x, y)] & KindMask; }

} // namespace

// Shift at the press: a straight wall from where the last stroke was to the
// release, in the pen's size, shown while dragged and drawn at the release
// alone; Ctrl: a box's outline; Ctrl+Shift: a filled box; the eraser clears
// a box's inside. Each is one step of undo.
TEST_F(Pen, ShiftDrawsAStraightWallAndCtrlABoxAtTheRelease)
{
    WndProc(MainWindow, WmSysCommand, CmdPenBase + 0, 0);
    // A stroke that ends at (40, 50); then a Shift press elsewhere.
    Send(WmLButtonDown, 40, 50);
    Send(WmLButtonUp, 40, 50);
    SendHeld(WmLButtonDown, MkLButton | MkShift, 200, 300);
    SendHeld(WmMouseMove, MkLButton | MkShift, 140, 50);
    EXPECT_TRUE(Changed().empty()) << "a line is drawn at the release";
    EXPECT_EQ(ShownKind(90, 50), CellWall) << "but shown while dragged";
    EXPECT_EQ(ShownKind(90, 49), CellWall);
    SendHeld(WmLButtonUp, MkShift, 140, 50);
    // A thin pen's stamps along row 50 from x 40 to 140.
    EXPECT_TRUE(SquareIs(39, 49, 140, 50, CellWall));
    EXPECT_EQ(Changed().size(), 102u * 2);
    // The next one goes on from there: a diagonal from (140, 50).
    before.assign(Field, Field + FieldSize);
    SendHeld(WmLButtonDown, MkLButton | MkShift, 0, 0);
    SendHeld(WmLButtonUp, MkShift, 240, 150);
    for (int32_t i = 0; i <= 100; ++i) EXPECT_EQ(Field[FieldPos(140 + i, 50 + i)] & KindMask, CellWall) << i;

    for (int32_t i = 1; i < FieldSize; ++i) Field[i] &= ShadeMask;
    DrawFieldFrame();
    before.assign(Field, Field + FieldSize);
    SendHeld(WmLButtonDown, MkLButton | MkControl, 100, 100);
    SendHeld(WmLButtonUp, MkControl, 200, 160);
    EXPECT_TRUE(SquareIs(99, 99, 200, 100, CellWall)) << "the top edge";
    EXPECT_TRUE(SquareIs(99, 159, 200, 160, CellWall)) << "the bottom edge";
    EXPECT_TRUE(SquareIs(99, 99, 100, 160, CellWall) && SquareIs(199, 99, 200, 160, CellWall)) << "the sides";
    EXPECT_TRUE(SquareIs(101, 101, 198, 158, CellEmpty)) << "an outline only";
    SendHeld(WmLButtonDown, MkLButton | MkControl | MkShift, 10, 300);
    SendHeld(WmLButtonUp, MkControl | MkShift, 0, 390);
    EXPECT_TRUE(SquareIs(1, 300, 10, 390, CellWall)) << "filled, clipped inside the frame";
    SendHeld(WmRButtonDown, MkRButton | MkControl, 120, 80);
    SendHeld(WmRButtonUp, MkControl, 180, 170);
    EXPECT_TRUE(SquareIs(120, 80, 180, 170, CellEmpty)) << "the eraser clears the box's inside";

    // Each shape is one step of undo.
    const std::vector<uint8_t> unboxed(Field, Field + FieldSize);
    const size_t steps = HistoryUndoSteps();
    SendHeld(WmLButtonDown, MkLButton | MkControl, 20, 20);
    SendHeld(WmMouseMove, MkLButton | MkControl, 60, 60);
    SendHeld(WmLButtonUp, MkControl, 90, 90);
    EXPECT_EQ(HistoryUndoSteps(), steps + 1);
    ASSERT_TRUE(HistoryUndo());
    EXPECT_TRUE(std::equal(unboxed.begin(), unboxed.end(), Field));

    // With drawing off a shape changes nothing; a plain drag is as before.
    before.assign(Field, Field + FieldSize);
    WndProc(MainWindow, WmSysCommand, CmdDrawingOn, 0);
    SendHeld(WmLButtonDown, MkLButton | MkShift, 30, 30);
    SendHeld(WmLButtonUp, MkShift, 300, 30);
    EXPECT_TRUE(Changed().empty());
}

// The keyboard's pen: the arrows move a cursor that only the window shows,
// Space held draws and Delete held erases as the buttons do, through the
// same messages.
TEST_F(Pen, TheKeyboardMovesACursorAndHoldsThePenDownThere)
{
    ToolPoint at{};
    EXPECT_FALSE(KeyboardCursorShown(&at));
    EXPECT_TRUE(OnPenKeyDown(VkRight, 0));
    ASSERT_TRUE(KeyboardCursorShown(&at));
    EXPECT_EQ(at.x, FieldWidth / 2 + 1);
    OnPenKeyDown(VkUp, MkShift);
    ASSERT_TRUE(KeyboardCursorShown(&at));
    EXPECT_EQ(at.y, FieldHeight / 2 - 10);
    EXPECT_TRUE(Changed().empty()) << "the cursor is never in the field";
    ShowField();
    EXPECT_NE(ShownKind(at.x - 3, at.y - 3), CellEmpty) << "but on the window, as the pen's square";
    OnPenKeyDown(VkSpace, 0);
    for (int i = 0; i < 20; ++i) OnPenKeyDown(VkRight, 0);
    OnPenKeyDown(VkSpace, 0);  // held: the repeat changes nothing
    OnPenKeyUp(VkSpace);
    EXPECT_EQ(ToolState, ToolIdle);
    EXPECT_TRUE(SquareIs(at.x - 3, at.y - 3, at.x + 20 + 2, at.y + 2, CellWall));
    OnPenKeyDown(VkDelete, 0);
    OnPenKeyDown(VkLeft, MkShift);
    OnPenKeyUp(VkDelete);
    EXPECT_TRUE(SquareIs(at.x + 10 - 5, at.y - 5, at.x + 20 + 4, at.y + 4, CellEmpty));
    // The cursor stays on the window's cells.
    for (int i = 0; i < 60; ++i) OnPenKeyDown(VkDown, MkShift);
    ASSERT_TRUE(KeyboardCursorShown(&at));
    EXPECT_EQ(at.y, FieldHeight - 1);
    // The mouse takes over.
    Send(WmMouseMove, 10, 10);
    EXPECT_FALSE(KeyboardCursorShown(nullptr));
}

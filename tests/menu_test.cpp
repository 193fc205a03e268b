#include <gtest/gtest.h>

#include <string>

#include "app/main_routine.h"
#include "files/scene_file.h"
#include "framework/headless/headless.h"
#include "framework/platform.h"
#include "framework/pump.h"
#include "framework/window.h"
#include "framework/window_menu.h"
#include "sim/field.h"
#include "sim/particles.h"
#include "test_support.h"
#include "ui/menu.h"
#include "ui/pen.h"
#include "ui/settings.h"

namespace {

class Menu : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartProgram();
        StartUp();
    }
    static int32_t Command(uint32_t id) { return WndProc(MainWindow, WmSysCommand, id, 0); }
    static int32_t Marks(uint32_t base, int count)
    {
        int32_t marks = 0;
        for (int i = 0; i < count; ++i) marks += MenuChecked(base + static_cast<uint32_t>(i)) == 1;
        return marks;
    }
    TempDir dir;
};

TEST_F(Menu, FirstStartShowsTheItemsInOrderWithTheDefaultMarks)
{
    const std::string expected =
        "[ ] 61728 Restore\n[ ] 61456 Move\n[ ] 61440 Size\n[ ] 61472 Minimize\n[ ] 61488 Maximize\n----\n"
        "[ ] 61536 Close\n"
        "----\n"
        "[x] 10 Drawing on\n"
        "[ ] 7 Clear\n"
        "Pen >\n  [ ] 20 Thin\n  [x] 21 Normal\n  [ ] 22 Thick\n"
        "Eraser >\n  [ ] 30 Small\n  [ ] 31 Normal\n  [x] 32 Big\n"
        "Kind of sand1 >\n  [ ] 50 Normal sand\n  [ ] 51 Heavy sand\n  [ ] 52 Dusty sand\n  [x] 53 Boiling sand\n"
        "  [ ] 54 Magical sand\n"
        "Kind of sand2 >\n  [x] 60 Normal sand\n  [ ] 61 Heavy sand\n  [ ] 62 Dusty sand\n  [ ] 63 Boiling sand\n"
        "  [ ] 64 Magical sand\n"
        "Speed >\n  [ ] 40 Stop\n  [ ] 41 Slow\n  [ ] 42 Normal\n  [ ] 43 Fast\n  [x] 44 No wait\n"
        "----\n"
        "[ ] 11 About talvo\n";
    EXPECT_EQ(HeadlessOwnMenuText() + MenuText(), expected);
}

TEST_F(Menu, DrawingOnToggles)
{
    EXPECT_EQ(Command(CmdDrawingOn), 0);
    EXPECT_EQ(DrawingEnabled, 0);
    EXPECT_EQ(MenuChecked(CmdDrawingOn), 0);
    Command(CmdDrawingOn);
    EXPECT_EQ(DrawingEnabled, 1);
    EXPECT_EQ(MenuChecked(CmdDrawingOn), 1);
}

// Each group shows one mark, on base + value, and follows every choice.
TEST_F(Menu, RadioGroupsMoveTheirMark)
{
    struct Group {
        uint32_t base;
        int count;
        int32_t (*value)();
    };
    const Group groups[] = {
        {CmdPenBase, 3, [] { return PenSize; }},
        {CmdEraserBase, 3, [] { return EraserSize; }},
        {CmdSlot1Base, 5, [] { return static_cast<int32_t>(SlotKind1); }},
        {CmdSlot2Base, 5, [] { return static_cast<int32_t>(SlotKind2); }},
        {CmdSpeedBase, 5, [] { return static_cast<int32_t>(Speed); }},
    };
    for (const Group& g : groups) {
        for (int pass = 0; pass < 2; ++pass) {
            for (int v = g.count - 1; v >= 0; --v) {
                if (g.base == CmdSpeedBase && v == 0) continue; // Stop is covered with the loop
                EXPECT_EQ(Command(g.base + static_cast<uint32_t>(v)), 0);
                EXPECT_EQ(g.value(), v) << g.base;
                EXPECT_EQ(MenuChecked(g.base + static_cast<uint32_t>(v)), 1) << g.base + v;
                EXPECT_EQ(Marks(g.base, g.count), 1) << g.base;
            }
        }
    }
    // The other settings were left alone by each group's commands.
    EXPECT_EQ(DrawingEnabled, 1);
}

TEST_F(Menu, ChoosingTheMarkedItemKeepsIt)
{
    Command(CmdPenBase + 1);
    EXPECT_EQ(PenSize, 1);
    EXPECT_EQ(MenuChecked(CmdPenBase + 1), 1);
    EXPECT_EQ(Marks(CmdPenBase, 3), 1);
}

TEST_F(Menu, ClearMakesANewSceneAndShowsItAtOnce)
{
    Command(CmdPenBase + 2);
    Field[FieldPos(200, 200)] = CellWall;
    ParticleCount = 5;
    const int32_t presents = HeadlessPresentCount();
    Command(CmdClear);
    EXPECT_EQ(Field[FieldPos(200, 200)], CellEmpty);
    EXPECT_EQ(ParticleCount, 16366);
    EXPECT_EQ(HeadlessPresentCount(), presents + 1);
    EXPECT_EQ(PenSize, 2);
}

TEST_F(Menu, OtherCommandsGoToTheDefaultProcedure)
{
    const HeadlessDefCall before = HeadlessLastDefCall();
    Command(0xF010); // Move
    const HeadlessDefCall after = HeadlessLastDefCall();
    EXPECT_EQ(after.count, before.count + 1);
    EXPECT_EQ(after.message, static_cast<uint32_t>(WmSysCommand));
    EXPECT_EQ(after.wParam, 0xF010u);
    // Ids next to the program's own are not theirs either.
    for (uint32_t id : {8u, 12u, 23u, 33u, 45u, 55u, 65u, 0x10007u}) {
        Command(id);
        EXPECT_EQ(HeadlessLastDefCall().wParam, id);
    }
}

TEST_F(Menu, TheCloseItemSavesTheScene)
{
    Command(CmdSlot1Base + 1);
    Command(ScClose);
    EXPECT_FALSE(HeadlessWindowExists());
    const std::vector<uint8_t> saved = ReadFileBytes("Default.talvo");
    ASSERT_EQ(saved.size(), 200588u);
    EXPECT_EQ(saved[22], 1); // SlotKind1
}

// The dialog's own loop takes the input of the frames that pass while it is
// open: Escape does nothing, a click cannot reach the disabled window, Enter
// ends it. What comes later waits for the frame loop.
TEST_F(Menu, AboutRunsItsDialogUntilOk)
{
    const int64_t now = HeadlessFrame();
    HeadlessSchedule(HeadlessEvent{now + 1, HeadlessEvent::Post, WmKeyDown, VkEscape, 0, {}});
    HeadlessSchedule(HeadlessEvent{now + 2, HeadlessEvent::Post, WmLButtonDown, 1, PackPoint(50, 50), {}});
    HeadlessSchedule(HeadlessEvent{now + 3, HeadlessEvent::Post, WmKeyDown, VkReturn, 0, {}});
    HeadlessSchedule(HeadlessEvent{now + 4, HeadlessEvent::Post, WmSysCommand, CmdPenBase, 0, {}});
    EXPECT_EQ(Command(CmdAbout), 0);
    EXPECT_EQ(HeadlessDialogCount(), 1);
    EXPECT_FALSE(HeadlessDialogShown());
    EXPECT_EQ(PenSize, 1);
    ASSERT_TRUE(HeadlessEventsPending());
    while (HeadlessEventsPending()) PumpMessages();
    EXPECT_EQ(PenSize, 0);
    EXPECT_EQ(ToolState, ToolIdle);
}

TEST_F(Menu, ClosingDuringAboutEndsTheDialogThenTheProgram)
{
    HeadlessSchedule(HeadlessEvent{HeadlessFrame() + 3, HeadlessEvent::Close, 0, 0, 0, {}});
    Command(CmdAbout);
    EXPECT_FALSE(HeadlessDialogShown());
    EXPECT_TRUE(HeadlessWindowExists());
    // The next pump closes the window, saving the scene, and the process ends.
    EXPECT_EXIT(PumpMessages(), ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(FileExists("Default.talvo"));
}

} // namespace

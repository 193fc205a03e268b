// The player's zoom: the file that remembers it (absent, damaged, out of
// range: the default), and the keys and the window's zoom item that change
// it, remembered for the next start, on a window that zooms.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "app/main_routine.h"
#include "framework/headless/headless.h"
#include "framework/messages.h"
#include "framework/pump.h"
#include "framework/window.h"
#include "framework/zoom.h"
#include "test_support.h"

namespace {

int32_t ReadBack(const std::string& bytes, int32_t fallback = 1, bool fitAllowed = false)
{
    WriteFileText("zoom", bytes);
    return ZoomRead("zoom", fallback, fitAllowed);
}

TEST(ZoomFile, AbsentDamagedOrOutOfRangeMeansTheDefault)
{
    TempDir dir;
    EXPECT_EQ(ZoomRead("zoom", 1, false), 1) << "absent";
    EXPECT_EQ(ZoomRead("zoom", ZoomFit, true), ZoomFit) << "absent, on the page";
    for (const std::string& damaged : {std::string(""), std::string("\n"), std::string("0\n"), std::string("5\n"),
                                       std::string("9"), std::string("-1\n"), std::string("12\n"), std::string("2x\n"),
                                       std::string(" 2\n"), std::string("2 \n"), std::string("2\n\n"),
                                       std::string("fit\n"), std::string("FIT\n"), std::string("2\n3\n"),
                                       std::string("2\0", 2)})
        EXPECT_EQ(ReadBack(damaged), 1) << "'" << damaged << "'";
    // A file longer than any choice is damaged, whatever it begins with.
    EXPECT_EQ(ReadBack("3\n" + std::string(100, ' ')), 1);
    // A folder named as the file is no choice.
    ASSERT_EQ(mkdir("folder", 0700), 0);
    EXPECT_EQ(ZoomRead("folder", 2, false), 2);
}

TEST(ZoomFile, EveryChoiceReadsBackAsWritten)
{
    TempDir dir;
    for (int32_t choice = 1; choice <= ZoomLargest; ++choice) {
        char bytes[8];
        const size_t size = ZoomFormat(choice, bytes, sizeof bytes);
        EXPECT_EQ(ReadBack(std::string(bytes, size), 1), choice);
        EXPECT_EQ(ReadBack(std::string(bytes, size - 1), 1), choice) << "without its line break";
    }
    EXPECT_EQ(ReadBack("3\r\n"), 3);
    char bytes[8];
    const size_t size = ZoomFormat(ZoomFit, bytes, sizeof bytes);
    EXPECT_EQ(std::string(bytes, size), "fit\n");
    EXPECT_EQ(ReadBack("fit\n", 2, true), ZoomFit);
    EXPECT_EQ(ReadBack("fit\n", 2, false), 2) << "fit is the page's alone";
}

std::string ZoomFile() { return std::string(std::getenv("XDG_DATA_HOME")) + "/talvo/zoom"; }

void Keys(const std::string& events)
{
    ScheduleEvents(events);
    PumpMessages();
}

TEST(ZoomKeys, CtrlPlusMinusAndZeroStepWithinOneToFourAndAreRemembered)
{
    TempDir dir;
    StartProgram();
    HeadlessOfferZoom(true);
    StartUp();
    EXPECT_EQ(HeadlessZoomShown(), 1) << "a first start shows 1x";
    EXPECT_FALSE(FileExists(ZoomFile())) << "nothing is written before the player chooses";

    // Ctrl with the key that types "+" (or "="), then the keypad's plus.
    Keys("1 key 187 ctrl\n");
    EXPECT_EQ(HeadlessZoomShown(), 2);
    EXPECT_EQ(ReadText(ZoomFile()), "2\n");
    Keys("1 key 107 ctrl\n1 key 187 ctrl shift\n1 key 187 ctrl\n");
    EXPECT_EQ(HeadlessZoomShown(), 4) << "at most 4x";
    Keys("1 key 189 ctrl\n1 key 109 ctrl\n");
    EXPECT_EQ(HeadlessZoomShown(), 2);
    // Without Ctrl the keys are no zoom keys.
    Keys("1 key 187\n1 key 48\n1 key 189\n");
    EXPECT_EQ(HeadlessZoomShown(), 2);
    Keys("1 key 48 ctrl\n");
    EXPECT_EQ(HeadlessZoomShown(), 1);
    Keys("1 key 189 ctrl\n");
    EXPECT_EQ(HeadlessZoomShown(), 1) << "at least 1x";
    EXPECT_EQ(ReadText(ZoomFile()), "1\n");

    // The window's zoom item; a choice beyond it is refused.
    WndProc(MainWindow, WmCommand, IdZoom + 3, 0);
    EXPECT_EQ(HeadlessZoomShown(), 3);
    WndProc(MainWindow, WmCommand, IdZoom + 5, 0);
    WndProc(MainWindow, WmCommand, IdZoom + ZoomFit, 0);
    EXPECT_EQ(HeadlessZoomShown(), 3) << "fit is the page's alone";
    EXPECT_EQ(ReadText(ZoomFile()), "3\n");

    // The next start shows what was chosen; a damaged file the default.
    StartProgram();
    HeadlessOfferZoom(true);
    StartUp();
    EXPECT_EQ(HeadlessZoomShown(), 3);
    WriteFileText(ZoomFile(), "7\n");
    StartProgram();
    HeadlessOfferZoom(true);
    StartUp();
    EXPECT_EQ(HeadlessZoomShown(), 1);
}

TEST(ZoomKeys, AWindowOfOneSizeReadsAndWritesNoZoomFile)
{
    TempDir dir;
    StartProgram();
    StartUp();
    Keys("1 key 187 ctrl\n");
    EXPECT_EQ(HeadlessZoomShown(), -1);
    EXPECT_EQ(ZoomChoice(), -1);
    EXPECT_FALSE(FileExists(ZoomFile()));
}

} // namespace

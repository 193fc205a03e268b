// What the undo history tells the player: the window's Undo and Redo are
// offered exactly while there is something to take back or bring again,
// and a note says once that the oldest steps had to go.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "app/history.h"
#include "app/main_routine.h"
#include "files/scene_file.h"
#include "framework/headless/headless.h"
#include "framework/pump.h"
#include "framework/window.h"
#include "test_support.h"
#include "ui/keys.h"

namespace {

using Offered = std::pair<bool, bool>;

Offered Buttons() { return {HeadlessButtonEnabled(CharUndo), HeadlessButtonEnabled(CharRedo)}; }

void Input(const std::string& events)
{
    ScheduleEvents(events);
    PumpMessages();
}

std::string Stroke(int y) { return "1 lbuttondown 40 " + std::to_string(y) + "\n1 mousemove 300 " + std::to_string(y) +
                                   "\n1 lbuttonup 300 " + std::to_string(y) + "\n"; }

int NotesAbout(const std::string& words)
{
    const auto& notes = HeadlessNotes();
    return static_cast<int>(std::count_if(notes.begin(), notes.end(),
                                          [&](const std::string& note) { return note.find(words) != std::string::npos; }));
}

TEST(UndoReport, TheButtonsOfferExactlyWhatThereIsToUndoOrRedo)
{
    TempDir dir;
    StartProgram();
    StartUp();
    for (int frame = 0; frame < 5; ++frame) RunFrame();
    EXPECT_EQ(Buttons(), Offered(false, false)) << "a new scene has nothing to undo";
    Input(Stroke(300));
    EXPECT_EQ(Buttons(), Offered(true, false));
    Input("1 char 26\n");
    EXPECT_EQ(Buttons(), Offered(false, true)) << "the only stroke undone";
    Input("1 char 25\n");
    EXPECT_EQ(Buttons(), Offered(true, false));
    Input("1 command 7\n1 char 26\n");
    EXPECT_EQ(Buttons(), Offered(true, true)) << "Clear undone, the stroke still to undo";
    Input(Stroke(200));
    EXPECT_EQ(Buttons(), Offered(true, false)) << "a new stroke drops what was undone";
    Input("1 char 26\n1 char 26\n");
    EXPECT_EQ(Buttons(), Offered(false, true));
    // A dropped scene starts its history anew.
    size_t size = 0;
    const uint8_t* scene = EncodedScene(&size);
    WriteFileBytes("other.talvo", std::vector<uint8_t>(scene, scene + size));
    Input("1 drop other.talvo\n");
    EXPECT_STREQ(SceneFileName, "other.talvo");
    EXPECT_EQ(Buttons(), Offered(false, false));
}

TEST(UndoReport, ThePlayerIsToldOnceWhenTheOldestStepsFirstGo)
{
    TempDir dir;
    // The same pour every run: with the clock's seed, about one second in
    // forty poured a history whose undoing let its oldest step go for the
    // redo steps it made (seed 79190).
    PinClockSeconds(5);
    StartProgram();
    StartUp();
    Input("1 command 22\n");
    int strokes = 0;
    // The big pen, in rows of their own, the pour running between them.
    for (; strokes < 400 && NotesAbout("8 MB") == 0; ++strokes) {
        Input(Stroke(60 + (strokes * 7) % 330));
        RunFrame();
    }
    ASSERT_EQ(NotesAbout("8 MB"), 1) << "no word after " << strokes << " strokes";
    const size_t kept = HistoryUndoSteps();
    EXPECT_LT(kept, static_cast<size_t>(strokes)) << "told while every step was kept";
    EXPECT_FALSE(HistoryTakeForgotten()) << "told once only";
    for (int more = 0; more < 20; ++more) Input(Stroke(100 + more));
    EXPECT_EQ(NotesAbout("8 MB"), 1) << "told again";
    EXPECT_LE(HistoryBytes(), 8u << 20);
    // Every step kept can be undone, and the button goes grey after the last.
    const size_t steps = HistoryUndoSteps();
    for (size_t undone = 0; undone < steps; ++undone) {
        ASSERT_TRUE(Buttons().first) << "greyed out with " << steps - undone << " steps left";
        Input("1 char 26\n");
    }
    EXPECT_EQ(Buttons(), Offered(false, true));
    EXPECT_EQ(HistoryRedoSteps(), steps);
}

} // namespace

// When the session's journal cannot be written: the player is told once,
// in the note, with the system's own words; the journal is tried again now
// and then, and once it works the note says so and a crash loses nothing
// drawn since.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/journal.h"
#include "app/main_routine.h"
#include "files/scene_file.h"
#include "framework/headless/headless.h"
#include "framework/pump.h"
#include "framework/window.h"
#include "sim/field.h"
#include "test_support.h"

namespace {

void StartOnScene()
{
    StartProgram();
    static char scene[] = "s.talvo";
    static char* args[] = {nullptr, scene, nullptr};
    SetProgramArguments(2, args);
    StartUp();
}

// The pen stamps where the pointer is: a move every few cells.
std::string Stroke(int y)
{
    // Appended, not "..." + ...: GCC 12 warns falsely on that (-Wrestrict).
    const std::string row = std::string(" ").append(std::to_string(y)).append("\n");
    std::string events = std::string("1 lbuttondown 40").append(row);
    for (int x = 43; x <= 300; x += 3) events.append("1 mousemove ").append(std::to_string(x)).append(row);
    return events.append("1 lbuttonup 300").append(row);
}

bool WallAcross(int y)
{
    for (int x = 40; x < 300; ++x)
        if ((Field[FieldPos(x, y)] & KindMask) != CellWall) return false;
    return true;
}

// The notes since `from`, as one text.
std::string NotesFrom(size_t from)
{
    std::string text;
    for (size_t i = from; i < HeadlessNotes().size(); ++i) text += HeadlessNotes()[i] + "\n";
    return text;
}

std::string DataHome() { return std::getenv("XDG_DATA_HOME"); }

std::vector<std::string> Segments()
{
    std::vector<std::string> names;
    std::error_code none;
    for (const auto& folder : std::filesystem::directory_iterator(DataHome() + "/talvo/journal", none))
        if (folder.is_directory())
            for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
                if (entry.path().extension() == ".seg") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(JournalKeeping, AFolderInItsWayIsToldAndOnceItGoesTheJournalIsKeptAgain)
{
    TempDir dir;
    std::filesystem::create_directories(DataHome() + "/talvo");
    WriteFileText(DataHome() + "/talvo/journal", "a file where the journal's folder goes");
    {
        KeptJournal journal;
        StartOnScene();
        // Normal speed: 36 ms a frame.
        ScheduleEvents("1 command 42\n");
        RunFrame();
        const std::string told = NotesFrom(0);
        EXPECT_NE(told.find("cannot keep the journal of this session (Not a directory)"), std::string::npos) << told;
        EXPECT_TRUE(JournalStalled());
        // A stroke while it cannot be kept, then the way is cleared.
        ScheduleEvents(Stroke(250));
        for (int frame = 0; frame < 100; ++frame) RunFrame();
        EXPECT_EQ(HeadlessNotes().size(), 1u) << "told more than once: " << NotesFrom(0);
        std::filesystem::remove(DataHome() + "/talvo/journal");
        // Tried again within the seconds it takes.
        for (int frame = 0; frame < 100 && JournalStalled(); ++frame) RunFrame();
        ASSERT_FALSE(JournalStalled()) << NotesFrom(0);
        RunFrame();
        EXPECT_NE(NotesFrom(1).find("keeps the journal of this session again"), std::string::npos) << NotesFrom(0);
        ScheduleEvents(Stroke(320));
        for (int frame = 0; frame < 60; ++frame) RunFrame();
        ASSERT_TRUE(WallAcross(250) && WallAcross(320));
        // Then it ends as a crash ends it.
    }
    StartOnScene();
    const std::string note = JournalTakeNote();
    EXPECT_NE(note.find("did not end cleanly"), std::string::npos) << note;
    EXPECT_TRUE(WallAcross(250)) << "the stroke made while the journal was stalled is gone";
    EXPECT_TRUE(WallAcross(320)) << "the stroke made once the journal worked again is gone";
}

// A disk too full for a checkpoint: told with the system's words, the
// segments the last checkpoint makes needless go to make room, and once
// there is room the journal goes on.
TEST(JournalKeeping, NoRoomForItIsToldAndItsNeedlessSegmentsGo)
{
    TempDir dir;
    KeptJournal journal;
    StartOnScene();
    ScheduleEvents("1 command 42\n" + Stroke(250));
    // Several flushes after the first checkpoint, a second one (a Clear),
    // and flushes after it.
    for (int frame = 0; frame < 120; ++frame) RunFrame();
    const std::vector<std::string> before = Segments();
    ScheduleEvents("1 command 7\n");
    for (int frame = 0; frame < 60; ++frame) RunFrame();
    const std::vector<std::string> after = Segments();
    ASSERT_GT(after.size(), before.size() + 1);
    const std::string second = after[before.size()];
    struct rlimit limit {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    struct rlimit small = limit;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    // A checkpoint (another Clear) is more than the limit lets be written.
    ScheduleEvents("1 command 7\n");
    for (int frame = 0; frame < 30 && !JournalStalled(); ++frame) RunFrame();
    const bool stalled = JournalStalled();
    const std::vector<std::string> during = Segments();
    for (int frame = 0; frame < 100; ++frame) RunFrame();
    const bool still = JournalStalled();
    setrlimit(RLIMIT_FSIZE, &limit);
    ASSERT_TRUE(stalled);
    EXPECT_TRUE(still) << "kept again with no room";
    RunFrame();
    EXPECT_NE(NotesFrom(0).find("(File too large)"), std::string::npos) << NotesFrom(0);
    ASSERT_FALSE(during.empty());
    EXPECT_EQ(during.front(), second) << "the segments before the last checkpoint should have gone, and no others";
    EXPECT_EQ(std::vector<std::string>(after.begin() + static_cast<std::ptrdiff_t>(before.size()), after.end()),
              std::vector<std::string>(during.begin(), during.begin() + static_cast<std::ptrdiff_t>(
                                                                         std::min(during.size(), after.size() - before.size()))));
    for (int frame = 0; frame < 100 && JournalStalled(); ++frame) RunFrame();
    EXPECT_FALSE(JournalStalled());
    RunFrame();
    EXPECT_NE(NotesFrom(0).find("keeps the journal of this session again"), std::string::npos) << NotesFrom(0);
    EXPECT_GT(Segments().size(), 1u);
}

} // namespace

// What the program offers the layers below it (the window's hooks, the
// interface's commands), what they do with it, and the reset that puts the
// whole program back as a new process has it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "app/journal.h"
#include "app/main_routine.h"
#include "app/replay.h"
#include "app/scene_handlers.h"
#include "codecs/checksum.h"
#include "files/scene_file.h"
#include "framework/dialog.h"
#include "framework/headless/headless.h"
#include "framework/input.h"
#include "framework/platform.h"
#include "framework/pump.h"
#include "framework/queue/message_queue.h"
#include "framework/start.h"
#include "framework/window.h"
#include "test_support.h"
#include "ui/commands.h"

namespace {

std::vector<uint32_t> Watched;
int LongWaits = 0, Undos = 0;

void Watch(uint32_t message, uint32_t, int32_t) { Watched.push_back(message); }
void LongWait() { ++LongWaits; }

void OfferCountingHooks()
{
    Watched.clear();
    LongWaits = 0;
    ProgramHooks hooks;
    hooks.watch = Watch;
    hooks.beforeLongWait = LongWait;
    SetProgramHooks(hooks);
}

int32_t EndAtOnce(WindowHandle dialog, uint32_t message, uint32_t, int32_t)
{
    if (message == WmInitDialog) EndAboutDialog(dialog, 0);
    return 0;
}

// The reset, from inside the About box's loop.
bool OpenAfterReset = true;
int32_t ResetInside(WindowHandle dialog, uint32_t message, uint32_t, int32_t)
{
    if (message != WmInitDialog) return 0;
    FrameworkReset();
    OpenAfterReset = AboutDialogOpen();
    EndAboutDialog(dialog, 0);
    return 0;
}

uint32_t QuitCode()
{
    PlatformMessage message{};
    while (PlatformNextMessage(&message))
        if (message.message == WmQuit) return message.wParam;
    return ~0u;
}

} // namespace

TEST(ProgramHooks, TheWatchHearsTheMainWindowAloneAndEveryLongWaitIsAnnouncedFirst)
{
    TempDir dir;
    StartProgram();
    OfferCountingHooks();
    WndProc(MainWindow, WmMouseMove, 0, 0);
    WndProc(reinterpret_cast<WindowHandle>(uintptr_t{0x7777}), WmLButtonDown, 0, 0);
    EXPECT_EQ(Watched, std::vector<uint32_t>{WmMouseMove});

    AwaitMessage(0);
    EXPECT_EQ(LongWaits, 1) << "a wait for input";
    RunAboutDialog(EndAtOnce);
    EXPECT_EQ(LongWaits, 2) << "the About box";
    ShowError("text", "caption");
    EXPECT_EQ(LongWaits, 3) << "the error box";
    const uint8_t bytes[] = {1, 2, 3};
    EXPECT_EQ(OfferFile("offered.bin", "application/octet-stream", bytes, sizeof bytes), 1);
    EXPECT_EQ(LongWaits, 4) << "a file offered";
}

TEST(ProgramReset, LeavesNoHookCommandInputOrWaitingMessageBehind)
{
    StartProgram();
    OfferCountingHooks();
    Undos = 0;
    OfferCommand(CommandUndo, [] { ++Undos; });
    RunCommand(CommandUndo);
    ASSERT_EQ(Undos, 1);
    KeyPush(5);
    MousePush({1, 2, 1});
    DeferMessages({PlatformMessage{MainWindow, WmMouseMove, 0, 0}});

    StartProgram();
    RunCommand(CommandUndo);
    EXPECT_EQ(Undos, 1) << "a command offered before the reset";
    WndProc(MainWindow, WmMouseMove, 0, 0);
    EXPECT_TRUE(Watched.empty()) << "the watch offered before the reset";
    EXPECT_EQ(KeyHit(), 0);
    EXPECT_EQ(MouseHit(), 0);
    SetProgramHooks(ProgramHooks{nullptr, LongWait});
    LongWaits = 0;
    AwaitMessage(0);
    EXPECT_EQ(LongWaits, 1) << "a message deferred before the reset still waits";

    // Before the window opens again, nothing can be posted to it.
    HeadlessReset();
    FrameworkReset();
    QueuePost(WmMouseMove, 0, 0);
    EXPECT_FALSE(QueuePending());

    StartProgram();
    RunAboutDialog(ResetInside);
    EXPECT_FALSE(OpenAfterReset) << "the About box open before the reset";
}

// The journal is on disk before the program waits, and hears of each save.
TEST(ProgramHooks, TheJournalIsWrittenBeforeAWaitAndKeepsEachSave)
{
    TempDir dir;
    const KeptJournal kept;
    StartOn("s.talvo");
    RunFrame();
    QueuePostMouse(WmLButtonDown, MkLButton, 50, 100);
    PumpMessages();
    const uint64_t files = JournalFilesWritten();
    AwaitMessage(0);
    EXPECT_GT(JournalFilesWritten(), files) << "the press was not written before the wait";

    QueuePostMouse(WmLButtonUp, 0, 50, 100);
    PumpMessages();
    ASSERT_EQ(SaveSceneAndTell(), 1);
    JournalFlush();
    JournalReading reading;
    ASSERT_TRUE(ReadJournal(JournalFolder(), &reading));
    const std::vector<uint8_t> file = ReadFileBytes("s.talvo");
    std::vector<JournalRecord> saves;
    for (const JournalRecord& r : reading.records)
        if (r.type == RecordSaved) saves.push_back(r);
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0].text, SceneFileName);
    EXPECT_EQ(saves[0].hash, Fnv64(file.data(), file.size()));
}

// A scene kept nowhere: three places are asked for, each failure told; at
// the end of the session, when no box may be shown, the end is a failure.
TEST(ProgramHooks, ASceneKeptNowhereIsOfferedThriceAndLostAtTheEndIsAFailure)
{
    TempDir dir;
    setenv("XDG_DATA_HOME", "/dev/null/none", 1);
    std::filesystem::create_directory("locked");
    StartOn("locked/s.talvo");
    RunFrame();
    ASSERT_EQ(SaveSceneAndTell(), 1);
    chmod("locked/s.talvo", 0444);
    struct rlimit limit {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    struct rlimit small = limit;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int32_t errors = HeadlessErrorCount();
    EXPECT_EQ(SaveSceneAndTell(), 0);
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_EQ(HeadlessErrorCount(), errors + 4) << "the first box, then one a place that failed";

    StartOn("locked/s.talvo");
    RunFrame();
    const int32_t before = HeadlessErrorCount();
    OnEndSession(MainWindow, WmEndSession, 1, 0);
    EXPECT_EQ(HeadlessErrorCount(), before) << "a box at the session's end";
    EXPECT_EQ(QuitCode(), 1u);
    chmod("locked/s.talvo", 0644);
}

// The journal folder over time: journals of the scenes used last stay,
// older ones go unless a program holds them or they are still to be
// rebuilt; a program that keeps no journal leaves no folder and no lock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/journal.h"
#include "app/main_routine.h"
#include "app/scene_handlers.h"
#include "framework/file_system.h"
#include "framework/window.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

void StartOn(const std::string& scene, bool kept)
{
    SetJournalKept(kept);
    StartProgram();
    static std::string name;
    static char* args[3];
    name = scene;
    args[1] = name.data();
    SetProgramArguments(2, args);
    StartUp();
}

// A session of a few frames on the scene that ends as the program is told
// to: by its close, or as a crash ends it (nothing more written).
void Session(const std::string& scene, bool clean)
{
    StartOn(scene, true);
    for (int frame = 0; frame < 5; ++frame) RunFrame();
    if (clean) OnClose(nullptr, 0, 0, 0);
    JournalReset();
    SetJournalKept(false);
}

// The folder without its separator: the lock is the file beside it.
std::string FolderOf(const std::string& scene)
{
    const std::string folder = JournalFolderOf(scene.c_str());
    return folder.substr(0, folder.size() - 1);
}

void SetAge(const std::string& folder, int hours)
{
    fs::last_write_time(folder, fs::file_time_type::clock::now() - std::chrono::hours(hours));
}

std::string DataFolder() { return std::getenv("XDG_DATA_HOME") + std::string("/talvo"); }

TEST(JournalStore, OnlyTheScenesUsedLastKeepTheirJournalsButWhatIsHeldOrToBeRebuilt)
{
    TempDir dir;
    // Twelve scenes, scene0 used longest ago; scene1 ended in a crash, and
    // another program has scene2 open.
    // Each is held while the others are made, so that none goes yet.
    std::vector<std::string> folders;
    std::vector<int64_t> locks;
    for (int i = 0; i < 12; ++i) {
        const std::string scene = "scene" + std::to_string(i) + ".talvo";
        Session(scene, i != 1);
        folders.push_back(FolderOf(scene));
        ASSERT_TRUE(fs::is_directory(folders.back())) << scene;
        SetAge(folders.back(), 24 - i);
        locks.push_back(-1);
        ASSERT_EQ(FileLock((folders.back() + ".lock").c_str(), &locks.back()), FileDone);
    }
    const int64_t held = locks[2];
    for (const int64_t lock : locks)
        if (lock != held) FileUnlock(lock);

    Session("new.talvo", true);
    for (int i = 0; i < 12; ++i) {
        const bool stays = i >= 5 || i == 1 || i == 2;
        EXPECT_EQ(fs::exists(folders[static_cast<size_t>(i)]), stays) << "scene" << i;
        EXPECT_EQ(fs::exists(folders[static_cast<size_t>(i)] + ".lock"), stays) << "scene" << i << "'s lock";
    }
    EXPECT_TRUE(fs::exists(FolderOf("new.talvo")));

    // Once let go, the held one goes at the next start; the crashed one
    // waits for its own scene, which rebuilds it.
    FileUnlock(held);
    Session("newer.talvo", true);
    EXPECT_FALSE(fs::exists(folders[2]));
    EXPECT_TRUE(fs::exists(folders[1]));
    StartOn("scene1.talvo", false);
    EXPECT_NE(JournalTakeNote().find("did not end cleanly"), std::string::npos);
    EXPECT_FALSE(fs::exists(folders[1]) || fs::exists(folders[1] + ".lock"));
}

TEST(JournalStore, AProgramThatKeepsNoJournalLeavesNoFolderAndNoLock)
{
    TempDir dir;
    StartOn("s.talvo", false);
    for (int frame = 0; frame < 5; ++frame) RunFrame();
    OnClose(nullptr, 0, 0, 0);
    EXPECT_FALSE(fs::exists(DataFolder())) << "the data folder was made";

    // What a session left, finished or not, is rebuilt where it must be and
    // then gone with its lock.
    for (const bool clean : {true, false}) {
        SCOPED_TRACE(clean ? "clean end" : "crash");
        Session("s.talvo", clean);
        const std::string folder = FolderOf("s.talvo");
        ASSERT_TRUE(fs::exists(folder));
        StartOn("s.talvo", false);
        EXPECT_EQ(JournalTakeNote().find("did not end cleanly") != std::string::npos, !clean);
        EXPECT_EQ(JournalFolder(), "");
        EXPECT_FALSE(fs::exists(folder) || fs::exists(folder + ".lock"));
        OnClose(nullptr, 0, 0, 0);
        EXPECT_TRUE(fs::is_empty(DataFolder() + "/journal"));
    }
}

} // namespace

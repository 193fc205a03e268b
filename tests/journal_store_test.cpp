// The journal folder over time: the scenes used last keep their journals,
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

// Five frames on the scene, ended by the close or, `clean` false, as a
// crash ends them; a program that keeps no journal only starts.
void Session(const std::string& scene, bool kept, bool clean = true)
{
    static std::string name;
    static char* args[3];
    SetJournalKept(kept);
    StartProgram();
    name = scene;
    args[1] = name.data();
    SetProgramArguments(2, args);
    StartUp();
    if (!kept) return;
    for (int frame = 0; frame < 5; ++frame) RunFrame();
    if (clean) OnClose(nullptr, 0, 0, 0);
    JournalReset();
}

TEST(JournalStore, TheScenesUsedLastKeepTheirJournalsAndAProgramThatKeepsNoneLeavesNothing)
{
    TempDir dir;
    Session("s", false);
    EXPECT_FALSE(fs::exists(std::getenv("XDG_DATA_HOME") + std::string("/talvo"))) << "a data folder was made";
    // Twelve scenes, s0 used longest ago; s1 ended in a crash, another
    // program has s2 open. Each is held while the others are made.
    std::vector<std::string> folders;
    std::vector<int64_t> locks(12, -1);
    for (size_t i = 0; i < 12; ++i) {
        const std::string scene = std::string("s").append(std::to_string(i));
        Session(scene, true, i != 1);
        const std::string folder = JournalFolderOf(scene.c_str());
        folders.push_back(folder.substr(0, folder.size() - 1));
        fs::last_write_time(folder, fs::file_time_type::clock::now() - std::chrono::hours(24 - i));
        ASSERT_EQ(FileLock((folders[i] + ".lock").c_str(), &locks[i]), FileDone);
    }
    for (size_t i = 0; i < 12; ++i)
        if (i != 2) FileUnlock(locks[i]);
    Session("new", true);
    for (size_t i = 0; i < 12; ++i) {
        const bool stays = i >= 5 || i == 1 || i == 2;
        EXPECT_EQ(fs::exists(folders[i]) && fs::exists(folders[i] + ".lock"), stays) << i;
        EXPECT_EQ(fs::exists(folders[i]) || fs::exists(folders[i] + ".lock"), stays) << i;
    }
    // Let go, s2's goes at the next start; s1's waits for its own scene,
    // which rebuilds it, keeping no journal, and leaves nothing of it.
    FileUnlock(locks[2]);
    Session("newer", true);
    EXPECT_FALSE(fs::exists(folders[2]));
    Session("s1", false);
    EXPECT_NE(JournalTakeNote().find("did not end cleanly"), std::string::npos);
    EXPECT_FALSE(fs::exists(folders[1]) || fs::exists(folders[1] + ".lock"));
}

} // namespace

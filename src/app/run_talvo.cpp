// The one way into the desktop program, whichever platform's main routine
// it comes from: the command line read, answered or refused before any
// window, the folder to work in, the journal and the benchmark line.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/command_line.h"
#include "app/journal.h"
#include "app/main_routine.h"
#include "app/scene_handlers.h"
#include "files/scene_file.h"
#include "framework/file_system.h"
#include "framework/program_entry.h"
#include "framework/start.h"
#include "framework/window.h"
#include "talvo_version.h"
#include "ui/menu.h"

namespace {

// Tells a script that the command line was refused, as talvo-sim does.
constexpr int BadCommandLineStatus = 2;

struct EntryState {
    // Kept for the whole run: the program holds on to its arguments.
    std::vector<std::string> arguments;
    std::vector<char*> argumentList;
};
EntryState Entry;

void PrintBenchLine()
{
    std::fputs(FrameStatisticsLine().c_str(), stdout);
    std::fflush(stdout);
}

void Tell(const PlatformEntry& entry, const std::string& text, bool failure)
{
    if (entry.tell) {
        entry.tell(text, failure);
        return;
    }
    std::fputs(text.c_str(), failure ? stderr : stdout);
    std::fflush(failure ? stderr : stdout);
}

// Moves into the user's own folder; a scene named beside it still means
// the file it named. False, said, when there is no such folder to work in.
bool UseDataHome(const PlatformEntry& entry, std::vector<std::string>* scenes)
{
    for (std::string& name : *scenes) {
        const std::string full = FileFullName(name.c_str());
        if (!full.empty()) name = full;
    }
    char folder[FilePathLimit] = "";
    if (!FileRescueFolder(folder, sizeof folder)) {
        Tell(entry, std::string(entry.program) + ": there is no folder of the user's own to work in\n", true);
        return false;
    }
    if (FileEnterFolder(folder)) return true;
    Tell(entry, std::string(entry.program) + ": cannot work in " + folder + ": " + FileLastError() + "\n", true);
    return false;
}

} // namespace

int RunTalvo(const PlatformEntry& entry)
{
    CommandLineRules rules;
    rules.slashHelp = entry.slashHelp;
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(entry.arguments, rules, &line, &error)) {
        Tell(entry, std::string(entry.program) + ": " + error + "\n" + DesktopUsage(entry.program), true);
        return BadCommandLineStatus;
    }
    if (line.help) {
        Tell(entry, DesktopHelp(entry.program), false);
        return 0;
    }
    if (line.version) {
        Tell(entry, "talvo " TALVO_VERSION "\n", false);
        return 0;
    }
    if (entry.prepare)
        if (const int status = entry.prepare()) return status;
    if (line.dataHome && !UseDataHome(entry, &line.scenes)) return 1;

    Entry.arguments = {entry.program};
    Entry.arguments.insert(Entry.arguments.end(), line.scenes.begin(), line.scenes.end());
    Entry.argumentList.clear();
    for (std::string& text : Entry.arguments) Entry.argumentList.push_back(text.data());
    Entry.argumentList.push_back(nullptr);
    SetProgramArguments(static_cast<int>(Entry.arguments.size()), Entry.argumentList.data());

    // The window keeps a journal of its session: a crash loses a second.
    SetJournalKept(true);
    const char* bench = std::getenv("TALVO_BENCH");
    if (bench && std::strcmp(bench, "1") == 0) {
        FrameStats.enabled = true;
        std::atexit(PrintBenchLine);
    }
    // AppStart comes back only when the window could not be made, which the
    // error box has said: a failure.
    return AppStart(TalvoMain) == 0 ? 1 : 0;
}

int32_t ProgramSaveNow(bool ending)
{
    const int32_t saved = SaveSceneAndTell() ? 1 : 2;
    if (ending)
        JournalEndCleanly();
    else
        JournalFlush();
    return saved;
}

void ProgramJournalAgain() { JournalOpenScene(); }

const char* ProgramSceneName() { return SceneFileName; }

bool ProgramIsScene(const char* path)
{
    // A scene refused at load keeps its name as it was.
    char damaged[sizeof DamagedScene];
    std::memcpy(damaged, DamagedScene, sizeof damaged);
    const int32_t usable = ReadScene(path);
    std::memcpy(DamagedScene, damaged, sizeof damaged);
    return usable != 0;
}

uint32_t ProgramForgetScene()
{
    SceneFileReset();
    return CmdClear;
}

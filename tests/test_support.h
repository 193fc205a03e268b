// Shared set-up for tests that run parts of the program in this process on
// the headless platform.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Puts every piece of process-global state back as a new process has it,
// creates the headless window and surface, points the field at them, and
// reserves the rule block (filled) and the grain list.
void StartProgram();

// StartProgram, then the program's start-up on the scene file `scene` (its
// one argument).
void StartOn(const char* scene);

// The journal kept while it lives, as the windows keep it.
struct KeptJournal {
    KeptJournal();
    ~KeptJournal();
};

// Schedules scripted input (talvo-sim's events, frames counted from the
// next pump as 1) on the headless window.
void ScheduleEvents(const std::string& text);

// Counts the cells whose kind bits equal `kind`.
int32_t CountKind(uint8_t kind);

// A fresh empty directory that is the current directory while it lives,
// with a data folder of its own beside it (XDG_DATA_HOME) for rescued scenes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // The rescued scenes, sorted.
    std::vector<std::string> Rescued() const;

private:
    std::string root_;
    std::string path_;
    std::string previous_;
};

// Runs talvo-sim in the current directory with its output in sim.out and
// sim.err; returns its exit status (-1 when it did not exit, 124 when it
// ran for a minute).
int RunSim(const std::string& args);
std::string ReadText(const std::string& name);

std::vector<uint8_t> ReadFileBytes(const std::string& name);
void WriteFileBytes(const std::string& name, const std::vector<uint8_t>& bytes);
void WriteFileText(const std::string& name, const std::string& text);
bool FileExists(const std::string& name);

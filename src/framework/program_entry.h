// The meeting point of a platform's main routine and the program: the
// platform knows its arguments, their encoding and what must happen before
// its window can open; the program knows what they mean. Declared here,
// defined by the program (app/run_talvo.cpp), so that no platform's main
// needs to know the program's parts.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct PlatformEntry {
    // The arguments after the program's own name: UTF-8 where the platform's
    // are wide, the file system's bytes where they are bytes.
    std::vector<std::string> arguments;
    // The name the usage gives the program ("talvo", "talvo.exe").
    const char* program = "talvo";
    // "/?" asks for help too, as on Windows.
    bool slashHelp = false;
    // Called once the command line was found good and asks for the window:
    // what the platform needs before it (GTK: the display). A status to end
    // with when it cannot be had (it has said why); 0 to go on. Null: nothing.
    int (*prepare)() = nullptr;
    // Where the help, the version and a refused command line are told:
    // `failure` for what is no answer to what was asked.
    void (*tell)(const std::string& text, bool failure) = nullptr;
};

// The whole run of the desktop program from a platform's main routine; the
// status to end with when it comes back (the window never opened, or the
// command line was answered or refused).
int RunTalvo(const PlatformEntry& entry);

// What a host that outlives the window (the page) asks of the program.
// Saves the scene as closing the window does, without closing it; a session
// `ending` is marked finished, any other has its journal stored up to now.
// 1 saved; 2 not, and the user was told.
int32_t ProgramSaveNow(bool ending);
// The journal taken up again (the page came back from the browser's cache).
void ProgramJournalAgain();
const char* ProgramSceneName();
// Whether the file is a scene the program would load; the scene in force is
// left as it was.
bool ProgramIsScene(const char* path);
// The scene on show is gone: its name goes back to the default. Returns the
// menu command that makes a new scene, which the host posts so that it
// comes in its turn after what is waiting.
uint32_t ProgramForgetScene();

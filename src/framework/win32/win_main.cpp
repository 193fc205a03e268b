// The Windows entry point. The arguments are split from the wide command
// line as every Windows program's main sees it, and handed on as UTF-8: the
// ANSI ones would name a file outside the code page with question marks.
// TALVO_BENCH=1 prints the frame timing at exit.
//   talvo.exe [--data-home] [SCENE]
// --data-home works in the user's own Talvo folder (the local application
// data folder's, made when missing), as the Start-menu shortcut starts it:
// a program under Program Files must not keep the scene beside itself.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/journal.h"
#include "app/main_routine.h"
#include "framework/file_system.h"
#include "framework/win32/win32.h"
#include "framework/start.h"
#include "framework/window.h"

static void PrintBenchLine()
{
    std::fputs(FrameStatisticsLine().c_str(), stdout);
    std::fflush(stdout);
}

// Kept for the whole run: the program holds on to its arguments.
static std::vector<std::string> Arguments;
static std::vector<char*> ArgumentList;

static void TakeArguments()
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; wide && i < count; ++i) {
        std::string text;
        // An argument without a UTF-8 form stays empty, which names nothing.
        Win32Narrow(wide[i], &text);
        Arguments.push_back(text);
    }
    LocalFree(wide);
}

// Takes --data-home out of the arguments and moves into the user's folder;
// a scene named beside it still means the file it named. False when there
// is no such folder to work in.
static bool UseDataHome()
{
    bool asked = false;
    for (size_t i = 1; i < Arguments.size(); ++i) {
        if (Arguments[i] != "--data-home") continue;
        Arguments.erase(Arguments.begin() + static_cast<std::ptrdiff_t>(i--));
        asked = true;
    }
    if (!asked) return true;
    for (size_t i = 1; i < Arguments.size(); ++i) {
        std::wstring name;
        std::wstring full(32768, L'\0');
        if (!Win32Widen(Arguments[i], &name)) continue;
        const DWORD length = GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        full.resize(length < full.size() ? length : 0);
        if (!full.empty()) Win32Narrow(full, &Arguments[i]);
    }
    char folder[1024];
    std::wstring wideFolder;
    if (!FileRescueFolder(folder, sizeof folder) || !Win32Widen(folder, &wideFolder) ||
        !SetCurrentDirectoryW(wideFolder.c_str())) {
        MessageBoxW(nullptr, L"Talvo cannot make or enter its folder in the local application data folder.",
                    L"Talvo", MB_OK | MB_ICONERROR);
        return false;
    }
    return true;
}

static void HandArguments()
{
    for (std::string& text : Arguments) ArgumentList.push_back(text.data());
    ArgumentList.push_back(nullptr);
    SetProgramArguments(static_cast<int>(Arguments.size()), ArgumentList.data());
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    Win32SetInstance(instance);
    TakeArguments();
    if (!UseDataHome()) return 1;
    HandArguments();
    SetJournalKept(true);
    const char* bench = std::getenv("TALVO_BENCH");
    if (bench && std::strcmp(bench, "1") == 0) {
        FrameStats.enabled = true;
        std::atexit(PrintBenchLine);
    }
    // AppStart comes back only when the window could not be made, which the
    // error box has said: Windows sees a failure.
    return AppStart(TalvoMain) == 0 ? 1 : 0;
}

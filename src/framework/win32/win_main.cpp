// The Windows entry point. The arguments are split from the wide command
// line as every Windows program's main sees it, and handed on as UTF-8: the
// ANSI ones would name a file outside the code page with question marks.
// TALVO_BENCH=1 prints the frame timing at exit.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/journal.h"
#include "app/main_routine.h"
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
    for (std::string& text : Arguments) ArgumentList.push_back(text.data());
    ArgumentList.push_back(nullptr);
    SetProgramArguments(static_cast<int>(Arguments.size()), ArgumentList.data());
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    Win32SetInstance(instance);
    TakeArguments();
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

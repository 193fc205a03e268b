// The Windows entry point: the program's arguments come from the C runtime,
// which splits the command line as every Windows program's main sees it.
// TALVO_BENCH=1 prints the frame timing at exit.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/main_routine.h"
#include "framework/win32/win32.h"
#include "framework/window.h"

static void PrintBenchLine()
{
    std::fputs(FrameStatisticsLine().c_str(), stdout);
    std::fflush(stdout);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    Win32SetInstance(instance);
    SetProgramArguments(__argc, __argv);
    const char* bench = std::getenv("TALVO_BENCH");
    if (bench && std::strcmp(bench, "1") == 0) {
        FrameStats.enabled = true;
        std::atexit(PrintBenchLine);
    }
    return AppStart(TalvoMain);
}

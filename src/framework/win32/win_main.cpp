// The Windows entry point: the program's arguments come from the C runtime,
// which splits the command line as every Windows program's main sees it.
#include <windows.h>

#include <cstdlib>

#include "app/main_routine.h"
#include "framework/win32/win32.h"
#include "framework/window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    Win32SetInstance(instance);
    SetProgramArguments(__argc, __argv);
    return AppStart(TalvoMain);
}

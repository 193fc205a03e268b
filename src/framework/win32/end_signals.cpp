// End requests on Windows, for the console program (talvo-sim.exe): Ctrl+C,
// Ctrl+Break and the console's close come to a handler on a thread of their
// own, which marks the request, wakes the pump and, where Windows would end
// the process as soon as it returns, waits for the save.
#include <windows.h>

#include <cstdio>

#include "framework/end_signals.h"

namespace {

// The event a console's end wakes the pump with, the one set once the
// scene is saved, the event received, and whether the pump has taken it.
struct EndState {
    HANDLE Wake = nullptr;
    HANDLE Saved = nullptr;
    volatile LONG Received = 0;
    bool Taken = false;
};
EndState Ends;

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    InterlockedCompareExchange(&Ends.Received, static_cast<LONG>(event) + 1, 0);
    SetEvent(Ends.Wake);
    // Past a close, logoff or shutdown the process ends when this returns;
    // Windows allows a few seconds.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) WaitForSingleObject(Ends.Saved, 4500);
    return TRUE;
}

} // namespace

void EndSignalsWatch()
{
    if (Ends.Wake) return;
    Ends.Wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Ends.Saved = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (Ends.Wake && Ends.Saved) SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int32_t EndSignalTake()
{
    if (!Ends.Received || Ends.Taken) return 0;
    Ends.Taken = true;
    ResetEvent(Ends.Wake);
    return 1;
}

void EndSignalsSleep(uint32_t milliseconds)
{
    if (!Ends.Wake) {
        Sleep(milliseconds);
        return;
    }
    if (Ends.Received && !Ends.Taken) return;
    WaitForSingleObject(Ends.Wake, milliseconds);
}

int EndSignalsFd() { return -1; }

void EndSignalsFinish()
{
    if (!Ends.Received) return;
    std::fflush(stdout);
    std::fflush(stderr);
    SetEvent(Ends.Saved);
    // Ended by Ctrl+C, as the console reports a program it ends that way.
    if (Ends.Received - 1 == CTRL_C_EVENT || Ends.Received - 1 == CTRL_BREAK_EVENT) ExitProcess(STATUS_CONTROL_C_EXIT);
}

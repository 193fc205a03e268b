// End requests on Windows, for the console program (talvo-sim.exe): Ctrl+C,
// Ctrl+Break and the console's close come to a handler on a thread of their
// own, which marks the request, wakes the pump and, where Windows would end
// the process as soon as it returns, waits for the save.
#include <windows.h>

#include <cstdio>

#include "framework/end_signals.h"

namespace {

HANDLE Wake = nullptr;
HANDLE Saved = nullptr;
volatile LONG Received = 0;
bool Taken = false;

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
    InterlockedCompareExchange(&Received, static_cast<LONG>(event) + 1, 0);
    SetEvent(Wake);
    // Past a close, logoff or shutdown the process ends when this returns;
    // Windows allows a few seconds.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) WaitForSingleObject(Saved, 4500);
    return TRUE;
}

} // namespace

void EndSignalsWatch()
{
    if (Wake) return;
    Wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Saved = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (Wake && Saved) SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int32_t EndSignalTake()
{
    if (!Received || Taken) return 0;
    Taken = true;
    ResetEvent(Wake);
    return 1;
}

void EndSignalsSleep(uint32_t milliseconds)
{
    if (!Wake) {
        Sleep(milliseconds);
        return;
    }
    if (Received && !Taken) return;
    WaitForSingleObject(Wake, milliseconds);
}

int EndSignalsFd() { return -1; }

void EndSignalsFinish()
{
    if (!Received) return;
    std::fflush(stdout);
    std::fflush(stderr);
    SetEvent(Saved);
    // Ended by Ctrl+C, as the console reports a program it ends that way.
    if (Received - 1 == CTRL_C_EVENT || Received - 1 == CTRL_BREAK_EVENT) ExitProcess(STATUS_CONTROL_C_EXIT);
}

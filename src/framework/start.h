// The start of the process: the window, then the program's main routine.
#pragma once
#include <cstdint>

// The main routine the framework runs once the window exists.
using MainRoutine = void (*)();

// Every part of the framework back to its start values, and no window yet.
void FrameworkReset();
// FrameworkReset, the window, then the main routine; returns 0 only when the
// window cannot be made.
int32_t AppStart(MainRoutine mainRoutine);

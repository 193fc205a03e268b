// What the Win32 entry point hands the platform.
#pragma once
#include <windows.h>

// The module whose resources (icon, strings, About dialog) the program uses.
void Win32SetInstance(HINSTANCE instance);

// The checks of talvo-library-check, and what each platform's entry point
// gives them.
#pragma once

// The main routine: runs the checks, then reports MousePoll until stopped.
[[noreturn]] void CheckMain();
// Whether the system clipboard now holds the surface's picture, read back
// through the platform's own calls.
bool ClipboardHoldsTheSurface();

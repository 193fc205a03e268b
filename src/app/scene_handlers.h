// Where the scene comes from and goes to as the program runs: the command
// line, loading with the menu's marks, the drop, the close and the end of
// the session, and telling the user when a save failed. files/ reads, writes
// and checks; what follows (the marks, the window, the message) is decided
// here.
#pragma once
#include <cstdint>

#include "framework/messages.h"

// Exactly one argument names the scene file. An empty name, or one too long
// to hold, is refused with a message and leaves no name at all.
void ApplyCommandLine(int argc, char** argv);
// Loads SceneFileName (LoadSceneFrom): 1 when its scene is in force.
int32_t LoadScene();
// Loads the scene file `name`, which then becomes the scene's name, and moves
// the menu's marks to its settings; 0, with nothing changed, when it cannot
// be used.
int32_t LoadSceneFrom(const char* name);
// Saves the scene; a failure is told in the error box or, when the session
// ends and no box may hold the end up, noted beside the rescued scene and on
// standard error. 1 when the scene is in its file.
int32_t SaveSceneAndTell(bool sessionEnds = false);

int32_t OnDropFiles(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t OnClose(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
// The session ends (logoff or shutdown, a signal, the display gone) while
// the program runs: the scene is saved as by the close, and the window goes.
int32_t OnEndSession(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);

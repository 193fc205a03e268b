// Where the scene comes from and goes to as the program runs: the command
// line, loading with the menu's marks, the drop, the close and the end of
// the session. files/ reads, writes and checks, and tells the user when a
// save failed; what follows (the marks, the window, the journal) is decided
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
// Saves the scene (SaveSceneOrOffer, which tells of a failure) and, when it
// is in its file, the journal hears of it: 1.
int32_t SaveSceneAndTell(bool sessionEnds = false);

int32_t OnDropFiles(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t OnClose(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
// The session ends (logoff or shutdown, a signal, the display gone) while
// the program runs: the scene is saved as by the close, and the window goes.
int32_t OnEndSession(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);

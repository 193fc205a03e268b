// The scene file: settings, palette, field and grains, saved on close and
// before a dropped file is read, loaded at start-up and on a drop.
#pragma once
#include <cstdint>

#include "files/scene_save.h"
#include "framework/file_system.h"
#include "framework/messages.h"

constexpr int32_t SceneFileNameSize = FilePathLimit;
constexpr int32_t SceneHeaderSize = 28;
constexpr int32_t SceneMaxSize = SceneHeaderSize + 1024 + 336 * 402 + 4 * 16800;

extern char SceneFileName[SceneFileNameSize];
// The name of a file that begins like a scene but was refused at load; empty
// when there is none.
extern char DamagedScene[SceneFileNameSize];

// Writes the scene to SceneFileName: 1 when it is there. When that fails
// the user is told and the scene is rescued (files/scene_save.h), and 0.
int32_t SaveScene(SaveReport report = ReportInBox);
// 1 when a scene was read and put in force; 0, with nothing changed, when
// the file cannot be read or breaks any limit of the format.
int32_t LoadScene();
// LoadScene from `name`, which becomes SceneFileName only once its scene is
// in force: until then every save still goes to the scene on show's file.
int32_t LoadSceneFrom(const char* name);
int32_t OnDropFiles(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t OnClose(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
// The session ends (logoff or shutdown, a signal, the display gone) while
// the program runs: the scene is saved as by the close, with no message box
// to hold the end up, and the window goes.
int32_t OnEndSession(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
// Exactly one argument names the scene file. An empty name, or one too long
// to hold, is refused with a message and leaves no name at all.
void ApplyCommandLine(int argc, char** argv);

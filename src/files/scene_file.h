// The scene file: settings, palette, field and grains, saved on close and
// before a dropped file is read, loaded at start-up and on a drop.
#pragma once
#include <cstdint>

#include "framework/messages.h"

constexpr int32_t SceneFileNameSize = 256;
constexpr int32_t SceneHeaderSize = 28;
constexpr int32_t SceneMaxSize = SceneHeaderSize + 1024 + 336 * 402 + 4 * 16800;

extern char SceneFileName[SceneFileNameSize];

void SaveScene();
// 1 when a scene was read and put in force; 0, with nothing changed, when
// the file cannot be read or breaks any limit of the format.
int32_t LoadScene();
int32_t OnDropFiles(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t OnClose(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
// Exactly one argument names the scene file; a name too long to hold is
// ignored like any unusable command line.
void ApplyCommandLine(int argc, char** argv);

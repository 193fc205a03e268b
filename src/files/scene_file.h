// The scene file: settings, palette, field and grains, saved on close and
// before a dropped file is read, loaded at start-up and on a drop.
#pragma once
#include <cstdint>

#include "files/scene_save.h"
#include "framework/file_system.h"

constexpr int32_t SceneFileNameSize = FilePathLimit;
constexpr int32_t SceneHeaderSize = 28;
constexpr int32_t SceneMaxSize = SceneHeaderSize + 1024 + 336 * 402 + 4 * 16800;

// The live scene's (sim/scene.h).
extern char (&SceneFileName)[SceneFileNameSize];
// The name of a file that begins like a scene but was refused at load; empty
// when there is none.
extern char (&DamagedScene)[SceneFileNameSize];

// Writes the scene to SceneFileName: 1 when it is there. When that fails the
// scene is rescued (files/scene_save.h), StoreFailure() says so, and 0.
int32_t SaveScene();
// SaveScene, and where it fails, the user told: on standard error as the
// session ends (and the rescue's note beside it); in the error box when the
// scene was rescued; else asked where to save it instead (three tries). 1
// when it went to SceneFileName; a scene lost sets the exit status to 1.
int32_t SaveSceneOrOffer(bool sessionEnds);
// Reads and checks the scene file `name`, changing nothing that is in force:
// 1 when it can be used; 0 when it cannot be read or breaks any limit of
// the format (a file that begins like a scene is then DamagedScene). A file
// longer than SceneMaxSize is refused before it is read.
int32_t ReadScene(const char* name);
// Puts the scene ReadScene accepted in force in the scene in hand (settings,
// palette, field and grains); `name` becomes its name.
void UseReadScene(const char* name);
// The scene in hand as its file holds it: the bytes a save would write now,
// in a buffer that the next save or encoding replaces.
const uint8_t* EncodedScene(size_t* size);
// Checks scene bytes from memory as ReadScene checks a file's; accepted,
// they are what UseReadScene puts in force. 1 when they can be used.
int32_t AcceptSceneBytes(const uint8_t* bytes, size_t size);
// "Default.talvo", and no damaged scene.
void SceneFileReset();

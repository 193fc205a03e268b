// A scene (sim/scene.h) as bytes: what the journal's checkpoints hold. A
// scene file alone cannot restart a replay: this adds both generators, the
// pouring counters, the palette the file leaves out, the colour tables as
// they stand, the "Drawing on" switch, the stroke under way and the scene's
// name.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/scene.h"

void SceneToBytes(Scene& scene, std::vector<uint8_t>* out);
// `into` becomes the scene the bytes hold (the live scene with the menu's
// marks); false, with nothing changed, when they are not a whole, valid one.
bool SceneFromBytes(const uint8_t* bytes, size_t size, Scene* into);
// The live scene becomes `scene`, the menu's marks and the display's
// colours with it.
void PutSceneInForce(Scene& scene);

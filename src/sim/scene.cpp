#include "sim/scene.h"

#include <algorithm>
#include <cstring>

#include "framework/drawing_target.h"

Scene LiveScene;
Scene* SceneInHand = &LiveScene;

uint8_t (*SceneColours(Scene& scene))[4] { return &scene == &LiveScene ? SurfaceColours : scene.ownColours; }

PaletteTables& ScenePalette(Scene& scene) { return &scene == &LiveScene ? WindowPalette : scene.ownPalette; }

namespace {

void Select(Scene* scene)
{
    SceneInHand = scene;
    if (scene == &LiveScene) {
        SelectDrawingTarget(nullptr);
        return;
    }
    const DrawingTarget target{scene->field, scene->ownColours, &scene->ownPalette};
    SelectDrawingTarget(&target);
}

// A copy's storage, made once.
void OwnStorage(Scene* scene)
{
    if (scene == &LiveScene) return;
    if (scene->ownCells.size() != static_cast<size_t>(FieldSize)) scene->ownCells.assign(FieldSize, 0);
    if (scene->ownGrains.size() != static_cast<size_t>(ParticleCapacity)) scene->ownGrains.assign(ParticleCapacity, 0);
    scene->field = scene->ownCells.data();
    scene->grains = scene->ownGrains.data();
}

} // namespace

void ResetLiveScene()
{
    // A new scene's values; the live one's storage stays the window's.
    const Scene start;
    Scene& scene = LiveScene;
    scene.grainCount = start.grainCount;
    scene.stepRandom = start.stepRandom;
    std::memcpy(scene.baseColours, start.baseColours, sizeof scene.baseColours);
    std::memcpy(scene.fullPalette, start.fullPalette, sizeof scene.fullPalette);
    scene.fullPaletteFlag = start.fullPaletteFlag;
    scene.pour = start.pour;
    scene.settings = start.settings;
    scene.stroke = start.stroke;
    std::memcpy(scene.name, start.name, sizeof scene.name);
    std::memcpy(scene.damaged, start.damaged, sizeof scene.damaged);
}

void CopyScene(Scene& from, Scene* to)
{
    if (&from == to) return;
    OwnStorage(to);
    if (from.field && to->field) std::memcpy(to->field, from.field, FieldSize);
    if (from.grains && to->grains) std::copy(from.grains, from.grains + ParticleCapacity, to->grains);
    to->grainCount = from.grainCount;
    to->stepRandom = from.stepRandom;
    std::memcpy(to->baseColours, from.baseColours, sizeof to->baseColours);
    std::memcpy(to->fullPalette, from.fullPalette, sizeof to->fullPalette);
    to->fullPaletteFlag = from.fullPaletteFlag;
    to->pour = from.pour;
    to->settings = from.settings;
    to->stroke = from.stroke;
    std::memcpy(to->name, from.name, sizeof to->name);
    std::memcpy(to->damaged, from.damaged, sizeof to->damaged);
    ScenePalette(*to) = ScenePalette(from);
    uint8_t(*fromColours)[4] = SceneColours(from);
    uint8_t(*toColours)[4] = SceneColours(*to);
    if (toColours) {
        if (fromColours)
            std::memcpy(toColours, fromColours, sizeof to->ownColours);
        else
            std::memset(toColours, 0, sizeof to->ownColours);
    }
}

HoldScene::HoldScene(Scene* scene) : before_(SceneInHand)
{
    OwnStorage(scene);
    Select(scene);
}

HoldScene::~HoldScene() { Select(before_); }

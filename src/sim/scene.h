// The scene as one value: everything later frames depend on, which a
// checkpoint keeps and a replay plays. The live scene is the one the window
// shows: its cells are the surface's bytes and its colours the window's, and
// the program's described names (Field, ParticleList, Speed, ...) are its
// parts. A copy has its own cells and colours, so a replay played on it
// (an animation, talvo-sim's) never touches the live scene.
#pragma once
#include <cstdint>
#include <vector>

#include "framework/file_system.h"
#include "framework/palette_builder.h"
#include "sim/palette.h"
#include "sim/particles.h"

// The settings the system menu shows; all but drawingEnabled travel in the
// scene file.
struct SceneSettings {
    int32_t drawingEnabled = 1;
    int32_t penSize = 1;
    int32_t eraserSize = 2;
    int16_t speed = 4;
    int16_t slotKind1 = 3;
    int16_t slotKind2 = 0;
};

struct ToolPoint {
    int32_t x;
    int32_t y;
};

// The stroke under way: which tool (ui/pen.h's ToolStates), where the last
// stamp went, and, for a straight line or a box, its shape from its press.
struct PenStroke {
    int32_t tool = 0;
    ToolPoint last = {0, 0};
    // Whether the stroke under way has stamped yet.
    bool stamped = false;
    int32_t shape = 0;
    ToolPoint anchor = {0, 0};
    ToolPoint end = {0, 0};
    // Whether the keyboard's pen made the press.
    bool byKeyboard = false;
};

// The pouring cycle's counters and the standard generator that serves it.
struct PourState {
    int32_t counter = 1750;
    int32_t countdown = 4;
    uint32_t standardRandom = 1;
};

struct Scene {
    Scene() = default;
    // Copies go through CopyScene, which gives them cells of their own.
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    uint8_t* field = nullptr;
    int32_t* grains = nullptr;
    int16_t grainCount = 0;
    StepRandomState stepRandom = {257, 1023};
    uint32_t baseColours[BaseColourCount] = {DefaultBaseColours[0], DefaultBaseColours[1], DefaultBaseColours[2],
                                             DefaultBaseColours[3], DefaultBaseColours[4], DefaultBaseColours[5]};
    uint32_t fullPalette[256] = {};
    int32_t fullPaletteFlag = 0;
    PourState pour;
    SceneSettings settings;
    PenStroke stroke;
    char name[FilePathLimit] = "Default.talvo";
    // A file under that name refused at load, kept aside at the next save.
    char damaged[FilePathLimit] = "";

    // A copy's own cells, grains and colour tables; the live scene's are
    // the window's.
    std::vector<uint8_t> ownCells;
    std::vector<int32_t> ownGrains;
    uint8_t ownColours[256][4] = {};
    PaletteTables ownPalette;
};

extern Scene LiveScene;
// What the simulation, the pen, the settings and the scene file act on: the
// live scene, but while a replay plays a copy.
extern Scene* SceneInHand;

inline bool SceneIsLive() { return SceneInHand == &LiveScene; }
// The colour table a scene's cells are shown with (null: no window yet),
// and the tables its palette builds fill.
uint8_t (*SceneColours(Scene& scene))[4];
PaletteTables& ScenePalette(Scene& scene);

// The live scene as at process start: no grain, the generators at their
// first draw, the default settings and colours, no stroke, "Default.talvo".
// Its cells and the grains' storage stay.
void ResetLiveScene();

// `to` becomes what `from` is, in cells of its own when it is not the live
// scene; into the live scene, what the window shows follows at its next copy.
void CopyScene(Scene& from, Scene* to);

// The scene in hand for as long as it lives, drawing and palette builds
// going to its cells; the one before comes back after.
class HoldScene {
public:
    explicit HoldScene(Scene* scene);
    ~HoldScene();
    HoldScene(const HoldScene&) = delete;
    HoldScene& operator=(const HoldScene&) = delete;

private:
    Scene* before_;
};

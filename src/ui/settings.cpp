#include "ui/settings.h"

#include "sim/scene.h"

int32_t& DrawingEnabled = LiveScene.settings.drawingEnabled;
int32_t& PenSize = LiveScene.settings.penSize;
int32_t& EraserSize = LiveScene.settings.eraserSize;
int16_t& Speed = LiveScene.settings.speed;
int16_t& SlotKind1 = LiveScene.settings.slotKind1;
int16_t& SlotKind2 = LiveScene.settings.slotKind2;

void SetDefaultSettings() { LiveScene.settings = SceneSettings{}; }

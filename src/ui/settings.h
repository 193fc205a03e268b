// The settings the system menu shows; all but DrawingEnabled travel in the
// scene file. These are the live scene's (sim/scene.h); what acts on the
// scene in hand reads SceneInHand->settings.
#pragma once
#include <cstdint>

extern int32_t& DrawingEnabled;
extern int32_t& PenSize;
extern int32_t& EraserSize;
extern int16_t& Speed;
extern int16_t& SlotKind1;
extern int16_t& SlotKind2;

void SetDefaultSettings();

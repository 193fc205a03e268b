// The settings the system menu shows; all but DrawingEnabled travel in the
// scene file.
#pragma once
#include <cstdint>

extern int32_t DrawingEnabled;
extern int32_t PenSize;
extern int32_t EraserSize;
extern int16_t Speed;
extern int16_t SlotKind1;
extern int16_t SlotKind2;

void SetDefaultSettings();

// Where the drawing primitives and the palette builder work: the window's
// surface and tables, or the cells and tables of a scene a replay plays on
// its own, which reach neither the window nor the display's colours.
#pragma once
#include <cstdint>

#include "framework/palette_builder.h"

struct DrawingTarget {
    uint8_t* bits;
    uint8_t (*colours)[4];
    PaletteTables* palette;
};

// Null: the window's, as at the start.
void SelectDrawingTarget(const DrawingTarget* target);
bool DrawingOnWindow();
// The bytes drawn into (SurfaceWidth x SurfaceHeight), the colour table they
// are shown with, and the tables a build fills; the window's by default.
uint8_t* TargetBits();
uint8_t (*TargetColours())[4];
PaletteTables& TargetPalette();

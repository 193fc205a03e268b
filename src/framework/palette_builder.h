// Builds the palette that gives the 8-bit surface its colours, and looks up
// the drawing colour of a palette entry.
#pragma once
#include <cstdint>

#include "framework/drawing_target.h"

// Colour values: red in bits 0-7, green 8-15, blue 16-23; bits 24-31 are 0
// for a plain colour and 2 for the palette-relative form.
constexpr uint32_t PaletteRelative = 0x02000000u;

// The window's tables; builds go there but while a replay draws a scene of
// its own (framework/drawing_target.h).
extern PaletteTables WindowPalette;
extern int32_t& PaletteEntryCount;
extern uint8_t (&ColourTable)[256][4];
// The surface's own colour table (the platform's memory; null before the
// window exists), which PaletteRealize sets.
extern uint8_t (*SurfaceColours)[4];

void PaletteBegin();
int32_t PaletteAdd(uint32_t colour);
int32_t PaletteAddRGB(uint8_t red, uint8_t green, uint8_t blue);
int32_t PaletteRealize();
uint32_t PaletteColour(int32_t index);
// Whether a palette is being built (between PaletteBegin and PaletteRealize).
bool PaletteBuilding();
// The index a pixel drawn in `colour` receives: the first entry of the
// surface's colour table that holds the colour exactly, else the nearest.
uint8_t SurfaceIndexOf(uint32_t colour);
// The tables a build fills and the colour table drawing is shown with: the
// window's, or those of the drawing target selected.
PaletteTables& TargetPalette();
uint8_t (*TargetColours())[4];
// The window's tables, put in place whole, to the display's colours.
void PaletteShowAgain();
// Back to the state at process start (no palette, no surface).
void PaletteReset();

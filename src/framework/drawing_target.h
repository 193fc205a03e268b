// Where the drawing primitives and the palette builder work: the window's
// surface and tables, or the cells and tables of a scene a replay plays on
// its own, which reach neither the window nor the display's colours.
#pragma once
#include <cstdint>

// What a palette build fills: blue, green, red, 0 per entry, each entry
// keeping the colour of the last build that set it, and the entries added
// since the last PaletteBegin (0..256).
struct PaletteTables {
    uint8_t table[256][4] = {};
    int32_t entryCount = 0;
};

struct DrawingTarget {
    uint8_t* bits;
    uint8_t (*colours)[4];
    PaletteTables* palette;
};

// Null: the window's, as at the start.
void SelectDrawingTarget(const DrawingTarget* target);
// The target selected; null while it is the window's.
const DrawingTarget* SelectedDrawingTarget();
inline bool DrawingOnWindow() { return SelectedDrawingTarget() == nullptr; }

#include "sim/field.h"

#include "framework/palette_builder.h"
#include "framework/primitives.h"

uint8_t* Field = nullptr;

void DrawFieldFrame()
{
    DrawRect(0, 0, FieldWidth, FieldHeight, 1, PaletteColour(CellWall));
}

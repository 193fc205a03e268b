#include "sim/field.h"

#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "sim/scene.h"

uint8_t*& Field = LiveScene.field;

uint8_t* CellsInHand() { return SceneInHand->field; }

void DrawFieldFrame()
{
    DrawRect(0, 0, FieldWidth, FieldHeight, 1, PaletteColour(CellWall));
}

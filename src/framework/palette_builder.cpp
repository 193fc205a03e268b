#include "framework/palette_builder.h"

#include "framework/platform.h"
#include "framework/window.h"

int32_t PaletteEntryCount = 0;
uint8_t ColourTable[256][4] = {};

static bool Building = false;

void PaletteBegin()
{
    PaletteEntryCount = 0;
    Building = true;
}

int32_t PaletteAdd(uint32_t colour)
{
    if (PaletteEntryCount >= 256 || !Building) return 1;
    uint8_t* entry = ColourTable[PaletteEntryCount];
    entry[0] = static_cast<uint8_t>(colour >> 16);
    entry[1] = static_cast<uint8_t>(colour >> 8);
    entry[2] = static_cast<uint8_t>(colour);
    entry[3] = 0;
    ++PaletteEntryCount;
    return 0;
}

int32_t PaletteAddRGB(uint8_t red, uint8_t green, uint8_t blue)
{
    return PaletteAdd(red + green * 256u + blue * 65536u);
}

int32_t PaletteRealize()
{
    if (!Building) return 1;
    Building = false;
    // Entries from the count on keep whatever the surface's table held.
    SetSurfaceColourTable(0, PaletteEntryCount, ColourTable);
    PlatformRealizePalette(ColourTable, PaletteEntryCount);
    return 0;
}

uint32_t PaletteColour(int32_t index)
{
    if (index < 0 || index > 255) return PaletteRelative;
    const uint8_t* entry = ColourTable[index];
    return entry[2] + entry[1] * 256u + entry[0] * 65536u + PaletteRelative;
}

bool PaletteBuilding() { return Building; }

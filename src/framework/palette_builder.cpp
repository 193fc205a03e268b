#include "framework/palette_builder.h"

#include <cstring>

#include "framework/platform.h"

PaletteTables WindowPalette;
int32_t& PaletteEntryCount = WindowPalette.entryCount;
uint8_t (&ColourTable)[256][4] = WindowPalette.table;
uint8_t (*SurfaceColours)[4] = nullptr;

static bool Building = false;

PaletteTables& TargetPalette()
{
    const DrawingTarget* target = SelectedDrawingTarget();
    return target ? *target->palette : WindowPalette;
}

uint8_t (*TargetColours())[4]
{
    const DrawingTarget* target = SelectedDrawingTarget();
    return target ? target->colours : SurfaceColours;
}

void PaletteReset()
{
    WindowPalette = PaletteTables{};
    SurfaceColours = nullptr;
    Building = false;
    SelectDrawingTarget(nullptr);
}

void PaletteBegin()
{
    TargetPalette().entryCount = 0;
    Building = true;
}

int32_t PaletteAdd(uint32_t colour)
{
    PaletteTables& tables = TargetPalette();
    if (tables.entryCount >= 256 || !Building) return 1;
    uint8_t* entry = tables.table[tables.entryCount];
    entry[0] = static_cast<uint8_t>(colour >> 16);
    entry[1] = static_cast<uint8_t>(colour >> 8);
    entry[2] = static_cast<uint8_t>(colour);
    entry[3] = 0;
    ++tables.entryCount;
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
    const PaletteTables& tables = TargetPalette();
    uint8_t(*colours)[4] = TargetColours();
    if (colours) std::memcpy(colours, tables.table, static_cast<size_t>(tables.entryCount) * 4);
    if (DrawingOnWindow()) PlatformMatchDisplayColours(ColourTable, PaletteEntryCount, false);
    return 0;
}

uint32_t PaletteColour(int32_t index)
{
    if (index < 0 || index > 255) return PaletteRelative;
    const uint8_t* entry = TargetPalette().table[index];
    return entry[2] + entry[1] * 256u + entry[0] * 65536u + PaletteRelative;
}

bool PaletteBuilding() { return Building; }

void PaletteShowAgain() { PlatformMatchDisplayColours(ColourTable, PaletteEntryCount, false); }

uint8_t SurfaceIndexOf(uint32_t colour)
{
    const uint8_t(*colours)[4] = TargetColours();
    if (!colours) return 0;
    const int32_t red = colour & 0xFF, green = (colour >> 8) & 0xFF, blue = (colour >> 16) & 0xFF;
    int32_t best = 0;
    int32_t bestDistance = 0x7FFFFFFF;
    for (int32_t i = 0; i < 256; ++i) {
        const int32_t dr = colours[i][2] - red;
        const int32_t dg = colours[i][1] - green;
        const int32_t db = colours[i][0] - blue;
        const int32_t distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
            if (distance == 0) break;
        }
    }
    return static_cast<uint8_t>(best);
}

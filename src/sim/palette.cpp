#include "sim/palette.h"

#include "framework/palette_builder.h"

const uint32_t DefaultBaseColours[BaseColourCount] = {
    0x000000, // BGCOLOR
    0x40A0C8, // WALLCOLOR 200, 160, 64
    0xDCF000, // SANDCOLOR1A 0, 240, 220
    0xC8A000, // SANDCOLOR1B 0, 160, 200
    0x0000FF, // SANDCOLOR2A 255, 0, 0
    0x0000A0, // SANDCOLOR2B 160, 0, 0
};

uint32_t BaseColours[BaseColourCount] = {
    DefaultBaseColours[0], DefaultBaseColours[1], DefaultBaseColours[2],
    DefaultBaseColours[3], DefaultBaseColours[4], DefaultBaseColours[5],
};
uint32_t FullPalette[256] = {};
int32_t FullPaletteFlag = 0;

uint32_t BlendColour(uint32_t a, uint32_t b, uint32_t weightA, uint32_t weightB)
{
    uint32_t result = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t channel =
            (weightA * ((a >> shift) & 0xFF) + weightB * ((b >> shift) & 0xFF)) / (weightA + weightB);
        result |= channel << shift;
    }
    return result;
}

uint32_t ComposeFullEntry(int32_t j, const uint32_t shades[ShadeCount])
{
    const int32_t kind = j & 7;
    const uint32_t shade = shades[(j >> 3) & 31] & 0xFFFFFF;
    if (kind == 1) return BlendColour(BaseColours[1], shade, 15, 1);
    if (kind >= 2 && kind <= 5) return BlendColour(BaseColours[kind], shade, 5, 1);
    // Empty cells show the shade alone; kinds 6 and 7 never occur, and look
    // empty should one turn up.
    return shade;
}

void BuildBasePalette()
{
    PaletteBegin();
    for (int32_t i = 0; i < BaseColourCount; ++i) PaletteAdd(BaseColours[i]);
    PaletteRealize();
}

void BuildFullPalette(const uint32_t shades[ShadeCount])
{
    PaletteBegin();
    for (int32_t j = 0; j < 256; ++j) {
        FullPalette[j] = ComposeFullEntry(j, shades);
        PaletteAdd(FullPalette[j]);
    }
    PaletteRealize();
    FullPaletteFlag = 1;
}

// The colours: six configurable base colours, and the 256-entry full palette
// composed from them and the 32 background shades.
#pragma once
#include <cstdint>

constexpr int32_t BaseColourCount = 6;
constexpr int32_t ShadeCount = 32;

inline constexpr uint32_t DefaultBaseColours[BaseColourCount] = {
    0x000000, // BGCOLOR
    0x40A0C8, // WALLCOLOR 200, 160, 64
    0xDCF000, // SANDCOLOR1A 0, 240, 220
    0xC8A000, // SANDCOLOR1B 0, 160, 200
    0x0000FF, // SANDCOLOR2A 255, 0, 0
    0x0000A0, // SANDCOLOR2B 160, 0, 0
};
// The live scene's (sim/scene.h); the builds below take the scene in hand's.
extern uint32_t (&BaseColours)[BaseColourCount];
extern uint32_t (&FullPalette)[256];
// 1 while the full palette is the one the scene carries.
extern int32_t& FullPaletteFlag;


// Mixes two colours channel by channel with integer weights, rounding down.
uint32_t BlendColour(uint32_t a, uint32_t b, uint32_t weightA, uint32_t weightB);
// The full-palette entry for cell byte j over the given shade colours.
uint32_t ComposeFullEntry(int32_t j, const uint32_t shades[ShadeCount]);
// Puts the colours in force as the palette, each entry a colour of its own.
void InstallPalette(const uint32_t* colours, int32_t count);
void BuildBasePalette();
void BuildFullPalette(const uint32_t shades[ShadeCount]);

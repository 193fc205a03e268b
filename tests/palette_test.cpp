// Colour mixing, the composition of the 256-entry palette, the two palette
// installers and the palette builder underneath them.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "framework/headless/headless.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "test_support.h"

namespace {

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }

constexpr uint32_t Black = Rgb(0, 0, 0);
constexpr uint32_t White = Rgb(255, 255, 255);
constexpr uint32_t Grey = Rgb(128, 128, 128);
constexpr uint32_t Wall = Rgb(200, 160, 64);
constexpr uint32_t Sand1A = Rgb(0, 240, 220);
constexpr uint32_t Sand1B = Rgb(0, 160, 200);
constexpr uint32_t Sand2A = Rgb(255, 0, 0);
constexpr uint32_t Sand2B = Rgb(160, 0, 0);
constexpr uint32_t Relative = 0x02000000u; // the form PaletteColour returns

using Shades = std::array<uint32_t, ShadeCount>;
using Quad = std::array<uint8_t, 4>;

// A colour as the colour tables store it: blue, green, red, 0.
Quad Bgr0(uint32_t colour)
{
    return {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8), static_cast<uint8_t>(colour), 0};
}
Quad TableEntry(int i) { return {ColourTable[i][0], ColourTable[i][1], ColourTable[i][2], ColourTable[i][3]}; }
Quad SurfaceEntry(int i) { return {SurfaceColours[i][0], SurfaceColours[i][1], SurfaceColours[i][2], SurfaceColours[i][3]}; }

// What a cell byte looks like on screen once the surface goes through its colour table.
uint32_t Shown(uint8_t byte)
{
    Field[0] = byte;
    std::vector<uint8_t> rgb(static_cast<size_t>(FieldSize) * 3);
    HeadlessSurfaceRgb(rgb.data());
    return Rgb(rgb[0], rgb[1], rgb[2]);
}

TEST(PaletteBlend, ChannelsMixByWeightTruncatedAndApart)
{
    StartProgram();
    const struct { uint32_t a, b, weight, expected; } cases[] = {
        {Wall, Black, 15, Rgb(187, 150, 60)}, // 187.5 truncated, not rounded
        {Wall, White, 15, Rgb(203, 165, 75)},
        {Sand1A, Black, 5, Rgb(0, 200, 183)},
        {Sand2A, White, 5, Rgb(255, 42, 42)},
        {Sand2B, Grey, 5, Rgb(154, 21, 21)},
        {Rgb(1, 1, 1), Black, 1, 0},                         // 0.5 in every channel
        {White, Rgb(254, 254, 254), 5, Rgb(254, 254, 254)}, // 1529 / 6 = 254.83
        {White, White, 15, White},                           // full channels carry nowhere
        {Rgb(255, 0, 255), Rgb(0, 255, 0), 1, Rgb(127, 127, 127)},
        {Wall | 0x02000000u, Black | 0xFF000000u, 15, Rgb(187, 150, 60)}, // top bytes take no part
        {0xFFFFFFFFu, 0xFFFFFFFFu, 5, White},
    };
    for (const auto& c : cases) EXPECT_EQ(BlendColour(c.a, c.b, c.weight, 1), c.expected) << std::hex << c.a << " " << c.b;
}

TEST(PaletteCompose, WallsWeigh15GrainsWeigh5AndEmptyCellsShowTheShadeAlone)
{
    StartProgram();
    Shades shades{};
    // Junk in the top bytes must not leak into any entry.
    for (uint32_t s = 0; s < ShadeCount; ++s) shades[s] = 0xFF000000u | Rgb(7 * s + 3, 250 - 5 * s, 40 + 3 * s);
    const uint32_t custom[BaseColourCount] = {Rgb(9, 9, 9),    Rgb(16, 32, 48), Rgb(60, 120, 180),
                                              Rgb(200, 10, 90), Rgb(33, 66, 99), Rgb(250, 250, 5)};
    for (int i = 0; i < BaseColourCount; ++i) BaseColours[i] = custom[i];
    // floor((w * base + shade) / (w + 1)) per channel.
    auto mix = [](uint32_t base, uint32_t shade, uint32_t w) {
        uint32_t out = 0;
        for (int c = 0; c < 24; c += 8) out |= ((w * ((base >> c) & 0xFF) + ((shade >> c) & 0xFF)) / (w + 1)) << c;
        return out;
    };
    for (int s = 0; s < ShadeCount; ++s) {
        EXPECT_EQ(ComposeFullEntry(8 * s, shades.data()), shades[s] & 0xFFFFFF) << "shade " << s;
        EXPECT_EQ(ComposeFullEntry(8 * s + 1, shades.data()), mix(custom[1], shades[s], 15)) << "shade " << s;
        for (int k = 2; k <= 5; ++k)
            EXPECT_EQ(ComposeFullEntry(8 * s + k, shades.data()), mix(custom[k], shades[s], 5)) << s << " kind " << k;
        for (int k = 6; k <= 7; ++k) EXPECT_EQ(ComposeFullEntry(8 * s + k, shades.data()) >> 24, 0u) << s << " kind " << k;
    }
    // The background colour takes no part.
    BaseColours[0] = White;
    EXPECT_EQ(ComposeFullEntry(8 * 5, shades.data()), shades[5] & 0xFFFFFF);
}

TEST(PaletteInstall, BasePaletteIsTheSixCurrentColoursAndLeavesTheFlag)
{
    StartProgram();
    BuildBasePalette();
    EXPECT_EQ(PaletteEntryCount, 6);
    EXPECT_FALSE(PaletteBuilding());
    const uint32_t defaults[6] = {Black, Wall, Sand1A, Sand1B, Sand2A, Sand2B};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(TableEntry(i), Bgr0(defaults[i])) << "entry " << i;
        EXPECT_EQ(SurfaceEntry(i), Bgr0(defaults[i])) << "entry " << i;
        EXPECT_EQ(PaletteColour(i), Relative | defaults[i]) << "entry " << i;
        EXPECT_EQ(Shown(static_cast<uint8_t>(i)), defaults[i]) << "entry " << i;
    }
    BaseColours[1] = Rgb(1, 2, 3);
    BaseColours[4] = Rgb(250, 128, 7);
    for (int32_t flag : {1, 0}) {
        FullPaletteFlag = flag;
        BuildBasePalette();
        EXPECT_EQ(PaletteColour(1), 0x02030201u);
        EXPECT_EQ(PaletteColour(4), 0x020780FAu);
        EXPECT_EQ(FullPaletteFlag, flag);
    }
}

TEST(PaletteInstall, FullPaletteComposesStoresShowsAndSetsTheFlag)
{
    StartProgram();
    // Shades far enough apart that even the 15:1 wall blends all differ.
    Shades shades{};
    for (uint32_t s = 0; s < ShadeCount; ++s) shades[s] = Rgb((s & 15) * 16 + 3, (s >> 4) * 128 + 20, 100 + s);
    BaseColours[0] = Rgb(77, 77, 77); // takes no part
    BuildFullPalette(shades.data());
    EXPECT_EQ(FullPaletteFlag, 1);
    EXPECT_EQ(PaletteEntryCount, 256);
    EXPECT_FALSE(PaletteBuilding());
    for (int j = 0; j < 256; ++j) {
        EXPECT_EQ(FullPalette[j], ComposeFullEntry(j, shades.data())) << "entry " << j;
        if ((j & 7) > 5) continue; // no cell holds kinds 6 and 7
        EXPECT_EQ(PaletteColour(j), Relative | FullPalette[j]) << "entry " << j;
        EXPECT_EQ(SurfaceEntry(j), Bgr0(FullPalette[j])) << "entry " << j;
    }
    // Worked colours on screen: shade 0 black, shade 1 white.
    shades.fill(White);
    shades[0] = Black;
    BuildFullPalette(shades.data());
    const uint32_t shown[][2] = {{0, Black},           {1, Rgb(187, 150, 60)},     {2, Rgb(0, 200, 183)},
                                 {8 + 1, Rgb(203, 165, 75)}, {8 + 4, Rgb(255, 42, 42)}, {8, White}};
    for (const auto& s : shown) EXPECT_EQ(Shown(static_cast<uint8_t>(s[0])), s[1]) << "byte " << s[0];
}

// Our program puts a colour that an earlier entry already has in force one
// step away, so that drawing with any entry still stores that entry's byte;
// the colours kept for the scene stay as they were.
TEST(PaletteInstall, RepeatedColoursAreKeptApartInForce)
{
    StartProgram();
    BaseColours[1] = BaseColours[0]; // WALLCOLOR equal to BGCOLOR
    BaseColours[5] = BaseColours[3];
    BuildBasePalette();
    EXPECT_EQ(BaseColours[1], Black);
    EXPECT_EQ(BaseColours[5], Sand1B);
    EXPECT_EQ(PaletteColour(0), Relative | Black);
    EXPECT_EQ(PaletteColour(3), Relative | Sand1B);
    // All different in force, none more than one step per channel from its colour.
    for (int i = 0; i < BaseColourCount; ++i) {
        for (int k = 0; k < i; ++k) EXPECT_NE(PaletteColour(i), PaletteColour(k)) << i << " vs " << k;
        for (int c = 0; c < 24; c += 8) {
            const int d = int((PaletteColour(i) >> c) & 0xFF) - int((BaseColours[i] >> c) & 0xFF);
            EXPECT_LE(d * d, 1) << "entry " << i << " channel " << c;
        }
    }
    // So the frame is still made of wall cells.
    std::memset(Field, 0, FieldSize);
    DrawFieldFrame();
    EXPECT_EQ(Field[0], 1);
    EXPECT_EQ(Field[FieldPos(335, 401)], 1);
    EXPECT_EQ(Field[FieldPos(1, 1)], 0);

    // Every shade alike, default colours: many equal composed entries, all still drawable.
    StartProgram();
    Shades shades{};
    shades.fill(Grey);
    BuildFullPalette(shades.data());
    EXPECT_EQ(FullPalette[8], Grey);
    EXPECT_EQ(FullPalette[13], Rgb(154, 21, 21));
    EXPECT_EQ(PaletteColour(0), Relative | Grey); // the first of each colour unchanged
    EXPECT_EQ(PaletteColour(5), Relative | Rgb(154, 21, 21));
    for (int j = 0; j < 256; ++j) {
        Field[j] = 0xFF;
        PutPixel(j, 0, PaletteColour(j));
        EXPECT_EQ(Field[j], j) << "entry " << j;
    }
}

TEST(PaletteBuilder, AddsUpTo256InIndexOrderThenRefusesUntilTheNextBegin)
{
    StartProgram();
    PaletteBegin();
    EXPECT_TRUE(PaletteBuilding());
    EXPECT_EQ(PaletteAdd(0x40A0C8u), 0); // the default wall colour
    EXPECT_EQ(TableEntry(0), (Quad{0x40, 0xA0, 0xC8, 0x00}));
    EXPECT_EQ(PaletteAdd(0xFF40A0C8u), 0); // top byte ignored
    EXPECT_EQ(PaletteAddRGB(0xC8, 0xA0, 0x40), 0);
    EXPECT_EQ(PaletteAddRGB(1, 2, 3), 0);
    for (uint32_t i = 4; i < 256; ++i) ASSERT_EQ(PaletteAdd(Rgb(i, 255 - i, i / 2)), 0) << "add " << i;
    EXPECT_EQ(PaletteAdd(Rgb(1, 2, 3)), 1);
    EXPECT_EQ(PaletteAddRGB(4, 5, 6), 1);
    EXPECT_EQ(PaletteEntryCount, 256);
    EXPECT_EQ(TableEntry(255), Bgr0(Rgb(255, 0, 127))); // the refused colours went nowhere
    EXPECT_EQ(PaletteRealize(), 0);
    EXPECT_EQ(PaletteEntryCount, 256);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(TableEntry(i), (Quad{0x40, 0xA0, 0xC8, 0x00})) << "entry " << i;
        EXPECT_EQ(SurfaceEntry(i), (Quad{0x40, 0xA0, 0xC8, 0x00})) << "entry " << i;
        EXPECT_EQ(PaletteColour(i), 0x0240A0C8u) << "entry " << i;
    }
    EXPECT_EQ(PaletteColour(3), 0x02030201u);
    // A realized palette is no longer under construction.
    const int32_t realizes = HeadlessRealizeCount();
    EXPECT_EQ(PaletteAdd(White), 1);
    EXPECT_EQ(PaletteRealize(), 1);
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    EXPECT_EQ(PaletteEntryCount, 256);
}

TEST(PaletteBuilder, RefusesAddsAndRealizeWhenNothingWasEverBegun)
{
    StartProgram();
    const int32_t realizes = HeadlessRealizeCount();
    EXPECT_EQ(PaletteAdd(Wall), 1);
    EXPECT_EQ(PaletteAddRGB(1, 2, 3), 1);
    EXPECT_EQ(PaletteEntryCount, 0);
    EXPECT_EQ(TableEntry(0), Bgr0(0));
    EXPECT_EQ(PaletteRealize(), 1);
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    EXPECT_EQ(SurfaceEntry(0), Bgr0(0));
}

TEST(PaletteBuilder, BeginStartsOverAndRealizeSetsOnlyTheAddedEntriesOfTheSurface)
{
    StartProgram();
    PaletteBegin();
    for (uint32_t i = 0; i < 256; ++i) PaletteAdd(Rgb(i, 1, 1));
    PaletteRealize();
    // A build begun and given up before realizing, then a six-entry one that is realized.
    PaletteBegin();
    EXPECT_EQ(PaletteEntryCount, 0);
    EXPECT_EQ(PaletteColour(1), Relative | Rgb(1, 1, 1)); // the table is not cleared
    for (uint32_t i = 0; i < 10; ++i) PaletteAdd(Rgb(i, 2, 2));
    EXPECT_EQ(SurfaceEntry(0), Bgr0(Rgb(0, 1, 1))); // nothing reaches the surface before realizing
    PaletteBegin();
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(PaletteAdd(Rgb(i, 3, 3)), 0);
    const int32_t realizes = HeadlessRealizeCount();
    EXPECT_EQ(PaletteRealize(), 0);
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 1);
    EXPECT_EQ(PaletteEntryCount, 6);
    // Beyond the count the surface keeps the colours realized before, the table those added last.
    for (uint32_t i = 0; i < 256; ++i) {
        const uint32_t realized = i < 6 ? 3 : 1, table = i < 6 ? 3 : i < 10 ? 2 : 1;
        EXPECT_EQ(SurfaceEntry(i), Bgr0(Rgb(i, realized, realized))) << "entry " << i;
        EXPECT_EQ(TableEntry(i), Bgr0(Rgb(i, table, table))) << "entry " << i;
        EXPECT_EQ(PaletteColour(i), Relative | Rgb(i, table, table)) << "entry " << i;
    }
    EXPECT_EQ(Shown(200), Rgb(200, 1, 1)); // what those bytes still show
}

} // namespace

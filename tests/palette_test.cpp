// Colour mixing, the composition of the 256-entry palette, the two palette
// installers and the palette builder underneath them.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>
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

// ColourTable stores blue, green, red, 0.
std::array<uint8_t, 4> TableEntry(int i)
{
    return {ColourTable[i][0], ColourTable[i][1], ColourTable[i][2], ColourTable[i][3]};
}
std::array<uint8_t, 4> Bgr0(uint32_t colour)
{
    return {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8), static_cast<uint8_t>(colour), 0};
}
std::array<uint8_t, 4> SurfaceEntry(int i)
{
    return {SurfaceColours[i][0], SurfaceColours[i][1], SurfaceColours[i][2], SurfaceColours[i][3]};
}

// 32 shade colours, all different, none equal to a default base colour.
std::array<uint32_t, ShadeCount> DistinctShades()
{
    std::array<uint32_t, ShadeCount> shades{};
    for (uint32_t s = 0; s < ShadeCount; ++s) shades[s] = Rgb(7 * s + 3, 250 - 5 * s, 40 + 3 * s);
    return shades;
}

// What a cell byte looks like on screen once the surface goes through its colour table.
std::array<uint8_t, 3> ShownColour(uint8_t byte)
{
    Field[0] = byte;
    std::vector<uint8_t> rgb(static_cast<size_t>(FieldSize) * 3);
    HeadlessSurfaceRgb(rgb.data());
    return {rgb[0], rgb[1], rgb[2]};
}

// ---------------------------------------------------------------- BlendColour

TEST(PaletteBlend, WorkedValuesWithDefaultColours)
{
    StartProgram();
    EXPECT_EQ(BlendColour(Wall, Black, 15, 1), Rgb(187, 150, 60));
    EXPECT_EQ(BlendColour(Wall, White, 15, 1), Rgb(203, 165, 75));
    EXPECT_EQ(BlendColour(Sand1A, Black, 5, 1), Rgb(0, 200, 183));
    EXPECT_EQ(BlendColour(Sand2A, White, 5, 1), Rgb(255, 42, 42));
    EXPECT_EQ(BlendColour(Sand2B, Grey, 5, 1), Rgb(154, 21, 21));
}

TEST(PaletteBlend, TruncatesInsteadOfRounding)
{
    StartProgram();
    // 200 * 15 / 16 = 187.5: the floor, not the nearest.
    EXPECT_EQ(BlendColour(Rgb(200, 0, 0), Black, 15, 1) & 0xFF, 187u);
    // 1 * 1 / 2 = 0.5 in every channel.
    EXPECT_EQ(BlendColour(Rgb(1, 1, 1), Black, 1, 1), 0u);
    // 5 * 255 + 254 = 1529; 1529 / 6 = 254.83.
    EXPECT_EQ(BlendColour(White, Rgb(254, 254, 254), 5, 1), Rgb(254, 254, 254));
}

TEST(PaletteBlend, ChannelsStayApartAndTopBitsTakeNoPart)
{
    StartProgram();
    // Full channels must not carry into their neighbours.
    EXPECT_EQ(BlendColour(White, White, 15, 1), White);
    EXPECT_EQ(BlendColour(Rgb(255, 0, 255), Rgb(0, 255, 0), 1, 1), Rgb(127, 127, 127));
    // Bits 24-31 of either input are ignored and the result's are 0.
    EXPECT_EQ(BlendColour(Wall | 0x02000000u, Black | 0xFF000000u, 15, 1), Rgb(187, 150, 60));
    EXPECT_EQ(BlendColour(0xFFFFFFFFu, 0xFFFFFFFFu, 5, 1), White);
}

// ---------------------------------------------------------- ComposeFullEntry

TEST(PaletteCompose, EmptyEntryIsTheShadeWhateverTheBackgroundColour)
{
    StartProgram();
    const auto shades = DistinctShades();
    for (uint32_t bg : {Black, White, Rgb(12, 34, 56)}) {
        BaseColours[0] = bg;
        for (int s = 0; s < ShadeCount; ++s) EXPECT_EQ(ComposeFullEntry(8 * s, shades.data()), shades[s]) << "shade " << s;
    }
}

TEST(PaletteCompose, WorkedEntriesWithDefaultColours)
{
    StartProgram();
    std::array<uint32_t, ShadeCount> shades{};
    shades.fill(Black);
    shades[3] = White;
    shades[31] = Grey;
    // Shade 0 is black: wall 15:1 and sand 5:1 against black.
    EXPECT_EQ(ComposeFullEntry(1, shades.data()), Rgb(187, 150, 60));
    EXPECT_EQ(ComposeFullEntry(2, shades.data()), Rgb(0, 200, 183));
    // Shade 3 is white.
    EXPECT_EQ(ComposeFullEntry(8 * 3 + 1, shades.data()), Rgb(203, 165, 75));
    EXPECT_EQ(ComposeFullEntry(8 * 3 + 4, shades.data()), Rgb(255, 42, 42));
    // Shade 31 is grey.
    EXPECT_EQ(ComposeFullEntry(8 * 31 + 5, shades.data()), Rgb(154, 21, 21));
    EXPECT_EQ(ComposeFullEntry(8 * 31, shades.data()), Grey);
}

TEST(PaletteCompose, KindWeightsFollowTheCurrentBaseColours)
{
    StartProgram();
    const auto shades = DistinctShades();
    const uint32_t custom[BaseColourCount] = {Rgb(9, 9, 9),     Rgb(16, 32, 48),  Rgb(60, 120, 180),
                                              Rgb(200, 10, 90), Rgb(33, 66, 99), Rgb(250, 250, 5)};
    for (int i = 0; i < BaseColourCount; ++i) BaseColours[i] = custom[i];
    // floor((w * base + shade) / (w + 1)) per channel, w = 15 for walls, 5 for grains.
    auto mix = [](uint32_t base, uint32_t shade, uint32_t w) {
        uint32_t out = 0;
        for (int c = 0; c < 3; ++c) {
            const uint32_t b = (base >> (8 * c)) & 0xFF, s = (shade >> (8 * c)) & 0xFF;
            out |= ((w * b + s) / (w + 1)) << (8 * c);
        }
        return out;
    };
    for (int s = 0; s < ShadeCount; ++s) {
        EXPECT_EQ(ComposeFullEntry(8 * s + 1, shades.data()), mix(custom[1], shades[s], 15)) << "shade " << s;
        for (int k = 2; k <= 5; ++k)
            EXPECT_EQ(ComposeFullEntry(8 * s + k, shades.data()), mix(custom[k], shades[s], 5)) << "shade " << s << " kind " << k;
    }
    // Spot check without the helper: wall 16 against shade 0 (3, 250, 40).
    EXPECT_EQ(ComposeFullEntry(1, shades.data()), Rgb((16 * 15 + 3) / 16, (32 * 15 + 250) / 16, (48 * 15 + 40) / 16));
}

TEST(PaletteCompose, EveryEntryIsAPlainColour)
{
    StartProgram();
    std::array<uint32_t, ShadeCount> shades{};
    // Shade colours with junk in the top byte must not leak it into entries.
    for (int s = 0; s < ShadeCount; ++s) shades[s] = 0xFF000000u | Rgb(8 * s, 100, 255 - 8 * s);
    for (int j = 0; j < 256; ++j) EXPECT_EQ(ComposeFullEntry(j, shades.data()) >> 24, 0u) << "entry " << j;
}

// ------------------------------------------------------ palette installers

TEST(PaletteInstall, BasePaletteShowsTheSixDefaultColours)
{
    StartProgram();
    BuildBasePalette();
    EXPECT_EQ(PaletteEntryCount, 6);
    EXPECT_FALSE(PaletteBuilding());
    const uint32_t defaults[6] = {Black, Wall, Sand1A, Sand1B, Sand2A, Sand2B};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(TableEntry(i), Bgr0(defaults[i])) << "entry " << i;
        EXPECT_EQ(SurfaceEntry(i), Bgr0(defaults[i])) << "entry " << i;
        EXPECT_EQ(PaletteColour(i), 0x02000000u | defaults[i]) << "entry " << i;
    }
    EXPECT_EQ(ShownColour(1), (std::array<uint8_t, 3>{200, 160, 64}));
    EXPECT_EQ(ShownColour(2), (std::array<uint8_t, 3>{0, 240, 220}));
    EXPECT_EQ(ShownColour(0), (std::array<uint8_t, 3>{0, 0, 0}));
}

TEST(PaletteInstall, BasePaletteUsesChangedColoursAndLeavesTheFlag)
{
    StartProgram();
    BaseColours[1] = Rgb(1, 2, 3);
    BaseColours[4] = Rgb(250, 128, 7);
    FullPaletteFlag = 1;
    BuildBasePalette();
    EXPECT_EQ(PaletteColour(1), 0x02030201u);
    EXPECT_EQ(PaletteColour(4), 0x020780FAu);
    EXPECT_EQ(FullPaletteFlag, 1);
    FullPaletteFlag = 0;
    BuildBasePalette();
    EXPECT_EQ(FullPaletteFlag, 0);
}

TEST(PaletteInstall, FullPaletteComposesStoresAndSetsTheFlag)
{
    StartProgram();
    // Shades far enough apart that even the 15:1 wall blends all differ.
    std::array<uint32_t, ShadeCount> shades{};
    for (uint32_t s = 0; s < ShadeCount; ++s) shades[s] = Rgb((s & 15) * 16 + 3, (s >> 4) * 128 + 20, 100 + s);
    BaseColours[0] = Rgb(77, 77, 77); // takes no part
    BuildFullPalette(shades.data());
    EXPECT_EQ(FullPaletteFlag, 1);
    EXPECT_EQ(PaletteEntryCount, 256);
    EXPECT_FALSE(PaletteBuilding());
    for (int j = 0; j < 256; ++j) EXPECT_EQ(FullPalette[j], ComposeFullEntry(j, shades.data())) << "entry " << j;
    for (int s = 0; s < ShadeCount; ++s) EXPECT_EQ(FullPalette[8 * s], shades[s]) << "shade " << s;
    // Every entry a cell can hold is in force exactly as composed.
    for (int j = 0; j < 256; ++j) {
        if ((j & 7) > 5) continue;
        for (int k = 0; k < j; ++k)
            ASSERT_TRUE((k & 7) > 5 || FullPalette[k] != FullPalette[j]) << "test shades must keep " << j << " and " << k << " apart";
        EXPECT_EQ(PaletteColour(j), 0x02000000u | FullPalette[j]) << "entry " << j;
        EXPECT_EQ(SurfaceEntry(j), Bgr0(FullPalette[j])) << "entry " << j;
    }
    // With the full palette in force entry 1 is the wall blended with shade 0.
    EXPECT_EQ(PaletteColour(1), 0x02000000u | BlendColour(Wall, shades[0], 15, 1));
}

TEST(PaletteInstall, FullPaletteDefaultsShowBlendedColours)
{
    StartProgram();
    std::array<uint32_t, ShadeCount> shades{};
    shades.fill(White);
    shades[0] = Black;
    BuildFullPalette(shades.data());
    EXPECT_EQ(ShownColour(0), (std::array<uint8_t, 3>{0, 0, 0}));
    EXPECT_EQ(ShownColour(1), (std::array<uint8_t, 3>{187, 150, 60}));
    EXPECT_EQ(ShownColour(2), (std::array<uint8_t, 3>{0, 200, 183}));
    EXPECT_EQ(ShownColour(8 + 1), (std::array<uint8_t, 3>{203, 165, 75}));
    EXPECT_EQ(ShownColour(8 + 4), (std::array<uint8_t, 3>{255, 42, 42}));
    EXPECT_EQ(ShownColour(8), (std::array<uint8_t, 3>{255, 255, 255}));
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
    EXPECT_EQ(PaletteColour(0), 0x02000000u | Black);
    EXPECT_EQ(PaletteColour(3), 0x02000000u | Sand1B);
    for (int i = 0; i < BaseColourCount; ++i)
        for (int k = 0; k < i; ++k) EXPECT_NE(PaletteColour(i), PaletteColour(k)) << i << " vs " << k;
    // "One step away": no channel moves by more than one.
    for (auto [entry, wanted] : {std::pair{1, Black}, std::pair{5, Sand1B}}) {
        const uint32_t inForce = PaletteColour(entry);
        for (int c = 0; c < 3; ++c) {
            const int d = static_cast<int>((inForce >> (8 * c)) & 0xFF) - static_cast<int>((wanted >> (8 * c)) & 0xFF);
            EXPECT_LE(d * d, 1) << "entry " << entry << " channel " << c;
        }
    }
    // So the frame is still made of wall cells.
    std::memset(Field, 0, FieldSize);
    DrawFieldFrame();
    EXPECT_EQ(Field[0], 1);
    EXPECT_EQ(Field[FieldPos(335, 401)], 1);
    EXPECT_EQ(Field[FieldPos(1, 1)], 0);
}

TEST(PaletteInstall, FullPaletteWithEqualShadesStaysDrawable)
{
    StartProgram();
    std::array<uint32_t, ShadeCount> shades{};
    shades.fill(Grey); // every shade alike: many equal composed entries
    BuildFullPalette(shades.data());
    for (int j = 0; j < 256; ++j) EXPECT_EQ(FullPalette[j], ComposeFullEntry(j, shades.data())) << "entry " << j;
    for (int j = 0; j < 256; ++j)
        for (int k = 0; k < j; ++k) ASSERT_NE(PaletteColour(j), PaletteColour(k)) << j << " vs " << k;
    // The first entry of each colour is in force unchanged.
    EXPECT_EQ(PaletteColour(0), 0x02000000u | Grey);
    EXPECT_EQ(PaletteColour(5), 0x02000000u | Rgb(154, 21, 21));
    for (int j = 0; j < 256; ++j) {
        Field[j] = 0xFF;
        PutPixel(j, 0, PaletteColour(j));
        EXPECT_EQ(Field[j], j) << "entry " << j;
    }
}

// ------------------------------------------------------------ palette builder

TEST(PaletteBuilder, AddsUpTo256EntriesThenRefuses)
{
    StartProgram();
    PaletteBegin();
    for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(PaletteAdd(Rgb(i, 255 - i, i / 2)), 0) << "add " << i;
    EXPECT_EQ(PaletteEntryCount, 256);
    EXPECT_EQ(PaletteAdd(Rgb(1, 2, 3)), 1);
    EXPECT_EQ(PaletteAdd(Rgb(4, 5, 6)), 1);
    EXPECT_EQ(PaletteEntryCount, 256);
    // The refused colours went nowhere.
    EXPECT_EQ(TableEntry(255), Bgr0(Rgb(255, 0, 127)));
    EXPECT_EQ(TableEntry(0), Bgr0(Rgb(0, 255, 0)));
    EXPECT_EQ(PaletteRealize(), 0);
    EXPECT_EQ(PaletteEntryCount, 256);
}

TEST(PaletteBuilder, RefusesAddsAndRealizeWhenNothingIsBegun)
{
    StartProgram();
    const int32_t realizes = HeadlessRealizeCount();
    // Nothing begun since the process started.
    EXPECT_EQ(PaletteAdd(Wall), 1);
    EXPECT_EQ(PaletteEntryCount, 0);
    EXPECT_EQ(TableEntry(0), Bgr0(0));
    EXPECT_EQ(PaletteRealize(), 1);
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    EXPECT_EQ(SurfaceEntry(0), Bgr0(0));

    BuildBasePalette();
    const int32_t afterBuild = HeadlessRealizeCount();
    // A realized palette is no longer under construction.
    EXPECT_EQ(PaletteAdd(White), 1);
    EXPECT_EQ(PaletteEntryCount, 6);
    EXPECT_EQ(TableEntry(6), Bgr0(0));
    EXPECT_EQ(PaletteRealize(), 1);
    EXPECT_EQ(HeadlessRealizeCount(), afterBuild);
}

TEST(PaletteBuilder, RealizeSetsOnlyTheAddedEntriesAndKeepsTheCount)
{
    StartProgram();
    PaletteBegin();
    EXPECT_TRUE(PaletteBuilding());
    EXPECT_EQ(PaletteEntryCount, 0);
    PaletteAdd(Rgb(10, 20, 30));
    PaletteAdd(Rgb(40, 50, 60));
    // Until realized, the surface's colour table has not changed.
    EXPECT_EQ(SurfaceEntry(0), Bgr0(0));
    const int32_t realizes = HeadlessRealizeCount();
    EXPECT_EQ(PaletteRealize(), 0);
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 1);
    EXPECT_EQ(PaletteEntryCount, 2);
    EXPECT_EQ(SurfaceEntry(0), Bgr0(Rgb(10, 20, 30)));
    EXPECT_EQ(SurfaceEntry(1), Bgr0(Rgb(40, 50, 60)));
    EXPECT_EQ(SurfaceEntry(2), Bgr0(0));
}

TEST(PaletteBuilder, SmallerBuildKeepsTheStaleEntriesOfALargerOne)
{
    StartProgram();
    PaletteBegin();
    for (uint32_t i = 0; i < 256; ++i) PaletteAdd(Rgb(i, i ^ 0x55, 200 - i / 2));
    PaletteRealize();
    BuildBasePalette();
    EXPECT_EQ(PaletteEntryCount, 6);
    EXPECT_EQ(PaletteColour(1), 0x02000000u | Wall);
    for (uint32_t i = 6; i < 256; ++i) {
        const uint32_t old = Rgb(i, i ^ 0x55, 200 - i / 2);
        EXPECT_EQ(TableEntry(i), Bgr0(old)) << "entry " << i;
        EXPECT_EQ(SurfaceEntry(i), Bgr0(old)) << "entry " << i;
        EXPECT_EQ(PaletteColour(i), 0x02000000u | old) << "entry " << i;
    }
    // The stale colours are still what those bytes show.
    EXPECT_EQ(ShownColour(200), (std::array<uint8_t, 3>{200, 200 ^ 0x55, 100}));
}

TEST(PaletteBuilder, RealizeSetsTheSurfaceFromTheCountOnlyAfterAnAbandonedBuild)
{
    StartProgram();
    PaletteBegin();
    for (uint32_t i = 0; i < 256; ++i) PaletteAdd(Rgb(i, 1, 1));
    PaletteRealize();
    // A build begun and given up before realizing ...
    PaletteBegin();
    for (uint32_t i = 0; i < 10; ++i) PaletteAdd(Rgb(i, 2, 2));
    // ... then a six-entry one that is realized.
    PaletteBegin();
    for (uint32_t i = 0; i < 6; ++i) PaletteAdd(Rgb(i, 3, 3));
    EXPECT_EQ(PaletteRealize(), 0);
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(SurfaceEntry(i), Bgr0(Rgb(i, 3, 3))) << "entry " << i;
    // The surface keeps the realized colours beyond the count; the builder's table holds the abandoned ones.
    for (uint32_t i = 6; i < 10; ++i) {
        EXPECT_EQ(SurfaceEntry(i), Bgr0(Rgb(i, 1, 1))) << "entry " << i;
        EXPECT_EQ(TableEntry(i), Bgr0(Rgb(i, 2, 2))) << "entry " << i;
    }
    EXPECT_EQ(SurfaceEntry(10), Bgr0(Rgb(10, 1, 1)));
}

TEST(PaletteBuilder, BeginDropsThePaletteInForceAndStartsAtEntryZero)
{
    StartProgram();
    BuildBasePalette();
    PaletteBegin();
    EXPECT_EQ(PaletteEntryCount, 0);
    // Begin does not clear the table: the old entries stay readable.
    EXPECT_EQ(PaletteColour(1), 0x02000000u | Wall);
    EXPECT_EQ(PaletteAdd(Rgb(5, 6, 7)), 0);
    EXPECT_EQ(PaletteEntryCount, 1);
    EXPECT_EQ(TableEntry(0), Bgr0(Rgb(5, 6, 7)));
    EXPECT_EQ(TableEntry(1), Bgr0(Wall));
    // Begin while building starts over.
    PaletteBegin();
    EXPECT_EQ(PaletteAdd(Rgb(8, 9, 10)), 0);
    EXPECT_EQ(PaletteEntryCount, 1);
    EXPECT_EQ(TableEntry(0), Bgr0(Rgb(8, 9, 10)));
    EXPECT_EQ(PaletteRealize(), 0);
}

TEST(PaletteBuilder, DefaultWallColourLayout)
{
    StartProgram();
    PaletteBegin();
    EXPECT_EQ(PaletteAdd(0x40A0C8u), 0);
    PaletteRealize();
    EXPECT_EQ(TableEntry(0), (std::array<uint8_t, 4>{0x40, 0xA0, 0xC8, 0x00}));
    EXPECT_EQ(PaletteColour(0), 0x0240A0C8u);
    EXPECT_EQ(SurfaceEntry(0), (std::array<uint8_t, 4>{0x40, 0xA0, 0xC8, 0x00}));
}

TEST(PaletteBuilder, AddIgnoresTheTopByteAndAddRgbPacksTheChannels)
{
    StartProgram();
    PaletteBegin();
    EXPECT_EQ(PaletteAdd(0xFF40A0C8u), 0);
    EXPECT_EQ(PaletteAdd(0x0240A0C8u), 0);
    EXPECT_EQ(PaletteAddRGB(0xC8, 0xA0, 0x40), 0);
    EXPECT_EQ(PaletteAddRGB(1, 2, 3), 0);
    PaletteRealize();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(TableEntry(i), (std::array<uint8_t, 4>{0x40, 0xA0, 0xC8, 0x00})) << "entry " << i;
        EXPECT_EQ(PaletteColour(i), 0x0240A0C8u) << "entry " << i;
    }
    EXPECT_EQ(PaletteColour(3), 0x02030201u);
}

TEST(PaletteBuilder, AddRgbIsRefusedLikeAdd)
{
    StartProgram();
    EXPECT_EQ(PaletteAddRGB(1, 2, 3), 1);
    PaletteBegin();
    for (int i = 0; i < 256; ++i) ASSERT_EQ(PaletteAddRGB(static_cast<uint8_t>(i), 0, 0), 0);
    EXPECT_EQ(PaletteAddRGB(1, 2, 3), 1);
    EXPECT_EQ(PaletteEntryCount, 256);
    PaletteRealize();
}

} // namespace

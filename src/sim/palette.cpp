#include "sim/palette.h"

#include <initializer_list>

#include "framework/palette_builder.h"
#include "sim/scene.h"

uint32_t (&BaseColours)[BaseColourCount] = LiveScene.baseColours;
uint32_t (&FullPalette)[256] = LiveScene.fullPalette;
int32_t& FullPaletteFlag = LiveScene.fullPaletteFlag;

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
    const uint32_t* base = SceneInHand->baseColours;
    if (kind == 1) return BlendColour(base[1], shade, 15, 1);
    if (kind >= 2 && kind <= 5) return BlendColour(base[kind], shade, 5, 1);
    // Empty cells show the shade alone; kinds 6 and 7 never occur, and look
    // empty should one turn up.
    return shade;
}

static bool Taken(uint32_t colour, const uint32_t* entries, int32_t count)
{
    for (int32_t k = 0; k < count; ++k)
        if (entries[k] == colour) return true;
    return false;
}

// The nearest colour, one channel step at a time, that no earlier entry has.
static uint32_t Distinct(uint32_t colour, const uint32_t* entries, int32_t count)
{
    for (int32_t step = 1; step < 256; ++step) {
        for (int32_t shift : {16, 8, 0}) {
            for (int32_t sign : {-1, 1}) {
                const int32_t channel = static_cast<int32_t>((colour >> shift) & 0xFF) + sign * step;
                if (channel < 0 || channel > 255) continue;
                const uint32_t candidate = (colour & ~(0xFFu << shift)) | (static_cast<uint32_t>(channel) << shift);
                if (!Taken(candidate, entries, count)) return candidate;
            }
        }
    }
    return colour;
}

void InstallPalette(const uint32_t* colours, int32_t count)
{
    // A cell drawn in entry i's colour must become byte i, and that holds
    // only while no two entries share a colour: walls drawn in a colour the
    // background also has would leave the field without its frame. So a
    // repeated colour is put in force one shade away; the colours kept for
    // the scene file stay as they are.
    uint32_t installed[256];
    PaletteBegin();
    for (int32_t j = 0; j < count && j < 256; ++j) {
        const uint32_t colour = colours[j] & 0xFFFFFF;
        installed[j] = Taken(colour, installed, j) ? Distinct(colour, installed, j) : colour;
        PaletteAdd(installed[j]);
    }
    PaletteRealize();
}

void BuildBasePalette()
{
    InstallPalette(SceneInHand->baseColours, BaseColourCount);
}

void BuildFullPalette(const uint32_t shades[ShadeCount])
{
    Scene& scene = *SceneInHand;
    for (int32_t j = 0; j < 256; ++j) scene.fullPalette[j] = ComposeFullEntry(j, shades);
    InstallPalette(scene.fullPalette, 256);
    scene.fullPaletteFlag = 1;
}

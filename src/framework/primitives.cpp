#include "framework/primitives.h"

#include "framework/palette_builder.h"
#include "framework/platform.h"
#include "framework/raster.h"
#include "framework/window.h"

int32_t MirrorFlag = 1;
int32_t PenWidth = 0;

namespace {

struct TextState {
    // The background colour of the text calls and of ClearSurface: white until
    // SetBackColour.
    uint32_t Background = 0xFFFFFF;
    // The colour of text: black until PutTextColour sets one.
    uint32_t TextColour = 0x000000;
};

TextState Text;

} // namespace

void PrimitivesReset()
{
    MirrorFlag = 1;
    PenWidth = 0;
    Text.Background = 0xFFFFFF;
    Text.TextColour = 0x000000;
}

// The window's surface, or the cells of a scene played apart from it.
static uint8_t* TargetBits()
{
    const DrawingTarget* target = SelectedDrawingTarget();
    return target ? target->bits : SurfaceBits;
}

static RasterTarget Surface()
{
    return RasterTarget{TargetBits(), SurfaceWidth, SurfaceHeight, SurfaceWidth};
}

// The window shows the surface, so drawing "into the window as well" is a
// present of what the surface now holds.
static void Mirror()
{
    if (MirrorFlag && DrawingOnWindow()) PlatformPresent(ClientWidth, ClientHeight);
}

int32_t PutPixel(int32_t x, int32_t y, uint32_t colour)
{
    if (!TargetBits()) return -1;
    if (x < 0 || y < 0 || x >= SurfaceWidth || y >= SurfaceHeight) return -1;
    const uint8_t index = SurfaceIndexOf(colour);
    RasterPixel(Surface(), x, y, index);
    Mirror();
    const uint8_t* entry = TargetColours()[index];
    return static_cast<int32_t>(entry[2] + entry[1] * 256u + entry[0] * 65536u);
}

void DrawLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour)
{
    if (!TargetBits()) return;
    RasterLine(Surface(), x1, y1, x2, y2, PenWidth, SurfaceIndexOf(colour));
    Mirror();
}

void DrawRect(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t toolMode, uint32_t colour)
{
    if (!TargetBits()) return;
    RasterRect(Surface(), left, top, right, bottom, toolMode & 3, PenWidth, SurfaceIndexOf(colour));
    Mirror();
}

void DrawEllipse(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t toolMode, uint32_t colour)
{
    if (!TargetBits()) return;
    RasterEllipse(Surface(), left, top, right, bottom, toolMode & 3, PenWidth, SurfaceIndexOf(colour));
    Mirror();
}

void ClearSurface()
{
    if (!TargetBits()) return;
    RasterRect(Surface(), 0, 0, ClientWidth + 1, 403, 2, PenWidth, SurfaceIndexOf(Text.Background));
    Mirror();
}

int32_t CopyToWindow()
{
    PlatformPresent(ClientWidth, ClientHeight);
    return 1;
}

void SetWindowOverlay(const int32_t* positions, const uint8_t* bytes, size_t count)
{
    PlatformSetOverlay(positions, bytes, count);
}

void SetMirror(int32_t flag) { MirrorFlag = flag; }

void SetPenWidth(int32_t width) { PenWidth = width; }

void SetBackColour(uint32_t colour) { Text.Background = colour; }
uint32_t BackColour() { return Text.Background; }

void SetFontHeight(int32_t height)
{
    PlatformText(PlatformTextRequest{height, 0, 0, nullptr, Text.TextColour, Text.Background, 0, 0, false});
}

// Makes the font, then draws into the window (when mirrored) and the
// surface; the surface draw's result.
static int32_t DrawText(int32_t x, int32_t y, int32_t height, const char* text)
{
    if (!SurfaceBits || !text) {
        SetFontHeight(height);
        return 0;
    }
    return PlatformText(PlatformTextRequest{height, x, y, text, Text.TextColour, Text.Background, SurfaceIndexOf(Text.TextColour),
                                            SurfaceIndexOf(Text.Background), MirrorFlag != 0});
}

int32_t PutText(int32_t x, int32_t y, int32_t height, const char* text)
{
    return DrawText(x, y, height, text);
}

int32_t PutTextColour(int32_t x, int32_t y, int32_t height, const char* text, uint32_t colour)
{
    Text.TextColour = colour;
    return DrawText(x, y, height, text);
}

#include "framework/primitives.h"

#include "framework/palette_builder.h"
#include "framework/platform.h"
#include "framework/raster.h"
#include "framework/window.h"

int32_t MirrorFlag = 1;
int32_t PenWidth = 0;

static int32_t FontHeight = 0;
// The background colour of the text calls and of ClearSurface: white until
// SetBackColour.
static uint32_t Background = 0xFFFFFF;

void PrimitivesReset()
{
    MirrorFlag = 1;
    PenWidth = 0;
    FontHeight = 0;
    Background = 0xFFFFFF;
}

static RasterTarget Surface()
{
    return RasterTarget{SurfaceBits, SurfaceWidth, SurfaceHeight, SurfaceWidth};
}

// The window shows the surface, so drawing "into the window as well" is a
// present of what the surface now holds.
static void Mirror()
{
    if (MirrorFlag) PlatformPresent(ClientWidth, ClientHeight);
}

int32_t PutPixel(int32_t x, int32_t y, uint32_t colour)
{
    if (!SurfaceBits) return -1;
    if (x < 0 || y < 0 || x >= SurfaceWidth || y >= SurfaceHeight) return -1;
    const uint8_t index = SurfaceIndexOf(colour);
    RasterPixel(Surface(), x, y, index);
    Mirror();
    const uint8_t* entry = SurfaceColours[index];
    return static_cast<int32_t>(entry[2] + entry[1] * 256u + entry[0] * 65536u);
}

void DrawLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour)
{
    if (!SurfaceBits) return;
    RasterLine(Surface(), x1, y1, x2, y2, PenWidth, SurfaceIndexOf(colour));
    Mirror();
}

void DrawRect(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t toolMode, uint32_t colour)
{
    if (!SurfaceBits) return;
    RasterRect(Surface(), left, top, right, bottom, toolMode & 3, PenWidth, SurfaceIndexOf(colour));
    Mirror();
}

void DrawEllipse(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t toolMode, uint32_t colour)
{
    if (!SurfaceBits) return;
    RasterEllipse(Surface(), left, top, right, bottom, toolMode & 3, PenWidth, SurfaceIndexOf(colour));
    Mirror();
}

void ClearSurface()
{
    if (!SurfaceBits) return;
    RasterRect(Surface(), 0, 0, ClientWidth + 1, 403, 2, PenWidth, SurfaceIndexOf(Background));
    Mirror();
}

int32_t CopyToWindow()
{
    PlatformPresent(ClientWidth, ClientHeight);
    return 1;
}

void SetMirror(int32_t flag) { MirrorFlag = flag; }

void SetPenWidth(int32_t width) { PenWidth = width; }

void SetBackColour(uint32_t colour) { Background = colour; }
uint32_t BackColour() { return Background; }

void SetFontHeight(int32_t height)
{
    FontHeight = height;
}

int32_t PutText(int32_t, int32_t, int32_t height, const char*)
{
    SetFontHeight(height);
    return 0;
}

int32_t PutTextColour(int32_t, int32_t, int32_t height, const char*, uint32_t)
{
    SetFontHeight(height);
    return 0;
}

// talvo-library-check.exe: the clipboard read back as Windows holds it.
#include <windows.h>

#include <vector>

#include "framework/palette_builder.h"
#include "framework/start.h"
#include "framework/win32/win32.h"
#include "framework/window.h"
#include "library_check.h"

bool ClipboardHoldsTheSurface()
{
    if (!OpenClipboard(nullptr)) return false;
    const HBITMAP picture = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
    BITMAP facts = {};
    bool same = picture && GetObject(picture, sizeof facts, &facts) != 0 && facts.bmWidth == SurfaceWidth &&
                facts.bmHeight == SurfaceHeight;
    if (same) {
        BITMAPINFO info = {};
        info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), SurfaceWidth, -SurfaceHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        std::vector<uint32_t> rgb(static_cast<size_t>(SurfaceWidth * SurfaceHeight));
        const HDC screen = GetDC(nullptr);
        same = GetDIBits(screen, picture, 0, SurfaceHeight, rgb.data(), &info, DIB_RGB_COLORS) == SurfaceHeight;
        ReleaseDC(nullptr, screen);
        for (size_t i = 0; same && i < rgb.size(); ++i) {
            const uint8_t* c = ColourTable[SurfaceBits[i]];
            same = (rgb[i] & 0xFFFFFF) == (static_cast<uint32_t>(c[2]) << 16 | static_cast<uint32_t>(c[1]) << 8 | c[0]);
        }
    }
    CloseClipboard();
    return same;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    Win32SetInstance(instance);
    return AppStart(CheckMain) == 0 ? 1 : 0;
}

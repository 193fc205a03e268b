// talvo-library-check: the framework's library operations on a real
// platform (Win32, GTK), checked by what the surface and the platform then
// hold. The desktop checks run it: they look at the window, move the
// pointer from outside and read what MousePoll reported from poll.txt;
// "stop" in the folder ends it. Prints "ok ..." or "FAIL ..." per check;
// the exit status counts failures.
#include "library_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/input.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "framework/pump.h"
#include "framework/start.h"
#include "framework/window.h"

namespace {

int Failures = 0;

void Check(bool ok, const char* what, long detail = 0)
{
    std::printf("%s %s (%ld)\n", ok ? "ok" : "FAIL", what, detail);
    std::fflush(stdout);
    if (!ok) ++Failures;
}

uint8_t& Pixel(int32_t x, int32_t y) { return SurfaceBits[y * SurfaceWidth + x]; }

struct Box {
    int32_t left, top, right, bottom;
};

// How many pixels of the box hold index `value`.
long CountIn(const Box& box, uint8_t value)
{
    long n = 0;
    for (int32_t y = box.top; y < box.bottom; ++y)
        for (int32_t x = box.left; x < box.right; ++x) n += Pixel(x, y) == value;
    return n;
}

void CheckText()
{
    // Text colour entry 4, background entry 0 (the surface is entry 2).
    const uint32_t ink = PaletteColour(4), paper = PaletteColour(0);
    SetBackColour(paper);
    const Box hidden = {10, 200, 200, 240}, mirrored = {10, 20, 200, 60};
    const long before = CountIn(hidden, 4);
    SetMirror(0);
    const int32_t drawn = PutTextColour(hidden.left, hidden.top, -24, "Talvo", ink);
    Check(drawn != 0, "PutTextColour returns the surface draw's result", drawn);
    Check(CountIn(hidden, 4) > before + 20, "the text colour fills pixels of the text's box", CountIn(hidden, 4));
    Check(CountIn(hidden, 0) > 0, "the box is painted in the background colour", CountIn(hidden, 0));
    SetMirror(1);
    const int32_t again = PutText(mirrored.left, mirrored.top, 24, "Talvo");
    Check(again != 0, "PutText returns the surface draw's result", again);
    Check(CountIn(mirrored, 4) > 20, "PutText draws in the colour PutTextColour set", CountIn(mirrored, 4));
    SetMirror(0);
}

// MousePoll into poll.txt, a line at a time, until "stop" appears; the
// window is pumped meanwhile as a program's loop would.
void FollowPointer()
{
    for (;;) {
        if (std::FILE* stop = std::fopen("stop", "rb")) {
            std::fclose(stop);
            break;
        }
        const MouseEvent at = MousePoll();
        const int32_t queued = MouseHit();
        if (std::FILE* out = std::fopen("poll.txt", "a")) {
            std::fprintf(out, "%d %d %d %d\n", at.x, at.y, at.buttons, queued);
            std::fclose(out);
        }
        WaitTicks(50);
    }
}

} // namespace

void CheckMain()
{
    ShowMainWindow();
    // Six colours; the surface in entry 2 with a block of each entry.
    PaletteBegin();
    const uint32_t colours[] = {0xFFFFFF, 0x40A0C8, 0x303030, 0x00FF00, 0x0000FF, 0xFF0000};
    for (uint32_t c : colours) PaletteAdd(c);
    PaletteRealize();
    SetMirror(0);
    DrawRect(0, 0, 336, 402, 3, PaletteColour(2));
    for (int32_t i = 0; i < 6; ++i) DrawRect(20 + 50 * i, 300, 60 + 50 * i, 380, 3, PaletteColour(i));
    CopyToWindow();
    CopyToClipboard();
    Check(ClipboardHoldsTheSurface(), "the clipboard holds the surface's picture, 336 x 402, in its colours");
    CheckText();
    std::printf("checks done\n");
    std::fflush(stdout);
    FollowPointer();
    std::exit(Failures);
}


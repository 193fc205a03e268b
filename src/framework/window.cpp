#include "framework/window.h"

#include <cstdlib>

#include "framework/input.h"
#include "framework/palette_builder.h"
#include "framework/platform.h"
#include "framework/primitives.h"
#include "framework/strings.h"

uint8_t* SurfaceBits = nullptr;
uint8_t SurfaceColours[256][4] = {};
WindowHandle MainWindow = nullptr;
int32_t ClientWidth = 0;
int32_t ClientHeight = 0;
int32_t HasFocus = 0;
uint32_t LastPumpTick = 0;
uint32_t FrameMark = 0;
int32_t PaletteChanged = 0;
HandlerNode* HandlerList = nullptr;

static int ArgCount = 0;
static char** Args = nullptr;
static uint32_t QuitCode = 0;

void SetProgramArguments(int argc, char** argv)
{
    ArgCount = argc;
    Args = argv;
}

int ProgramArgumentCount() { return ArgCount; }
char** ProgramArguments() { return Args; }

void SetSurfaceColourTable(int32_t first, int32_t count, const uint8_t (*bgra)[4])
{
    for (int32_t i = first; i < first + count && i < 256; ++i)
        for (int c = 0; c < 4; ++c) SurfaceColours[i][c] = bgra[i][c];
    PlatformSetColourTable(first, count, bgra);
}

uint8_t SurfaceIndexOf(uint32_t colour)
{
    const int32_t red = colour & 0xFF, green = (colour >> 8) & 0xFF, blue = (colour >> 16) & 0xFF;
    int32_t best = 0;
    int32_t bestDistance = 0x7FFFFFFF;
    for (int32_t i = 0; i < 256; ++i) {
        const int32_t dr = SurfaceColours[i][2] - red;
        const int32_t dg = SurfaceColours[i][1] - green;
        const int32_t db = SurfaceColours[i][0] - blue;
        const int32_t distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
            if (distance == 0) break;
        }
    }
    return static_cast<uint8_t>(best);
}

int32_t AppCreateWindow()
{
    MainWindow = PlatformCreateWindow(LoadResString(4), SurfaceWidth, SurfaceHeight);
    SurfaceBits = PlatformCreateSurface(SurfaceWidth, SurfaceHeight);
    if (!SurfaceBits) {
        PlatformShowError("ERROR", "ERROR");
        return 0;
    }
    // Whatever the colour table holds, the surface starts as one solid fill.
    const int32_t mirror = MirrorFlag;
    SetMirror(0);
    DrawRect(0, 0, SurfaceWidth, SurfaceHeight, 3, 0x00FFFFFF);
    SetMirror(mirror);
    return 1;
}

int32_t AppStart(MainRoutine mainRoutine)
{
    if (!AppCreateWindow()) return 0;
    mainRoutine();
    for (;;) {
        AwaitMessage();
        PumpMessages();
    }
}

static void PushKeyDown(uint32_t virtualKey)
{
    switch (virtualKey) {
    case VkLeft: KeyPush(29); break;
    case VkRight: KeyPush(28); break;
    case VkUp: KeyPush(30); break;
    case VkDown: KeyPush(31); break;
    case VkDelete: KeyPush(17); break;
    default: break;
    }
}

// Selecting the palette only makes sense once one exists; realizing runs
// either way, as the window may be back in the foreground.
static void QueryNewPalette()
{
    const int32_t count = PaletteEntryCount > 0 ? PaletteEntryCount : 0;
    if (PlatformRealizePalette(ColourTable, count) != 0) PlatformInvalidate();
}

int32_t WndProc(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam)
{
    int32_t handlerResult = 0;
    bool handled = false;
    for (HandlerNode* node = HandlerList; node; node = node->next) {
        if (node->message == message) {
            handlerResult = node->handler(window, message, wParam, lParam);
            handled = true;
            break;
        }
    }

    const uint32_t lp = static_cast<uint32_t>(lParam);
    switch (message) {
    case WmDestroy:
        PlatformPostQuit(0);
        return 0;
    case WmSize:
        ClientWidth = static_cast<int32_t>(lp & 0xFFFFu);
        ClientHeight = static_cast<int32_t>(lp >> 16);
        return 0;
    case WmSetFocus:
        HasFocus = 1;
        return 0;
    case WmKillFocus:
        HasFocus = 0;
        return 0;
    case WmPaint:
        if (PaletteEntryCount > 0 && PlatformRealizePalette(ColourTable, PaletteEntryCount) != 0)
            PlatformInvalidate();
        PlatformPresent(ClientWidth, SurfaceHeight);
        return 0;
    case WmKeyDown:
        PushKeyDown(wParam);
        return 0;
    case WmChar:
        KeyPush(static_cast<uint8_t>(wParam & 0xFFu));
        return 0;
    case WmLButtonDown:
        MousePush({static_cast<int32_t>(lp & 0xFFFFu), static_cast<int32_t>(lp >> 16), 1});
        return 0;
    case WmRButtonDown:
        MousePush({static_cast<int32_t>(lp & 0xFFFFu), static_cast<int32_t>(lp >> 16), 2});
        return 0;
    case WmPaletteIsChanging:
        if (PaletteEntryCount > 0) PaletteChanged = 1;
        return 0;
    case WmPaletteChanged:
        if (reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(wParam)) != window) QueryNewPalette();
        return 0;
    case WmQueryNewPalette:
        QueryNewPalette();
        return 0;
    default:
        break;
    }
    if (handled) return handlerResult;
    return PlatformDefWindowProc(window, message, wParam, lParam);
}

void AddHandler(uint32_t message, MessageHandler handler)
{
    HandlerList = new HandlerNode{message, handler, HandlerList};
}

// Removes and dispatches every pending message; WmQuit ends the process.
static void DrainMessages()
{
    PlatformMessage msg;
    while (PlatformPeekMessage(&msg)) {
        if (msg.message == WmQuit) {
            QuitCode = msg.wParam;
            AppExit();
        }
        PlatformTranslateMessage(msg);
        PlatformDispatchMessage(msg);
    }
}

void PumpMessages()
{
    PlatformPumpBegin();
    DrainMessages();
    RefreshPalette();
    LastPumpTick = PlatformTicks();
}

void WaitTicks(int32_t milliseconds)
{
    uint32_t origin;
    uint32_t span;
    if (milliseconds >= 0) {
        origin = PlatformTicks();
        span = static_cast<uint32_t>(milliseconds);
    } else {
        origin = FrameMark;
        span = 0u - static_cast<uint32_t>(milliseconds);
    }
    // Compare before each drain, so nothing is handled once the span has
    // passed; block in the platform's wait instead of spinning.
    while (PlatformTicks() - origin < span) {
        DrainMessages();
        const uint32_t elapsed = PlatformTicks() - origin;
        if (elapsed >= span) break;
        PlatformWaitMessage(span - elapsed);
    }
    RefreshPalette();
    FrameMark = LastPumpTick = PlatformTicks();
}

void PumpEvery(uint32_t milliseconds)
{
    if (LastPumpTick == 0 || PlatformTicks() - LastPumpTick >= milliseconds) {
        LastPumpTick = PlatformTicks();
        PumpMessages();
    }
}

void AwaitMessage()
{
    PlatformWaitMessage(PlatformWaitForever);
}

void RefreshPalette()
{
    if (!PaletteChanged) return;
    PaletteChanged = 0;
    if (PlatformRealizePalette(ColourTable, PaletteEntryCount) > 0) PlatformInvalidate();
}

void AppExit()
{
    PlatformReleaseSurface();
    SurfaceBits = nullptr;
    PlatformShutdown(static_cast<int32_t>(QuitCode));
    std::exit(static_cast<int>(QuitCode));
}

uint32_t ClockSeconds()
{
    return PlatformClockSeconds();
}

#include "framework/window.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "framework/input.h"
#include "framework/palette_builder.h"
#include "framework/platform.h"
#include "framework/raster.h"
#include "framework/strings.h"
#include "framework/zoom.h"

uint8_t* SurfaceBits = nullptr;
WindowHandle MainWindow = nullptr;
int32_t ClientWidth = 0;
int32_t ClientHeight = 0;
int32_t HasFocus = 0;
int32_t PaletteChanged = 0;
HandlerNode* HandlerList = nullptr;

namespace {

struct WindowState {
    int ArgCount = 0;
    char** Args = nullptr;
    // From the window's opening to its WmDestroy.
    bool WindowOpen = false;
    int32_t ExitStatus = 0;
    ProgramHooks Hooks;
};

WindowState Win;

} // namespace

void WindowReset()
{
    SurfaceBits = nullptr;
    MainWindow = nullptr;
    ClientWidth = ClientHeight = 0;
    HasFocus = 0;
    PaletteChanged = 0;
    while (HandlerList) {
        HandlerNode* next = HandlerList->next;
        delete HandlerList;
        HandlerList = next;
    }
    Win.Hooks = ProgramHooks{};
    ZoomStateReset();
    Win.WindowOpen = false;
    Win.ExitStatus = 0;
}

void SetProgramHooks(const ProgramHooks& hooks) { Win.Hooks = hooks; }

void BeforeLongWait()
{
    if (Win.Hooks.beforeLongWait) Win.Hooks.beforeLongWait();
}

void SetProgramArguments(int argc, char** argv)
{
    Win.ArgCount = argc;
    Win.Args = argv;
}

int ProgramArgumentCount() { return Win.ArgCount; }
char** ProgramArguments() { return Win.Args; }

int32_t AppCreateWindow()
{
    const PlatformWindow opened = PlatformOpenWindow(LoadResString(4), SurfaceWidth, SurfaceHeight, WndProc);
    MainWindow = opened.window;
    Win.WindowOpen = true;
    // TALVO_TEST_NO_SURFACE=1: the tests' way to see a surface that could not
    // be made, on every platform.
    const char* refused = std::getenv("TALVO_TEST_NO_SURFACE");
    if (!opened.pixels || (refused && std::strcmp(refused, "1") == 0)) {
        PlatformShowMessage("ERROR", "ERROR", false);
        return 0;
    }
    SurfaceBits = opened.pixels;
    SurfaceColours = opened.colours;
    // Whatever the colour table holds, the surface starts as one solid fill
    // of its whitest entry.
    RasterRect(RasterTarget{SurfaceBits, SurfaceWidth, SurfaceHeight, SurfaceWidth}, 0, 0, SurfaceWidth, SurfaceHeight, 3, 0,
               SurfaceIndexOf(0x00FFFFFF));
    return 1;
}

// At the player's size from the first picture on.
void ShowMainWindow()
{
    ZoomStart();
    PlatformShowWindow();
}
void CloseMainWindow() { PlatformCloseWindow(); }
void CaptureMouse(bool held) { PlatformCaptureMouse(held); }
void ShowError(const char* text, const char* caption)
{
    BeforeLongWait();
    PlatformShowMessage(text, caption, false);
}
void ShowNote(const char* text, const char* caption) { PlatformShowMessage(text, caption, true); }
void ShowLine(const char* text, const char* caption) { std::fprintf(stderr, "%s: %s\n", caption, text); }

int32_t OfferFile(const char* name, const char* kind, const uint8_t* bytes, size_t size)
{
    char failure[512] = "";
    BeforeLongWait();
    int32_t saved = PlatformSaveFileStart(name, kind, failure, sizeof failure);
    if (saved > 0) {
        const bool written = PlatformSaveFilePart(bytes, size, failure, sizeof failure);
        saved = PlatformSaveFileEnd(written, failure, sizeof failure);
        if (!written) saved = -1;
    }
    if (saved < 0) ShowError(failure, "Talvo");
    return saved;
}

int32_t OfferFileStart(const char* name, const char* kind, char* failure, size_t failureSize)
{
    BeforeLongWait();
    return PlatformSaveFileStart(name, kind, failure, failureSize);
}

bool OfferFilePart(const uint8_t* bytes, size_t size, char* failure, size_t failureSize)
{
    return PlatformSaveFilePart(bytes, size, failure, failureSize);
}

int32_t OfferFileEnd(bool keep, char* failure, size_t failureSize)
{
    return PlatformSaveFileEnd(keep, failure, failureSize);
}

void ShowProgress(const char* text, int32_t permille) { PlatformShowProgress(text, permille); }
void EnableKeyButton(uint32_t character, bool enabled) { PlatformEnableButton(character, enabled); }
int32_t KeyLabel(uint32_t letter, char* buffer, int32_t size) { return PlatformKeyLabel(letter, buffer, size); }
void ShowKeysList(const char* text, const char* caption) { PlatformShowKeys(text, caption); }

void SetExitStatus(int32_t status) { Win.ExitStatus = status; }

void CopyToClipboard()
{
    if (SurfaceBits) PlatformCopyToClipboard(SurfaceWidth, SurfaceHeight);
}

uint32_t DroppedFileName(uint32_t drop, char* buffer, uint32_t size)
{
    return PlatformTakeDroppedName(drop, buffer, size);
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

int32_t CallHandler(uint32_t message, uint32_t wParam, int32_t lParam)
{
    for (HandlerNode* node = HandlerList; node; node = node->next)
        if (node->message == message) return node->handler(MainWindow, message, wParam, lParam);
    return 0;
}

int32_t WndProc(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam)
{
    if (Win.Hooks.watch && window == MainWindow) Win.Hooks.watch(message, wParam, lParam);
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
        Win.WindowOpen = false;
        PlatformPostQuit(static_cast<uint32_t>(Win.ExitStatus));
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
        if (PaletteEntryCount > 0) PlatformMatchDisplayColours(ColourTable, PaletteEntryCount, true);
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
    case WmCommand:
        // The zoom item of the window's bar or page: the window's own
        // business, like its size, not the program's.
        if (window == MainWindow && wParam >= IdZoom && wParam <= IdZoom + ZoomLargest) {
            ZoomChoose(static_cast<int32_t>(wParam - IdZoom));
            return 0;
        }
        break;
    case WmPaletteIsChanging:
        if (PaletteEntryCount > 0) PaletteChanged = 1;
        return 0;
    case WmPaletteChanged:
        if (reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(wParam)) == window) return 0;
        [[fallthrough]];
    case WmQueryNewPalette:
        // Selecting the palette only makes sense once one exists; realizing
        // runs either way, as the window may be back in the foreground.
        PlatformMatchDisplayColours(ColourTable, PaletteEntryCount > 0 ? PaletteEntryCount : 0, true);
        return 0;
    default:
        break;
    }
    if (handled) return handlerResult;
    return DefaultProcedure(window, message, wParam, lParam);
}

void AddHandler(uint32_t message, MessageHandler handler)
{
    HandlerList = new HandlerNode{message, handler, HandlerList};
}

int32_t DefaultProcedure(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam)
{
    int32_t result = 0;
    if (PlatformDefault(window, message, wParam, lParam, &result)) return result;
    // Where the platform leaves it to us, closing goes as on Windows: the
    // close command asks the window, whose close request closes it.
    if (!Win.WindowOpen) return 0;
    if (message == WmSysCommand && (wParam & 0xFFF0u) == ScClose) WndProc(window, WmClose, 0, 0);
    if (message == WmClose) PlatformCloseWindow();
    return 0;
}

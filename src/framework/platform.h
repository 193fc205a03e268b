// The services each platform (headless, GTK, Win32) provides beneath the
// framework. Nothing above framework/ calls these directly except through the
// framework's own operations; each backend implements all of them in its own
// folder.
#pragma once
#include <cstdint>
#include "framework/messages.h"

struct PlatformMessage {
    WindowHandle window;
    uint32_t message;
    uint32_t wParam;
    int32_t lParam;
};

constexpr uint32_t PlatformWaitForever = 0xFFFFFFFFu;

// Window and surface. The surface is an 8-bit indexed image whose pixel bytes
// the program addresses directly (on Win32 the bits of a DIB section).
WindowHandle PlatformCreateWindow(const char* title, int32_t clientWidth, int32_t clientHeight);
uint8_t* PlatformCreateSurface(int32_t width, int32_t height);
void PlatformReleaseSurface();
void PlatformSetColourTable(int32_t first, int32_t count, const uint8_t (*bgra)[4]);
void PlatformShowWindow();
void PlatformDestroyWindow();
// Shows the surface's top-left width x height pixels in the client area.
void PlatformPresent(int32_t width, int32_t height);
void PlatformInvalidate();
// Realizes the logical palette; returns how many entries changed (0 where
// the display has no palette).
int32_t PlatformRealizePalette(const uint8_t (*bgra)[4], int32_t count);

// Messages.
bool PlatformPeekMessage(PlatformMessage* msg);
void PlatformTranslateMessage(const PlatformMessage& msg);
void PlatformDispatchMessage(const PlatformMessage& msg);
void PlatformPostMessage(uint32_t message, uint32_t wParam, int32_t lParam);
void PlatformPostQuit(uint32_t code);
int32_t PlatformDefWindowProc(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
// Called at the start of every PumpMessages.
void PlatformPumpBegin();
// Blocks until a message is pending or timeoutMs have passed.
void PlatformWaitMessage(uint32_t timeoutMs);

// Time.
uint32_t PlatformTicks();
uint32_t PlatformClockSeconds();

// Mouse.
void PlatformSetCapture();
void PlatformReleaseCapture();
void PlatformCursorPos(int32_t* x, int32_t* y, int32_t* buttons);

// System menu.
MenuHandle PlatformGetSystemMenu();
MenuHandle PlatformCreateMenu();
void PlatformAppendMenu(MenuHandle menu, uint32_t flags, uintptr_t idOrPopup, const char* text);
void PlatformCheckMenuItem(MenuHandle menu, uint32_t id, uint32_t flags);

// Dialogs, brushes, shell.
using DialogProc = int32_t (*)(WindowHandle, uint32_t, uint32_t, int32_t);
int32_t PlatformDialogBox(const char* resourceName, DialogProc proc);
void PlatformEndDialog(WindowHandle dialog, int32_t result);
BrushHandle PlatformCreateButtonFaceBrush();
void PlatformDeleteBrush(BrushHandle brush);
void PlatformSetDialogBackground(uint32_t hdc);
void PlatformDragAcceptFiles(bool accept);
// Copies the name of dropped file `index` into buffer (at most size - 1
// characters); returns the full length of the name, 0 when there is none.
uint32_t PlatformDragQueryFile(uint32_t drop, uint32_t index, char* buffer, uint32_t size);
void PlatformDragFinish(uint32_t drop);
// Renames `from` over `to`, replacing it; false when that failed.
bool PlatformReplaceFile(const char* from, const char* to);

// Strings, text, clipboard.
int32_t PlatformLoadString(uint32_t id, char* buffer, int32_t size);
int32_t PlatformDrawText(int32_t x, int32_t y, int32_t height, const char* text, bool setColour, uint32_t colour);
void PlatformSetBackColour(uint32_t colour);
uint32_t PlatformBackColour();
void PlatformCopyToClipboard();
void PlatformShowError(const char* text, const char* caption);

// The end of the process: the platform releases what it made (the font of
// the text calls among it) and has its last words before exit.
void PlatformShutdown(int32_t code);

// The services each platform (headless, GTK, Win32, web) provides beneath the
// framework, named for what the program needs. Nothing above framework/ calls
// these except through the framework's own operations; each backend
// implements all of them in its own folder. Platforms without a message queue
// of their own (all but Win32) take the message calls from the shared queue
// (framework/message_queue.h) and feed it with their input.
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

// Window and picture. The surface is an 8-bit indexed image whose pixel bytes
// the program addresses directly (on Win32 the bits of a DIB section); the
// window shows it through its colour table, unscaled from the client corner.
//
// Creates the one window, hidden, with a client area of exactly the given
// size that the user cannot resize; reports that size with WmSize.
WindowHandle PlatformCreateWindow(const char* title, int32_t clientWidth, int32_t clientHeight);
// Null when the surface cannot be made.
uint8_t* PlatformCreateSurface(int32_t width, int32_t height);
void PlatformReleaseSurface();
void PlatformSetColourTable(int32_t first, int32_t count, const uint8_t (*bgra)[4]);
void PlatformShowWindow();
// Sends WmDestroy to the window procedure as the window goes.
void PlatformDestroyWindow();
// Shows the surface's top-left width x height pixels as they are now.
void PlatformPresent(int32_t width, int32_t height);
// Asks for a WmPaint once the queue has nothing else.
void PlatformInvalidate();
// Puts the logical palette in force; returns how many display colours
// changed. Only a palette-based display has one: elsewhere this does nothing
// and returns 0.
int32_t PlatformRealizePalette(const uint8_t (*bgra)[4], int32_t count);

// Messages.
// Removes the next pending message without blocking; false when none.
bool PlatformPeekMessage(PlatformMessage* msg);
// Adds the character message of a key press, as the platform's keyboard does.
void PlatformTranslateMessage(const PlatformMessage& msg);
// Hands a message to the window procedure of the window it is for.
void PlatformDispatchMessage(const PlatformMessage& msg);
void PlatformPostMessage(uint32_t message, uint32_t wParam, int32_t lParam);
void PlatformPostQuit(uint32_t code);
// The platform's own handling of a message no handler took: its system
// commands (ScClose asks the window to close with WmClose; WmClose destroys
// it), and nothing for the rest.
int32_t PlatformDefWindowProc(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
// Called at the start of every PumpMessages: the moment to gather input
// that has arrived, without blocking.
void PlatformPumpBegin();
// Blocks until a message is pending or timeoutMs have passed.
void PlatformWaitMessage(uint32_t timeoutMs);

// Time.
uint32_t PlatformTicks();
uint32_t PlatformClockSeconds();

// Mouse. While captured, the window keeps getting mouse messages when the
// pointer leaves it, with coordinates beyond its edges.
void PlatformSetCapture();
void PlatformReleaseCapture();
void PlatformCursorPos(int32_t* x, int32_t* y, int32_t* buttons);

// The window's menu of commands (on Win32 its system menu): the platform's
// standard items come first. A chosen item posts WmSysCommand with its id.
MenuHandle PlatformGetSystemMenu();
MenuHandle PlatformCreateMenu();
// flags: MfString (idOrPopup is the command id), MfPopup (idOrPopup is a menu
// from PlatformCreateMenu) or MfSeparator.
void PlatformAppendMenu(MenuHandle menu, uint32_t flags, uintptr_t idOrPopup, const char* text);
// Sets (MfChecked) or removes the check mark of the item with that id,
// wherever it stands; no effect when no item has it.
void PlatformCheckMenuItem(MenuHandle menu, uint32_t id, uint32_t flags);

// The modal About dialog with the program's texts (resources/about.h). The
// owner takes no input while it is open. The dialog reports to proc:
// WmInitDialog once, WmCommand 1 for its OK button or Enter, WmCommand 2 for
// Escape, WmClose for its close box; it ends when proc calls
// PlatformEndDialog, whose result it returns.
using DialogProc = int32_t (*)(WindowHandle, uint32_t, uint32_t, int32_t);
int32_t PlatformAboutDialog(DialogProc proc);
void PlatformEndDialog(WindowHandle dialog, int32_t result);

// File drops: a drop on the window posts WmDropFiles whose wParam names it.
void PlatformAcceptDrops();
// Copies the local path of file `index` of the drop into buffer (at most
// size - 1 characters, then a zero); returns the path's full length, 0 when
// there is no such file.
uint32_t PlatformDroppedFile(uint32_t drop, uint32_t index, char* buffer, uint32_t size);
// The drop's names are no longer needed.
void PlatformDropDone(uint32_t drop);

// Strings, text, clipboard, errors.
int32_t PlatformLoadString(uint32_t id, char* buffer, int32_t size);
// Draws text into the surface (and returns the platform's result). The
// program draws none; a platform may draw nothing and return 0, which keeps
// the surface's bytes alike everywhere.
int32_t PlatformDrawText(int32_t x, int32_t y, int32_t height, const char* text, bool setColour, uint32_t colour);
void PlatformSetBackColour(uint32_t colour);
uint32_t PlatformBackColour();
// A copy of the surface as a picture; nothing where there is no clipboard.
void PlatformCopyToClipboard();
// The one message box the program shows (a modal box with an OK button; one
// line on standard error where there is no screen).
void PlatformShowError(const char* text, const char* caption);

// The end of the process: the platform releases what it made (the font of
// the text calls among it) and has its last words before exit.
void PlatformShutdown(int32_t code);

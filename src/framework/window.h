// The one fixed window, its off-screen surface, and the window procedure with
// its handler registry.
#pragma once
#include <cstddef>
#include <cstdint>

#include "framework/messages.h"

constexpr int32_t SurfaceWidth = 336;
constexpr int32_t SurfaceHeight = 402;

// The surface's pixel bytes, SurfaceWidth x SurfaceHeight, top row first.
extern uint8_t* SurfaceBits;
extern WindowHandle MainWindow;
extern int32_t ClientWidth;
extern int32_t ClientHeight;
extern int32_t HasFocus;
// Set when another program changed the display's palette; acted on by the
// next pump (framework/pump.h).
extern int32_t PaletteChanged;

struct HandlerNode {
    uint32_t message;
    MessageHandler handler;
    HandlerNode* next;
};
extern HandlerNode* HandlerList;

// The process's arguments, as the entry point received them.
void SetProgramArguments(int argc, char** argv);
int ProgramArgumentCount();
char** ProgramArguments();

// Opens the (hidden) window and its white surface; 0 when the surface
// cannot be made, which the error box says.
int32_t AppCreateWindow();
void ShowMainWindow();
// The window goes (WmDestroy follows, and the quit after it).
void CloseMainWindow();
// Keeps the mouse's messages coming to the window while a button is held.
void CaptureMouse(bool held);

int32_t WndProc(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
void AddHandler(uint32_t message, MessageHandler handler);
// Runs the handler registered last for the message, and nothing else (no
// built-in handling): how a recorded session hands its input over again.
// 0 when there is none.
int32_t CallHandler(uint32_t message, uint32_t wParam, int32_t lParam);
// What the program asks of the window for its own records, offered once
// at start-up (null: nothing): `watch` is told of every message for the
// main window before its handler runs; `beforeLongWait` is called before
// the program may block for longer than a frame (a stand-still with
// nothing pending, a modal dialog, a message box), for whoever must have
// written what is due by then.
struct ProgramHooks {
    void (*watch)(uint32_t message, uint32_t wParam, int32_t lParam) = nullptr;
    void (*beforeLongWait)() = nullptr;
};
void SetProgramHooks(const ProgramHooks& hooks);
// The program's beforeLongWait, where it offered one.
void BeforeLongWait();
// What the window does with a message no handler took: the platform's own
// commands, else closing on a close request.
int32_t DefaultProcedure(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);

// The surface's picture, 336 x 402 through the palette in force, on the
// system clipboard.
void CopyToClipboard();

// Offers the bytes to the user as a file (PlatformSaveFileStart); a failure
// is told in the error box. 1 saved, 0 the user chose not to, -1 it could
// not be written.
int32_t OfferFile(const char* name, const char* kind, const uint8_t* bytes, size_t size);

// A file offered in parts, for bytes too many to hold at once: the
// PlatformSaveFile calls, with the same results.
int32_t OfferFileStart(const char* name, const char* kind, char* failure, size_t failureSize);
bool OfferFilePart(const uint8_t* bytes, size_t size, char* failure, size_t failureSize);
int32_t OfferFileEnd(bool keep, char* failure, size_t failureSize);

// How far the program's own long work is (0 to 1000, below 0: done), with
// its Cancel (PlatformShowProgress).
void ShowProgress(const char* text, int32_t permille);
// The window's button for a key's command offered or greyed out.
void EnableKeyButton(uint32_t character, bool enabled);
// What the layout in force labels the key of Latin letter `letter` with
// (PlatformKeyLabel), and the list of the keys shown (PlatformShowKeys).
int32_t KeyLabel(uint32_t letter, char* buffer, int32_t size);
void ShowKeysList(const char* text, const char* caption);

// The status the process ends with once the window has gone (0 unless
// something the user asked for was lost).
void SetExitStatus(int32_t status);

// The error box.
void ShowError(const char* text, const char* caption);
// A note that stops nothing: in or beside the window until it is read.
void ShowNote(const char* text, const char* caption);
// "caption: text" on standard error, for whoever started the program from
// a terminal or a script: a cause the box or note leaves out, or what
// happens as the session ends, when no box can be shown.
void ShowLine(const char* text, const char* caption);
// The first file of a drop (WmDropFiles's wParam), after which the drop is
// done with: its length, 0 when there is none.
uint32_t DroppedFileName(uint32_t drop, char* buffer, uint32_t size);

// Back to the state at process start, with no handler.
void WindowReset();

// What Talvo needs from the platform it runs on: one window showing an 8-bit
// picture, the input that comes to it, the time, its menu, the About dialog,
// the error box and the end; and what the library offers besides (the
// pointer, the clipboard, text). The framework above calls these and nothing
// else; a backend is one folder that implements every one of them
// (framework/headless is the smallest). Messages carry the Win32 numbers of
// framework/messages.h on every platform, so the window procedure and the
// program's handlers are the same everywhere; where the platform has no
// message queue of its own, framework/queue keeps one.
#pragma once
#include <cstddef>
#include <cstdint>

#include "framework/messages.h"

struct PlatformMessage {
    WindowHandle window;
    uint32_t message;
    uint32_t wParam;
    int32_t lParam;
};

// The surface: pixel bytes, top row first with no gap between rows, and a
// colour table of 256 entries (blue, green, red, 0), both owned by the
// platform and written directly by the program. What the window shows is
// the pixels through the colour table, unscaled from the client corner.
struct PlatformWindow {
    WindowHandle window;
    uint8_t* pixels;
    uint8_t (*colours)[4];
};

constexpr uint32_t PlatformForever = 0xFFFFFFFFu;

// --- The window and its picture.

// Opens the one window, hidden, with a client area of exactly width x
// height that the user cannot resize, its surface, and accepting files
// dropped on it. Every message for the window goes to `procedure`, the size
// of the client area first. `pixels` is null when the surface cannot be
// made.
PlatformWindow PlatformOpenWindow(const char* title, int32_t width, int32_t height, MessageHandler procedure);
void PlatformShowWindow();
// The window goes: WmDestroy reaches the procedure as it does.
void PlatformCloseWindow();
// Shows the surface's top-left width x height pixels as they are now.
void PlatformPresent(int32_t width, int32_t height);
// On a display with a palette of its own, asks for these colours (count 0:
// those asked for last) and returns how many display colours changed; with
// `repaint`, a change has the window painted anew (WmPaint). Elsewhere
// nothing changes: 0.
int32_t PlatformMatchDisplayColours(const uint8_t (*colours)[4], int32_t count, bool repaint);
// Holds the mouse for the window (or lets it go): while held, the window
// keeps getting mouse messages when the pointer leaves it.
void PlatformCaptureMouse(bool held);

// --- Input and time.

// Removes the next message for the program, without waiting; false when
// none is there.
bool PlatformNextMessage(PlatformMessage* msg);
// Hands a message to the procedure of the window it is for. A key press
// brings the character it makes as a message of its own (WmChar after
// WmKeyDown), as Win32's TranslateMessage adds it.
void PlatformHandleMessage(const PlatformMessage& msg);
// Waits until input is there or `milliseconds` have passed (PlatformForever:
// no limit). A wait of 0 takes in what has arrived without waiting; each
// pump of the framework starts with one.
void PlatformWaitInput(uint32_t milliseconds);
// Takes in what has arrived, as a wait of 0 does, while the program is busy
// between two frames (G's progress): no frame starts with it.
void PlatformTakeInput();
// What the window shows over the surface until the next call: at each of
// `count` positions of the surface the byte given, through the same colour
// table (the pen's preview, the keyboard's cursor). The surface is not
// changed; every present and repaint from now on shows them.
void PlatformSetOverlay(const int32_t* positions, const uint8_t* bytes, size_t count);
// The modifier keys held as the message being handled was made (MkShift,
// MkControl), as Win32's GetKeyState tells them in step with the messages.
uint32_t PlatformKeyModifiers();
// Ends the message loop: WmQuit with the code comes after what is waiting.
void PlatformPostQuit(uint32_t code);
// The platform's own handling of a message the program leaves to it (its
// standard system commands). True, with the result, when it has one; false
// when it leaves the message to the framework's (framework/window.cpp).
bool PlatformDefault(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam, int32_t* result);
// Milliseconds, counting up and wrapping at 2^32.
uint32_t PlatformTicks();

// --- The window's menu (on Win32 its system menu), after the platform's
// own items. Menu 0 is the window's menu; the framework numbers the others.

// Adds an item at the end of menu `menu`: kind MfString (a command with the
// id), MfSeparator, or MfPopup (the item opens menu `popup`). A chosen
// command comes as WmSysCommand with its id.
void PlatformMenuAdd(int32_t menu, uint32_t kind, uint32_t id, int32_t popup, const char* text);
// Sets or removes the mark of item `position` of menu `menu`, whose id is
// `id`.
void PlatformMenuMark(int32_t menu, int32_t position, uint32_t id, bool marked);

// --- Dialogs and messages.

// The About dialog with the program's texts, modal: the window takes no input
// while it is open. A platform with a dialog loop of its own runs it here
// and returns the dialog's result, its input going to `proc`; any other
// shows it, sets *shown to its handle and returns 0, and its input (WmCommand
// 1 for OK or Enter, 2 for Escape, WmClose for its close box) comes as
// messages for that handle until PlatformEndAbout.
int32_t PlatformAbout(DialogProc proc, WindowHandle* shown);
void PlatformEndAbout(int32_t result);
// A message for the user. Not a note: a modal box with an OK button, which
// the window waits for (one line on standard error where there is no
// screen). A note: shown without stopping anything, in or beside the window,
// until the user dismisses it or it has been read.
void PlatformShowMessage(const char* text, const char* caption, bool note);
// The string of the program's string table with that id (at most size - 1
// characters and a zero); its length, 0 when there is none.
int32_t PlatformLoadString(uint32_t id, char* buffer, int32_t size);
// The English text in the language the platform's usual way chooses
// (gettext's LANGUAGE and LANG, Windows' UI language, the browser's
// languages); null where that language has no such text.
const char* PlatformTranslate(const char* english);
// The local path of the first file of the drop that WmDropFiles's wParam
// names (at most size - 1 characters and a zero); its full length, 0 when
// there is none. The drop is done with afterwards.
uint32_t PlatformTakeDroppedName(uint32_t drop, char* buffer, uint32_t size);

// --- What the library offers beyond the program's own needs: where the
// pointer is, the clipboard, text.

// Where the pointer is now, in client coordinates (negative or beyond the
// client area when it is outside), and the buttons held now: bit 0 left,
// bit 1 right. Asks the platform; the message queue is not touched.
void PlatformPointer(int32_t* x, int32_t* y, int32_t* buttons);
// Puts the surface's top-left width x height pixels, through its colour
// table as it is now, on the system clipboard as a picture.
void PlatformCopyToClipboard(int32_t width, int32_t height);

// Text in the platform's font. The surface's colour table gives the two
// colours' entries (`ink`, `paper`) for a platform that draws into the
// surface bytes itself.
struct PlatformTextRequest {
    // The font's height: the cell height when positive, the character
    // height when negative, as Win32 fonts take it.
    int32_t height;
    int32_t x, y;
    // Null: only the font is made, nothing drawn.
    const char* text;
    // Colour values (red in the low byte).
    uint32_t colour, background;
    uint8_t ink, paper;
    // Into the window as well as into the surface.
    bool intoWindow;
};
// Makes the font of that height (each call makes a new one), then draws the
// text with its top left at (x, y) in `colour` on an opaque box of
// `background`. The surface draw's result: 0 when nothing was drawn.
int32_t PlatformText(const PlatformTextRequest& request);

// Offers the user a file of `kind` (a MIME type) whose bytes come in parts:
// on the desktop the platform's save dialog, in the user's folder for such
// files (pictures; documents for a scene), never the program's data folder,
// suggesting `name`, or a name beside it where that is taken; the file is
// made under a side name until it is whole. On a page, a download once it
// is whole; without a screen, the file `name` in the current folder. 1 when
// the bytes may come, 0 when the user chose not to, -1 when it cannot be
// made (`failure` says why). One file at a time. A dialog gives way to the
// end of the session, as About does.
int32_t PlatformSaveFileStart(const char* name, const char* kind, char* failure, size_t failureSize);
// The next bytes; false, with `failure`, when they cannot be written.
bool PlatformSaveFilePart(const uint8_t* bytes, size_t size, char* failure, size_t failureSize);
// The file is whole and takes its name (`keep`), or is dropped. 1 when
// saved, 0 when dropped, -1 when it could not be kept (`failure`).
int32_t PlatformSaveFileEnd(bool keep, char* failure, size_t failureSize);

// Work that holds the window for a while (an animation being made): `text`
// and how far it is (0 to 1000) shown in or beside the window, with a
// Cancel button whose press comes as WmCommand IdCancel for the main
// window; a permille below 0 takes it away.
void PlatformShowProgress(const char* text, int32_t permille);

// The window's button for the key that types `character` (Undo, Redo) is
// offered or greyed out; nothing where the platform has no such button.
void PlatformEnableButton(uint32_t character, bool enabled);

// --- The list of the window's keys (ui/key_list.h).

// What the key with the Latin meaning `letter` ('A' to 'Z', the program's
// virtual key) types on the layout in force, as its label shows it: in
// UTF-8, upper case (at most size - 1 bytes and a zero); its length, 0
// where the platform cannot tell (the Latin letter then stands).
int32_t PlatformKeyLabel(uint32_t letter, char* buffer, int32_t size);
// Shows the list: one key a line, the keys, a tab and what they do. It
// stops nothing and the window keeps its input; OK, Escape or its close
// box takes it away. Shown again while it is up, its text is renewed.
void PlatformShowKeys(const char* text, const char* caption);

// --- The field's size (framework/zoom.h).

// The choice the window shows before the player makes one: 1 (one whole
// step of the desktop's scale), ZoomFit on a page; -1 where the platform
// shows the field at one size only.
int32_t PlatformZoomDefault();
// Shows the field at that choice: every cell a square of whole device
// pixels, the window's client area sized to it; the pointer's positions
// still come as cells.
void PlatformSetZoom(int32_t choice);

// --- The end of the process: the platform releases what it made and has
// its last words.
void PlatformShutdown(int32_t code);

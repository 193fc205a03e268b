// The platform on Win32 itself: a registered window class whose procedure
// hands every message to the framework's window procedure, the real message
// queue and default window procedure, an 8-bit DIB section as the surface
// (our rasteriser writes its bits, GDI only shows them), a logical palette,
// the system menu, the About dialog from the resources with its own modal
// loop, the string table, and shell drops.
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include <vector>

#include "framework/platform.h"
#include "framework/save_file.h"
#include "framework/strings.h"
#include "framework/win32/win32.h"
#include "resources/about.h"
#include "resources/translations.h"

// The framework's numbers are the Win32 ones.
static_assert(WmDestroy == WM_DESTROY && WmSize == WM_SIZE && WmSetFocus == WM_SETFOCUS &&
              WmKillFocus == WM_KILLFOCUS && WmPaint == WM_PAINT && WmClose == WM_CLOSE && WmQuit == WM_QUIT &&
              WmQueryEndSession == WM_QUERYENDSESSION && WmEndSession == WM_ENDSESSION);
static_assert(WmKeyDown == WM_KEYDOWN && WmChar == WM_CHAR && WmInitDialog == WM_INITDIALOG &&
              WmCommand == WM_COMMAND && WmSysCommand == WM_SYSCOMMAND && IdCancel == IDCANCEL);
static_assert(WmMouseMove == WM_MOUSEMOVE && WmLButtonDown == WM_LBUTTONDOWN && WmLButtonUp == WM_LBUTTONUP &&
              WmRButtonDown == WM_RBUTTONDOWN && WmRButtonUp == WM_RBUTTONUP && WmDropFiles == WM_DROPFILES);
static_assert(WmQueryNewPalette == WM_QUERYNEWPALETTE && WmPaletteIsChanging == WM_PALETTEISCHANGING &&
              WmPaletteChanged == WM_PALETTECHANGED);
static_assert(ScSize == SC_SIZE && ScMove == SC_MOVE && ScMinimize == SC_MINIMIZE && ScMaximize == SC_MAXIMIZE &&
              ScClose == SC_CLOSE && ScRestore == SC_RESTORE);
static_assert(MkLButton == MK_LBUTTON && MkRButton == MK_RBUTTON);
static_assert(VkBack == VK_BACK && VkTab == VK_TAB && VkReturn == VK_RETURN && VkEscape == VK_ESCAPE &&
              VkSpace == VK_SPACE && VkShift == VK_SHIFT && VkControl == VK_CONTROL && VkF1 == VK_F1 && VkLeft == VK_LEFT && VkUp == VK_UP && VkRight == VK_RIGHT &&
              VkDown == VK_DOWN && VkDelete == VK_DELETE);
static_assert(VkOemPlus == VK_OEM_PLUS && VkOemMinus == VK_OEM_MINUS && VkAdd == VK_ADD && VkSubtract == VK_SUBTRACT &&
              VkNumpad0 == VK_NUMPAD0);
static_assert(MfString == MF_STRING && MfUnchecked == MF_UNCHECKED && MfChecked == MF_CHECKED &&
              MfPopup == MF_POPUP && MfSeparator == MF_SEPARATOR);
static_assert(PlatformForever == INFINITE);
// Messages travel through the framework as 32-bit values unchanged.
static_assert(sizeof(WPARAM) == 4 && sizeof(LPARAM) == 4 && sizeof(LRESULT) == 4 && sizeof(void*) == 4);

namespace {

// The field's size: the player's choice (1 to 4) times the monitor's
// scale rounded to a whole step (100 %: 1, 150 % and 200 %: 2), as the
// device pixels a cell takes; the window's DPI they came from.
struct ZoomState {
    int32_t choice = 1;
    UINT dpi = USER_DEFAULT_SCREEN_DPI;
    int32_t cell = 1;
};

struct OverlayCell {
    int32_t at;
    uint8_t byte;
};

// The window, its surface and everything Windows gave the program, in one
// place.
struct Win32State {
    HINSTANCE Instance = nullptr;
    HWND Window = nullptr;
    MessageHandler Procedure = nullptr;
    HDC WindowDc = nullptr;
    HDC SurfaceDc = nullptr;
    HBITMAP SurfaceBitmap = nullptr;
    HGDIOBJ SurfaceKeptBitmap = nullptr;
    // The surface's colour table as the program writes it, and as the DIB
    // section last got it: it is handed over before the DIB is shown.
    uint8_t Colours[256][4] = {};
    RGBQUAD DibColours[256] = {};
    HPALETTE Palette = nullptr;
    PALETTEENTRY PaletteEntries[256];
    int32_t PaletteCount = 0;
    HBRUSH DialogBrush = nullptr;
    DialogProc AboutProc = nullptr;
    HWND AboutDialog = nullptr;
    // The list of the keys on show (OpenKeysWindow).
    HWND KeysWindow = nullptr;
    // The one message record of the pumps.
    MSG Current = {};
    // The text font: made by each text call, selected into both DCs, and the
    // fonts it replaced there, put back before it goes.
    HFONT Font = nullptr;
    HGDIOBJ WindowKeptFont = nullptr;
    HGDIOBJ SurfaceKeptFont = nullptr;
    // The background colour last set on both DCs.
    COLORREF BackColour = RGB(255, 255, 255);
    // The menus by the framework's number: 0 the system menu, the others made
    // when first named.
    std::vector<HMENU> Menus;
    // Ids of the program's own menu items: popups of the system menu report
    // them as WM_COMMAND under Wine, which the program takes as a system command.
    uint32_t CommandIds[64];
    int32_t CommandIdCount = 0;
    // The field's size (ZoomState).
    ZoomState Zoom;
    // The progress window (PlatformShowProgress), its text and its bar, and the
    // DPI it was laid out for.
    HWND ProgressWindow = nullptr;
    HWND ProgressLabel = nullptr;
    int32_t ProgressPermille = 0;
    UINT ProgressDpi = USER_DEFAULT_SCREEN_DPI;
    // The surface's bytes and size, and what the window shows over them.
    uint8_t* SurfaceBytesOf = nullptr;
    int32_t SurfaceColumns = 0, SurfaceRows = 0;
    std::vector<OverlayCell> Overlay;
};

Win32State G;

constexpr char ClassName[] = "TALVO";
constexpr DWORD WindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

// The DPI calls of Windows 10 where there are any (the program runs on
// Vista too, where the system's DPI is all there is).
UINT SystemDpi()
{
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

UINT DpiOf(HWND window)
{
    using GetDpi = UINT(WINAPI*)(HWND);
    static const auto get = reinterpret_cast<GetDpi>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    const UINT dpi = get && window ? get(window) : 0;
    return dpi ? dpi : SystemDpi();
}

void AdjustForDpi(RECT* frame, DWORD style, DWORD extended, UINT dpi)
{
    using Adjust = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = reinterpret_cast<Adjust>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "AdjustWindowRectExForDpi")));
    if (!adjust || !adjust(frame, style, FALSE, extended, dpi)) AdjustWindowRectEx(frame, style, FALSE, extended);
}

int Scaled(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI); }

int32_t CellPixels(UINT dpi, int32_t choice)
{
    const int32_t step = static_cast<int32_t>((dpi + USER_DEFAULT_SCREEN_DPI / 2) / USER_DEFAULT_SCREEN_DPI);
    return (step < 1 ? 1 : step) * choice;
}

// A window pixel's cell, beyond the edges too (floor, not toward zero).
int32_t CellOf(int32_t pixel) { return pixel >= 0 ? pixel / G.Zoom.cell : -((-pixel + G.Zoom.cell - 1) / G.Zoom.cell); }

LPARAM CellPoint(LPARAM lParam)
{
    const int32_t x = static_cast<int16_t>(LOWORD(lParam)), y = static_cast<int16_t>(HIWORD(lParam));
    return static_cast<LPARAM>(PackPoint(CellOf(x), CellOf(y)));
}

// The zoom key Ctrl is held with, by what the key types on the layout in
// force with Shift as held (Shift+0 types "=" on a German keyboard, the 6
// key "-" on a French one), else with Shift the other way, else by Windows'
// own names of the US keys; the keypad's by their own. 0 for any other key.
WPARAM ZoomKey(WPARAM key)
{
    if (key == VK_ADD || key == VK_SUBTRACT || key == VK_NUMPAD0) return key;
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    static const struct {
        wchar_t typed;
        WPARAM zoom;
    } Typed[] = {{L'+', VK_OEM_PLUS}, {L'=', VK_OEM_PLUS}, {L'-', VK_OEM_MINUS}, {L'0', '0'}};
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& t : Typed) {
            const SHORT scan = VkKeyScanW(t.typed);
            if (scan == -1 || LOBYTE(scan) != key || (HIBYTE(scan) & 6)) continue;
            if (((HIBYTE(scan) & 1) != 0) == (shift != (pass == 1))) return t.zoom;
        }
    return key == VK_OEM_PLUS || key == VK_OEM_MINUS || key == '0' ? key : 0;
}

// The window's client area as whole cells at the zoom in force, placed at
// `at` (the rectangle Windows suggests on a change of DPI) or where it is.
void FitWindow(const RECT* at)
{
    if (!G.Window) return;
    const int width = 336 * G.Zoom.cell, height = 402 * G.Zoom.cell;
    RECT frame = {0, 0, width, height};
    AdjustForDpi(&frame, WindowStyle, 0, G.Zoom.dpi);
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (at ? 0 : SWP_NOMOVE);
    SetWindowPos(G.Window, nullptr, at ? at->left : 0, at ? at->top : 0, frame.right - frame.left,
                 frame.bottom - frame.top, flags);
    // A caption that wraps or a theme's frame: the client area is made
    // exact by what it came to.
    RECT client = {};
    GetClientRect(G.Window, &client);
    const int dw = width - client.right, dh = height - client.bottom;
    if (dw || dh)
        SetWindowPos(G.Window, nullptr, 0, 0, frame.right - frame.left + dw, frame.bottom - frame.top + dh,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    InvalidateRect(G.Window, nullptr, FALSE);
}

void ApplyZoom(UINT dpi, const RECT* at)
{
    G.Zoom.dpi = dpi;
    G.Zoom.cell = CellPixels(dpi, G.Zoom.choice);
    FitWindow(at);
}

bool IsProgramCommand(uint32_t id)
{
    for (int32_t i = 0; i < G.CommandIdCount; ++i)
        if (G.CommandIds[i] == id) return true;
    return false;
}

int32_t ToProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (G.Procedure) return G.Procedure(window, message, static_cast<uint32_t>(wParam), static_cast<int32_t>(lParam));
    return static_cast<int32_t>(DefWindowProcA(window, message, wParam, lParam));
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        ToProcedure(window, message, wParam, lParam);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_COMMAND:
        if (lParam == 0 && HIWORD(wParam) == 0 && IsProgramCommand(LOWORD(wParam)))
            return ToProcedure(window, WM_SYSCOMMAND, LOWORD(wParam), 0);
        break;
    case WM_CHAR:
        // Ctrl+Shift+Z makes the character of Ctrl+Z: it redoes, as Ctrl+Y.
        if (wParam == 26 && GetKeyState(VK_SHIFT) < 0) wParam = 25;
        break;
    case WM_KEYDOWN:
        if (GetKeyState(VK_CONTROL) < 0) {
            if (const WPARAM zoom = ZoomKey(wParam)) wParam = zoom;
        }
        break;
    // The program knows cells: the client area and the pointer are in
    // them at every zoom.
    case WM_SIZE:
        lParam = static_cast<LPARAM>(PackPoint(LOWORD(lParam) / G.Zoom.cell, HIWORD(lParam) / G.Zoom.cell));
        break;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        lParam = CellPoint(lParam);
        break;
    case WM_DPICHANGED:
        // Moved to a monitor of another scale: the cells stay whole there.
        if (window == G.Window) ApplyZoom(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DESTROY:
        if (G.DialogBrush) DeleteObject(G.DialogBrush);
        G.DialogBrush = nullptr;
        break;
    default:
        break;
    }
    return ToProcedure(window, message, wParam, lParam);
}

void RecordLayout(HWND window, const char* what);

// The program's text (UTF-8) in UTF-16; an English text that has no such
// form cannot come, but would show empty rather than as another.
std::wstring Wide(const char* text)
{
    std::wstring wide;
    if (!text || !Win32Widen(text, &wide)) wide.clear();
    return wide;
}

// The resource's English texts (the caption and every control's) in the
// player's language; the version goes into the product's line.
void TranslateDialog(HWND dialog)
{
    const auto translate = [](HWND window) {
        wchar_t text[512] = L"";
        GetWindowTextW(window, text, 512);
        std::string english;
        if (!text[0] || !Win32Narrow(text, &english)) return;
        const std::string shown = english == TALVO_ABOUT_PRODUCT
                                      ? TranslatedWith(TALVO_ABOUT_PRODUCT_FORMAT, {TALVO_VERSION})
                                      : std::string(Translated(english.c_str()));
        if (shown != english) SetWindowTextW(window, Wide(shown.c_str()).c_str());
    };
    translate(dialog);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        // A picture's text is its resource's name.
        wchar_t kind[16] = L"";
        GetClassNameW(child, kind, 16);
        if (_wcsicmp(kind, L"Static") != 0 || (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) translate(child);
    }
}

// Where a translated text is wider than the line the resource gave it, the
// line grows to it; a line beside it moves along, and the dialog grows to
// hold them all, its button staying in the middle. English fits as laid out.
void FitDialogToText(HWND dialog)
{
    struct Control {
        HWND window;
        RECT at;
        bool text;
    };
    std::vector<Control> controls;
    const HDC dc = GetDC(dialog);
    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    const HGDIOBJ kept = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    bool grown = false;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        Control control = {child, {}, false};
        GetWindowRect(child, &control.at);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&control.at), 2);
        wchar_t kind[16] = L"", text[512] = L"";
        GetClassNameW(child, kind, 16);
        control.text = _wcsicmp(kind, L"Static") == 0 && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON;
        if (control.text) {
            GetWindowTextW(child, text, 512);
            SIZE line = {};
            GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &line);
            if (line.cx > control.at.right - control.at.left) {
                control.at.right = control.at.left + line.cx + 2;
                grown = true;
            }
        }
        controls.push_back(control);
    }
    SelectObject(dc, kept);
    ReleaseDC(dialog, dc);
    RECT client = {};
    GetClientRect(dialog, &client);
    const int margin = MulDiv(8, static_cast<int>(DpiOf(dialog)), USER_DEFAULT_SCREEN_DPI);
    // A line that begins where one left of it on its row now ends goes after
    // it, and one under the icon (whose size is its picture's, whatever the
    // font) beside it; from the left, so that a row moves along as a whole.
    std::vector<Control*> byLeft;
    for (Control& c : controls) byLeft.push_back(&c);
    std::stable_sort(byLeft.begin(), byLeft.end(), [](const Control* a, const Control* b) { return a->at.left < b->at.left; });
    for (size_t i = 0; i < byLeft.size(); ++i)
        for (size_t j = 0; j < i; ++j) {
            const Control &left = *byLeft[j];
            Control& right = *byLeft[i];
            const bool row = left.at.top < right.at.bottom && right.at.top < left.at.bottom;
            wchar_t kind[16] = L"";
            GetClassNameW(left.window, kind, 16);
            const bool icon = !left.text && _wcsicmp(kind, L"Static") == 0;
            if (!right.text || !row || !(left.text || icon)) continue;
            const int overlap = left.at.right + (left.text ? margin : 0) - right.at.left;
            if (overlap > 0 && (left.text ? grown : true)) {
                OffsetRect(&right.at, overlap, 0);
                grown = true;
            }
        }
    if (!grown) return;
    int width = client.right;
    for (const Control& c : controls) width = std::max<int>(width, c.at.right + margin);
    for (Control& c : controls) {
        if (!c.text) {
            wchar_t kind[16] = L"";
            GetClassNameW(c.window, kind, 16);
            if (_wcsicmp(kind, L"Button") == 0) OffsetRect(&c.at, (width - client.right) / 2, 0);
        }
        MoveWindow(c.window, c.at.left, c.at.top, c.at.right - c.at.left, c.at.bottom - c.at.top, FALSE);
    }
    RECT frame = {0, 0, width, client.bottom};
    AdjustForDpi(&frame, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)),
                 static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)), DpiOf(dialog));
    SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(dialog, nullptr, TRUE);
}

// About in its font's own dialog units: Windows lays a dialog out so at
// every DPI, but Wine at a high DPI gives the system font's dialog lines
// twice the font's height (at 192 DPI About grew to 986 x 612). Where the
// dialog came out more than a tenth off that size, it and its controls
// are scaled to it; at 96 DPI, and on Windows, it stays as it came.
void FitDialogToFont(HWND dialog)
{
    const HRSRC found = FindResourceA(G.Instance, "DIALOG_1", reinterpret_cast<LPCSTR>(RT_DIALOG));
    const HGLOBAL loaded = found ? LoadResource(G.Instance, found) : nullptr;
    const auto* layout = static_cast<const DLGTEMPLATE*>(loaded ? LockResource(loaded) : nullptr);
    if (!layout || layout->cx <= 0 || layout->cy <= 0) return;
    const HDC dc = GetDC(dialog);
    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    const HGDIOBJ kept = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    SIZE letters = {};
    GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
    SelectObject(dc, kept);
    ReleaseDC(dialog, dc);
    const int unitX = (letters.cx / 26 + 1) / 2, unitY = metrics.tmHeight;
    RECT client = {};
    GetClientRect(dialog, &client);
    const int width = MulDiv(layout->cx, unitX, 4), height = MulDiv(layout->cy, unitY, 8);
    if (unitX <= 0 || unitY <= 0 || client.right <= 0 || client.bottom <= 0) return;
    if (std::abs(client.right - width) * 10 <= width && std::abs(client.bottom - height) * 10 <= height) return;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT at = {};
        GetWindowRect(child, &at);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&at), 2);
        const int left = MulDiv(at.left, width, client.right), top = MulDiv(at.top, height, client.bottom);
        MoveWindow(child, left, top, MulDiv(at.right, width, client.right) - left,
                   MulDiv(at.bottom, height, client.bottom) - top, FALSE);
    }
    RECT frame = {0, 0, width, height};
    AdjustForDpi(&frame, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)),
                 static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)), DpiOf(dialog));
    SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(dialog, nullptr, TRUE);
}

INT_PTR CALLBACK AboutProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<INT_PTR>(G.DialogBrush);
    case WM_INITDIALOG: {
        G.AboutDialog = dialog;
        TranslateDialog(dialog);
        const INT_PTR result = G.AboutProc ? G.AboutProc(dialog, message, wParam, lParam) : 0;
        FitDialogToFont(dialog);
        FitDialogToText(dialog);
        RecordLayout(dialog, "about");
        return result;
    }
    default:
        return G.AboutProc ? G.AboutProc(dialog, message, wParam, lParam) : 0;
    }
}

HMENU MenuNumbered(int32_t number)
{
    if (number < 0) return nullptr;
    while (static_cast<int32_t>(G.Menus.size()) <= number) G.Menus.push_back(CreateMenu());
    return G.Menus[static_cast<size_t>(number)];
}

// Hands the colours the program set since to the DIB section, whose
// colour table GDI reads when it copies the surface.
void SyncSurfaceColours()
{
    if (std::memcmp(G.Colours, G.DibColours, sizeof G.DibColours) == 0) return;
    std::memcpy(G.DibColours, G.Colours, sizeof G.DibColours);
    SetDIBColorTable(G.SurfaceDc, 0, 256, G.DibColours);
}

// A note: a small window of its own, owned by the main window but not
// disabling it, with the text and an OK button that closes it.
constexpr int NoteOk = 1;

LRESULT CALLBACK NoteProcedure(HWND note, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == NoteOk) {
        DestroyWindow(note);
        return 0;
    }
    if (message == WM_CLOSE) {
        DestroyWindow(note);
        return 0;
    }
    return DefWindowProcW(note, message, wParam, lParam);
}

// Where a small window of this outer height goes: below the main window,
// where it covers none of the field; above it where the screen ends
// first; over its foot only where neither has room.
int WindowBelowTop(int height)
{
    RECT owner = {};
    GetWindowRect(G.Window, &owner);
    MONITORINFO screen = {};
    screen.cbSize = sizeof screen;
    RECT work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromWindow(G.Window, MONITOR_DEFAULTTONEAREST), &screen)) work = screen.rcWork;
    int top = owner.bottom + 4;
    if (top + height > work.bottom) top = owner.top - 4 - height;
    if (top < work.top) top = owner.bottom - height - 8;
    return top;
}

// The dialog font (DEFAULT_GUI_FONT, which Windows makes for the system's
// DPI) for a window of that DPI; made once a DPI.
HFONT FontForDpi(UINT dpi)
{
    static HFONT made = nullptr;
    static UINT madeFor = 0;
    const HFONT stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    const UINT system = SystemDpi();
    if (dpi == system) return stock;
    if (made && madeFor == dpi) return made;
    LOGFONTW font = {};
    if (!GetObjectW(stock, sizeof font, &font)) return stock;
    font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(system));
    font.lfWidth = 0;
    const HFONT scaled = CreateFontIndirectW(&font);
    if (!scaled) return stock;
    if (made) DeleteObject(made);
    made = scaled;
    madeFor = dpi;
    return made;
}

// The height the text takes, wrapped at `width`, in that font.
int TextHeight(const std::wstring& text, HFONT font, int width)
{
    const HDC dc = GetDC(nullptr);
    const HGDIOBJ kept = SelectObject(dc, font);
    RECT box = {0, 0, width, 0};
    DrawTextW(dc, text.c_str(), -1, &box, DT_CALCRECT | DT_WORDBREAK);
    SelectObject(dc, kept);
    ReleaseDC(nullptr, dc);
    return box.bottom - box.top;
}

// TALVO_TEST_LAYOUT=1: each small window's layout on standard error (its
// client area, and each control's rectangle with the size its text needs
// there), for the tests that look at it under another DPI.
bool LayoutRecorded()
{
    static const bool wanted = [] {
        const char* asked = std::getenv("TALVO_TEST_LAYOUT");
        return asked && std::strcmp(asked, "1") == 0;
    }();
    return wanted;
}

void RecordLayout(HWND window, const char* what)
{
    if (!LayoutRecorded() || !window) return;
    RECT client = {};
    GetClientRect(window, &client);
    std::fprintf(stderr, "layout %s dpi=%u client=%ld,%ld\n", what, DpiOf(window), client.right, client.bottom);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t kind[32] = L"", text[512] = L"";
        GetClassNameW(child, kind, 32);
        GetWindowTextW(child, text, 512);
        RECT at = {};
        GetWindowRect(child, &at);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&at), 2);
        const HFONT font = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
        const HDC dc = GetDC(child);
        const HGDIOBJ kept = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
        RECT need = {0, 0, at.right - at.left, 0};
        DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK);
        SIZE line = {};
        GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &line);
        SelectObject(dc, kept);
        ReleaseDC(child, dc);
        std::string narrow;
        Win32Narrow(kind, &narrow);
        // A picture's text is its resource's name, not shown.
        if (narrow == "Static" && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) narrow = "Icon";
        std::fprintf(stderr, "layout %s child=%s rect=%ld,%ld,%ld,%ld need=%ld,%ld line=%ld\n", what, narrow.c_str(),
                     at.left, at.top, at.right - at.left, at.bottom - at.top, need.right - need.left,
                     need.bottom - need.top, line.cx);
    }
    std::fflush(stderr);
}

// The note, the list of the keys and the progress: small windows of their
// own with a dialog's face, each class registered the first time it opens
// (a failed try is tried again the next time).
void RegisterSmallWindow(const wchar_t* name, WNDPROC procedure)
{
    WNDCLASSW known = {};
    if (GetClassInfoW(G.Instance, name, &known)) return;
    WNDCLASSW small = {};
    small.lpfnWndProc = procedure;
    small.hInstance = G.Instance;
    small.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    small.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    small.lpszClassName = name;
    RegisterClassW(&small);
}

// Laid out for the main window's DPI: the text wraps in the note's width
// and takes the height it needs (at 96 DPI at least the 72 pixels it
// always had), the OK button below it.
void OpenNoteWindow(const char* text, const char* caption)
{
    RegisterSmallWindow(L"TALVO_NOTE", NoteProcedure);
    std::wstring wideText, wideCaption;
    if (!Win32Widen(text, &wideText) || !Win32Widen(caption, &wideCaption)) return;
    const UINT dpi = DpiOf(G.Window);
    const HFONT font = FontForDpi(dpi);
    const int margin = Scaled(10, dpi), textWidth = Scaled(300, dpi);
    const int textHeight = std::max(Scaled(72, dpi), TextHeight(wideText, font, textWidth));
    const int okTop = Scaled(8, dpi) + textHeight + Scaled(6, dpi);
    const int okWidth = Scaled(70, dpi), okHeight = Scaled(24, dpi);
    RECT frame = {0, 0, Scaled(320, dpi), okTop + okHeight + margin};
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    AdjustForDpi(&frame, style, WS_EX_TOOLWINDOW, dpi);
    RECT owner = {};
    GetWindowRect(G.Window, &owner);
    const int height = frame.bottom - frame.top;
    const int top = WindowBelowTop(height);
    const HWND note = CreateWindowExW(WS_EX_TOOLWINDOW, L"TALVO_NOTE", wideCaption.c_str(), style, owner.left + 8,
                                      top, frame.right - frame.left, height, G.Window, nullptr, G.Instance, nullptr);
    if (!note) return;
    const HWND label = CreateWindowExW(0, L"STATIC", wideText.c_str(), WS_CHILD | WS_VISIBLE, margin,
                                       Scaled(8, dpi), textWidth, textHeight, note, nullptr, G.Instance, nullptr);
    const HWND ok = CreateWindowExW(0, L"BUTTON", Wide(Translated("OK")).c_str(), WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON,
                                    (Scaled(320, dpi) - okWidth) / 2, okTop, okWidth, okHeight, note,
                                    reinterpret_cast<HMENU>(NoteOk), G.Instance, nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageW(ok, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    // Shown without taking the keyboard from the field.
    ShowWindow(note, SW_SHOWNOACTIVATE);
    RecordLayout(note, "note");
}

// The list of the keys: a small window of its own beside the main one,
// which it neither disables nor stops: the keys in one column, what they
// do in another, line for line, and OK. It takes the keyboard while it is
// up: Escape or Enter closes it, as a dialog's.
constexpr int KeysOk = 1;

LRESULT CALLBACK KeysProcedure(HWND keys, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == KeysOk) DestroyWindow(keys);
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE || wParam == VK_RETURN) DestroyWindow(keys);
        return 0;
    case WM_CLOSE:
        DestroyWindow(keys);
        return 0;
    case WM_DESTROY:
        if (G.KeysWindow == keys) G.KeysWindow = nullptr;
        // The keyboard back to the field, unless the program is ending.
        if (G.Window && IsWindowVisible(G.Window)) SetForegroundWindow(G.Window);
        return 0;
    default:
        return DefWindowProcW(keys, message, wParam, lParam);
    }
}

// The size a column of lines takes in that font, unwrapped.
SIZE ColumnSize(const std::wstring& text, HFONT font)
{
    const HDC dc = GetDC(nullptr);
    const HGDIOBJ kept = SelectObject(dc, font);
    RECT box = {0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), -1, &box, DT_CALCRECT | DT_NOPREFIX);
    SelectObject(dc, kept);
    ReleaseDC(nullptr, dc);
    return SIZE{box.right - box.left, box.bottom - box.top};
}

// TALVO_TEST_LAYOUT=1: the list's lines as its window shows them, the two
// columns read back from its controls.
void RecordKeysText(HWND keys, const char* what)
{
    if (!LayoutRecorded() || !keys) return;
    std::string columns[2];
    int at = 0;
    for (HWND child = GetWindow(keys, GW_CHILD); child && at < 2; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t text[4096] = L"";
        GetWindowTextW(child, text, 4096);
        Win32Narrow(text, &columns[at++]);
    }
    size_t left = 0, right = 0;
    while (left < columns[0].size()) {
        const size_t leftEnd = std::min(columns[0].find('\n', left), columns[0].size());
        const size_t rightEnd = std::min(columns[1].find('\n', right), columns[1].size());
        const auto line = [](const std::string& s, size_t from, size_t to) {
            std::string part = s.substr(from, to - from);
            if (!part.empty() && part.back() == '\r') part.pop_back();
            return part;
        };
        std::fprintf(stderr, "text %s %s\t%s\n", what, line(columns[0], left, leftEnd).c_str(),
                     right < columns[1].size() ? line(columns[1], right, rightEnd).c_str() : "");
        left = leftEnd + 1;
        right = rightEnd + 1;
    }
    std::fflush(stderr);
}

void OpenKeysWindow(const char* text, const char* caption)
{
    RegisterSmallWindow(L"TALVO_KEYS", KeysProcedure);
    std::wstring wideText, wideCaption;
    if (!Win32Widen(text, &wideText) || !Win32Widen(caption, &wideCaption)) return;
    // The lines split at their tabs into the two columns.
    std::wstring keys, does;
    for (size_t at = 0; at < wideText.size();) {
        const size_t end = std::min(wideText.find(L'\n', at), wideText.size());
        const std::wstring line = wideText.substr(at, end - at);
        const size_t tab = line.find(L'\t');
        if (!keys.empty()) {
            keys += L"\r\n";
            does += L"\r\n";
        }
        keys += line.substr(0, tab);
        if (tab != std::wstring::npos) does += line.substr(tab + 1);
        at = end + 1;
    }
    const UINT dpi = DpiOf(G.Window);
    const HFONT font = FontForDpi(dpi);
    const SIZE left = ColumnSize(keys, font), right = ColumnSize(does, font);
    const int margin = Scaled(10, dpi), gap = Scaled(16, dpi), slack = Scaled(4, dpi);
    const int okWidth = Scaled(70, dpi), okHeight = Scaled(24, dpi);
    const int height = std::max(left.cy, right.cy);
    const int width = margin + left.cx + slack + gap + right.cx + slack + margin;
    const int okTop = margin + height + Scaled(8, dpi);
    RECT frame = {0, 0, width, okTop + okHeight + margin};
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    AdjustForDpi(&frame, style, WS_EX_TOOLWINDOW, dpi);
    // Beside the main window where the screen has room, else over it.
    RECT owner = {};
    GetWindowRect(G.Window, &owner);
    MONITORINFO screen = {};
    screen.cbSize = sizeof screen;
    RECT work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromWindow(G.Window, MONITOR_DEFAULTTONEAREST), &screen)) work = screen.rcWork;
    const int outerWidth = frame.right - frame.left, outerHeight = frame.bottom - frame.top;
    int x = owner.right + 4;
    if (x + outerWidth > work.right) x = std::max<int>(work.left, owner.left + 8);
    const int y = std::max<int>(work.top, std::min<int>(owner.top, work.bottom - outerHeight));
    const HWND made = CreateWindowExW(WS_EX_TOOLWINDOW, L"TALVO_KEYS", wideCaption.c_str(), style, x, y, outerWidth,
                                      outerHeight, G.Window, nullptr, G.Instance, nullptr);
    if (!made) return;
    const DWORD labelStyle = WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
    const HWND keyColumn = CreateWindowExW(0, L"STATIC", keys.c_str(), labelStyle, margin, margin, left.cx + slack,
                                           height, made, nullptr, G.Instance, nullptr);
    const HWND doesColumn = CreateWindowExW(0, L"STATIC", does.c_str(), labelStyle, margin + left.cx + slack + gap,
                                            margin, right.cx + slack, height, made, nullptr, G.Instance, nullptr);
    const HWND ok = CreateWindowExW(0, L"BUTTON", Wide(Translated("OK")).c_str(), WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON,
                                    (width - okWidth) / 2, okTop, okWidth, okHeight, made,
                                    reinterpret_cast<HMENU>(KeysOk), G.Instance, nullptr);
    for (const HWND control : {keyColumn, doesColumn, ok})
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    G.KeysWindow = made;
    ShowWindow(made, SW_SHOW);
    SetForegroundWindow(made);
    SetFocus(made);
    RecordLayout(made, "keys");
    RecordKeysText(made, "keys");
}

// The progress of the program's long work: a small window of its own
// below the main one, as a note is, with the text, a bar and Cancel, whose
// press comes to the main window as WM_COMMAND IDCANCEL; the bar's place
// at 96 DPI.
constexpr RECT ProgressFillAt96 = {10, 34, 310, 50};

RECT ProgressFill()
{
    return RECT{Scaled(ProgressFillAt96.left, G.ProgressDpi), Scaled(ProgressFillAt96.top, G.ProgressDpi),
                Scaled(ProgressFillAt96.right, G.ProgressDpi), Scaled(ProgressFillAt96.bottom, G.ProgressDpi)};
}

LRESULT CALLBACK ProgressProcedure(HWND progress, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) PostMessageW(G.Window, WM_COMMAND, IDCANCEL, 0);
        return 0;
    case WM_CLOSE:
        PostMessageW(G.Window, WM_COMMAND, IDCANCEL, 0);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        const HDC dc = BeginPaint(progress, &paint);
        RECT bar = ProgressFill();
        FrameRect(dc, &bar, GetSysColorBrush(COLOR_BTNSHADOW));
        InflateRect(&bar, -1, -1);
        RECT done = bar;
        done.right = bar.left + (bar.right - bar.left) * G.ProgressPermille / 1000;
        FillRect(dc, &done, GetSysColorBrush(COLOR_HIGHLIGHT));
        EndPaint(progress, &paint);
        return 0;
    }
    default:
        return DefWindowProcW(progress, message, wParam, lParam);
    }
}

void OpenProgressWindow(const char* text)
{
    RegisterSmallWindow(L"TALVO_PROGRESS", ProgressProcedure);
    std::wstring wideText;
    if (!Win32Widen(text, &wideText)) wideText.clear();
    G.ProgressPermille = 0;
    G.ProgressDpi = DpiOf(G.Window);
    const UINT dpi = G.ProgressDpi;
    RECT frame = {0, 0, Scaled(320, dpi), Scaled(96, dpi)};
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    AdjustForDpi(&frame, style, WS_EX_TOOLWINDOW, dpi);
    RECT owner = {};
    GetWindowRect(G.Window, &owner);
    const int height = frame.bottom - frame.top;
    G.ProgressWindow = CreateWindowExW(WS_EX_TOOLWINDOW, L"TALVO_PROGRESS", Wide(Translated("Saving the animation")).c_str(), style,
                                     owner.left + 8, WindowBelowTop(height), frame.right - frame.left, height, G.Window,
                                     nullptr, G.Instance, nullptr);
    if (!G.ProgressWindow) return;
    const HFONT font = FontForDpi(dpi);
    G.ProgressLabel = CreateWindowExW(0, L"STATIC", wideText.c_str(), WS_CHILD | WS_VISIBLE, Scaled(10, dpi), Scaled(8, dpi),
                                    Scaled(300, dpi), Scaled(20, dpi), G.ProgressWindow, nullptr, G.Instance, nullptr);
    const HWND cancel = CreateWindowExW(0, L"BUTTON", Wide(Translated("Cancel")).c_str(), WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, Scaled(125, dpi),
                                        Scaled(62, dpi), Scaled(70, dpi), Scaled(24, dpi), G.ProgressWindow,
                                        reinterpret_cast<HMENU>(IDCANCEL), G.Instance, nullptr);
    SendMessageW(G.ProgressLabel, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageW(cancel, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    // Shown without taking the keyboard from the field: Escape there
    // cancels too.
    ShowWindow(G.ProgressWindow, SW_SHOWNOACTIVATE);
}

// The user's own folder for files of `kind` (Pictures, or Documents for a
// scene), never the program's data folder; empty where there is none.
std::wstring FolderFor(const char* kind)
{
    // FOLDERID_Pictures and FOLDERID_Documents.
    static const GUID Pictures = {0x33E28130, 0x4E1E, 0x4676, {0x83, 0x5A, 0x98, 0x39, 0x5C, 0x3B, 0xC3, 0xBB}};
    static const GUID Documents = {0xFDD39AD0, 0x238F, 0x46AF, {0xAD, 0xB4, 0x6C, 0x85, 0x48, 0x03, 0x69, 0xC7}};
    PWSTR found = nullptr;
    std::wstring folder;
    if (SHGetKnownFolderPath(std::strncmp(kind, "image/", 6) == 0 ? Pictures : Documents, 0, nullptr, &found) == S_OK &&
        found) {
        const DWORD attributes = GetFileAttributesW(found);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) folder = found;
    }
    CoTaskMemFree(found);
    return folder;
}

void ReleaseFont()
{
    if (!G.Font) return;
    SelectObject(G.WindowDc, G.WindowKeptFont);
    SelectObject(G.SurfaceDc, G.SurfaceKeptFont);
    DeleteObject(G.Font);
    G.Font = nullptr;
}


uint8_t* CreateSurface(int32_t width, int32_t height)
{
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info = {};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = -height; // top row first
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biCompression = BI_RGB;
    G.SurfaceDc = CreateCompatibleDC(G.WindowDc);
    void* bits = nullptr;
    G.SurfaceBitmap =
        CreateDIBSection(G.SurfaceDc, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!G.SurfaceBitmap) return nullptr;
    G.SurfaceKeptBitmap = SelectObject(G.SurfaceDc, G.SurfaceBitmap);
    G.SurfaceBytesOf = static_cast<uint8_t*>(bits);
    G.SurfaceColumns = width;
    G.SurfaceRows = height;
    return G.SurfaceBytesOf;
}

} // namespace

void Win32SetInstance(HINSTANCE instance) { G.Instance = instance; }

// --- The window and its picture.

PlatformWindow PlatformOpenWindow(const char* title, int32_t width, int32_t height, MessageHandler procedure)
{
    G.Procedure = procedure;
    WNDCLASSA windowClass = {};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC | CS_BYTEALIGNWINDOW;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = G.Instance;
    windowClass.hIcon = LoadIconA(G.Instance, "ICON_1");
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = ClassName;
    RegisterClassA(&windowClass);

    RECT frame = {0, 0, width, height};
    AdjustWindowRect(&frame, WindowStyle, FALSE);
    G.Window = CreateWindowExA(0, ClassName, title, WindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                             frame.bottom - frame.top, nullptr, nullptr, G.Instance, nullptr);
    G.WindowDc = GetDC(G.Window);
    G.DialogBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    DragAcceptFiles(G.Window, TRUE);
    G.Menus.assign(1, GetSystemMenu(G.Window, FALSE));
    // Made at 1x: the monitor it went to has the last word.
    ApplyZoom(DpiOf(G.Window), nullptr);
    return PlatformWindow{G.Window, CreateSurface(width, height), G.Colours};
}

void PlatformShowWindow()
{
    ShowWindow(G.Window, SW_SHOW);
    UpdateWindow(G.Window);
}

void PlatformCloseWindow()
{
    if (G.Window) DestroyWindow(G.Window);
}

void PlatformSetOverlay(const int32_t* positions, const uint8_t* bytes, size_t count)
{
    G.Overlay.clear();
    for (size_t i = 0; i < count; ++i)
        if (positions[i] >= 0 && positions[i] < G.SurfaceColumns * G.SurfaceRows) G.Overlay.push_back({positions[i], bytes[i]});
}

void PlatformPresent(int32_t width, int32_t height)
{
    if (!G.SurfaceDc || !G.WindowDc) return;
    SyncSurfaceColours();
    // The copy to the window is made at once: the overlay is in the
    // surface for it alone.
    std::vector<uint8_t> under(G.Overlay.size());
    for (size_t i = 0; i < G.Overlay.size(); ++i) {
        under[i] = G.SurfaceBytesOf[G.Overlay[i].at];
        G.SurfaceBytesOf[G.Overlay[i].at] = G.Overlay[i].byte;
    }
    if (G.Zoom.cell == 1) {
        BitBlt(G.WindowDc, 0, 0, width, height, G.SurfaceDc, 0, 0, SRCCOPY);
    } else {
        // Whole pixels a cell, each a copy of its cell: no smoothing.
        SetStretchBltMode(G.WindowDc, COLORONCOLOR);
        StretchBlt(G.WindowDc, 0, 0, width * G.Zoom.cell, height * G.Zoom.cell, G.SurfaceDc, 0, 0, width, height, SRCCOPY);
    }
    GdiFlush();
    for (size_t i = G.Overlay.size(); i-- > 0;) G.SurfaceBytesOf[G.Overlay[i].at] = under[i];
}

int32_t PlatformZoomDefault() { return 1; }

void PlatformSetZoom(int32_t choice)
{
    G.Zoom.choice = choice < 1 ? 1 : choice > 4 ? 4 : choice;
    ApplyZoom(G.Window ? DpiOf(G.Window) : G.Zoom.dpi, nullptr);
}

int32_t PlatformMatchDisplayColours(const uint8_t (*colours)[4], int32_t count, bool repaint)
{
    if (count > 0) {
        PALETTEENTRY entries[256];
        for (int32_t i = 0; i < count && i < 256; ++i)
            entries[i] = PALETTEENTRY{colours[i][2], colours[i][1], colours[i][0], PC_NOCOLLAPSE};
        // Paints realize the same palette again and again: make it only
        // when its colours changed.
        const size_t bytes = sizeof(PALETTEENTRY) * static_cast<size_t>(count);
        if (!G.Palette || count != G.PaletteCount || std::memcmp(entries, G.PaletteEntries, bytes) != 0) {
            struct {
                WORD version;
                WORD count;
                PALETTEENTRY entries[256];
            } logical = {0x300, static_cast<WORD>(count), {}};
            std::memcpy(logical.entries, entries, bytes);
            const HPALETTE made = CreatePalette(reinterpret_cast<LOGPALETTE*>(&logical));
            SelectPalette(G.WindowDc, made, FALSE);
            if (G.Palette) DeleteObject(G.Palette);
            G.Palette = made;
            std::memcpy(G.PaletteEntries, entries, bytes);
            G.PaletteCount = count;
        } else {
            SelectPalette(G.WindowDc, G.Palette, FALSE);
        }
    }
    const UINT changed = RealizePalette(G.WindowDc);
    if (repaint && changed != 0) InvalidateRect(G.Window, nullptr, TRUE);
    return static_cast<int32_t>(changed);
}

void PlatformCaptureMouse(bool held)
{
    if (held)
        SetCapture(G.Window);
    else
        ReleaseCapture();
}

// --- Input and time.

bool PlatformNextMessage(PlatformMessage* msg)
{
    if (!PeekMessageA(&G.Current, nullptr, 0, 0, PM_REMOVE)) return false;
    *msg = PlatformMessage{G.Current.hwnd, G.Current.message, static_cast<uint32_t>(G.Current.wParam),
                           static_cast<int32_t>(G.Current.lParam)};
    return true;
}

// The message last taken, with its time and cursor, when it is that one.
static MSG RecordOf(const PlatformMessage& msg)
{
    if (msg.window == G.Current.hwnd && msg.message == G.Current.message && msg.wParam == G.Current.wParam &&
        msg.lParam == G.Current.lParam)
        return G.Current;
    MSG record = {};
    record.hwnd = static_cast<HWND>(msg.window);
    record.message = msg.message;
    record.wParam = msg.wParam;
    record.lParam = msg.lParam;
    return record;
}

void PlatformHandleMessage(const PlatformMessage& msg)
{
    const MSG record = RecordOf(msg);
    TranslateMessage(&record);
    DispatchMessageA(&record);
}

uint32_t PlatformKeyModifiers()
{
    return (GetKeyState(VK_SHIFT) < 0 ? MK_SHIFT : 0u) | (GetKeyState(VK_CONTROL) < 0 ? MK_CONTROL : 0u);
}

void PlatformTakeInput() { PlatformWaitInput(0); }

void PlatformWaitInput(uint32_t milliseconds)
{
    // PeekMessage takes in what has arrived.
    if (milliseconds == 0) return;
    // Input already seen by an earlier peek counts too.
    MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void PlatformPostQuit(uint32_t code) { PostQuitMessage(static_cast<int>(code)); }

bool PlatformDefault(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam, int32_t* result)
{
    *result = static_cast<int32_t>(DefWindowProcA(static_cast<HWND>(window), message, wParam, lParam));
    return true;
}

uint32_t PlatformTicks() { return GetTickCount(); }

// --- The system menu.

// TALVO_TEST_LAYOUT=1: each item of the program's as the menu holds it,
// its text read back from Windows, and each mark set, on standard error.
void RecordMenuItem(HMENU target, int32_t menu, uint32_t kind, uint32_t id, int32_t popup)
{
    if (!LayoutRecorded()) return;
    const int position = GetMenuItemCount(target) - 1;
    wchar_t text[256] = L"";
    if (kind != MF_SEPARATOR) GetMenuStringW(target, static_cast<UINT>(position), text, 256, MF_BYPOSITION);
    std::string narrow;
    Win32Narrow(text, &narrow);
    std::fprintf(stderr, "menu %d item kind=%s id=%u popup=%d text=%s\n", menu,
                 kind == MF_SEPARATOR ? "separator" : kind == MF_POPUP ? "popup" : "command", id, popup, narrow.c_str());
    std::fflush(stderr);
}

void PlatformMenuAdd(int32_t menu, uint32_t kind, uint32_t id, int32_t popup, const char* text)
{
    const HMENU target = MenuNumbered(menu);
    if (!target) return;
    if (kind == MF_POPUP) {
        AppendMenuW(target, MF_POPUP, reinterpret_cast<UINT_PTR>(MenuNumbered(popup)), Wide(text).c_str());
    } else if (kind == MF_SEPARATOR) {
        AppendMenuA(target, MF_SEPARATOR, 0, nullptr);
    } else {
        if (G.CommandIdCount < 64 && !IsProgramCommand(id)) G.CommandIds[G.CommandIdCount++] = id;
        AppendMenuW(target, MF_STRING, id, Wide(text).c_str());
    }
    RecordMenuItem(target, menu, kind, id, popup);
}

// By command, as CheckMenuItem finds it in the system menu and its popups.
void PlatformMenuMark(int32_t, int32_t, uint32_t id, bool marked)
{
    if (!G.Menus.empty()) CheckMenuItem(G.Menus[0], id, MF_BYCOMMAND | (marked ? MF_CHECKED : MF_UNCHECKED));
    if (LayoutRecorded()) {
        std::fprintf(stderr, "menu mark id=%u on=%d\n", id, marked ? 1 : 0);
        std::fflush(stderr);
    }
}

// --- Dialogs and messages.

// DIALOG_1 from the resources, with the system's own modal loop.
int32_t PlatformAbout(DialogProc proc, WindowHandle*)
{
    G.AboutProc = proc;
    const INT_PTR result = DialogBoxParamA(G.Instance, "DIALOG_1", G.Window, AboutProcedure, 0);
    G.AboutProc = nullptr;
    G.AboutDialog = nullptr;
    return static_cast<int32_t>(result);
}

void PlatformEndAbout(int32_t result)
{
    if (G.AboutDialog) EndDialog(G.AboutDialog, result);
}

// The box belongs to the window, as About does: the window takes no input
// while it is up (no stroke, no menu, no second close). Before the window
// shows (the surface could not be made) it has no owner.
void PlatformShowMessage(const char* text, const char* caption, bool note)
{
    if (note) {
        OpenNoteWindow(text, caption);
        return;
    }
    const HWND owner = G.Window && IsWindowVisible(G.Window) ? G.Window : nullptr;
    // The text names files in UTF-8.
    std::wstring wideText, wideCaption;
    if (Win32Widen(text, &wideText) && Win32Widen(caption, &wideCaption))
        MessageBoxW(owner, wideText.c_str(), wideCaption.c_str(), MB_OK);
    else
        MessageBoxA(owner, text, caption, MB_OK);
}

int32_t PlatformLoadString(uint32_t id, char* buffer, int32_t size)
{
    return LoadStringA(G.Instance, id, buffer, size);
}

// What the key of that virtual key types unshifted on the thread's layout
// (Windows names letter keys by their Latin letter on every layout).
int32_t PlatformKeyLabel(uint32_t letter, char* buffer, int32_t size)
{
    if (letter < 'A' || letter > 'Z' || size <= 0) return 0;
    const HKL layout = GetKeyboardLayout(0);
    const BYTE state[256] = {};
    wchar_t typed[8] = {};
    const UINT scan = MapVirtualKeyExW(letter, MAPVK_VK_TO_VSC, layout);
    // 4: the keyboard's state (a dead key) stays as it was, where Windows
    // knows the flag.
    const int count = ToUnicodeEx(letter, scan, state, typed, 8, 4, layout);
    wchar_t c = count == 1 ? typed[0] : 0;
    if (count < 0) ToUnicodeEx(letter, scan, state, typed, 8, 4, layout);
    if (!c) {
        const UINT mapped = MapVirtualKeyExW(letter, MAPVK_VK_TO_CHAR, layout);
        if (!(mapped & 0x80000000u)) c = static_cast<wchar_t>(mapped & 0xFFFFu);
    }
    if (c <= 0x20 || c == 0x7F || (c >= 0xD800 && c < 0xE000)) return 0;
    wchar_t upper[2] = {c, 0};
    CharUpperBuffW(upper, 1);
    std::string label;
    if (!Win32Narrow(std::wstring(upper, 1), &label)) return 0;
    if (static_cast<int32_t>(label.size()) >= size) return static_cast<int32_t>(label.size());
    std::memcpy(buffer, label.data(), label.size());
    buffer[label.size()] = 0;
    return static_cast<int32_t>(label.size());
}

void PlatformShowKeys(const char* text, const char* caption)
{
    if (!G.Window) return;
    if (G.KeysWindow) DestroyWindow(G.KeysWindow);
    OpenKeysWindow(text, caption);
}

// The catalogue of the user's UI language (under Wine, what LANG or
// LC_MESSAGES names); English where there is none.
const char* PlatformTranslate(const char* english)
{
    static const char* const catalogue = [] {
        const LANGID language = GetUserDefaultUILanguage();
        switch (PRIMARYLANGID(language)) {
        case LANG_GERMAN: return CatalogueFor("de");
        case LANG_FRENCH: return CatalogueFor("fr");
        case LANG_SPANISH: return CatalogueFor("es");
        case LANG_JAPANESE: return CatalogueFor("ja");
        case LANG_CHINESE: {
            const WORD sub = SUBLANGID(language);
            return sub == SUBLANG_CHINESE_SIMPLIFIED || sub == SUBLANG_CHINESE_SINGAPORE ? CatalogueFor("zh_CN") : nullptr;
        }
        default: return static_cast<const char*>(nullptr);
        }
    }();
    return CatalogueText(catalogue, english);
}

// The name in UTF-8, as the file calls take it; a name without that form
// comes back empty and loads nothing.
uint32_t PlatformTakeDroppedName(uint32_t drop, char* buffer, uint32_t size)
{
    const HDROP handle = reinterpret_cast<HDROP>(static_cast<uintptr_t>(drop));
    const UINT length = DragQueryFileW(handle, 0, nullptr, 0);
    std::wstring wide(length + 1, L'\0');
    if (length > 0) DragQueryFileW(handle, 0, wide.data(), length + 1);
    DragFinish(handle);
    wide.resize(length);
    std::string name;
    if (length == 0 || !Win32Narrow(wide, &name)) return 0;
    if (size > 0) {
        const size_t kept = name.size() < size ? name.size() : size - 1;
        std::memcpy(buffer, name.data(), kept);
        buffer[kept] = 0;
    }
    return static_cast<uint32_t>(name.size());
}

// --- What the library offers besides.

void PlatformPointer(int32_t* x, int32_t* y, int32_t* buttons)
{
    POINT at = {};
    GetCursorPos(&at);
    ScreenToClient(G.Window, &at);
    *x = CellOf(at.x);
    *y = CellOf(at.y);
    *buttons = ((GetAsyncKeyState(VK_LBUTTON) & 0x8000) ? 1 : 0) | ((GetAsyncKeyState(VK_RBUTTON) & 0x8000) ? 2 : 0);
}

// A device-dependent bitmap in the display's own format, made by copying
// the surface through the palette, handed to the clipboard, which owns it.
void PlatformCopyToClipboard(int32_t width, int32_t height)
{
    if (!G.SurfaceDc || !G.WindowDc) return;
    SyncSurfaceColours();
    const HDC memory = CreateCompatibleDC(nullptr);
    const HBITMAP picture = CreateBitmap(width, height, GetDeviceCaps(G.WindowDc, PLANES) & 0xFF,
                                         GetDeviceCaps(G.WindowDc, BITSPIXEL) & 0xFF, nullptr);
    const HGDIOBJ keptBitmap = SelectObject(memory, picture);
    if (G.Palette && G.PaletteCount > 0) SelectPalette(memory, G.Palette, FALSE);
    BitBlt(memory, 0, 0, width, height, G.SurfaceDc, 0, 0, SRCCOPY);
    SelectObject(memory, keptBitmap);
    DeleteDC(memory);
    OpenClipboard(G.Window);
    EmptyClipboard();
    // The clipboard owns the bitmap once it takes it; one it refused (another
    // program holds the clipboard) would otherwise leak a GDI object a copy.
    if (!SetClipboardData(CF_BITMAP, picture)) DeleteObject(picture);
    CloseClipboard();
}

// The common save dialog, owned by the window, opening in the user's
// folder for such files.
int32_t PlatformSaveFileStart(const char* name, const char* kind, char* failure, size_t failureSize)
{
    std::wstring suggested;
    if (!G.Window || !Win32Widen(name, &suggested)) return 0;
    const std::wstring folder = FolderFor(kind);
    std::string folderText;
    if (!folder.empty() && Win32Narrow(folder + L"\\", &folderText))
        Win32Widen(UnusedName(folderText, name), &suggested);
    std::vector<wchar_t> file(32768, L'\0');
    suggested.copy(file.data(), std::min<size_t>(suggested.size(), file.size() - 1));
    const bool gif = std::strcmp(kind, "image/gif") == 0, png = std::strcmp(kind, "image/png") == 0;
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = G.Window;
    // Each filter is its name, a zero, its pattern and a zero.
    const char* const filter = gif ? N_("Animations (*.gif)") : png ? N_("Pictures (*.png)") : N_("Talvo scenes (*.talvo)");
    const std::wstring filters = Wide(Translated(filter)) + L'\0' + (gif ? L"*.gif" : png ? L"*.png" : L"*.talvo") + L'\0';
    dialog.lpstrFilter = filters.c_str();
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrDefExt = gif ? L"gif" : png ? L"png" : L"talvo";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!GetSaveFileNameW(&dialog)) return 0;
    std::string path;
    if (!Win32Narrow(file.data(), &path)) return 0;
    return ChosenFileOpen(path.c_str(), failure, failureSize) ? 1 : -1;
}

bool PlatformSaveFilePart(const uint8_t* bytes, size_t size, char* failure, size_t failureSize)
{
    return ChosenFileWrite(bytes, size, failure, failureSize);
}

int32_t PlatformSaveFileEnd(bool keep, char* failure, size_t failureSize)
{
    if (!ChosenFileClose(keep, failure, failureSize)) return -1;
    return keep ? 1 : 0;
}

void PlatformShowProgress(const char* text, int32_t permille)
{
    if (permille < 0) {
        if (G.ProgressWindow) DestroyWindow(G.ProgressWindow);
        G.ProgressWindow = G.ProgressLabel = nullptr;
        return;
    }
    if (!G.Window) return;
    if (!G.ProgressWindow) OpenProgressWindow(text ? text : "");
    const int32_t now = permille > 1000 ? 1000 : permille;
    if (G.ProgressWindow && now != G.ProgressPermille) {
        G.ProgressPermille = now;
        RECT bar = ProgressFill();
        InvalidateRect(G.ProgressWindow, &bar, FALSE);
    }
}

// The window has no buttons of its own: its keys are all there is.
void PlatformEnableButton(uint32_t, bool) {}

// The Mincho face, as its Shift-JIS name: the font is made for that
// character set.
constexpr char FontFace[] = "\x82\x6C\x82\x72\x20\x96\xBE\x92\xA9";

int32_t PlatformText(const PlatformTextRequest& request)
{
    if (!G.WindowDc || !G.SurfaceDc) return 0;
    ReleaseFont();
    G.Font = CreateFontA(request.height, 0, 0, 0, FW_THIN, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_LH_ANGLES, DEFAULT_QUALITY, FF_ROMAN | DEFAULT_PITCH, FontFace);
    G.WindowKeptFont = SelectObject(G.WindowDc, G.Font);
    G.SurfaceKeptFont = SelectObject(G.SurfaceDc, G.Font);
    if (!request.text) return 0;
    // GDI picks the surface's entries for the two colours from its table.
    SyncSurfaceColours();
    const COLORREF background = request.background & 0x00FFFFFF;
    if (background != G.BackColour) {
        SetBkColor(G.WindowDc, background);
        SetBkColor(G.SurfaceDc, background);
        G.BackColour = background;
    }
    const int length = static_cast<int>(std::strlen(request.text));
    SetTextColor(G.WindowDc, request.colour);
    // Zoomed, the window shows the text as the surface holds it, in cells.
    if (request.intoWindow && G.Zoom.cell == 1) TextOutA(G.WindowDc, request.x, request.y, request.text, length);
    SetTextColor(G.SurfaceDc, request.colour);
    const BOOL drawn = TextOutA(G.SurfaceDc, request.x, request.y, request.text, length);
    // The program writes the surface's bytes itself next.
    GdiFlush();
    if (request.intoWindow && G.Zoom.cell != 1) PlatformPresent(G.SurfaceColumns, G.SurfaceRows);
    return drawn;
}

void PlatformShutdown(int32_t)
{
    ReleaseFont();
    if (!G.SurfaceBitmap) return;
    SelectObject(G.SurfaceDc, G.SurfaceKeptBitmap);
    DeleteDC(G.SurfaceDc);
    DeleteObject(G.SurfaceBitmap);
    G.SurfaceDc = nullptr;
    G.SurfaceBitmap = nullptr;
}

// The platform on Win32 itself: a registered window class whose procedure
// hands every message to the framework's WndProc, the real message queue,
// an 8-bit DIB section as the surface (our rasteriser writes its bits, GDI
// only shows them), a logical palette, the system menu, the About dialog
// from the resources, shell drops and the clipboard.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <ctime>

#include "framework/platform.h"
#include "framework/win32/win32.h"
#include "framework/window.h"

// The framework's numbers are the Win32 ones.
static_assert(WmDestroy == WM_DESTROY && WmSize == WM_SIZE && WmSetFocus == WM_SETFOCUS &&
              WmKillFocus == WM_KILLFOCUS && WmPaint == WM_PAINT && WmClose == WM_CLOSE && WmQuit == WM_QUIT &&
              WmQueryEndSession == WM_QUERYENDSESSION && WmEndSession == WM_ENDSESSION);
static_assert(WmKeyDown == WM_KEYDOWN && WmChar == WM_CHAR && WmInitDialog == WM_INITDIALOG &&
              WmCommand == WM_COMMAND && WmSysCommand == WM_SYSCOMMAND);
static_assert(WmMouseMove == WM_MOUSEMOVE && WmLButtonDown == WM_LBUTTONDOWN && WmLButtonUp == WM_LBUTTONUP &&
              WmRButtonDown == WM_RBUTTONDOWN && WmRButtonUp == WM_RBUTTONUP && WmDropFiles == WM_DROPFILES);
static_assert(WmQueryNewPalette == WM_QUERYNEWPALETTE && WmPaletteIsChanging == WM_PALETTEISCHANGING &&
              WmPaletteChanged == WM_PALETTECHANGED);
static_assert(ScSize == SC_SIZE && ScMove == SC_MOVE && ScMinimize == SC_MINIMIZE && ScMaximize == SC_MAXIMIZE &&
              ScClose == SC_CLOSE && ScRestore == SC_RESTORE);
static_assert(MkLButton == MK_LBUTTON && MkRButton == MK_RBUTTON);
static_assert(VkBack == VK_BACK && VkTab == VK_TAB && VkReturn == VK_RETURN && VkEscape == VK_ESCAPE &&
              VkSpace == VK_SPACE && VkLeft == VK_LEFT && VkUp == VK_UP && VkRight == VK_RIGHT &&
              VkDown == VK_DOWN && VkDelete == VK_DELETE);
static_assert(MfString == MF_STRING && MfUnchecked == MF_UNCHECKED && MfChecked == MF_CHECKED &&
              MfPopup == MF_POPUP && MfSeparator == MF_SEPARATOR);
static_assert(PlatformWaitForever == INFINITE);
// Messages travel through the framework as 32-bit values unchanged.
static_assert(sizeof(WPARAM) == 4 && sizeof(LPARAM) == 4 && sizeof(LRESULT) == 4 && sizeof(void*) == 4);

namespace {

HINSTANCE Instance = nullptr;
HWND Window = nullptr;
HDC WindowDc = nullptr;
HDC SurfaceDc = nullptr;
HBITMAP SurfaceBitmap = nullptr;
HGDIOBJ SurfaceKeptBitmap = nullptr;
HPALETTE Palette = nullptr;
PALETTEENTRY PaletteEntries[256];
int32_t PaletteCount = 0;
HFONT Font = nullptr;
HGDIOBJ KeptFont = nullptr;
HBRUSH DialogBrush = nullptr;
DialogProc AboutProc = nullptr;
// The one message record of the pumps.
MSG Current = {};
// Ids of the program's own menu items: popups of the system menu report
// them as WM_COMMAND under Wine, which the program takes as a system command.
uint32_t CommandIds[64];
int32_t CommandIdCount = 0;

constexpr char ClassName[] = "TALVO";
constexpr DWORD WindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

bool IsProgramCommand(uint32_t id)
{
    for (int32_t i = 0; i < CommandIdCount; ++i)
        if (CommandIds[i] == id) return true;
    return false;
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        WndProc(window, message, wParam, lParam);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_COMMAND:
        if (lParam == 0 && HIWORD(wParam) == 0 && IsProgramCommand(LOWORD(wParam)))
            return WndProc(window, WM_SYSCOMMAND, LOWORD(wParam), 0);
        break;
    case WM_DESTROY:
        if (DialogBrush) DeleteObject(DialogBrush);
        DialogBrush = nullptr;
        break;
    default:
        break;
    }
    return WndProc(window, message, wParam, lParam);
}

INT_PTR CALLBACK AboutProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<INT_PTR>(DialogBrush);
    default:
        return AboutProc ? AboutProc(dialog, message, wParam, lParam) : 0;
    }
}

void ReleaseFont()
{
    if (!Font) return;
    SelectObject(SurfaceDc, KeptFont);
    DeleteObject(Font);
    Font = nullptr;
}

} // namespace

void Win32SetInstance(HINSTANCE instance) { Instance = instance; }

WindowHandle PlatformCreateWindow(const char* title, int32_t clientWidth, int32_t clientHeight)
{
    WNDCLASSA windowClass = {};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC | CS_BYTEALIGNWINDOW;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = Instance;
    windowClass.hIcon = LoadIconA(Instance, "ICON_1");
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = ClassName;
    RegisterClassA(&windowClass);

    RECT frame = {0, 0, clientWidth, clientHeight};
    AdjustWindowRect(&frame, WindowStyle, FALSE);
    Window = CreateWindowExA(0, ClassName, title, WindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                             frame.bottom - frame.top, nullptr, nullptr, Instance, nullptr);
    WindowDc = GetDC(Window);
    DialogBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    return Window;
}

uint8_t* PlatformCreateSurface(int32_t width, int32_t height)
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
    SurfaceDc = CreateCompatibleDC(WindowDc);
    void* bits = nullptr;
    SurfaceBitmap =
        CreateDIBSection(SurfaceDc, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!SurfaceBitmap) return nullptr;
    SurfaceKeptBitmap = SelectObject(SurfaceDc, SurfaceBitmap);
    return static_cast<uint8_t*>(bits);
}

void PlatformReleaseSurface()
{
    ReleaseFont();
    if (!SurfaceBitmap) return;
    SelectObject(SurfaceDc, SurfaceKeptBitmap);
    DeleteDC(SurfaceDc);
    DeleteObject(SurfaceBitmap);
    SurfaceDc = nullptr;
    SurfaceBitmap = nullptr;
}

void PlatformSetColourTable(int32_t first, int32_t count, const uint8_t (*bgra)[4])
{
    if (!SurfaceDc || count <= 0) return;
    SetDIBColorTable(SurfaceDc, static_cast<UINT>(first), static_cast<UINT>(count),
                     reinterpret_cast<const RGBQUAD*>(bgra + first));
}

void PlatformShowWindow()
{
    ShowWindow(Window, SW_SHOW);
    UpdateWindow(Window);
}

void PlatformDestroyWindow()
{
    if (Window) DestroyWindow(Window);
}

void PlatformPresent(int32_t width, int32_t height)
{
    if (!SurfaceDc || !WindowDc) return;
    BitBlt(WindowDc, 0, 0, width, height, SurfaceDc, 0, 0, SRCCOPY);
}

void PlatformInvalidate()
{
    InvalidateRect(Window, nullptr, TRUE);
}

int32_t PlatformRealizePalette(const uint8_t (*bgra)[4], int32_t count)
{
    if (count > 0) {
        PALETTEENTRY entries[256];
        for (int32_t i = 0; i < count && i < 256; ++i)
            entries[i] = PALETTEENTRY{bgra[i][2], bgra[i][1], bgra[i][0], PC_NOCOLLAPSE};
        // Paints realize the same palette again and again: make it only
        // when its colours changed.
        const size_t bytes = sizeof(PALETTEENTRY) * static_cast<size_t>(count);
        if (!Palette || count != PaletteCount || std::memcmp(entries, PaletteEntries, bytes) != 0) {
            struct {
                WORD version;
                WORD count;
                PALETTEENTRY entries[256];
            } logical = {0x300, static_cast<WORD>(count), {}};
            std::memcpy(logical.entries, entries, bytes);
            const HPALETTE made = CreatePalette(reinterpret_cast<LOGPALETTE*>(&logical));
            SelectPalette(WindowDc, made, FALSE);
            if (Palette) DeleteObject(Palette);
            Palette = made;
            std::memcpy(PaletteEntries, entries, bytes);
            PaletteCount = count;
        } else {
            SelectPalette(WindowDc, Palette, FALSE);
        }
    }
    return static_cast<int32_t>(RealizePalette(WindowDc));
}

bool PlatformPeekMessage(PlatformMessage* msg)
{
    if (!PeekMessageA(&Current, nullptr, 0, 0, PM_REMOVE)) return false;
    *msg = PlatformMessage{Current.hwnd, Current.message, static_cast<uint32_t>(Current.wParam),
                           static_cast<int32_t>(Current.lParam)};
    return true;
}

// The message last peeked, with its time and cursor, when it is that one.
static MSG RecordOf(const PlatformMessage& msg)
{
    if (msg.window == Current.hwnd && msg.message == Current.message && msg.wParam == Current.wParam &&
        msg.lParam == Current.lParam)
        return Current;
    MSG record = {};
    record.hwnd = static_cast<HWND>(msg.window);
    record.message = msg.message;
    record.wParam = msg.wParam;
    record.lParam = msg.lParam;
    return record;
}

void PlatformTranslateMessage(const PlatformMessage& msg)
{
    const MSG record = RecordOf(msg);
    TranslateMessage(&record);
}

void PlatformDispatchMessage(const PlatformMessage& msg)
{
    const MSG record = RecordOf(msg);
    DispatchMessageA(&record);
}

void PlatformPostMessage(uint32_t message, uint32_t wParam, int32_t lParam)
{
    if (Window) PostMessageA(Window, message, wParam, lParam);
}

void PlatformPostQuit(uint32_t code)
{
    PostQuitMessage(static_cast<int>(code));
}

int32_t PlatformDefWindowProc(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam)
{
    return static_cast<int32_t>(DefWindowProcA(static_cast<HWND>(window), message, wParam, lParam));
}

void PlatformPumpBegin() {}

void PlatformWaitMessage(uint32_t timeoutMs)
{
    // Input already seen by an earlier peek counts too.
    MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

uint32_t PlatformTicks() { return GetTickCount(); }

uint32_t PlatformClockSeconds() { return static_cast<uint32_t>(std::time(nullptr)); }

void PlatformSetCapture() { SetCapture(Window); }
void PlatformReleaseCapture() { ReleaseCapture(); }

void PlatformCursorPos(int32_t* x, int32_t* y, int32_t* buttons)
{
    POINT point = {};
    GetCursorPos(&point);
    ScreenToClient(Window, &point);
    *x = point.x;
    *y = point.y;
    *buttons = ((GetAsyncKeyState(VK_LBUTTON) & 0x8000) ? 1 : 0) | ((GetAsyncKeyState(VK_RBUTTON) & 0x8000) ? 2 : 0);
}

MenuHandle PlatformGetSystemMenu() { return GetSystemMenu(Window, FALSE); }

MenuHandle PlatformCreateMenu() { return CreateMenu(); }

void PlatformAppendMenu(MenuHandle menu, uint32_t flags, uintptr_t idOrPopup, const char* text)
{
    if (!(flags & (MF_POPUP | MF_SEPARATOR)) && CommandIdCount < 64 && !IsProgramCommand(idOrPopup))
        CommandIds[CommandIdCount++] = static_cast<uint32_t>(idOrPopup);
    AppendMenuA(static_cast<HMENU>(menu), flags, idOrPopup, text);
}

void PlatformCheckMenuItem(MenuHandle menu, uint32_t id, uint32_t flags)
{
    CheckMenuItem(static_cast<HMENU>(menu), id, MF_BYCOMMAND | flags);
}

int32_t PlatformAboutDialog(DialogProc proc)
{
    AboutProc = proc;
    const INT_PTR result = DialogBoxParamA(Instance, "DIALOG_1", Window, AboutProcedure, 0);
    AboutProc = nullptr;
    return static_cast<int32_t>(result);
}

void PlatformEndDialog(WindowHandle dialog, int32_t result)
{
    EndDialog(static_cast<HWND>(dialog), result);
}

void PlatformAcceptDrops() { DragAcceptFiles(Window, TRUE); }

// The name in UTF-8, as the file calls take it; a name without that form
// comes back empty and loads nothing.
uint32_t PlatformDroppedFile(uint32_t drop, uint32_t index, char* buffer, uint32_t size)
{
    const HDROP handle = reinterpret_cast<HDROP>(static_cast<uintptr_t>(drop));
    const UINT length = DragQueryFileW(handle, index, nullptr, 0);
    if (length == 0) return 0;
    std::wstring wide(length + 1, L'\0');
    DragQueryFileW(handle, index, wide.data(), length + 1);
    wide.resize(length);
    std::string name;
    if (!Win32Narrow(wide, &name)) return 0;
    if (size > 0) {
        const size_t kept = name.size() < size ? name.size() : size - 1;
        std::memcpy(buffer, name.data(), kept);
        buffer[kept] = 0;
    }
    return static_cast<uint32_t>(name.size());
}

void PlatformDropDone(uint32_t drop)
{
    DragFinish(reinterpret_cast<HDROP>(static_cast<uintptr_t>(drop)));
}

int32_t PlatformLoadString(uint32_t id, char* buffer, int32_t size)
{
    return LoadStringA(Instance, id, buffer, size);
}

int32_t PlatformDrawText(int32_t x, int32_t y, int32_t height, const char* text, bool setColour, uint32_t colour)
{
    if (!SurfaceDc) return 0;
    // A new font at every call, as the text calls have always made one.
    ReleaseFont();
    // "MS Mincho" in Shift-JIS.
    static const char face[] = "\x82\x6C\x82\x72\x20\x96\xBE\x92\xA9";
    Font = CreateFontA(height, 0, 0, 0, FW_THIN, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_LH_ANGLES, DEFAULT_QUALITY, FF_ROMAN | DEFAULT_PITCH, face);
    KeptFont = SelectObject(SurfaceDc, Font);
    if (setColour) SetTextColor(SurfaceDc, colour);
    return TextOutA(SurfaceDc, x, y, text, static_cast<int>(std::strlen(text)));
}

void PlatformSetBackColour(uint32_t colour)
{
    SetBkColor(WindowDc, colour);
    if (SurfaceDc) SetBkColor(SurfaceDc, colour);
}

uint32_t PlatformBackColour() { return GetBkColor(WindowDc); }

void PlatformCopyToClipboard()
{
    if (!SurfaceDc) return;
    const HDC memory = CreateCompatibleDC(nullptr);
    const HBITMAP picture = CreateBitmap(SurfaceWidth, SurfaceHeight, GetDeviceCaps(WindowDc, PLANES) & 0xFF,
                                         GetDeviceCaps(WindowDc, BITSPIXEL) & 0xFF, nullptr);
    const HGDIOBJ kept = SelectObject(memory, picture);
    if (Palette) SelectPalette(memory, Palette, FALSE);
    BitBlt(memory, 0, 0, SurfaceWidth, SurfaceHeight, SurfaceDc, 0, 0, SRCCOPY);
    SelectObject(memory, kept);
    DeleteDC(memory);
    // The clipboard owns the picture from here on.
    if (OpenClipboard(Window)) {
        EmptyClipboard();
        SetClipboardData(CF_BITMAP, picture);
        CloseClipboard();
    }
}

void PlatformShowError(const char* text, const char* caption)
{
    // The text names files in UTF-8.
    std::wstring wideText, wideCaption;
    if (Win32Widen(text, &wideText) && Win32Widen(caption, &wideCaption))
        MessageBoxW(nullptr, wideText.c_str(), wideCaption.c_str(), MB_OK);
    else
        MessageBoxA(nullptr, text, caption, MB_OK);
}

void PlatformShutdown(int32_t)
{
    ReleaseFont();
}

// The window is a canvas in a web page. The menu and the About dialog are
// elements of the page (page.js builds them from the calls made here), the
// page's input handlers post into the shared message queue, and every wait
// yields to the browser through Asyncify, so the frame loop keeps its shape
// while the page stays live.
#include <emscripten.h>
#include <emscripten/em_js.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "framework/message_queue.h"
#include "framework/platform.h"
#include "framework/strings.h"
#include "framework/web/web.h"
#include "framework/window.h"
#include "resources/about.h"

// The page's side, in page.js.
EM_JS(void, JsSetTitle, (const char* title), { talvoPage.setTitle(UTF8ToString(title)); });
EM_JS(void, JsShown, (), { talvoPage.shown(); });
EM_JS(void, JsPaintSoon, (), { talvoPage.paintSoon(); });
EM_JS(void, JsAcceptDrops, (), { talvoPage.acceptDrops(); });
EM_JS(void, JsMenuAppend, (int menu, int kind, int id, int popup, const char* text),
      { talvoPage.menuAppend(menu, kind, id, popup, UTF8ToString(text)); });
EM_JS(void, JsMenuCheck, (int menu, int position, int checked), { talvoPage.menuCheck(menu, position, checked); });
EM_JS(void, JsCapture, (int on), { talvoPage.capture(on); });
EM_JS(void, JsAboutShow,
      (const char* caption, const char* product, const char* credit, const char* contact1, const char* contact2), {
          talvoPage.aboutShow([caption, product, credit, contact1, contact2].map(t => UTF8ToString(t)));
      });
EM_JS(void, JsAboutHide, (), { talvoPage.aboutHide(); });
EM_JS(void, JsShowError, (const char* text, const char* caption),
      { talvoPage.showError(UTF8ToString(caption) + ": " + UTF8ToString(text)); });
EM_JS(void, JsEnded, (int code), { talvoPage.ended(code); });
// Resolves when the page posts input, or after ms (never when ms < 0).
EM_ASYNC_JS(void, JsWait, (double ms), { await talvoPage.wait(ms); });
// Lets the browser run its tasks (input, painting) and comes straight back.
EM_ASYNC_JS(void, JsYield, (), { await talvoPage.yieldToBrowser(); });

namespace {

struct MenuItem {
    uint32_t id;
    int32_t popup; // menu index, or -1
};

enum MenuKind { KindString = 0, KindPopup = 1, KindSeparator = 2 };

// Running flat out, the loop gives the browser its turn this often, so the
// page answers input and paints at its own pace.
constexpr uint32_t YieldEveryMs = 8;

struct State {
    bool windowExists = false;
    bool started = false;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> surface;
    uint8_t colours[256][4] = {};
    // What the window shows: the surface bytes and colour table as last
    // presented, turned into canvas pixels when the page paints.
    std::vector<uint8_t> shown;
    uint8_t shownColours[256][4] = {};
    std::vector<uint32_t> pixels;
    bool fresh = false;
    uint32_t presents = 0;
    uint32_t lastYield = 0;
    int32_t cursorX = 0, cursorY = 0, buttons = 0;
    std::vector<std::vector<MenuItem>> menus;
    bool dialogOpen = false;
    int32_t dialogResult = 0;
    std::deque<PlatformMessage> dialogInput;
    uint32_t backColour = 0xFFFFFF;
};

State S;

constexpr uintptr_t MainWindowId = 1;
constexpr uintptr_t DialogWindowId = 2;

WindowHandle HandleOf(uintptr_t id) { return reinterpret_cast<WindowHandle>(id); }

int32_t MenuIndexOf(MenuHandle handle)
{
    const uintptr_t index = reinterpret_cast<uintptr_t>(handle);
    if (index == 0 || index > S.menus.size()) return -1;
    return static_cast<int32_t>(index - 1);
}

// The menu index and position of the item with that id, searched depth first.
bool FindItem(int32_t menu, uint32_t id, int32_t* foundMenu, int32_t* foundPosition, int depth = 0)
{
    if (menu < 0 || depth > 8) return false;
    const std::vector<MenuItem>& items = S.menus[static_cast<size_t>(menu)];
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].popup >= 0) {
            if (FindItem(items[i].popup, id, foundMenu, foundPosition, depth + 1)) return true;
        } else if (items[i].id == id) {
            *foundMenu = menu;
            *foundPosition = static_cast<int32_t>(i);
            return true;
        }
    }
    return false;
}

} // namespace

bool WebProgramRunning() { return S.started && S.windowExists; }

// Called by the page.

extern "C" EMSCRIPTEN_KEEPALIVE void WebPost(uint32_t message, uint32_t wParam, int32_t lParam)
{
    if (message >= WmMouseMove && message <= WmRButtonUp) {
        S.cursorX = static_cast<int16_t>(lParam & 0xFFFF);
        S.cursorY = static_cast<int16_t>((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF);
        S.buttons = static_cast<int32_t>(wParam & (MkLButton | MkRButton));
    }
    PlatformPostMessage(message, wParam, lParam);
}

// Paths in the working folder, one a line, in the order dropped.
extern "C" EMSCRIPTEN_KEEPALIVE void WebDrop(const char* paths)
{
    std::vector<std::string> list;
    std::string path;
    for (const char* c = paths; *c; ++c) {
        if (*c == '\n') {
            if (!path.empty()) list.push_back(path);
            path.clear();
        } else {
            path += *c;
        }
    }
    if (!path.empty()) list.push_back(path);
    if (!list.empty()) QueuePostDrop(list);
}

extern "C" EMSCRIPTEN_KEEPALIVE void WebDialogInput(uint32_t message, uint32_t wParam)
{
    if (S.dialogOpen) S.dialogInput.push_back(PlatformMessage{HandleOf(DialogWindowId), message, wParam, 0});
}

// The presented picture as RGBA pixels, or null when nothing new was
// presented since the last call.
extern "C" EMSCRIPTEN_KEEPALIVE const uint32_t* WebFramePixels()
{
    if (!S.fresh) return nullptr;
    S.fresh = false;
    uint32_t rgba[256];
    for (int i = 0; i < 256; ++i) {
        const uint8_t* c = S.shownColours[i];
        rgba[i] = 0xFF000000u | static_cast<uint32_t>(c[0]) << 16 | static_cast<uint32_t>(c[1]) << 8 | c[2];
    }
    for (size_t i = 0; i < S.shown.size(); ++i) S.pixels[i] = rgba[S.shown[i]];
    return S.pixels.data();
}

// For tests and measurements: nothing waits to be handled, and how many
// pictures the program has presented.
// The page is shown again or resized: the window is painted anew, from the
// surface as it is now (strokes made at Stop included), as a repaint does on
// the desktop.
extern "C" EMSCRIPTEN_KEEPALIVE void WebRepaint()
{
    if (S.windowExists) PlatformInvalidate();
}

extern "C" EMSCRIPTEN_KEEPALIVE int WebIdle() { return !QueuePending() && S.dialogInput.empty(); }
extern "C" EMSCRIPTEN_KEEPALIVE uint32_t WebPresentCount() { return S.presents; }

// Window and picture.

WindowHandle PlatformCreateWindow(const char* title, int32_t clientWidth, int32_t clientHeight)
{
    S.windowExists = true;
    S.menus.assign(1, {});
    JsSetTitle(title);
    const WindowHandle window = HandleOf(MainWindowId);
    QueueSetWindow(window);
    WndProc(window, WmSize, 0, PackPoint(clientWidth, clientHeight));
    return window;
}

uint8_t* PlatformCreateSurface(int32_t width, int32_t height)
{
    S.width = width;
    S.height = height;
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height);
    S.surface.assign(size, 0);
    S.shown.assign(size, 0);
    S.pixels.assign(size, 0xFF000000u);
    return S.surface.data();
}

void PlatformReleaseSurface() {}

void PlatformSetColourTable(int32_t first, int32_t count, const uint8_t (*bgra)[4])
{
    for (int32_t i = first; i < first + count && i < 256; ++i) std::memcpy(S.colours[i], bgra[i], 4);
}

void PlatformShowWindow()
{
    JsShown();
    WndProc(HandleOf(MainWindowId), WmSetFocus, 0, 0);
    WndProc(HandleOf(MainWindowId), WmPaint, 0, 0);
}

void PlatformDestroyWindow()
{
    if (!S.windowExists) return;
    S.windowExists = false;
    QueueSetWindow(nullptr);
    JsCapture(0);
    WndProc(HandleOf(MainWindowId), WmDestroy, 0, 0);
}

void PlatformPresent(int32_t width, int32_t height)
{
    if (!S.windowExists || S.surface.empty()) return;
    const int32_t w = width < 0 ? 0 : (width > S.width ? S.width : width);
    const int32_t h = height < 0 ? 0 : (height > S.height ? S.height : height);
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(&S.shown[static_cast<size_t>(y * S.width)], &S.surface[static_cast<size_t>(y * S.width)],
                    static_cast<size_t>(w));
    std::memcpy(S.shownColours, S.colours, sizeof S.colours);
    if (!S.fresh) JsPaintSoon();
    S.fresh = true;
    ++S.presents;
}

// A browser has no palette device.
int32_t PlatformRealizePalette(const uint8_t (*)[4], int32_t) { return 0; }

// Messages.

int32_t PlatformDefWindowProc(WindowHandle window, uint32_t message, uint32_t wParam, int32_t)
{
    if (message == WmClose) PlatformDestroyWindow();
    if (message == WmSysCommand && (wParam & 0xFFF0u) == ScClose && S.windowExists) WndProc(window, WmClose, 0, 0);
    return 0;
}

void PlatformPumpBegin()
{
    S.started = true;
    if (PlatformTicks() - S.lastYield >= YieldEveryMs) {
        JsYield();
        S.lastYield = PlatformTicks();
    }
}

void PlatformWaitMessage(uint32_t timeoutMs)
{
    if (QueuePending()) return;
    JsWait(timeoutMs == PlatformWaitForever ? -1.0 : static_cast<double>(timeoutMs));
    S.lastYield = PlatformTicks();
}

// Time.

uint32_t PlatformTicks() { return static_cast<uint32_t>(static_cast<uint64_t>(emscripten_get_now())); }
uint32_t PlatformClockSeconds() { return static_cast<uint32_t>(std::time(nullptr)); }

// Mouse: the page captures the pointer that is down.

void PlatformSetCapture() { JsCapture(1); }
void PlatformReleaseCapture() { JsCapture(0); }

void PlatformCursorPos(int32_t* x, int32_t* y, int32_t* buttons)
{
    *x = S.cursorX;
    *y = S.cursorY;
    *buttons = S.buttons;
}

// The menu: a model here for the check marks, mirrored into the page. The
// page's own items (Open, Download) stand before the program's.

MenuHandle PlatformGetSystemMenu() { return reinterpret_cast<MenuHandle>(uintptr_t{1}); }

MenuHandle PlatformCreateMenu()
{
    S.menus.emplace_back();
    return reinterpret_cast<MenuHandle>(static_cast<uintptr_t>(S.menus.size()));
}

void PlatformAppendMenu(MenuHandle menu, uint32_t flags, uintptr_t idOrPopup, const char* text)
{
    const int32_t index = MenuIndexOf(menu);
    if (index < 0) return;
    MenuItem item{0, -1};
    int kind = KindString;
    if (flags & MfSeparator) {
        kind = KindSeparator;
    } else if (flags & MfPopup) {
        item.popup = MenuIndexOf(reinterpret_cast<MenuHandle>(idOrPopup));
        if (item.popup < 0) return;
        kind = KindPopup;
    } else {
        item.id = static_cast<uint32_t>(idOrPopup);
    }
    // Separators are never found by id: give them one no command has.
    if (kind == KindSeparator) item.id = 0xFFFFFFFFu;
    S.menus[static_cast<size_t>(index)].push_back(item);
    JsMenuAppend(index, kind, static_cast<int>(item.id), item.popup, text ? text : "");
}

void PlatformCheckMenuItem(MenuHandle menu, uint32_t id, uint32_t flags)
{
    int32_t found = -1, position = -1;
    if (FindItem(MenuIndexOf(menu), id, &found, &position)) JsMenuCheck(found, position, (flags & MfChecked) != 0);
}

// The About dialog: a modal element of the page. The rest of the page is
// inert meanwhile, so no input reaches the owner; the loop waits for the
// dialog's own input and frames stand still. What was waiting when it
// opened (a button's release among it) is the owner's, handled once it is
// gone.

int32_t PlatformAboutDialog(DialogProc proc)
{
    if (S.dialogOpen) return 0;
    S.dialogOpen = true;
    S.dialogResult = 0;
    S.dialogInput.clear();
    const std::vector<PlatformMessage> waiting = QueueSetAside();
    const WindowHandle dialog = HandleOf(DialogWindowId);
    JsAboutShow(TALVO_ABOUT_CAPTION, TALVO_ABOUT_PRODUCT, TALVO_ABOUT_CREDIT, TALVO_ABOUT_CONTACT1,
                TALVO_ABOUT_CONTACT2);
    proc(dialog, WmInitDialog, 0, 0);
    // The program is already asked to end: the dialog gives way at once.
    for (const PlatformMessage& msg : waiting)
        if (S.dialogOpen && QueueEndsProgram(msg)) proc(dialog, WmClose, 0, 0);
    while (S.dialogOpen) {
        if (!S.dialogInput.empty()) {
            const PlatformMessage input = S.dialogInput.front();
            S.dialogInput.pop_front();
            proc(dialog, input.message, input.wParam, 0);
            continue;
        }
        PlatformMessage msg;
        bool ending = false;
        while (!ending && PlatformPeekMessage(&msg)) {
            if (msg.message == WmPaint) WndProc(msg.window, msg.message, msg.wParam, msg.lParam);
            // The page asks the program to end (another tab takes over):
            // the dialog goes first, then the request is handled.
            if (QueueEndsProgram(msg)) {
                if (msg.message == WmQuit)
                    PlatformPostQuit(msg.wParam);
                else
                    PlatformPostMessage(msg.message, msg.wParam, msg.lParam);
                ending = true;
            }
        }
        if (ending) break;
        JsWait(-1.0);
    }
    S.dialogOpen = false;
    S.dialogInput.clear();
    QueuePutBack(waiting);
    JsAboutHide();
    S.lastYield = PlatformTicks();
    return S.dialogResult;
}

void PlatformEndDialog(WindowHandle, int32_t result)
{
    S.dialogOpen = false;
    S.dialogResult = result;
}

// Drops: the page writes dropped files into the working folder and posts them
// (WebDrop) once the program has asked for drops.
void PlatformAcceptDrops() { JsAcceptDrops(); }

// Strings, text, clipboard, errors.

int32_t PlatformLoadString(uint32_t id, char* buffer, int32_t size) { return CopyBuiltInString(id, buffer, size); }

// Text draws nothing, which keeps the surface's bytes alike everywhere.
int32_t PlatformDrawText(int32_t, int32_t, int32_t, const char*, bool, uint32_t) { return 0; }
void PlatformSetBackColour(uint32_t colour) { S.backColour = colour; }
uint32_t PlatformBackColour() { return S.backColour; }
void PlatformCopyToClipboard() {}

void PlatformShowError(const char* text, const char* caption) { JsShowError(text, caption); }

void PlatformShutdown(int32_t code)
{
    std::fflush(stdout);
    JsEnded(code);
}

// The window is a canvas in a web page. The menu and the About dialog are
// elements of the page (page.js builds them from the calls made here), the
// page's input is posted into the shared message queue (framework/queue),
// and every wait yields to the browser through Asyncify, so the frame loop
// keeps its shape while the page stays live.
#include <emscripten.h>
#include <emscripten/em_js.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "framework/platform.h"
#include "framework/queue/message_queue.h"
#include "framework/raster.h"
#include "framework/surface_bytes.h"
#include "framework/web/web.h"
#include "resources/about.h"
#include "framework/strings.h"
#include "resources/string_table.h"
#include "resources/translations.h"

// The page's side, in page.js.
EM_JS(void, JsSetTitle, (const char* title), { talvoPage.setTitle(UTF8ToString(title)); });
EM_JS(void, JsShown, (), { talvoPage.shown(); });
EM_JS(void, JsCatalogue, (char* out, int size), { stringToUTF8(talvoPage.catalogue(), out, size); });
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
EM_JS(void, JsKeysShow, (const char* caption, const char* text),
      { talvoPage.keysShow(UTF8ToString(caption), UTF8ToString(text)); });
EM_JS(int, JsKeyLabel, (int letter), { return talvoPage.keyLabel(letter); });
EM_JS(void, JsShowError, (const char* text, const char* caption),
      { talvoPage.showError(UTF8ToString(caption) + ": " + UTF8ToString(text)); });
EM_JS(void, JsShowNote, (const char* text), { talvoPage.showNote(UTF8ToString(text)); });
EM_JS(void, JsEnded, (int code), { talvoPage.ended(code); });
// Where the page last saw the pointer, anywhere on it: x, y and buttons.
EM_JS(void, JsPointer, (int32_t* out), {
    const at = talvoPage.pointer();
    HEAP32[out >> 2] = at[0];
    HEAP32[(out >> 2) + 1] = at[1];
    HEAP32[(out >> 2) + 2] = at[2];
});
// RGBA pixels to the clipboard, as a PNG.
EM_JS(void, JsCopyPicture, (const uint32_t* pixels, int width, int height),
      { talvoPage.copyPicture(HEAPU8.slice(pixels, pixels + width * height * 4), width, height); });
// The text drawn in the browser's font: a block from malloc holding the
// width, the height and then the coverage bytes, or 0.
EM_JS(uint8_t*, JsTextMask, (int height, const char* text), { return talvoPage.textMask(height, UTF8ToString(text)); });
// A download made of parts, each copied out of the program's memory as it
// comes, so that a large file never has to fit there.
EM_JS(void, JsDownloadStart, (const char* name, const char* kind),
      { talvoPage.downloadStart(UTF8ToString(name), UTF8ToString(kind)); });
EM_JS(void, JsDownloadPart, (const uint8_t* bytes, size_t size),
      { talvoPage.downloadPart(HEAPU8.slice(bytes, bytes + size)); });
EM_JS(void, JsDownloadEnd, (int keep), { talvoPage.downloadEnd(keep); });
EM_JS(void, JsShowProgress, (const char* text, int permille),
      { talvoPage.showProgress(text ? UTF8ToString(text) : "", permille); });
EM_JS(void, JsSetZoom, (int choice), { talvoPage.setZoom(choice); });
EM_JS(void, JsEnableButton, (int character, int enabled), { talvoPage.enableButton(character, enabled); });
// Resolves when the page posts input, or after ms (never when ms < 0).
EM_ASYNC_JS(void, JsWait, (double ms), { await talvoPage.wait(ms); });
// Lets the browser run its tasks (input, painting) and comes straight back.
EM_ASYNC_JS(void, JsYield, (), { await talvoPage.yieldToBrowser(); });
// Never comes back: the program ends asleep.
EM_ASYNC_JS(void, JsSleepForever, (), { await new Promise(() => {}); });

namespace {

// Running flat out, the loop gives the browser its turn this often, so the
// page answers input and paints at its own pace.
constexpr uint32_t YieldEveryMs = 8;

enum MenuKind { KindString = 0, KindPopup = 1, KindSeparator = 2 };

struct State {
    bool windowExists = false;
    bool started = false;
    int32_t width = 0, height = 0;
    SurfaceBytes surface;
    uint8_t colours[256][4] = {};
    // What the window shows: the surface bytes and colour table as last
    // presented, turned into canvas pixels when the page paints.
    std::vector<uint8_t> shown;
    uint8_t shownColours[256][4] = {};
    std::vector<uint32_t> pixels;
    // A present not yet copied to shown, and its size.
    bool presentPending = false;
    // The loop's turn to give way came while a present was pending.
    bool yieldWanted = false;
    int32_t presentWidth = 0, presentHeight = 0;
    bool fresh = false;
    uint32_t presents = 0;
    uint32_t lastYield = 0;
    bool aboutShown = false;
    std::vector<int32_t> overlayAt;
    std::vector<uint8_t> overlayBytes;
    int fault = 0;
};

State S;

constexpr uintptr_t MainWindowId = 1;
constexpr uintptr_t DialogWindowId = 2;

WindowHandle HandleOf(uintptr_t id) { return reinterpret_cast<WindowHandle>(id); }

// The page can paint only while the program waits, so a present is copied
// for it only when the program is about to give way: at "No wait" thousands
// of presents a second come and go between two paints.
void KeepPresented()
{
    if (!S.presentPending) return;
    S.presentPending = false;
    RasterCopyBlock(S.shown.data(), S.width, S.surface.data(), S.width, S.presentWidth, S.presentHeight);
    for (size_t i = 0; i < S.overlayAt.size(); ++i) S.shown[static_cast<size_t>(S.overlayAt[i])] = S.overlayBytes[i];
    std::memcpy(S.shownColours, S.colours, sizeof S.colours);
}

} // namespace

bool WebProgramRunning() { return S.started && S.windowExists; }

// Called by the page.

extern "C" EMSCRIPTEN_KEEPALIVE void WebPost(uint32_t message, uint32_t wParam, int32_t lParam)
{
    QueuePost(message, wParam, lParam);
}

// A key press, the character it makes (negative: none) and the modifier
// keys held (MkShift, MkControl).
extern "C" EMSCRIPTEN_KEEPALIVE void WebPostKey(uint32_t virtualKey, int32_t character, uint32_t modifiers)
{
    QueuePostKey(virtualKey, character, modifiers);
}

extern "C" EMSCRIPTEN_KEEPALIVE void WebPostKeyUp(uint32_t virtualKey) { QueuePost(WmKeyUp, virtualKey, 0); }

// A mouse message at field cell (x, y), beyond the edges while captured.
extern "C" EMSCRIPTEN_KEEPALIVE void WebPostMouse(uint32_t message, uint32_t buttons, int32_t x, int32_t y)
{
    QueuePostMouse(message, buttons, x, y);
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
    if (S.aboutShown) QueuePost(HandleOf(DialogWindowId), message, wParam, 0);
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

// The page is shown again or resized: the window is painted anew, from the
// surface as it is now (strokes made at Stop included), as a repaint does on
// the desktop.
extern "C" EMSCRIPTEN_KEEPALIVE void WebRepaint()
{
    if (S.windowExists) QueueRepaint();
}

// For tests and measurements: nothing waits to be handled, and how many
// pictures the program has presented.
extern "C" EMSCRIPTEN_KEEPALIVE int WebIdle() { return !QueuePending(); }
// The top of the program's heap, which does not come down: the most its
// allocations have taken so far.
extern "C" EMSCRIPTEN_KEEPALIVE uintptr_t WebHeapTop() { return reinterpret_cast<uintptr_t>(sbrk(0)); }
extern "C" EMSCRIPTEN_KEEPALIVE uint32_t WebPresentCount() { return S.presents; }

// For tests: the program fails at its next wait, on its own stack, as a
// fault of its own would. 1: it runs out of memory, 2: a trap, 3: an
// exception that nothing catches.
extern "C" EMSCRIPTEN_KEEPALIVE void WebTestFault(int kind) { S.fault = kind; }

namespace {

void FailIfAsked()
{
    const int kind = S.fault;
    if (kind == 0) return;
    S.fault = 0;
    if (kind == 1) {
        // Memory grows block by block up to its maximum; the block that
        // cannot be had ends the program.
        static std::vector<void*> held;
        for (;;) held.push_back(std::malloc(8u << 20));
    }
    if (kind == 2) __builtin_trap();
    throw std::runtime_error("a fault asked for by a test");
}

} // namespace

// --- The window and its picture.

PlatformWindow PlatformOpenWindow(const char* title, int32_t width, int32_t height, MessageHandler procedure)
{
    const WindowHandle window = HandleOf(MainWindowId);
    S.windowExists = true;
    S.width = width;
    S.height = height;
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height);
    S.surface.assign(size, 0);
    S.shown.assign(size, 0);
    S.pixels.assign(size, 0xFF000000u);
    JsSetTitle(title);
    JsAcceptDrops();
    QueueOpen(window, procedure);
    QueueSend(WmSize, 0, PackPoint(width, height));
    return PlatformWindow{window, S.surface.data(), S.colours};
}

void PlatformShowWindow()
{
    JsShown();
    QueueSend(WmSetFocus, 0, 0);
    QueueSend(WmPaint, 0, 0);
}

void PlatformCloseWindow()
{
    if (!S.windowExists) return;
    S.windowExists = false;
    JsCapture(0);
    QueueClose();
}

void PlatformSetOverlay(const int32_t* positions, const uint8_t* bytes, size_t count)
{
    S.overlayAt.clear();
    S.overlayBytes.clear();
    for (size_t i = 0; i < count; ++i)
        if (positions[i] >= 0 && static_cast<size_t>(positions[i]) < S.shown.size()) {
            S.overlayAt.push_back(positions[i]);
            S.overlayBytes.push_back(bytes[i]);
        }
}

void PlatformPresent(int32_t width, int32_t height)
{
    if (!S.windowExists || S.surface.empty()) return;
    const int32_t w = width < 0 ? 0 : (width > S.width ? S.width : width);
    const int32_t h = height < 0 ? 0 : (height > S.height ? S.height : height);
    // A present of another size keeps what the earlier one showed beyond it.
    if (S.presentPending && (w != S.presentWidth || h != S.presentHeight)) KeepPresented();
    S.presentPending = true;
    S.presentWidth = w;
    S.presentHeight = h;
    // The loop gives way at the start of a frame, after the step has drawn
    // again: the picture is taken now, while the surface still holds it.
    if (S.yieldWanted) KeepPresented();
    if (!S.fresh) JsPaintSoon();
    S.fresh = true;
    ++S.presents;
}

// A browser has no palette device.
int32_t PlatformMatchDisplayColours(const uint8_t (*)[4], int32_t, bool) { return 0; }

// The page captures the pointer that is down.
void PlatformCaptureMouse(bool held) { JsCapture(held ? 1 : 0); }

// --- Input and time.

bool PlatformNextMessage(PlatformMessage* msg) { return QueueNext(msg); }
void PlatformHandleMessage(const PlatformMessage& msg) { QueueHandle(msg); }
uint32_t PlatformKeyModifiers() { return QueueKeyModifiers(); }
void PlatformPostQuit(uint32_t code) { QueuePostQuit(code); }

void PlatformTakeInput() { PlatformWaitInput(0); }

void PlatformWaitInput(uint32_t milliseconds)
{
    FailIfAsked();
    if (milliseconds == 0) {
        S.started = true;
        const uint32_t since = PlatformTicks() - S.lastYield;
        if (since < YieldEveryMs) return;
        // A present not taken yet is followed by the present of this frame:
        // the turn waits for that one, unless no present came for a while.
        if (S.presentPending && since < 2 * YieldEveryMs) {
            S.yieldWanted = true;
            return;
        }
        S.yieldWanted = false;
        KeepPresented();
        JsYield();
        S.lastYield = PlatformTicks();
        return;
    }
    if (QueuePending()) return;
    // Frames end with their present: the surface still holds it here.
    S.yieldWanted = false;
    KeepPresented();
    JsWait(milliseconds == PlatformForever ? -1.0 : static_cast<double>(milliseconds));
    S.lastYield = PlatformTicks();
}

// The page has no commands of its own for the window.
bool PlatformDefault(WindowHandle, uint32_t, uint32_t, int32_t, int32_t*) { return false; }

uint32_t PlatformTicks() { return static_cast<uint32_t>(static_cast<uint64_t>(emscripten_get_now())); }

// --- The menu: mirrored into the page, whose own items (Open, Download,
// Kept scenes) stand before the program's.

void PlatformMenuAdd(int32_t menu, uint32_t kind, uint32_t id, int32_t popup, const char* text)
{
    const int page = kind == MfSeparator ? KindSeparator : kind == MfPopup ? KindPopup : KindString;
    JsMenuAppend(menu, page, static_cast<int>(id), popup, text);
}

void PlatformMenuMark(int32_t menu, int32_t position, uint32_t, bool marked)
{
    JsMenuCheck(menu, position, marked ? 1 : 0);
}

// --- Dialogs and messages.

// The About dialog: a modal element of the page, the rest of the page inert
// meanwhile; its buttons and keys come back as messages for the dialog.
int32_t PlatformAbout(DialogProc, WindowHandle* shown)
{
    S.aboutShown = true;
    const std::string product = TranslatedWith(TALVO_ABOUT_PRODUCT_FORMAT, {TALVO_VERSION});
    JsAboutShow(Translated(TALVO_ABOUT_CAPTION), product.c_str(), Translated(TALVO_ABOUT_CREDIT),
                Translated(TALVO_ABOUT_CONTACT1), Translated(TALVO_ABOUT_CONTACT2));
    *shown = HandleOf(DialogWindowId);
    return 0;
}

void PlatformEndAbout(int32_t)
{
    S.aboutShown = false;
    JsAboutHide();
    S.lastYield = PlatformTicks();
}

void PlatformShowMessage(const char* text, const char* caption, bool note)
{
    if (note)
        JsShowNote(text);
    else
        JsShowError(text, caption);
}

int32_t PlatformLoadString(uint32_t id, char* buffer, int32_t size) { return CopyTableString(id, buffer, size); }

// The page's keyboard map gives one character a key.
int32_t PlatformKeyLabel(uint32_t letter, char* buffer, int32_t size)
{
    if (letter < 'A' || letter > 'Z' || size <= 0) return 0;
    const uint32_t c = static_cast<uint32_t>(JsKeyLabel(static_cast<int>(letter)));
    char text[4];
    int32_t length = 0;
    if (c < 0x21 || (c >= 0x7F && c < 0xA0) || c > 0xFFFF || (c >= 0xD800 && c < 0xE000)) return 0;
    if (c < 0x80) {
        text[length++] = static_cast<char>(c);
    } else if (c < 0x800) {
        text[length++] = static_cast<char>(0xC0 | (c >> 6));
        text[length++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        text[length++] = static_cast<char>(0xE0 | (c >> 12));
        text[length++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text[length++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    if (length >= size) return length;
    std::memcpy(buffer, text, static_cast<size_t>(length));
    buffer[length] = 0;
    return length;
}

void PlatformShowKeys(const char* text, const char* caption) { JsKeysShow(caption, text); }

// The catalogue the page chose from the browser's languages, asked once.
const char* PlatformTranslate(const char* english)
{
    static const char* const catalogue = [] {
        char name[32] = "";
        JsCatalogue(name, sizeof name);
        return CatalogueFor(name);
    }();
    return CatalogueText(catalogue, english);
}

uint32_t PlatformTakeDroppedName(uint32_t drop, char* buffer, uint32_t size)
{
    return QueueTakeDroppedName(drop, buffer, size);
}

// --- What the library offers besides.

// The last pointer event the page had, wherever on the page it was: a page
// hears nothing of a pointer outside it, nor of buttons changed there.
void PlatformPointer(int32_t* x, int32_t* y, int32_t* buttons)
{
    int32_t at[3] = {0, 0, 0};
    JsPointer(at);
    *x = at[0];
    *y = at[1];
    *buttons = at[2];
}

void PlatformCopyToClipboard(int32_t width, int32_t height)
{
    if (S.surface.empty()) return;
    const int32_t w = width < S.width ? width : S.width, h = height < S.height ? height : S.height;
    std::vector<uint32_t> rgba(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t* c = S.colours[S.surface[static_cast<size_t>(y * S.width + x)]];
            rgba[static_cast<size_t>(y * w + x)] =
                0xFF000000u | static_cast<uint32_t>(c[0]) << 16 | static_cast<uint32_t>(c[1]) << 8 | c[2];
        }
    JsCopyPicture(rgba.data(), w, h);
}

// A page saves by a download, which the browser places and names.
int32_t PlatformSaveFileStart(const char* name, const char* kind, char*, size_t)
{
    JsDownloadStart(name, kind);
    return 1;
}

bool PlatformSaveFilePart(const uint8_t* bytes, size_t size, char*, size_t)
{
    JsDownloadPart(bytes, size);
    return true;
}

int32_t PlatformSaveFileEnd(bool keep, char*, size_t)
{
    JsDownloadEnd(keep ? 1 : 0);
    return keep ? 1 : 0;
}

void PlatformShowProgress(const char* text, int32_t permille) { JsShowProgress(text, permille); }

// The page fits the field to the window unless the player chose a size.
int32_t PlatformZoomDefault() { return 0; }
void PlatformSetZoom(int32_t choice) { JsSetZoom(choice); }

void PlatformEnableButton(uint32_t character, bool enabled)
{
    JsEnableButton(static_cast<int>(character), enabled ? 1 : 0);
}

// The browser's canvas draws the text; its coverage becomes the surface's
// bytes in the two colours' entries.
int32_t PlatformText(const PlatformTextRequest& request)
{
    if (!request.text || S.surface.empty() || request.height == 0) return 0;
    uint8_t* block = JsTextMask(request.height, request.text);
    if (!block) return 0;
    int32_t w = 0, h = 0;
    std::memcpy(&w, block, 4);
    std::memcpy(&h, block + 4, 4);
    RasterTextMask(RasterTarget{S.surface.data(), S.width, S.height, S.width}, request.x, request.y, block + 8, w, h,
                   request.ink, request.paper);
    std::free(block);
    if (request.intoWindow) PlatformPresent(S.width, S.height);
    return 1;
}

// The program ends asleep instead of through exit(): an exit while Asyncify
// has the stack thrown would reach the page as an uncaught exception, since
// the frame loop runs on from a resumed wait.
void PlatformShutdown(int32_t code)
{
    std::fflush(stdout);
    KeepPresented();
    JsEnded(code);
    JsSleepForever();
}

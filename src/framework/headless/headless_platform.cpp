// A window that exists only in memory: input comes from a schedule that
// tests and scripted runs fill, through the shared message queue; time is
// simulated unless asked otherwise, and the system menu is a model that can
// be read back.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <vector>

#include "framework/end_signals.h"
#include "framework/headless/headless.h"
#include "framework/message_queue.h"
#include "framework/platform.h"
#include "framework/strings.h"
#include "framework/window.h"

namespace {

struct MenuItem {
    uint32_t flags;
    uint32_t id;
    int32_t popup; // menu index, or -1
    std::string text;
    bool checked;
};

struct Menu {
    std::vector<MenuItem> items;
};

struct State {
    bool windowExists = false;
    std::vector<uint8_t> surface;
    uint8_t colours[256][4] = {};
    std::vector<uint8_t> windowBytes;
    int32_t presents = 0;
    std::deque<HeadlessEvent> schedule;
    int64_t frame = 0;
    bool realClock = false;
    uint32_t ticks = 1000000;
    bool haveSeconds = false;
    uint32_t seconds = 0;
    bool captured = false;
    int32_t cursorX = 0, cursorY = 0, buttons = 0;
    std::vector<Menu> menus;
    int32_t realizes = 0;
    int32_t dialogs = 0;
    bool dialogOpen = false;
    int32_t dialogResult = 0;
    uint32_t backColour = 0xFFFFFF;
    HeadlessDefCall lastDef = {};
    void (*onDestroy)() = nullptr;
    void (*onExit)(int32_t) = nullptr;
    int32_t errors = 0;
    std::string lastError;
};

State S;

constexpr uintptr_t MainWindowId = 1;
constexpr uintptr_t DialogWindowId = 2;

WindowHandle HandleOf(uintptr_t id) { return reinterpret_cast<WindowHandle>(id); }

MenuHandle MenuHandleOf(size_t index) { return reinterpret_cast<MenuHandle>(index + 1); }

Menu* MenuOf(MenuHandle handle)
{
    const uintptr_t index = reinterpret_cast<uintptr_t>(handle);
    if (index == 0 || index > S.menus.size()) return nullptr;
    return &S.menus[index - 1];
}

MenuItem* FindItem(Menu* menu, uint32_t id, int depth = 0)
{
    if (!menu || depth > 8) return nullptr;
    for (MenuItem& item : menu->items) {
        if (item.popup >= 0) {
            if (MenuItem* found = FindItem(&S.menus[static_cast<size_t>(item.popup)], id, depth + 1)) return found;
        } else if (!(item.flags & MfSeparator) && item.id == id) {
            return &item;
        }
    }
    return nullptr;
}

void Deliver(const HeadlessEvent& event)
{
    switch (event.kind) {
    case HeadlessEvent::Post:
        if (event.message == WmLButtonDown) S.buttons |= 1;
        if (event.message == WmLButtonUp) S.buttons &= ~1;
        if (event.message == WmRButtonDown) S.buttons |= 2;
        if (event.message == WmRButtonUp) S.buttons &= ~2;
        if (event.message >= WmMouseMove && event.message <= WmRButtonUp) {
            S.cursorX = static_cast<int16_t>(event.lParam & 0xFFFF);
            S.cursorY = static_cast<int16_t>((static_cast<uint32_t>(event.lParam) >> 16) & 0xFFFF);
        }
        PlatformPostMessage(event.message, event.wParam, event.lParam);
        break;
    case HeadlessEvent::Drop:
        QueuePostDrop({event.path});
        break;
    case HeadlessEvent::Close:
        // As by the close box: the system command goes through the window.
        PlatformPostMessage(WmSysCommand, ScClose, 0);
        break;
    }
}

void DeliverDue()
{
    while (!S.schedule.empty() && S.schedule.front().frame <= S.frame) {
        const HeadlessEvent event = S.schedule.front();
        S.schedule.pop_front();
        Deliver(event);
    }
}

// Nothing is pending: let time run on to the next scheduled event.
void SkipToNextEvent()
{
    if (!S.schedule.empty()) {
        if (S.schedule.front().frame - 1 > S.frame) S.frame = S.schedule.front().frame - 1;
        return;
    }
    // Nothing will ever come: end the run rather than wait forever.
    if (S.windowExists)
        PlatformPostMessage(WmSysCommand, ScClose, 0);
    else
        PlatformPostQuit(0);
}

// An end request becomes the message of an ending session.
void TakeEndRequest()
{
    if (EndSignalTake()) PlatformPostMessage(WmEndSession, 1, 0);
}

void Advance(uint32_t milliseconds)
{
    if (S.realClock)
        EndSignalsSleep(milliseconds);
    else
        S.ticks += milliseconds;
    TakeEndRequest();
}

// The About dialog's own loop: keys and closes go to the dialog; mouse
// input and menu commands that come while it is open cannot reach the
// disabled owner. What was already waiting when it opened is the owner's and
// is handled once it is gone.
void RunDialog(DialogProc proc)
{
    const WindowHandle dialog = HandleOf(DialogWindowId);
    const std::vector<PlatformMessage> waiting = QueueSetAside();
    proc(dialog, WmInitDialog, 0, 0);
    // The program is already asked to end: the dialog gives way at once.
    for (const PlatformMessage& msg : waiting)
        if (S.dialogOpen && QueueEndsProgram(msg)) proc(dialog, WmClose, 0, 0);
    while (S.dialogOpen) {
        TakeEndRequest();
        if (!QueuePending()) {
            ++S.frame;
            DeliverDue();
            if (!QueuePending()) {
                if (S.schedule.empty()) {
                    // Nobody is left to press OK.
                    proc(dialog, WmClose, 0, 0);
                    break;
                }
                SkipToNextEvent();
                continue;
            }
        }
        PlatformMessage msg;
        if (!PlatformPeekMessage(&msg)) continue;
        switch (msg.message) {
        case WmKeyDown:
            if (msg.wParam == VkReturn) proc(dialog, WmCommand, 1, 0);
            if (msg.wParam == VkEscape) proc(dialog, WmCommand, 2, 0);
            break;
        case WmSysCommand:
            if ((msg.wParam & 0xFFF0u) == ScClose) {
                proc(dialog, WmClose, 0, 0);
                // The close box of the main window is what was asked for:
                // it follows once the dialog is gone.
                PlatformPostMessage(WmSysCommand, ScClose, 0);
            }
            break;
        case WmEndSession:
            // The dialog goes with the session; the program then saves.
            proc(dialog, WmClose, 0, 0);
            PlatformPostMessage(WmEndSession, msg.wParam, msg.lParam);
            break;
        case WmQuit:
            S.dialogOpen = false;
            PlatformPostQuit(msg.wParam);
            break;
        case WmPaint:
        case WmDropFiles:
            WndProc(msg.window, msg.message, msg.wParam, msg.lParam);
            break;
        default:
            break;
        }
    }
    QueuePutBack(waiting);
}

} // namespace

WindowHandle PlatformCreateWindow(const char*, int32_t clientWidth, int32_t clientHeight)
{
    S.windowExists = true;
    S.menus.clear();
    Menu system;
    const struct {
        uint32_t id;
        const char* text;
    } standard[] = {{0xF120, "Restore"}, {0xF010, "Move"}, {0xF000, "Size"}, {0xF020, "Minimize"}, {0xF030, "Maximize"}};
    for (const auto& item : standard) system.items.push_back({MfString, item.id, -1, item.text, false});
    system.items.push_back({MfSeparator, 0, -1, "", false});
    system.items.push_back({MfString, ScClose, -1, "Close", false});
    S.menus.push_back(system);
    const WindowHandle window = HandleOf(MainWindowId);
    QueueSetWindow(window);
    // Creation reports the client size before anything else runs.
    WndProc(window, WmSize, 0, PackPoint(clientWidth, clientHeight));
    return window;
}

uint8_t* PlatformCreateSurface(int32_t width, int32_t height)
{
    S.surface.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    S.windowBytes.assign(S.surface.size(), 0);
    return S.surface.data();
}

void PlatformReleaseSurface() {}

void PlatformSetColourTable(int32_t first, int32_t count, const uint8_t (*bgra)[4])
{
    for (int32_t i = first; i < first + count && i < 256; ++i) std::memcpy(S.colours[i], bgra[i], 4);
}

void PlatformShowWindow()
{
    WndProc(HandleOf(MainWindowId), WmSetFocus, 0, 0);
    WndProc(HandleOf(MainWindowId), WmPaint, 0, 0);
}

void PlatformDestroyWindow()
{
    if (!S.windowExists) return;
    if (S.onDestroy) S.onDestroy();
    S.windowExists = false;
    QueueSetWindow(nullptr);
    S.captured = false;
    WndProc(HandleOf(MainWindowId), WmDestroy, 0, 0);
}

void PlatformPresent(int32_t width, int32_t height)
{
    if (!S.windowExists || S.surface.empty()) return;
    ++S.presents;
    const int32_t w = width < 0 ? 0 : (width > SurfaceWidth ? SurfaceWidth : width);
    const int32_t h = height < 0 ? 0 : (height > SurfaceHeight ? SurfaceHeight : height);
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(&S.windowBytes[static_cast<size_t>(y * SurfaceWidth)], &S.surface[static_cast<size_t>(y * SurfaceWidth)],
                    static_cast<size_t>(w));
}

int32_t PlatformRealizePalette(const uint8_t (*)[4], int32_t)
{
    ++S.realizes;
    return 0;
}

int32_t PlatformDefWindowProc(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam)
{
    S.lastDef = HeadlessDefCall{S.lastDef.count + 1, message, wParam, lParam};
    if (message == WmClose) PlatformDestroyWindow();
    if (message == WmSysCommand && (wParam & 0xFFF0u) == ScClose && S.windowExists)
        WndProc(window, WmClose, 0, 0);
    return 0;
}

void PlatformPumpBegin()
{
    ++S.frame;
    TakeEndRequest();
    DeliverDue();
}

void PlatformWaitMessage(uint32_t timeoutMs)
{
    TakeEndRequest();
    if (QueuePending()) return;
    if (timeoutMs == PlatformWaitForever)
        SkipToNextEvent();
    else
        Advance(timeoutMs);
}

uint32_t PlatformTicks()
{
    if (!S.realClock) return S.ticks;
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t PlatformClockSeconds()
{
    return S.haveSeconds ? S.seconds : static_cast<uint32_t>(std::time(nullptr));
}

void PlatformSetCapture() { S.captured = true; }
void PlatformReleaseCapture() { S.captured = false; }

void PlatformCursorPos(int32_t* x, int32_t* y, int32_t* buttons)
{
    *x = S.cursorX;
    *y = S.cursorY;
    *buttons = S.buttons;
}

MenuHandle PlatformGetSystemMenu() { return MenuHandleOf(0); }

MenuHandle PlatformCreateMenu()
{
    S.menus.push_back(Menu{});
    return MenuHandleOf(S.menus.size() - 1);
}

void PlatformAppendMenu(MenuHandle menu, uint32_t flags, uintptr_t idOrPopup, const char* text)
{
    Menu* target = MenuOf(menu);
    if (!target) return;
    MenuItem item{flags, 0, -1, text ? text : "", false};
    if (flags & MfPopup) {
        Menu* popup = MenuOf(reinterpret_cast<MenuHandle>(idOrPopup));
        if (!popup) return;
        item.popup = static_cast<int32_t>(popup - S.menus.data());
    } else {
        item.id = static_cast<uint32_t>(idOrPopup);
    }
    target->items.push_back(item);
}

void PlatformCheckMenuItem(MenuHandle menu, uint32_t id, uint32_t flags)
{
    if (MenuItem* item = FindItem(MenuOf(menu), id)) item->checked = (flags & MfChecked) != 0;
}

int32_t PlatformAboutDialog(DialogProc proc)
{
    ++S.dialogs;
    S.dialogOpen = true;
    S.dialogResult = 0;
    RunDialog(proc);
    S.dialogOpen = false;
    return S.dialogResult;
}

void PlatformEndDialog(WindowHandle, int32_t result)
{
    S.dialogOpen = false;
    S.dialogResult = result;
}

void PlatformAcceptDrops() {}

int32_t PlatformLoadString(uint32_t id, char* buffer, int32_t size)
{
    return CopyBuiltInString(id, buffer, size);
}

// No fonts here: text draws nothing.
int32_t PlatformDrawText(int32_t, int32_t, int32_t, const char*, bool, uint32_t) { return 0; }
void PlatformSetBackColour(uint32_t colour) { S.backColour = colour; }
uint32_t PlatformBackColour() { return S.backColour; }
void PlatformCopyToClipboard() {}

void PlatformShowError(const char* text, const char* caption)
{
    ++S.errors;
    S.lastError = text;
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

void PlatformShutdown(int32_t code)
{
    if (S.onExit) S.onExit(code);
    std::fflush(stdout);
    EndSignalsFinish();
    // A run that had to show an error did not go as asked.
    if (S.errors && code == 0) std::exit(1);
}

// Controls and views.

void HeadlessEndOnSignals() { EndSignalsWatch(); }

void HeadlessSchedule(const HeadlessEvent& event) { S.schedule.push_back(event); }
int64_t HeadlessFrame() { return S.frame; }
bool HeadlessEventsPending() { return !S.schedule.empty(); }
void HeadlessUseRealClock(bool real) { S.realClock = real; }
void HeadlessSetTicks(uint32_t ticks) { S.ticks = ticks; }

void HeadlessSetClockSeconds(uint32_t seconds)
{
    S.haveSeconds = true;
    S.seconds = seconds;
}

void HeadlessOnDestroy(void (*callback)()) { S.onDestroy = callback; }
void HeadlessOnExit(void (*callback)(int32_t)) { S.onExit = callback; }
const uint8_t* HeadlessWindowBytes() { return S.windowBytes.data(); }
int32_t HeadlessPresentCount() { return S.presents; }

void HeadlessSurfaceRgb(uint8_t* rgb)
{
    for (size_t i = 0; i < S.surface.size(); ++i) {
        const uint8_t* entry = S.colours[S.surface[i]];
        rgb[3 * i + 0] = entry[2];
        rgb[3 * i + 1] = entry[1];
        rgb[3 * i + 2] = entry[0];
    }
}

bool HeadlessWindowExists() { return S.windowExists; }
bool HeadlessCaptured() { return S.captured; }
int32_t HeadlessRealizeCount() { return S.realizes; }
int32_t HeadlessDialogCount() { return S.dialogs; }
bool HeadlessDialogOpen() { return S.dialogOpen; }
HeadlessDefCall HeadlessLastDefCall() { return S.lastDef; }
int32_t HeadlessErrorCount() { return S.errors; }
std::string HeadlessLastError() { return S.lastError; }

static void PrintMenu(std::string& out, const Menu& menu, int depth)
{
    const std::string indent(static_cast<size_t>(depth) * 2, ' ');
    for (const MenuItem& item : menu.items) {
        if (item.flags & MfSeparator) {
            out += indent + "----\n";
        } else if (item.popup >= 0) {
            out += indent + item.text + " >\n";
            PrintMenu(out, S.menus[static_cast<size_t>(item.popup)], depth + 1);
        } else {
            out += indent + (item.checked ? "[x] " : "[ ] ") + std::to_string(item.id) + " " + item.text + "\n";
        }
    }
}

std::string HeadlessMenuText()
{
    std::string out;
    if (!S.menus.empty()) PrintMenu(out, S.menus[0], 0);
    return out;
}

int32_t HeadlessMenuChecked(uint32_t id)
{
    if (S.menus.empty()) return -1;
    const MenuItem* item = FindItem(&S.menus[0], id);
    return item ? (item->checked ? 1 : 0) : -1;
}

void HeadlessReset()
{
    S = State{};
    QueueReset();
}

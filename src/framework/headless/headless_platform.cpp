// The smallest backend: everything framework/platform.h asks for, with a
// window that exists only in memory. It is the example to start a new
// backend from. Its input comes from a schedule that tests and scripted runs
// fill (headless.h), through the shared message queue (framework/queue);
// time is simulated unless asked otherwise; menus, the About dialog and the
// error box are remembered so that they can be looked at.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "framework/end_signals.h"
#include "framework/headless/headless.h"
#include "framework/platform.h"
#include "framework/queue/message_queue.h"
#include "framework/raster.h"
#include "framework/surface_bytes.h"
#include "framework/save_file.h"
#include "resources/string_table.h"
#include "resources/translations.h"

namespace {

struct State {
    // Whether the window zooms (for the tests), and the choice it shows.
    bool zoomOffered = false;
    int32_t zoomShown = -1;
    bool windowExists = false;
    int32_t width = 0, height = 0;
    SurfaceBytes surface;
    uint8_t colours[256][4] = {};
    std::vector<uint8_t> windowBytes;
    int32_t presents = 0;
    std::deque<HeadlessEvent> schedule;
    int64_t frame = 0;
    bool realClock = false;
    uint32_t ticks = 1000000;
    bool captured = false;
    int32_t realizes = 0;
    int32_t dialogs = 0;
    bool dialogShown = false;
    HeadlessDefCall lastDef = {};
    void (*onDestroy)() = nullptr;
    void (*onExit)(int32_t) = nullptr;
    int32_t errors = 0;
    std::string lastError;
    std::vector<std::string> notes;
    std::vector<std::string> saved;
    std::string saving;
    int32_t progress = -1;
    std::vector<int32_t> progressShown;
    uint32_t buttonsOff = 0;
    // The labels the layout in force gives letter keys, and each list of
    // the keys shown.
    std::string keyLabels[26];
    std::vector<std::string> keyLists;
    // Where the script last put the pointer, and the buttons it holds.
    int32_t pointerX = 0, pointerY = 0, pointerButtons = 0;
    HeadlessPicture clipboard;
    std::vector<int32_t> overlayAt;
    std::vector<uint8_t> overlayBytes;
};

State S;

constexpr uintptr_t MainWindowId = 1;
constexpr uintptr_t DialogWindowId = 2;

WindowHandle HandleOf(uintptr_t id) { return reinterpret_cast<WindowHandle>(id); }

void Deliver(const HeadlessEvent& event)
{
    switch (event.kind) {
    case HeadlessEvent::Post:
        // The pointer is where the script's mouse is as its message is sent.
        if (event.message >= WmMouseMove && event.message <= WmRButtonUp) {
            S.pointerX = static_cast<int16_t>(static_cast<uint32_t>(event.lParam) & 0xFFFFu);
            S.pointerY = static_cast<int16_t>(static_cast<uint32_t>(event.lParam) >> 16);
            S.pointerButtons = static_cast<int32_t>(event.wParam & (MkLButton | MkRButton));
        }
        // While the About dialog is open the keys are its own: Enter is OK.
        if (S.dialogShown && event.message == WmKeyDown) {
            if (event.wParam == VkReturn) QueuePost(HandleOf(DialogWindowId), WmCommand, 1, 0);
            if (event.wParam == VkEscape) QueuePost(HandleOf(DialogWindowId), WmCommand, 2, 0);
            break;
        }
        // A scripted key comes with the modifiers its line names (in lParam).
        if (event.message == WmKeyDown)
            QueuePostKey(event.wParam, QueueKeyCharacter(event.wParam, static_cast<uint32_t>(event.lParam)),
                         static_cast<uint32_t>(event.lParam));
        else if (event.message == WmKeyUp)
            QueuePost(event.message, event.wParam, 0);
        else
            QueuePost(event.message, event.wParam, event.lParam);
        break;
    case HeadlessEvent::Drop:
        QueuePostDrop({event.path});
        break;
    case HeadlessEvent::Close:
        // As by the close box: the system command goes through the window.
        QueuePost(WmSysCommand, ScClose, 0);
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
        QueuePost(WmSysCommand, ScClose, 0);
    else
        QueuePostQuit(0);
}

// An end request becomes the message of an ending session.
void TakeEndRequest()
{
    if (EndSignalTake()) QueuePost(WmEndSession, 1, 0);
}

} // namespace

// --- The window and its picture.

PlatformWindow PlatformOpenWindow(const char*, int32_t width, int32_t height, MessageHandler procedure)
{
    const WindowHandle window = HandleOf(MainWindowId);
    S.windowExists = true;
    S.width = width;
    S.height = height;
    S.surface.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    S.windowBytes.assign(S.surface.size(), 0);
    QueueOpen(window, procedure);
    // Creation reports the client size before anything else runs.
    QueueSend(WmSize, 0, PackPoint(width, height));
    return PlatformWindow{window, S.surface.data(), S.colours};
}

void PlatformShowWindow()
{
    QueueSend(WmSetFocus, 0, 0);
    QueueSend(WmPaint, 0, 0);
}

void PlatformCloseWindow()
{
    if (!S.windowExists) return;
    if (S.onDestroy) S.onDestroy();
    S.windowExists = false;
    S.captured = false;
    QueueClose();
}

void PlatformPresent(int32_t width, int32_t height)
{
    if (!S.windowExists || S.surface.empty()) return;
    ++S.presents;
    const int32_t w = width < 0 ? 0 : (width > S.width ? S.width : width);
    const int32_t h = height < 0 ? 0 : (height > S.height ? S.height : height);
    RasterCopyBlock(S.windowBytes.data(), S.width, S.surface.data(), S.width, w, h);
    for (size_t i = 0; i < S.overlayAt.size(); ++i)
        if (S.overlayAt[i] % S.width < w && S.overlayAt[i] / S.width < h) S.windowBytes[S.overlayAt[i]] = S.overlayBytes[i];
}

void PlatformSetOverlay(const int32_t* positions, const uint8_t* bytes, size_t count)
{
    S.overlayAt.clear();
    S.overlayBytes.clear();
    for (size_t i = 0; i < count; ++i)
        if (positions[i] >= 0 && positions[i] < S.width * S.height) {
            S.overlayAt.push_back(positions[i]);
            S.overlayBytes.push_back(bytes[i]);
        }
}

// A true-colour display: nothing to match, but the request is counted.
int32_t PlatformMatchDisplayColours(const uint8_t (*)[4], int32_t, bool)
{
    ++S.realizes;
    return 0;
}

void PlatformCaptureMouse(bool held) { S.captured = held; }

// --- Input and time.

bool PlatformNextMessage(PlatformMessage* msg) { return QueueNext(msg); }
void PlatformHandleMessage(const PlatformMessage& msg) { QueueHandle(msg); }
uint32_t PlatformKeyModifiers() { return QueueKeyModifiers(); }
void PlatformPostQuit(uint32_t code) { QueuePostQuit(code); }

// Between two frames only what is due by now arrives: a script's frames
// count the program's frames, not the pumps of its busy work.
void PlatformTakeInput()
{
    TakeEndRequest();
    DeliverDue();
}

// A wait of 0 starts a frame: the scheduled events of the frame arrive. A
// longer one lets simulated time jump to its end, or real time pass (cut
// short by an end request); one with no limit skips to the next event.
void PlatformWaitInput(uint32_t milliseconds)
{
    if (milliseconds == 0) {
        ++S.frame;
        TakeEndRequest();
        DeliverDue();
        return;
    }
    TakeEndRequest();
    if (QueuePending()) return;
    if (milliseconds == PlatformForever) {
        SkipToNextEvent();
        return;
    }
    if (S.realClock)
        EndSignalsSleep(milliseconds);
    else
        S.ticks += milliseconds;
    TakeEndRequest();
}

bool PlatformDefault(WindowHandle, uint32_t message, uint32_t wParam, int32_t lParam, int32_t*)
{
    S.lastDef = HeadlessDefCall{S.lastDef.count + 1, message, wParam, lParam};
    return false;
}

uint32_t PlatformTicks()
{
    if (!S.realClock) return S.ticks;
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// --- The menu: the framework's model is all there is to it here.

void PlatformMenuAdd(int32_t, uint32_t, uint32_t, int32_t, const char*) {}
void PlatformMenuMark(int32_t, int32_t, uint32_t, bool) {}

// --- Dialogs and messages.

int32_t PlatformAbout(DialogProc, WindowHandle* shown)
{
    ++S.dialogs;
    S.dialogShown = true;
    *shown = HandleOf(DialogWindowId);
    return 0;
}

void PlatformEndAbout(int32_t) { S.dialogShown = false; }

void PlatformShowMessage(const char* text, const char* caption, bool note)
{
    std::fprintf(stderr, "%s: %s\n", caption, text);
    if (note) {
        S.notes.push_back(text);
        return;
    }
    ++S.errors;
    S.lastError = text;
}

int32_t PlatformLoadString(uint32_t id, char* buffer, int32_t size) { return CopyTableString(id, buffer, size); }

// English unless a language was asked for (talvo-sim --language).
static const char* Catalogue = nullptr;

bool HeadlessSetLanguage(const char* language)
{
    Catalogue = CatalogueFor(language);
    return Catalogue != nullptr;
}

const char* PlatformTranslate(const char* english) { return CatalogueText(Catalogue, english); }

uint32_t PlatformTakeDroppedName(uint32_t drop, char* buffer, uint32_t size)
{
    return QueueTakeDroppedName(drop, buffer, size);
}

void PlatformShutdown(int32_t code)
{
    if (S.onExit) S.onExit(code);
    std::fflush(stdout);
    EndSignalsFinish();
    // A run that had to show an error did not go as asked.
    if (S.errors && code == 0) std::exit(1);
}

// --- What the library offers besides.

void PlatformPointer(int32_t* x, int32_t* y, int32_t* buttons)
{
    *x = S.pointerX;
    *y = S.pointerY;
    *buttons = S.pointerButtons;
}

// The clipboard of this platform is kept for whoever looks (talvo-sim
// --clipboard, the tests).
void PlatformCopyToClipboard(int32_t width, int32_t height)
{
    if (S.surface.empty()) return;
    HeadlessPicture& picture = S.clipboard;
    picture.width = width < S.width ? width : S.width;
    picture.height = height < S.height ? height : S.height;
    picture.pixels.assign(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height), 0);
    RasterCopyBlock(picture.pixels.data(), picture.width, S.surface.data(), S.width, picture.width, picture.height);
    std::memcpy(picture.colours, S.colours, sizeof S.colours);
    ++picture.copies;
}

// No dialog: the file takes the name offered in the current folder, or a
// name beside it where that is taken, as a dialog would suggest.
int32_t PlatformSaveFileStart(const char* name, const char*, char* failure, size_t failureSize)
{
    S.saving = UnusedName("", name);
    return ChosenFileOpen(S.saving.c_str(), failure, failureSize) ? 1 : -1;
}

bool PlatformSaveFilePart(const uint8_t* bytes, size_t size, char* failure, size_t failureSize)
{
    return ChosenFileWrite(bytes, size, failure, failureSize);
}

int32_t PlatformSaveFileEnd(bool keep, char* failure, size_t failureSize)
{
    if (!ChosenFileClose(keep, failure, failureSize)) return -1;
    if (!keep) return 0;
    S.saved.push_back(S.saving);
    return 1;
}

void PlatformShowProgress(const char*, int32_t permille)
{
    if (permille != S.progress) S.progressShown.push_back(permille);
    S.progress = permille;
}

// Only the two characters whose buttons the windows have are kept.
// One size (the pictures talvo-sim writes are the field's own), unless a
// test offers a window that zooms.
int32_t PlatformZoomDefault() { return S.zoomOffered ? 1 : -1; }
void PlatformSetZoom(int32_t choice) { S.zoomShown = choice; }
void HeadlessOfferZoom(bool offered) { S.zoomOffered = offered; }
int32_t HeadlessZoomShown() { return S.zoomShown; }

int32_t PlatformKeyLabel(uint32_t letter, char* buffer, int32_t size)
{
    if (letter < 'A' || letter > 'Z' || size <= 0) return 0;
    const std::string& label = S.keyLabels[letter - 'A'];
    const size_t kept = label.size() < static_cast<size_t>(size) ? label.size() : static_cast<size_t>(size) - 1;
    std::memcpy(buffer, label.data(), kept);
    buffer[kept] = 0;
    return static_cast<int32_t>(label.size());
}

// Without a screen the list goes to standard output, as --help does.
void PlatformShowKeys(const char* text, const char* caption)
{
    S.keyLists.push_back(text);
    std::printf("%s:\n%s", caption, text);
    std::fflush(stdout);
}

void HeadlessSetKeyLabel(uint32_t letter, const char* label)
{
    if (letter >= 'A' && letter <= 'Z') S.keyLabels[letter - 'A'] = label;
}

const std::vector<std::string>& HeadlessKeyLists() { return S.keyLists; }

void PlatformEnableButton(uint32_t character, bool enabled)
{
    if (character >= 32) return;
    if (enabled)
        S.buttonsOff &= ~(1u << character);
    else
        S.buttonsOff |= 1u << character;
}

// There are no fonts here: text draws nothing, and says so by its result.
int32_t PlatformText(const PlatformTextRequest&) { return 0; }

// --- Controls and views.

void HeadlessSchedule(const HeadlessEvent& event) { S.schedule.push_back(event); }
int64_t HeadlessFrame() { return S.frame; }
bool HeadlessEventsPending() { return !S.schedule.empty(); }
void HeadlessEndOnSignals() { EndSignalsWatch(); }
void HeadlessUseRealClock(bool real) { S.realClock = real; }
void HeadlessSetTicks(uint32_t ticks) { S.ticks = ticks; }
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

const HeadlessPicture& HeadlessClipboard() { return S.clipboard; }

void HeadlessMovePointer(int32_t x, int32_t y, int32_t buttons)
{
    S.pointerX = x;
    S.pointerY = y;
    S.pointerButtons = buttons;
}

bool HeadlessWindowExists() { return S.windowExists; }
bool HeadlessCaptured() { return S.captured; }
int32_t HeadlessRealizeCount() { return S.realizes; }
int32_t HeadlessDialogCount() { return S.dialogs; }
bool HeadlessDialogShown() { return S.dialogShown; }
HeadlessDefCall HeadlessLastDefCall() { return S.lastDef; }
int32_t HeadlessErrorCount() { return S.errors; }
std::string HeadlessLastError() { return S.lastError; }
const std::vector<std::string>& HeadlessNotes() { return S.notes; }
const std::vector<std::string>& HeadlessSavedFiles() { return S.saved; }
const std::vector<int32_t>& HeadlessProgressShown() { return S.progressShown; }
bool HeadlessButtonEnabled(uint32_t character) { return character >= 32 || !(S.buttonsOff & (1u << character)); }

std::string HeadlessOwnMenuText()
{
    return "[ ] 61728 Restore\n[ ] 61456 Move\n[ ] 61440 Size\n[ ] 61472 Minimize\n[ ] 61488 Maximize\n----\n"
           "[ ] 61536 Close\n";
}

void HeadlessReset()
{
    S = State{};
    QueueReset();
}

// Controls and views of the headless platform, for talvo-sim and the tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Something to happen in a given frame: the frame's PumpMessages handles it.
struct HeadlessEvent {
    enum Kind { Post, Drop, Close };
    int64_t frame;
    Kind kind;
    uint32_t message;
    uint32_t wParam;
    int32_t lParam;
    std::string path;
};

// Events are handled in the order scheduled; frames count the PumpMessages
// calls, and a wait with nothing pending lets time run on to the next event.
void HeadlessSchedule(const HeadlessEvent& event);
int64_t HeadlessFrame();
bool HeadlessEventsPending();

// From now on SIGTERM, SIGHUP and SIGINT (Windows: Ctrl+C, Ctrl+Break and the
// console's close) end the run as the end of a session does: the scene is
// saved at the next pump, and then the process ends by that signal.
void HeadlessEndOnSignals();

// Time: simulated by default, jumping to the end of every wait.
void HeadlessUseRealClock(bool real);
void HeadlessSetTicks(uint32_t ticks);

// Called when the window is destroyed, while the surface is still whole.
void HeadlessOnDestroy(void (*callback)());
// Called as the process ends, with its exit code.
void HeadlessOnExit(void (*callback)(int32_t));

// What the window shows: the surface bytes as last presented.
const uint8_t* HeadlessWindowBytes();
int32_t HeadlessPresentCount();
// The surface through its colour table, as 8-bit RGB triples.
void HeadlessSurfaceRgb(uint8_t* rgb);
// What the clipboard holds: the last picture copied to it (copies 0 when
// none), pixels through `colours` (blue, green, red, 0).
struct HeadlessPicture {
    int32_t copies = 0;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
    uint8_t colours[256][4] = {};
};
const HeadlessPicture& HeadlessClipboard();
// The pointer moves, or a button changes, with no message to the window.
void HeadlessMovePointer(int32_t x, int32_t y, int32_t buttons);
bool HeadlessWindowExists();
bool HeadlessCaptured();
int32_t HeadlessRealizeCount();
int32_t HeadlessDialogCount();
bool HeadlessDialogShown();

// The last message left to the platform's default handling.
struct HeadlessDefCall {
    int32_t count;
    uint32_t message;
    uint32_t wParam;
    int32_t lParam;
};
HeadlessDefCall HeadlessLastDefCall();

// The errors shown so far, and the text of the last one. A process that
// showed one ends with exit code 1.
int32_t HeadlessErrorCount();
std::string HeadlessLastError();
// The files saved so far through the PlatformSaveFile calls.
const std::vector<std::string>& HeadlessSavedFiles();
// Each permille the progress showed, in order, as it changed (-1: gone).
const std::vector<int32_t>& HeadlessProgressShown();
// Whether the button for the key that types `character` is offered.
bool HeadlessButtonEnabled(uint32_t character);
// The notes shown so far, which change nothing of the exit code.
const std::vector<std::string>& HeadlessNotes();

// The label the layout gives the key of a Latin letter ("" by default: the
// letter itself), and each list of the keys shown so far.
void HeadlessSetKeyLabel(uint32_t letter, const char* label);
const std::vector<std::string>& HeadlessKeyLists();

// The platform's own items of the window's menu, one a line, as a person
// would see them before the program's ("[ ] 61536 Close").
std::string HeadlessOwnMenuText();

// Back to the state of a new process (tests only).
void HeadlessReset();
// A window that zooms, as the desktop ones do (talvo-sim's does not), and
// the choice it was last told to show (-1: none).
void HeadlessOfferZoom(bool offered);
int32_t HeadlessZoomShown();

// The texts in that language (as CatalogueFor names it) from now on; false,
// and English, where there is no catalogue for it.
bool HeadlessSetLanguage(const char* language);

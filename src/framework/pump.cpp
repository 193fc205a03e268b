#include "framework/pump.h"

#include <cstdlib>
#include <ctime>
#include <deque>

#include "framework/palette_builder.h"
#include "framework/platform.h"
#include "framework/window.h"

uint32_t LastPumpTick = 0;
uint32_t FrameMark = 0;

namespace {

// The pump's own state beside the marks above, all of it.
struct PumpState {
    uint32_t QuitCode = 0;
    std::deque<PlatformMessage> Deferred;
    bool ClockPinned = false;
    uint32_t PinnedSeconds = 0;
};

PumpState P;

} // namespace

void PumpReset()
{
    LastPumpTick = FrameMark = 0;
    P.QuitCode = 0;
    P.Deferred.clear();
}

void DeferMessages(const std::vector<PlatformMessage>& messages)
{
    P.Deferred.insert(P.Deferred.end(), messages.begin(), messages.end());
}

static bool NextMessage(PlatformMessage* msg)
{
    if (P.Deferred.empty()) return PlatformNextMessage(msg);
    *msg = P.Deferred.front();
    P.Deferred.pop_front();
    return true;
}

// Removes and handles every pending message; WmQuit ends the process.
static void DrainMessages()
{
    PlatformMessage msg;
    while (NextMessage(&msg)) {
        if (msg.message == WmQuit) {
            P.QuitCode = msg.wParam;
            AppExit();
        }
        PlatformHandleMessage(msg);
    }
}

void PumpMessages()
{
    PlatformWaitInput(0);
    DrainMessages();
    RefreshPalette();
    LastPumpTick = PlatformTicks();
}

void WaitTicks(int32_t milliseconds)
{
    uint32_t origin;
    uint32_t span;
    if (milliseconds >= 0) {
        origin = PlatformTicks();
        span = static_cast<uint32_t>(milliseconds);
    } else {
        origin = FrameMark;
        span = 0u - static_cast<uint32_t>(milliseconds);
    }
    // Compare before each drain, so nothing is handled once the span has
    // passed; block in the platform's wait instead of spinning. A span of
    // nothing ("No wait") has passed without a look at the clock.
    while (span != 0 && PlatformTicks() - origin < span) {
        DrainMessages();
        const uint32_t elapsed = PlatformTicks() - origin;
        if (elapsed >= span) break;
        PlatformWaitInput(span - elapsed);
    }
    RefreshPalette();
    FrameMark = LastPumpTick = PlatformTicks();
}

void PumpEvery(uint32_t milliseconds)
{
    if (LastPumpTick == 0 || PlatformTicks() - LastPumpTick >= milliseconds) {
        LastPumpTick = PlatformTicks();
        PumpMessages();
    }
}

void AwaitMessage(uint32_t milliseconds)
{
    if (!P.Deferred.empty()) return;
    BeforeLongWait();
    PlatformWaitInput(milliseconds);
}

uint32_t TickCount() { return PlatformTicks(); }

void RefreshPalette()
{
    if (!PaletteChanged) return;
    PaletteChanged = 0;
    PlatformMatchDisplayColours(ColourTable, PaletteEntryCount, true);
}

void AppExit()
{
    SurfaceBits = nullptr;
    PlatformShutdown(static_cast<int32_t>(P.QuitCode));
    std::exit(static_cast<int>(P.QuitCode));
}

bool EndsProgram(const PlatformMessage& msg)
{
    return msg.message == WmQuit || msg.message == WmEndSession ||
           (msg.message == WmSysCommand && (msg.wParam & 0xFFF0u) == ScClose);
}

bool PumpWhileBusy(bool* cancelled)
{
    PlatformTakeInput();
    PlatformMessage msg;
    std::vector<PlatformMessage> ending;
    while (PlatformNextMessage(&msg)) {
        const bool cancel = (msg.message == WmCommand && msg.wParam == IdCancel) ||
                            (msg.message == WmKeyDown && msg.wParam == VkEscape);
        if (cancel && cancelled)
            *cancelled = true;
        else if (EndsProgram(msg))
            ending.push_back(msg);
        else if (msg.message == WmPaint || msg.window != MainWindow)
            PlatformHandleMessage(msg);
    }
    DeferMessages(ending);
    for (const PlatformMessage& waiting : P.Deferred)
        if (EndsProgram(waiting)) return true;
    return false;
}

uint8_t KeyGet()
{
    PumpMessages();
    return KeyHit() ? KeyTake() : 0;
}

uint8_t KeyWait()
{
    for (;;) {
        PumpMessages();
        if (KeyHit()) return KeyTake();
        AwaitMessage();
    }
}

MouseEvent MouseWait()
{
    for (;;) {
        PumpMessages();
        if (MouseHit()) return MouseTake();
        AwaitMessage();
    }
}

uint32_t ClockSeconds()
{
    return P.ClockPinned ? P.PinnedSeconds : static_cast<uint32_t>(std::time(nullptr));
}

void PinClockSeconds(uint32_t seconds)
{
    P.ClockPinned = true;
    P.PinnedSeconds = seconds;
}

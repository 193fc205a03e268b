// Message pumping and frame timing: every message is handled inside these
// calls, and the process ends inside one (AppExit) when the quit comes.
#pragma once
#include <cstdint>

#include <vector>

#include "framework/input.h"
#include "framework/platform.h"

extern uint32_t LastPumpTick;
extern uint32_t FrameMark;

void PumpMessages();
// n >= 0: n milliseconds from now; n < 0: -n milliseconds from the end of the
// previous wait (FrameMark). Messages are handled meanwhile.
void WaitTicks(int32_t milliseconds);
void PumpEvery(uint32_t milliseconds);
// Blocks until a message is pending (no spinning while nothing happens), or
// at most `milliseconds` (PlatformForever: no limit).
void AwaitMessage(uint32_t milliseconds = PlatformForever);
// The millisecond tick counter (GetTickCount).
uint32_t TickCount();
void RefreshPalette();
[[noreturn]] void AppExit();
// While the program is busy with something of its own for longer than a
// frame (frames stand still, as with About): paints are done, and so is
// everything for the platform's other windows (a progress's Cancel); what
// ends the program is kept for the pumps after, any other input for the
// window is dropped. True once something asked the program to end.
// `cancelled`, where given, is set once the user asked the work to stop
// (Cancel, WmCommand IdCancel, or Escape).
bool PumpWhileBusy(bool* cancelled = nullptr);
// Whether a message asks the program to end: the quit, the close command,
// the end of the session.
bool EndsProgram(const PlatformMessage& msg);
// Messages a modal loop took out and left for the window: the next pump
// handles them before anything else, in order.
void DeferMessages(const std::vector<PlatformMessage>& messages);

// The keyboard ring and mouse queue, taken with a pump first.
uint8_t KeyGet();
uint8_t KeyWait();
MouseEvent MouseWait();

// Seconds of the clock, for seeding: the system's, unless pinned (a seed
// given to talvo-sim, a test).
uint32_t ClockSeconds();
void PinClockSeconds(uint32_t seconds);

// Back to the state at process start (a pinned clock stays pinned: it is
// set before the start).
void PumpReset();

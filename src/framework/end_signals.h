// The requests from outside that end a session while the program runs: on
// POSIX the signals SIGTERM (the session manager at logout, kill), SIGHUP
// (the terminal that started it closes) and SIGINT (Ctrl+C); on Windows the
// console's Ctrl+C, Ctrl+Break and close. A request only marks itself and
// wakes the pump; the backend turns it into WmEndSession, so the save runs on
// the main thread between two frames, like any message. For the backends;
// each platform implements it in its own folder.
#pragma once
#include <cstdint>

// Starts listening. Before this, the signals keep their default action.
void EndSignalsWatch();
// The first request, once (its signal number, or 1 where there are none);
// 0 when none came or it was taken before. Later requests are absorbed: the
// save already under way is not cut short.
int32_t EndSignalTake();
// Sleeps up to `milliseconds`, waking early when a request comes.
void EndSignalsSleep(uint32_t milliseconds);
// A descriptor that becomes readable when a request comes, for a toolkit's
// main loop; -1 where there is none or before EndSignalsWatch.
int EndSignalsFd();
// At the very end, once the scene is saved: a process ended by a signal
// ends by that same signal (the shell and the session manager see what
// ended it).
void EndSignalsFinish();

// End requests on POSIX: a signal writes its number into a pipe (the only
// thing a handler may safely do), and the pump reads it.
#include "framework/end_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace {

const int Signals[] = {SIGTERM, SIGHUP, SIGINT};
// The pipe a signal wakes the pump through, the signal received, and
// whether the pump has taken it.
struct EndState {
    int Pipe[2] = {-1, -1};
    volatile sig_atomic_t Received = 0;
    bool Taken = false;
};
EndState Ends;

void OnSignal(int number)
{
    const int saved = errno;
    if (!Ends.Received) Ends.Received = number;
    const char byte = 1;
    // A full pipe already wakes the reader.
    if (write(Ends.Pipe[1], &byte, 1) < 0) {
    }
    errno = saved;
}

void Drain()
{
    char bytes[64];
    while (Ends.Pipe[0] >= 0 && read(Ends.Pipe[0], bytes, sizeof bytes) > 0) {
    }
}

} // namespace

void EndSignalsWatch()
{
    if (Ends.Pipe[0] >= 0) return;
    if (pipe(Ends.Pipe) != 0) return;
    for (int fd : Ends.Pipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Reads and writes of the program go on undisturbed; the pipe wakes the pump.
    action.sa_flags = SA_RESTART;
    for (int number : Signals) {
        // A signal ignored by whoever started us (nohup, a background job's
        // SIGINT) stays ignored.
        struct sigaction before = {};
        if (sigaction(number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(number, &action, nullptr);
    }
}

int32_t EndSignalTake()
{
    // Asked every frame: nothing to read until a handler has run, since it
    // sets Received before it writes.
    if (!Ends.Received) return 0;
    Drain();
    if (Ends.Taken) return 0;
    Ends.Taken = true;
    return Ends.Received;
}

void EndSignalsSleep(uint32_t milliseconds)
{
    const int timeout = milliseconds > 0x7FFFFFFFu ? -1 : static_cast<int>(milliseconds);
    if (Ends.Pipe[0] < 0) {
        poll(nullptr, 0, timeout);
        return;
    }
    if (Ends.Received && !Ends.Taken) return;
    pollfd wake = {Ends.Pipe[0], POLLIN, 0};
    poll(&wake, 1, timeout);
}

int EndSignalsFd() { return Ends.Pipe[0]; }

void EndSignalsFinish()
{
    const int number = Ends.Received;
    if (!number) return;
    std::fflush(stdout);
    std::fflush(stderr);
    signal(number, SIG_DFL);
    raise(number);
}

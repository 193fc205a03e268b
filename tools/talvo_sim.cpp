// talvo-sim: the program's main routine on a headless window, for tests,
// batch runs, pictures and benchmarks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/journal.h"
#include "app/main_routine.h"
#include "framework/headless/headless.h"
#include "framework/messages.h"
#include "framework/pump.h"
#include "framework/start.h"
#include "framework/window.h"
#include "framework/window_menu.h"
#include "png_writer.h"
#include "sim_input.h"
#include "talvo_version.h"

namespace {

SimOptions Opts;

const char Usage[] =
    "usage: talvo-sim [--frames N] [--seed S] [--png FILE] [--bench] [--real-time]\n"
    "                 [--events FILE] [--menu] [SCENE]\n"
    "       talvo-sim --version\n";

[[noreturn]] void Fail(const std::string& message)
{
    std::fprintf(stderr, "talvo-sim: %s\n%s", message.c_str(), Usage);
    std::exit(2);
}

// Everything is checked before the run.
std::vector<HeadlessEvent> ReadEvents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail("cannot read events file " + path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<HeadlessEvent> events;
    std::string error;
    if (!ParseSimEvents(text, &events, &error)) Fail(path + ":" + error);
    return events;
}

void WritePng()
{
    std::vector<uint8_t> rgb(static_cast<size_t>(SurfaceWidth) * SurfaceHeight * 3);
    HeadlessSurfaceRgb(rgb.data());
    if (!WritePngFile(Opts.png.c_str(), rgb.data(), SurfaceWidth, SurfaceHeight))
        std::fprintf(stderr, "talvo-sim: cannot write %s\n", Opts.png.c_str());
}

void OnWindowDestroyed()
{
    if (!Opts.png.empty()) WritePng();
}

void OnProcessExit(int32_t)
{
    if (Opts.menu) std::fputs((HeadlessOwnMenuText() + MenuText()).c_str(), stdout);
    if (Opts.bench) std::fputs(FrameStatisticsLine().c_str(), stdout);
}

} // namespace

int main(int argc, char** argv)
{
    // First of all: a run stopped from outside still saves its scene.
    HeadlessEndOnSignals();
    std::string error;
    if (!ParseSimOptions(argc, argv, &Opts, &error)) Fail(error);
    if (!Opts.png.empty() && !PngAvailable()) Fail("--png is not available in this build (it has no PNG encoder)");
    if (Opts.help) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (Opts.version) {
        std::puts("talvo-sim " TALVO_VERSION);
        return 0;
    }
    std::vector<HeadlessEvent> events;
    if (!Opts.events.empty()) events = ReadEvents(Opts.events);

    // The run ends with the close box in frame N, after that frame's events.
    bool closeScheduled = false;
    for (const HeadlessEvent& event : events) {
        if (!closeScheduled && event.frame > Opts.frames) {
            HeadlessSchedule(HeadlessEvent{Opts.frames, HeadlessEvent::Close, 0, 0, 0, {}});
            closeScheduled = true;
        }
        HeadlessSchedule(event);
    }
    if (!closeScheduled) HeadlessSchedule(HeadlessEvent{Opts.frames, HeadlessEvent::Close, 0, 0, 0, {}});

    HeadlessUseRealClock(Opts.realTime);
    // A run in real time keeps a journal as the windows do; a simulated one
    // is repeated by running it again.
    SetJournalKept(Opts.realTime);
    if (Opts.haveSeed) PinClockSeconds(Opts.seed);
    HeadlessOnDestroy(OnWindowDestroyed);
    HeadlessOnExit(OnProcessExit);
    FrameStats.enabled = Opts.bench;

    // The program sees one argument, the scene, or whatever it was given.
    static std::vector<char*> programArgs;
    programArgs.push_back(argv[0]);
    for (std::string& scene : Opts.scene) programArgs.push_back(scene.data());
    programArgs.push_back(nullptr);
    SetProgramArguments(static_cast<int>(programArgs.size() - 1), programArgs.data());
    return AppStart(TalvoMain) == 0 ? 1 : 0;
}

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
#include "app/pictures.h"
#include "app/replay.h"
#include "app/scene_handlers.h"
#include "files/png_image.h"
#include "files/scene_file.h"
#include "framework/headless/headless.h"
#include "framework/messages.h"
#include "framework/palette_builder.h"
#include "framework/pump.h"
#include "framework/start.h"
#include "framework/window.h"
#include "framework/window_menu.h"
#include "sim_input.h"
#include "talvo_version.h"

namespace {

SimOptions Opts;

const char Usage[] =
    "usage: talvo-sim [--frames N] [--seed S] [--png FILE] [--bench] [--real-time] [--no-journal]\n"
    "                 [--events FILE] [--menu] [--gif FILE [--gif-every N] [--gif-frames A:B]] [SCENE]\n"
    "       talvo-sim --replay JOURNAL [--png FILE] [--gif FILE [--gif-every N] [--gif-frames A:B]] [SCENE]\n"
    "       talvo-sim --version\n";

// The animation of a scripted run, or of a replay at a pace of its own.
FrameAnimation Frames;
// A replay's, at the pace the window showed the frames.
GifAnimation Shown;
uint64_t ShownFrom = 0, ShownLast = 0;
bool AnyShown = false;
JournalReading Journal;

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

// The same bytes on every platform: the encoders are the program's own.
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    bool written = false;
    if (std::FILE* file = bytes.empty() ? nullptr : std::fopen(path.c_str(), "wb")) {
        written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        written = std::fclose(file) == 0 && written;
    }
    if (!written) std::fprintf(stderr, "talvo-sim: cannot write %s\n", path.c_str());
}

void OnFrameEnds(uint64_t frame) { FrameAnimationFrameEnds(&Frames, frame); }

void OnWindowDestroyed()
{
    if (!Opts.png.empty()) WriteBytes(Opts.png, PictureOfField());
    if (Opts.gif.empty()) return;
    if (!Opts.replay.empty() && !Opts.gifEvery) {
        WriteBytes(Opts.gif, GifFinish(&Shown, ShownLast - ShownFrom + 20));
        return;
    }
    // A scripted run's last frame is the one its close came in.
    if (Opts.replay.empty()) OnFrameEnds(FramesRun + 1);
    WriteBytes(Opts.gif, FrameAnimationFinish(&Frames));
}

bool OnShown(const JournalRecord& shown, void*)
{
    if (shown.frame < Opts.gifFrom || shown.frame > Opts.gifTo) return true;
    if (!AnyShown) ShownFrom = shown.playMs;
    AnyShown = true;
    ShownLast = shown.playMs;
    GifAddFrame(&Shown, SurfaceBits, SurfaceColours, shown.playMs - ShownFrom);
    return true;
}

bool OnReplayedFrameEnds(uint64_t frame, void*)
{
    OnFrameEnds(frame);
    return true;
}

// A recorded session played again from its first checkpoint (or the last
// one before the first frame asked for), then saved to the scene named.
void ReplayMain()
{
    ProgramReset();
    StartUp();
    const std::string scene = SceneFileName;
    int64_t from = LastCheckpointAtOrBefore(Journal.records, Opts.gifFrom);
    if (from < 0) from = LastCheckpointAtOrBefore(Journal.records, ~uint64_t{0});
    for (size_t i = 0; i < Journal.records.size() && Opts.gifFrom == 0; ++i)
        if (Journal.records[i].type == RecordCheckpoint) {
            from = static_cast<int64_t>(i);
            break;
        }
    GifStart(&Shown, SurfaceWidth, SurfaceHeight);
    ReplayWatch watch;
    if (!Opts.gif.empty() && Opts.gifEvery)
        watch.frameEnds = OnReplayedFrameEnds;
    else if (!Opts.gif.empty())
        watch.shown = OnShown;
    uint64_t reached = 0;
    size_t endedAt = 0;
    ReplayRecords(Journal.records, static_cast<size_t>(from), ~uint64_t{0}, watch, &reached, &endedAt);
    const bool whole = endedAt == Journal.records.size() || Journal.records[endedAt].type == RecordEnd;
    if (!whole || !Journal.damaged.empty())
        std::fprintf(stderr, "talvo-sim: the journal ends at frame %llu: what followed was cut short or damaged\n",
                     static_cast<unsigned long long>(reached));
    // The scene goes where this run was told, not where the session's went.
    std::snprintf(SceneFileName, sizeof SceneFileName, "%s", scene.c_str());
    OnClose(MainWindow, WmClose, 0, 0);
    for (;;) {
        AwaitMessage();
        PumpMessages();
    }
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
    if (Opts.gif.empty() && (Opts.gifEvery || Opts.gifFrom || Opts.gifTo != UINT64_MAX))
        Fail("--gif-every and --gif-frames need --gif");
    if (!Opts.replay.empty()) {
        if (!Opts.events.empty()) Fail("--replay plays a recorded session: it takes no --events");
        // Refused before anything runs or is written.
        std::string folder = Opts.replay;
        if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
        const bool read = ReadJournal(folder, &Journal);
        if (Journal.otherVersion) Fail(Opts.replay + " is a journal of another version of Talvo");
        if (!read || LastCheckpointAtOrBefore(Journal.records, ~uint64_t{0}) < 0)
            Fail(Opts.replay + " is not a journal of a Talvo session (a folder of .seg files)");
    }

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
    SetJournalKept(Opts.realTime && !Opts.noJournal);
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
    if (!Opts.gif.empty()) FrameAnimationStart(&Frames, Opts.gifEvery ? Opts.gifEvery : 1, Opts.gifFrom, Opts.gifTo);
    if (!Opts.replay.empty()) return AppStart(ReplayMain) == 0 ? 1 : 0;
    if (!Opts.gif.empty()) FrameEnds = OnFrameEnds;
    return AppStart(TalvoMain) == 0 ? 1 : 0;
}

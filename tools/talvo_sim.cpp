// talvo-sim: the program's main routine on a headless window, for tests,
// batch runs, pictures and benchmarks.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/journal.h"
#include "app/main_routine.h"
#include "app/pictures.h"
#include "app/replay.h"
#include "app/scene_bytes.h"
#include "app/scene_handlers.h"
#include "codecs/png_image.h"
#include "files/scene_file.h"
#include "framework/file_system.h"
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
    "usage: talvo-sim [--frames N] [--seed S] [--png FILE] [--bench] [--real-time [--no-journal]]\n"
    "                 [--events FILE] [--menu] [--language LANG]\n"
    "                 [--gif FILE [--gif-every N] [--gif-frames A:B]] [SCENE]\n"
    "       talvo-sim --replay JOURNAL [--png FILE] [--gif FILE [--gif-every N] [--gif-frames A:B]]\n"
    "                 [--bench] [--menu] [--language LANG] [SCENE]\n"
    "       talvo-sim --version | --help\n";

const char Help[] =
    "\n"
    "Runs Talvo on a window that is never shown: loads SCENE, runs, and saves it\n"
    "when the window closes, as the desktop program does.\n"
    "\n"
    "  SCENE             the scene file to load and save to (Default.talvo in the\n"
    "                    current folder); with two or more, none is used and\n"
    "                    Default.talvo is, as the desktop program does; a name\n"
    "                    that begins with - goes after -- (or as ./-name)\n"
    "  --frames N        close the window during frame N, after its events (1000);\n"
    "                    at the speed Stop, during the stand-still\n"
    "  --seed S          seed of the pouring cycle's random draws, 0 to 4294967295\n"
    "                    (the clock's seconds)\n"
    "  --png FILE        on close, the field as shown: a 336 x 402 indexed PNG (none)\n"
    "  --gif FILE        on close, an animated GIF of the frames run (none)\n"
    "  --gif-every N     with --gif, every Nth frame only (every frame; in a replay,\n"
    "                    the frames as the window showed them, at their times)\n"
    "  --gif-frames A:B  with --gif, frames A to B only, either may be left out\n"
    "                    (all)\n"
    "  --bench           print 'bench: frames=N grains=G step_ns_per_grain=X\n"
    "                    frame_us=Y fps=Z', and journal_bytes=B journal_files=F\n"
    "                    where a journal was kept (off)\n"
    "  --real-time       wait as the window does, and keep a journal as it does\n"
    "                    (off: time jumps to the end of every wait, no journal)\n"
    "  --no-journal      with --real-time, keep no journal\n"
    "  --events FILE     scripted input, below (none)\n"
    "  --menu            on close, print the window's menu, one item a line (off)\n"
    "  --language LANG   the menu, notes and messages in that language: de, es,\n"
    "                    fr, ja, zh_CN or en (en); the scene and the journal are\n"
    "                    the same in every language\n"
    "  --replay JOURNAL  play a recorded session again from its first checkpoint\n"
    "                    (or the last before --gif-frames' A): JOURNAL is a journal\n"
    "                    folder, or a scene whose journal is looked up as the\n"
    "                    program does; the scene reached is saved to SCENE, and no\n"
    "                    scene at all is written when none is named\n"
    "  --version         print the version\n"
    "  --help, -h        print this\n"
    "\n"
    "Events file: one event a line, FRAME EVENT ARGS, handled by that frame's\n"
    "message pump in file order; frames are whole numbers from 1 that never go\n"
    "back, numbers are decimal (010 is ten):\n"
    "  lbuttondown X Y, lbuttonup X Y, rbuttondown X Y, rbuttonup X Y,\n"
    "  mousemove X Y    the mouse at window point X, Y\n"
    "  command ID       a command of the window's menu (21: Normal pen)\n"
    "  drop PATH        a file dropped on the window; PATH is the rest of the line\n"
    "  key VK           a key pressed (a virtual-key code, 0 to 255)\n"
    "  keyup VK         a key let go\n"
    "  char C           a character typed: one character, or its code 0 to 255\n"
    "  close            the window's close box\n"
    "After a mouse event or a key, shift and ctrl hold those keys with it, and\n"
    "keyboard marks a mouse event as the keyboard's pen makes it.\n"
    "A word that begins with # starts a comment, at the start of a line or after\n"
    "its fields (in a drop's path, a # after a space or tab). Events after the\n"
    "close are not delivered. A line that cannot be read stops the run before\n"
    "it starts.\n"
    "\n"
    "Exit status: 0 when it went as asked (a journal cut short is played up to its\n"
    "last good record and said so); 1 when Talvo had to show an error (a scene\n"
    "that could not be saved, and was rescued; a scene name that cannot be used)\n"
    "or a picture or animation could not be written; 2 for a bad command line, an\n"
    "option that does nothing in the mode chosen, an events file that cannot be\n"
    "read, or a --replay that finds no journal it can play. Ended by SIGTERM,\n"
    "SIGHUP or SIGINT, it saves the scene and ends by that signal.\n";

// What this run keeps as it goes, all of it.
struct RunState {
    // The animation of a scripted run, or of a replay at a pace of its own.
    FrameAnimation Frames;
    // A replay's, at the pace the window showed the frames.
    GifAnimation Shown;
    uint64_t ShownFrom = 0, ShownLast = 0;
    bool AnyShown = false;
    JournalReading Journal;
};

RunState Run;

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

// The same bytes on every platform: the encoders are the program's own. A
// file that cannot be written is an error shown, which the exit status says.
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    bool written = false;
    errno = 0;
    if (std::FILE* file = bytes.empty() ? nullptr : std::fopen(path.c_str(), "wb")) {
        written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        written = std::fclose(file) == 0 && written;
    }
    if (written) return;
    const std::string why = "cannot write " + path + (errno ? std::string(": ") + std::strerror(errno) : "");
    ShowError(why.c_str(), "talvo-sim");
}

void OnFrameEnds(uint64_t frame) { FrameAnimationFrameEnds(&Run.Frames, frame); }

void OnWindowDestroyed()
{
    if (!Opts.png.empty()) WriteBytes(Opts.png, PictureOfField());
    if (Opts.gif.empty()) return;
    if (!Opts.replay.empty() && !Opts.gifEvery) {
        WriteBytes(Opts.gif, GifFinish(&Run.Shown, Run.ShownLast - Run.ShownFrom + 20));
        return;
    }
    // A scripted run's last frame is the one its close came in.
    if (Opts.replay.empty()) OnFrameEnds(FramesRun + 1);
    WriteBytes(Opts.gif, FrameAnimationFinish(&Run.Frames));
}

// The program's own loop, with each frame kept for the animation as it ends.
[[noreturn]] void AnimatedMain()
{
    ProgramReset();
    StartUp();
    for (;;) {
        RunFrame();
        OnFrameEnds(FramesRun);
    }
}

bool OnShown(const JournalRecord& shown, void*)
{
    if (shown.frame < Opts.gifFrom || shown.frame > Opts.gifTo) return true;
    if (!Run.AnyShown) Run.ShownFrom = shown.playMs;
    Run.AnyShown = true;
    Run.ShownLast = shown.playMs;
    GifAddFrame(&Run.Shown, SceneInHand->field, SceneColours(*SceneInHand), shown.playMs - Run.ShownFrom);
    return true;
}

bool OnReplayedFrameEnds(uint64_t frame, void*)
{
    OnFrameEnds(frame);
    return true;
}

// A recorded session played again from its first checkpoint (or the last
// one before the first frame asked for), then saved to the scene named;
// without one, nothing is loaded or saved.
void ReplayMain()
{
    ProgramReset();
    if (Opts.scene.empty()) SceneFileName[0] = 0;
    StartUp();
    // A scene another program has open is saved to a copy: said now, as
    // no frame of the window's will say it.
    const std::string note = JournalTakeNote();
    if (!note.empty()) ShowNote(note.c_str(), "Talvo");
    const std::string scene = SceneFileName;
    int64_t from = LastCheckpointAtOrBefore(Run.Journal.records, Opts.gifFrom);
    if (from < 0) from = LastCheckpointAtOrBefore(Run.Journal.records, ~uint64_t{0});
    for (size_t i = 0; i < Run.Journal.records.size() && Opts.gifFrom == 0; ++i)
        if (Run.Journal.records[i].type == RecordCheckpoint) {
            from = static_cast<int64_t>(i);
            break;
        }
    GifStart(&Run.Shown, SurfaceWidth, SurfaceHeight);
    ReplayWatch watch;
    if (!Opts.gif.empty() && Opts.gifEvery)
        watch.frameEnds = OnReplayedFrameEnds;
    else if (!Opts.gif.empty())
        watch.shown = OnShown;
    uint64_t reached = 0;
    size_t endedAt = 0;
    // Played on a copy, which then becomes the scene this run saves.
    const auto played = std::make_unique<Scene>();
    if (!ReplayRecords(played.get(), Run.Journal.records, static_cast<size_t>(from), ~uint64_t{0}, watch, &reached,
                       &endedAt)) {
        std::fprintf(stderr, "talvo-sim: %s cannot be played: its checkpoint cannot be put in force\n",
                     Opts.replay.c_str());
        std::exit(2);
    }
    const bool whole = endedAt == Run.Journal.records.size() || Run.Journal.records[endedAt].type == RecordEnd;
    if (!whole || !Run.Journal.damaged.empty())
        std::fprintf(stderr, "talvo-sim: the journal ends at frame %llu: what followed was cut short or damaged\n",
                     static_cast<unsigned long long>(reached));
    PutSceneInForce(*played);
    // The scene goes where this run was told, not where the session's went.
    std::snprintf(SceneFileName, sizeof SceneFileName, "%s", scene.c_str());
    if (scene.empty())
        CloseMainWindow();
    else
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
        std::fputs(Help, stdout);
        return 0;
    }
    if (Opts.version) {
        std::puts("talvo-sim " TALVO_VERSION);
        return 0;
    }
    if (!Opts.language.empty()) HeadlessSetLanguage(Opts.language.c_str());
    std::vector<HeadlessEvent> events;
    if (!Opts.events.empty()) events = ReadEvents(Opts.events);
    if (!Opts.replay.empty()) {
        // Refused before anything runs or is written. What is no folder is
        // a scene, whose journal is where the program keeps it.
        std::string folder = Opts.replay;
        std::vector<std::string> names;
        const bool isFolder = FileListFolder(folder.c_str(), &names);
        if (!isFolder) folder = JournalFolderOf(Opts.replay.c_str());
        if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
        const bool read = !folder.empty() && ReadJournal(folder, &Run.Journal);
        if (Run.Journal.otherVersion) Fail(Opts.replay + " is a journal of another version of Talvo");
        if (read && LastCheckpointAtOrBefore(Run.Journal.records, ~uint64_t{0}) >= 0) {
        } else if (isFolder) {
            Fail(Opts.replay + " is not a journal of a Talvo session (a folder of .seg files)");
        } else {
            Fail("no journal of the scene " + Opts.replay + " is kept" + (folder.empty() ? "" : " (in " + folder + ")"));
        }
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
    if (!Opts.gif.empty()) FrameAnimationStart(&Run.Frames, Opts.gifEvery ? Opts.gifEvery : 1, Opts.gifFrom, Opts.gifTo);
    if (!Opts.replay.empty()) return AppStart(ReplayMain) == 0 ? 1 : 0;
    return AppStart(Opts.gif.empty() ? TalvoMain : AnimatedMain) == 0 ? 1 : 0;
}

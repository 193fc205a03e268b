#include "app/main_routine.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "app/history.h"
#include "app/journal.h"
#include "app/pictures.h"
#include "app/scene_handlers.h"
#include "app/standard_random.h"
#include "files/background.h"
#include "files/init_script.h"
#include "files/scene_file.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "framework/pump.h"
#include "framework/strings.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "sim/particles.h"
#include "sim/rules.h"
#include "sim/scene.h"
#include "ui/commands.h"
#include "ui/key_list.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/pen.h"
#include "ui/settings.h"

int32_t& PourCounter = LiveScene.pour.counter;
int32_t& GateCountdown = LiveScene.pour.countdown;
const int32_t FrameTimes[10] = {0, 50, 36, 17, 0, 10, 60, 80, 100, 120};
FrameStatistics FrameStats = {};
uint64_t FramesRun = 0;
// A frame asked for at Stop, not yet run.
static bool FrameAsked = false;

void ProgramReset()
{
    // The scene as one value; then the window's side of the pen, the keys,
    // the menu and the rest.
    ResetLiveScene();
    PenReset();
    KeysReset();
    MenuReset();
    CommandsReset();
    InitScriptReset();
    HistoryReset();
    JournalReset();
    FramesRun = 0;
    FrameAsked = false;
    // Whether frames are timed is chosen before the start.
    FrameStats = FrameStatistics{FrameStats.enabled, 0, 0, 0, 0, 0};
}

// Once the history first lets its oldest steps go, the player hears of it.
static void TellWhatUndoForgot()
{
    if (HistoryTakeForgotten())
        ShowNote(Translated("Undo keeps the last 8 MB of changes: the oldest ones can no longer be taken back."), "Talvo");
}

static void KeepForUndo()
{
    HistoryRecord();
    TellWhatUndoForgot();
}

// Clear, as the menu does it: undoable, and kept by a checkpoint, as the
// start-up script and background it reads may be gone by a replay.
static void ClearScene()
{
    KeepForUndo();
    NewScene();
    JournalCheckpoint();
}

// An undo or redo shows at once, as Clear does, even at Stop.
static void UndoOrRedo(bool (*step)())
{
    if (!step()) return;
    TellWhatUndoForgot();
    JournalCheckpoint();
    CopyToWindow();
}

// One frame at a time: asked at Stop, the loop runs one; asked at any
// other speed, it stops first (as the menu's Stop, kept by the journal).
static void OneFrame()
{
    if (Speed != 0) {
        WndProc(MainWindow, WmSysCommand, CmdSpeedBase, 0);
        return;
    }
    FrameAsked = true;
}

static void Undo() { UndoOrRedo(HistoryUndo); }
static void Redo() { UndoOrRedo(HistoryRedo); }

void StartUp()
{
    Field = SurfaceBits;
    ShowMainWindow();
    SetDefaultSettings();
    BuildSystemMenu();
    OfferCommand(CommandClear, ClearScene);
    OfferCommand(CommandBeforeStroke, KeepForUndo);
    OfferCommand(CommandUndo, Undo);
    OfferCommand(CommandRedo, Redo);
    OfferCommand(CommandPicture, SavePicture);
    OfferCommand(CommandAnimation, SaveAnimation);
    OfferCommand(CommandFrame, OneFrame);
    AddHandler(WmDropFiles, OnDropFiles);
    AddHandler(WmClose, OnClose);
    AddHandler(WmSysCommand, OnSysCommand);
    AddHandler(WmRButtonDown, OnRButtonDown);
    AddHandler(WmRButtonUp, OnRButtonUp);
    AddHandler(WmLButtonDown, OnLButtonDown);
    AddHandler(WmLButtonUp, OnLButtonUp);
    AddHandler(WmMouseMove, OnMouseMove);
    AddHandler(WmKeyDown, OnKeyDown);
    AddHandler(WmKeyUp, OnKeyUp);
    AddHandler(WmChar, OnChar);
    AddHandler(WmCommand, OnCommand);
    // Reserved once for the life of the process.
    if (!RuleBlock) RuleBlock = new int32_t[RuleTextLength];
    BuildAllRuleTables(RuleBlock);
    if (!ParticleList) ParticleList = new int32_t[ParticleCapacity];
    SeedStandardRandom(ClockSeconds());
    SetMirror(0);
    BuildBasePalette();
    ApplyCommandLine(ProgramArgumentCount(), ProgramArguments());
    if (!LoadScene()) NewScene();
    // The scene's lock, a rebuild of what an unclean end left, the journal.
    JournalOpenScene();
    ProgramHooks hooks;
    hooks.watch = JournalWatch;
    hooks.beforeLongWait = JournalFlush;
    SetProgramHooks(hooks);
    // Only now is there a scene that an ending session may save.
    AddHandler(WmEndSession, OnEndSession);
    CopyToWindow();
}

// A function of its own: written inside NewScene, this loop had the rest of
// NewScene folded into it by the WebAssembly optimiser, and the engine, which
// charges each turn of a loop by the loop's length, took NewScene (run once)
// for hot and compiled it again, optimised, during the first frames.
static int16_t FillReservoir(int32_t* list)
{
    // 47 is prime to 334 and 37 to 49, so every cell of columns 1..334, rows
    // 6..54 gets one grain, and both populations are scattered over the block.
    int32_t i = 0;
    for (int32_t j = 1; j <= 334; ++j)
        for (int32_t k = 0; k <= 48; ++k) list[i++] = (j * 47 % 334) + (k * 37 % 49) * FieldWidth + 2017;
    return static_cast<int16_t>(i);
}

void NewScene()
{
    DrawRect(0, 0, FieldWidth, FieldHeight, 3, PaletteColour(CellEmpty));
    DrawRect(0, 0, FieldWidth, GateRow + 1, 1, PaletteColour(CellWall));
    SceneInHand->grainCount = FillReservoir(SceneInHand->grains);
    RunInitScript();
    DrawFieldFrame();
    LoadBackgroundImage();
}

void OpenGate(int32_t pattern)
{
    const uint32_t empty = PaletteColour(CellEmpty);
    switch (pattern) {
    case 0:
        DrawLine(82, GateRow, 85 + StandardRandom() % 7, GateRow, empty);
        break;
    case 1:
        DrawLine(4, GateRow, 332, GateRow, empty);
        break;
    case 2:
        for (int32_t x = 20; x < 328; x += 24) PutPixel(x, GateRow, empty);
        break;
    case 3:
        for (int32_t x = 20; x < 328; x += 48) DrawLine(x, GateRow, x + 2, GateRow, empty);
        break;
    case 4:
        for (int32_t x = 20; x < 328; x += 16) {
            PutPixel(x, GateRow, empty);
            PutPixel(x + 2, GateRow, empty);
        }
        break;
    default:
        break;
    }
}

static void AdvancePourCycle()
{
    PourState& pour = SceneInHand->pour;
    if (pour.counter == 800) {
        DrawLine(0, GateRow, FieldWidth - 1, GateRow, PaletteColour(CellWall));
        if (pour.countdown == 1)
            pour.counter = 810;
        else
            pour.counter += StandardRandom() % 950;
    } else if (pour.counter == 1760) {
        --pour.countdown;
        if (pour.countdown == 0) {
            OpenGate(1 + StandardRandom() % 4);
            pour.countdown = 5 + StandardRandom() % 3;
        } else {
            OpenGate(0);
        }
        pour.counter = StandardRandom() % 790;
    }
    ++pour.counter;
}

static uint64_t Nanoseconds()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

void AdvanceFrame()
{
    uint64_t frameStart = 0;
    if (FrameStats.enabled) {
        frameStart = Nanoseconds();
        if (FrameStats.frames++ == 0) FrameStats.firstFrameStart = frameStart;
        FrameStats.lastFrameStart = frameStart;
    }
    Scene& scene = *SceneInHand;
    StepParticles(scene.grains, scene.grainCount, RuleBlock + RuleTableSize * scene.settings.slotKind1,
                  RuleBlock + RuleTableSize * scene.settings.slotKind2);
    if (FrameStats.enabled) {
        FrameStats.stepNanoseconds += Nanoseconds() - frameStart;
        FrameStats.grainSteps += scene.grainCount > 0 ? static_cast<uint64_t>(scene.grainCount) : 0;
    }
    AdvancePourCycle();
}

static void TellJournalNote()
{
    const std::string note = JournalTakeNote();
    if (!note.empty()) ShowNote(note.c_str(), "Talvo");
}

void RunFrame()
{
    JournalFrameStarts();
    AdvanceFrame();
    // What the start has to tell (a rebuilt scene, a copy of a scene open
    // elsewhere) comes with the first frame, before anything can end it;
    // what the journal has to tell later comes as it happens.
    TellJournalNote();
    PumpMessages();
    ShowField();
    JournalFrameShown();
    // Standing still waits for the next message instead of spinning, and
    // only as long as the journal can wait.
    while (Speed == 0 && !FrameAsked) {
        AwaitMessage(JournalIdle());
        TellJournalNote();
        PumpMessages();
    }
    FrameAsked = false;
    WaitTicks(-FrameTimes[Speed]);
    ++FramesRun;
}

std::string FrameStatisticsLine()
{
    const double frames = static_cast<double>(FrameStats.frames);
    const double stepNs = FrameStats.grainSteps ? static_cast<double>(FrameStats.stepNanoseconds) /
                                                      static_cast<double>(FrameStats.grainSteps)
                                                : 0.0;
    // Whole frames lie between the first frame's start and the last one's.
    const double frameUs =
        frames > 1 ? static_cast<double>(FrameStats.lastFrameStart - FrameStats.firstFrameStart) / (frames - 1) / 1000.0
                   : 0.0;
    const double fps = frameUs > 0 ? 1e6 / frameUs : 0.0;
    char line[240];
    int at = std::snprintf(line, sizeof line,
                           "bench: frames=%" PRIu64 " grains=%d step_ns_per_grain=%.3f frame_us=%.2f fps=%.1f",
                           FrameStats.frames, static_cast<int>(ParticleCount), stepNs, frameUs, fps);
    // What keeping the journal wrote, where it was kept.
    if (JournalKept())
        at += std::snprintf(line + at, sizeof line - static_cast<size_t>(at), " journal_bytes=%" PRIu64 " journal_files=%" PRIu64,
                            JournalBytesWritten(), JournalFilesWritten());
    std::snprintf(line + at, sizeof line - static_cast<size_t>(at), "\n");
    return line;
}

void TalvoMain()
{
    ProgramReset();
    StartUp();
    for (;;) RunFrame();
}

// The program's main routine: start-up, the new scene, the pouring cycle and
// the frame loop.
#pragma once
#include <cstdint>
#include <string>

constexpr int32_t GateRow = 59;

// The live scene's pouring cycle (sim/scene.h).
extern int32_t& PourCounter;
extern int32_t& GateCountdown;

// Frame time in milliseconds of each Speed value (0, "Stop", stands still).
extern const int32_t FrameTimes[10];

// Timing of the frames run so far, kept only while enabled: the particle
// step alone, and the start of the first and of the latest frame.
struct FrameStatistics {
    bool enabled;
    uint64_t frames;
    uint64_t stepNanoseconds;
    uint64_t grainSteps;
    uint64_t firstFrameStart;
    uint64_t lastFrameStart;
};
extern FrameStatistics FrameStats;
// What a benchmark run prints at its end, one line with its newline:
// "bench: frames=N grains=G step_ns_per_grain=X frame_us=Y fps=Z".
std::string FrameStatisticsLine();

// Frames the loop has run, each with its input (RunFrame).
extern uint64_t FramesRun;

// Never returns: the process ends inside a pump once the window is gone.
[[noreturn]] void TalvoMain();
// Every part of the program (settings, pen, menu, scene file, colours,
// grains, pouring cycle) back to its start values; TalvoMain begins with it.
void ProgramReset();
// Everything before the frame loop.
void StartUp();
// One frame of the loop.
void RunFrame();
// The simulation's part of a frame: the particle step and the pouring cycle.
void AdvanceFrame();
void NewScene();
void OpenGate(int32_t pattern);

// The one fixed window, its off-screen surface, the window procedure with its
// handler registry, message pumping and frame timing.
#pragma once
#include <cstdint>
#include "framework/messages.h"

constexpr int32_t SurfaceWidth = 336;
constexpr int32_t SurfaceHeight = 402;

// The surface's pixel bytes, SurfaceWidth x SurfaceHeight, top row first.
extern uint8_t* SurfaceBits;
// The surface's colour table: blue, green, red, 0 per entry.
extern uint8_t SurfaceColours[256][4];
extern WindowHandle MainWindow;
extern int32_t ClientWidth;
extern int32_t ClientHeight;
extern int32_t HasFocus;
extern uint32_t LastPumpTick;
extern uint32_t FrameMark;
extern int32_t PaletteChanged;

struct HandlerNode {
    uint32_t message;
    MessageHandler handler;
    HandlerNode* next;
};
extern HandlerNode* HandlerList;

// The main routine the framework runs once the window exists.
using MainRoutine = void (*)();

// The process's arguments, as the entry point received them.
void SetProgramArguments(int argc, char** argv);
int ProgramArgumentCount();
char** ProgramArguments();

// Sets entries first..first+count-1 of the surface's colour table.
void SetSurfaceColourTable(int32_t first, int32_t count, const uint8_t (*bgra)[4]);
// The index a pixel drawn in `colour` receives: the first entry that holds
// the colour exactly, else the nearest one.
uint8_t SurfaceIndexOf(uint32_t colour);

// Creates the (hidden) window and its white surface; 0 when the surface
// cannot be made.
int32_t AppCreateWindow();
// AppCreateWindow, then the main routine; returns 0 only when the window
// cannot be made.
int32_t AppStart(MainRoutine mainRoutine);
int32_t WndProc(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
void AddHandler(uint32_t message, MessageHandler handler);
void PumpMessages();
void WaitTicks(int32_t milliseconds);
void PumpEvery(uint32_t milliseconds);
// Blocks until a message is pending (no spinning while nothing happens).
void AwaitMessage();
void RefreshPalette();
[[noreturn]] void AppExit();
uint32_t ClockSeconds();

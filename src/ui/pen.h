// The pen (left button, walls) and the eraser (right button, empty cells).
#pragma once
#include <cstdint>

#include "framework/messages.h"

enum ToolStates : int32_t { ToolIdle = 0, ToolPen = 1, ToolEraser = 2 };

struct ToolPoint {
    int32_t x;
    int32_t y;
};

extern int32_t ToolState;
extern ToolPoint LastPoint;
// Called once a stroke, just before its first stamp changes the field (the
// program keeps what the field was, for undo); null: nothing.
extern void (*BeforeStroke)();

// No stroke under way.
void PenReset();

// Sets the kind bits of the 2r x 2r square from (x - r, y - r), clipped to
// the inside of the field frame.
void StampSquare(int32_t x, int32_t y, int32_t r, uint8_t kind);

int32_t OnLButtonDown(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t OnLButtonUp(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t OnRButtonDown(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t OnRButtonUp(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t OnMouseMove(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);

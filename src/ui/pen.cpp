#include "ui/pen.h"

#include <algorithm>
#include <cstdlib>

#include "framework/window.h"
#include "sim/field.h"
#include "ui/settings.h"

int32_t ToolState = ToolIdle;
ToolPoint LastPoint = {0, 0};
void (*BeforeStroke)() = nullptr;
// Whether the stroke under way has stamped yet.
static bool Stamped = false;

void PenReset()
{
    ToolState = ToolIdle;
    LastPoint = {0, 0};
    Stamped = false;
}

// Cursor positions arrive as two unsigned 16-bit halves, so a position left
// of or above the window (captured drags) reads as a large number.
static ToolPoint CursorOf(int32_t lParam)
{
    const uint32_t packed = static_cast<uint32_t>(lParam);
    return {static_cast<int32_t>(packed & 0xFFFFu), static_cast<int32_t>(packed >> 16)};
}

void StampSquare(int32_t x, int32_t y, int32_t r, uint8_t kind)
{
    const int32_t x0 = std::max(x - r, 1);
    const int32_t x1 = std::min(x + r, FieldWidth - 1);
    const int32_t y0 = std::max(y - r, 1);
    const int32_t y1 = std::min(y + r, FieldHeight - 1);
    for (int32_t row = y0; row < y1; ++row)
        for (int32_t column = x0; column < x1; ++column) SetCellKind(FieldPos(column, row), kind);
}

static int32_t BeginStroke(int32_t tool, int32_t lParam)
{
    if (ToolState != ToolIdle) return 0;
    ToolState = tool;
    LastPoint = CursorOf(lParam);
    Stamped = false;
    CaptureMouse(true);
    return 0;
}

static int32_t EndStroke(int32_t tool)
{
    if (ToolState != tool) return 0;
    ToolState = ToolIdle;
    CaptureMouse(false);
    return 0;
}

int32_t OnLButtonDown(WindowHandle, uint32_t, uint32_t, int32_t lParam) { return BeginStroke(ToolPen, lParam); }
int32_t OnLButtonUp(WindowHandle, uint32_t, uint32_t, int32_t) { return EndStroke(ToolPen); }
int32_t OnRButtonDown(WindowHandle, uint32_t, uint32_t, int32_t lParam) { return BeginStroke(ToolEraser, lParam); }
int32_t OnRButtonUp(WindowHandle, uint32_t, uint32_t, int32_t) { return EndStroke(ToolEraser); }

int32_t OnMouseMove(WindowHandle, uint32_t, uint32_t, int32_t lParam)
{
    if (DrawingEnabled == 0 || ToolState == ToolIdle) return 0;
    const ToolPoint cursor = CursorOf(lParam);
    const bool pen = ToolState == ToolPen;
    const uint8_t kind = pen ? CellWall : CellEmpty;
    const int32_t r = 2 * (pen ? PenSize : EraserSize) + 1;
    if (!Stamped && BeforeStroke) BeforeStroke();
    Stamped = true;
    StampSquare(cursor.x, cursor.y, r, kind);
    // A fast move leaves one extra stamp halfway, however far it jumped.
    if (std::abs(cursor.x - LastPoint.x) > r || std::abs(cursor.y - LastPoint.y) > r)
        StampSquare((LastPoint.x + cursor.x) / 2, (LastPoint.y + cursor.y) / 2, r, kind);
    LastPoint = cursor;
    DrawFieldFrame();
    return 0;
}

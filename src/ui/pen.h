// The pen (left button, walls) and the eraser (right button, empty cells).
// Shift held at the press draws a straight line from where the last stroke
// was to the release; Ctrl a box's outline between press and release,
// Ctrl+Shift a filled one (the eraser clears the box's inside); each shows
// on the window while dragged and changes the field at the release. The
// keyboard moves a cell cursor and holds either button down there.
#pragma once
#include <cstdint>

#include "framework/messages.h"
#include "sim/scene.h"

enum ToolStates : int32_t { ToolIdle = 0, ToolPen = 1, ToolEraser = 2 };
enum ToolShapes : int32_t { ShapeFree = 0, ShapeLine = 1, ShapeBox = 2, ShapeFilledBox = 3 };

// The live scene's stroke (sim/scene.h): its tool, and where its last stamp
// went.
extern int32_t& ToolState;
extern ToolPoint& LastPoint;

// Whether what the pen shows over the field reaches the window (not while a
// replay runs the handlers).
extern bool PreviewOnWindow;

// What the window shows of the pen as at the start: no keyboard cursor, no
// shape over the field (the stroke itself is the scene's).
void PenReset();

// Sets the kind bits of the 2r x 2r square from (x - r, y - r), clipped to
// the inside of the field frame.
void StampSquare(int32_t x, int32_t y, int32_t r, uint8_t kind);

int32_t OnLButtonDown(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t OnLButtonUp(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t OnRButtonDown(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t OnRButtonUp(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t OnMouseMove(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);

// The keyboard's pen: arrow keys move the cursor (ten cells with Shift),
// Space and Delete hold the pen and the eraser down at it. 1 when the key
// was the pen's.
int32_t OnPenKeyDown(uint32_t key, uint32_t held);
int32_t OnPenKeyUp(uint32_t key);
bool KeyboardCursorShown(ToolPoint* at);

// The field to the window, with what the pen shows over it.
void ShowField();

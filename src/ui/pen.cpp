#include "ui/pen.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "framework/messages.h"
#include "framework/primitives.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/scene.h"
#include "ui/commands.h"
#include "ui/settings.h"

int32_t& ToolState = LiveScene.stroke.tool;
ToolPoint& LastPoint = LiveScene.stroke.last;
bool PreviewOnWindow = true;

namespace {

// What the window shows of the pen; the stroke itself is the scene's
// (PenStroke in sim/scene.h: what it draws, from where, and whether the
// keyboard's pen made its press, so that the mouse's own moves then draw
// nothing until the release).
struct PenState {
    // The keyboard's cell cursor, and which button it holds down (0: none).
    bool cursorShown = false;
    ToolPoint cursor = {FieldWidth / 2, FieldHeight / 2};
    uint32_t cursorButton = 0;
    // The cells the window shows over the field, and the bytes it shows
    // there; made again when what the pen shows has changed.
    std::vector<int32_t> overlay;
    std::vector<uint8_t> under;
    bool overlayDirty = false;
};

PenState P;

// The stroke and the settings of the scene in hand: a replay's copy draws
// in its own cells.
PenStroke& Stroke() { return SceneInHand->stroke; }
const SceneSettings& Settings() { return SceneInHand->settings; }

// Cursor positions arrive as two unsigned 16-bit halves, so a position left
// of or above the window (captured drags) reads as a large number.
ToolPoint CursorOf(int32_t lParam)
{
    const uint32_t packed = static_cast<uint32_t>(lParam);
    return {static_cast<int32_t>(packed & 0xFFFFu), static_cast<int32_t>(packed >> 16)};
}

int32_t PackedPoint(ToolPoint p)
{
    return static_cast<int32_t>((static_cast<uint32_t>(p.y) << 16) | (static_cast<uint32_t>(p.x) & 0xFFFFu));
}

// Calls `cell` for every cell of the 2r x 2r square of a stamp at (x, y),
// clipped to the inside of the field frame, as StampSquare covers it.
template <typename Cell>
void SquareCells(int32_t x, int32_t y, int32_t r, Cell cell)
{
    const int32_t x0 = std::max(x - r, 1);
    const int32_t x1 = std::min(x + r, FieldWidth - 1);
    const int32_t y0 = std::max(y - r, 1);
    const int32_t y1 = std::min(y + r, FieldHeight - 1);
    for (int32_t row = y0; row < y1; ++row)
        for (int32_t column = x0; column < x1; ++column) cell(FieldPos(column, row));
}

// Every point of the straight line from a to b, ends included, a step at a
// time along the longer axis (Bresenham's walk).
template <typename Point>
void LinePoints(ToolPoint a, ToolPoint b, Point point)
{
    const int32_t dx = std::abs(b.x - a.x), dy = -std::abs(b.y - a.y);
    const int32_t sx = a.x < b.x ? 1 : -1, sy = a.y < b.y ? 1 : -1;
    int32_t error = dx + dy;
    for (ToolPoint p = a;;) {
        point(p.x, p.y);
        if (p.x == b.x && p.y == b.y) return;
        const int32_t twice = 2 * error;
        if (twice >= dy) error += dy, p.x += sx;
        if (twice <= dx) error += dx, p.y += sy;
    }
}

int32_t ReachOf(int32_t tool) { return 2 * (tool == ToolPen ? Settings().penSize : Settings().eraserSize) + 1; }

// The cells a shape from `a` to `b` changes for `tool`: a line in the
// tool's size, a box's outline in the pen's size, a box's whole inside for
// a filled box and for the eraser's boxes; each cell once.
std::vector<int32_t> ShapeCells(int32_t shape, int32_t tool, ToolPoint a, ToolPoint b)
{
    std::vector<int32_t> cells;
    const int32_t r = ReachOf(tool);
    const auto add = [&cells](int32_t at) { cells.push_back(at); };
    const auto stamp = [&](int32_t x, int32_t y) { SquareCells(x, y, r, add); };
    if (shape == ShapeLine) {
        LinePoints(a, b, stamp);
    } else {
        const int32_t x0 = std::min(a.x, b.x), x1 = std::max(a.x, b.x);
        const int32_t y0 = std::min(a.y, b.y), y1 = std::max(a.y, b.y);
        if (shape == ShapeFilledBox || tool == ToolEraser) {
            for (int32_t y = std::max(y0, 1); y <= std::min(y1, FieldHeight - 2); ++y)
                for (int32_t x = std::max(x0, 1); x <= std::min(x1, FieldWidth - 2); ++x) add(FieldPos(x, y));
        } else {
            LinePoints({x0, y0}, {x1, y0}, stamp);
            LinePoints({x1, y0}, {x1, y1}, stamp);
            LinePoints({x1, y1}, {x0, y1}, stamp);
            LinePoints({x0, y1}, {x0, y0}, stamp);
        }
    }
    std::sort(cells.begin(), cells.end());
    cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
    return cells;
}

// What the window shows over the field and nowhere else: the cells of the
// shape being dragged, and the outline of the square the keyboard's cursor
// would stamp.
void SetOverlay()
{
    P.overlay.clear();
    if (Stroke().tool != ToolIdle && Stroke().shape != ShapeFree && Settings().drawingEnabled)
        P.overlay = ShapeCells(Stroke().shape, Stroke().tool, Stroke().anchor, Stroke().end);
    if (P.cursorShown) {
        const int32_t r = ReachOf(P.cursorButton == MkRButton ? ToolEraser : ToolPen);
        const int32_t x0 = P.cursor.x - r, x1 = P.cursor.x + r - 1, y0 = P.cursor.y - r, y1 = P.cursor.y + r - 1;
        for (int32_t y = std::max(y0, 0); y <= std::min(y1, FieldHeight - 1); ++y)
            for (int32_t x = std::max(x0, 0); x <= std::min(x1, FieldWidth - 1); ++x)
                if (x == x0 || x == x1 || y == y0 || y == y1) P.overlay.push_back(FieldPos(x, y));
    }
}

// What the pen shows changed: the window shows it now (not in a replay).
void ShowOverlayNow()
{
    if (!PreviewOnWindow) return;
    P.overlayDirty = true;
    ShowField();
}

int32_t BeginStroke(int32_t tool, uint32_t wParam, int32_t lParam)
{
    if (Stroke().tool != ToolIdle) return 0;
    Stroke().tool = tool;
    Stroke().stamped = false;
    const bool shift = (wParam & MkShift) != 0, control = (wParam & MkControl) != 0;
    Stroke().shape = control ? (shift ? ShapeFilledBox : ShapeBox) : shift ? ShapeLine : ShapeFree;
    Stroke().byKeyboard = (wParam & MkKeyboard) != 0;
    // A straight wall goes on from where the last stroke was (its press or
    // its last step); at the session's first, from the press.
    const ToolPoint before = Stroke().last;
    Stroke().last = CursorOf(lParam);
    Stroke().anchor = Stroke().shape == ShapeLine && (before.x || before.y) ? before : Stroke().last;
    Stroke().end = Stroke().last;
    if (SceneIsLive()) CaptureMouse(true);
    if (Stroke().shape != ShapeFree) ShowOverlayNow();
    return 0;
}

int32_t EndStroke(int32_t tool, int32_t lParam)
{
    if (Stroke().tool != tool) return 0;
    if (Stroke().shape != ShapeFree && Settings().drawingEnabled) {
        Stroke().end = CursorOf(lParam);
        const std::vector<int32_t> cells = ShapeCells(Stroke().shape, tool, Stroke().anchor, Stroke().end);
        RunCommand(CommandBeforeStroke);
        for (int32_t at : cells) SetCellKind(at, tool == ToolPen ? CellWall : CellEmpty);
        DrawFieldFrame();
        Stroke().last = Stroke().end;
    }
    const bool shaped = Stroke().shape != ShapeFree;
    Stroke().tool = ToolIdle;
    Stroke().shape = ShapeFree;
    Stroke().byKeyboard = false;
    if (SceneIsLive()) CaptureMouse(false);
    if (shaped) ShowOverlayNow();
    return 0;
}

} // namespace

void PenReset()
{
    P = PenState{};
    PreviewOnWindow = true;
    SetWindowOverlay(nullptr, nullptr, 0);
}

void StampSquare(int32_t x, int32_t y, int32_t r, uint8_t kind)
{
    SquareCells(x, y, r, [kind](int32_t at) { SetCellKind(at, kind); });
}

int32_t OnLButtonDown(WindowHandle, uint32_t, uint32_t wParam, int32_t lParam)
{
    return BeginStroke(ToolPen, wParam, lParam);
}
int32_t OnLButtonUp(WindowHandle, uint32_t, uint32_t, int32_t lParam) { return EndStroke(ToolPen, lParam); }
int32_t OnRButtonDown(WindowHandle, uint32_t, uint32_t wParam, int32_t lParam)
{
    return BeginStroke(ToolEraser, wParam, lParam);
}
int32_t OnRButtonUp(WindowHandle, uint32_t, uint32_t, int32_t lParam) { return EndStroke(ToolEraser, lParam); }

int32_t OnMouseMove(WindowHandle, uint32_t, uint32_t wParam, int32_t lParam)
{
    const ToolPoint cursor = CursorOf(lParam);
    const bool mouse = (wParam & MkKeyboard) == 0;
    // The mouse takes over from the keyboard's cursor, but not in the middle
    // of the keyboard's stroke, which the mouse does not draw in.
    if (mouse && Stroke().byKeyboard && Stroke().tool != ToolIdle) return 0;
    if (mouse && P.cursorShown && (cursor.x != P.cursor.x || cursor.y != P.cursor.y)) {
        P.cursorShown = false;
        ShowOverlayNow();
    }
    if (Settings().drawingEnabled == 0 || Stroke().tool == ToolIdle) return 0;
    if (Stroke().shape != ShapeFree) {
        Stroke().end = cursor;
        ShowOverlayNow();
        return 0;
    }
    const bool pen = Stroke().tool == ToolPen;
    const uint8_t kind = pen ? CellWall : CellEmpty;
    const int32_t r = 2 * (pen ? Settings().penSize : Settings().eraserSize) + 1;
    if (!Stroke().stamped) RunCommand(CommandBeforeStroke);
    Stroke().stamped = true;
    StampSquare(cursor.x, cursor.y, r, kind);
    // A fast move leaves one extra stamp halfway, however far it jumped.
    if (std::abs(cursor.x - Stroke().last.x) > r || std::abs(cursor.y - Stroke().last.y) > r)
        StampSquare((Stroke().last.x + cursor.x) / 2, (Stroke().last.y + cursor.y) / 2, r, kind);
    Stroke().last = cursor;
    DrawFieldFrame();
    return 0;
}

// The keyboard's pen: a key moves the cursor or holds a button down there;
// what it draws goes to the window's own mouse handlers as the mouse's
// messages (so the journal keeps it, and a replay draws it again).
int32_t OnPenKeyDown(uint32_t key, uint32_t held)
{
    const int32_t by = (held & MkShift) ? 10 : 1;
    ToolPoint to = P.cursor;
    switch (key) {
    case VkLeft: to.x -= by; break;
    case VkRight: to.x += by; break;
    case VkUp: to.y -= by; break;
    case VkDown: to.y += by; break;
    case VkSpace:
    case VkDelete: {
        if (P.cursorButton || Stroke().tool != ToolIdle) return 1;
        P.cursorShown = true;
        P.cursorButton = key == VkSpace ? MkLButton : MkRButton;
        const int32_t at = PackedPoint(P.cursor);
        WndProc(MainWindow, key == VkSpace ? WmLButtonDown : WmRButtonDown, P.cursorButton | MkKeyboard, at);
        WndProc(MainWindow, WmMouseMove, P.cursorButton | MkKeyboard, at);
        ShowOverlayNow();
        return 1;
    }
    default:
        return 0;
    }
    to.x = std::clamp(to.x, 0, FieldWidth - 1);
    to.y = std::clamp(to.y, 0, FieldHeight - 1);
    const bool moved = to.x != P.cursor.x || to.y != P.cursor.y;
    P.cursor = to;
    P.cursorShown = true;
    if (moved && P.cursorButton) WndProc(MainWindow, WmMouseMove, P.cursorButton | MkKeyboard, PackedPoint(P.cursor));
    ShowOverlayNow();
    return 1;
}

int32_t OnPenKeyUp(uint32_t key)
{
    const uint32_t button = key == VkSpace ? MkLButton : key == VkDelete ? MkRButton : 0;
    if (!button || P.cursorButton != button) return 0;
    P.cursorButton = 0;
    WndProc(MainWindow, button == MkLButton ? WmLButtonUp : WmRButtonUp, MkKeyboard, PackedPoint(P.cursor));
    ShowOverlayNow();
    return 1;
}

void ShowField()
{
    if (P.overlayDirty) {
        P.overlayDirty = false;
        SetOverlay();
        // Each shows as what it is not: a wall as empty, anything else as wall.
        P.under.resize(P.overlay.size());
        for (size_t i = 0; i < P.overlay.size(); ++i) {
            const uint8_t byte = Field[P.overlay[i]];
            P.under[i] = static_cast<uint8_t>((byte & ShadeMask) | ((byte & KindMask) == CellWall ? CellEmpty : CellWall));
        }
        SetWindowOverlay(P.overlay.data(), P.under.data(), P.overlay.size());
    }
    CopyToWindow();
}

bool KeyboardCursorShown(ToolPoint* at)
{
    if (P.cursorShown && at) *at = P.cursor;
    return P.cursorShown;
}

// The field: the surface's pixel bytes, one cell per byte. The low three bits
// say what the cell holds, the high five bits which background shade lies
// under it.
#pragma once
#include <cstdint>

constexpr int32_t FieldWidth = 336;
constexpr int32_t FieldHeight = 402;
constexpr int32_t FieldSize = FieldWidth * FieldHeight;

constexpr uint8_t KindMask = 0x07;
constexpr uint8_t ShadeMask = 0xF8;

enum CellKind : uint8_t {
    CellEmpty = 0,
    CellWall = 1,
    CellSand1A = 2,
    CellSand1B = 3,
    CellSand2A = 4,
    CellSand2B = 5,
};

// Points at the surface's bytes once the main routine has started: the
// live scene's cells (sim/scene.h).
extern uint8_t*& Field;
// The cells of the scene in hand: the Field, but while a replay plays a
// copy of the scene.
uint8_t* CellsInHand();

constexpr int32_t FieldPos(int32_t x, int32_t y) { return y * FieldWidth + x; }

// Changes what a cell holds, keeping its shade.
inline void SetCellKind(int32_t pos, uint8_t kind)
{
    uint8_t* cells = CellsInHand();
    cells[pos] = static_cast<uint8_t>((cells[pos] & ShadeMask) | kind);
}

// Redraws the one-cell wall ring around the field.
void DrawFieldFrame();

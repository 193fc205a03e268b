// The particle step written plainly, one grain after the other with nothing
// clever: own cell, wrap, four neighbours, one draw, one table read, the
// move. The tests hold the real step to it and the benchmark times both.
#pragma once
#include <cstdint>

#include "sim/field.h"
#include "sim/particles.h"

inline void ReferenceStep(uint8_t* field, int32_t* list, int32_t count, const int32_t* table1, const int32_t* table2,
                          StepRandomState& random)
{
    uint32_t s1 = random.s1;
    uint32_t s2 = random.s2;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t p = list[i];
        const int k0 = field[p] & KindMask;
        int32_t target = 0;
        int state = 0;
        bool draw = true;
        if (p > BottomBandStart) {
            const int32_t w = p - WrapDistance;
            if ((field[w] & KindMask) == 0) {
                target = w;
                draw = false;
            } else {
                state = 8;
            }
        }
        if (draw) {
            if (field[p - FieldWidth] & KindMask) state |= 1;
            if (field[p - 1] & KindMask) state |= 2;
            if (field[p + 1] & KindMask) state |= 4;
            if (field[p + FieldWidth] & KindMask) state |= 8;
            s1 += s2;
            s2 += s1;
            const uint32_t column = (s1 >> 16) & 15;
            const int32_t* table = (i & 1) ? table1 : table2;
            target = p + table[16 * state + column];
        }
        if (target == p) continue;
        if (k0 != CellWall) field[p] &= ShadeMask;
        const bool colourB = (i & 6) == 0;
        const uint8_t kind = (i & 1) ? (colourB ? CellSand1B : CellSand1A) : (colourB ? CellSand2B : CellSand2A);
        field[target] = static_cast<uint8_t>((field[target] & ShadeMask) | kind);
        list[i] = target;
    }
    random.s1 = s1;
    random.s2 = s2;
}

// The grains and the particle step that moves each of them once per frame.
#pragma once
#include <cstdint>

#include "sim/field.h"

constexpr int32_t ParticleCapacity = 16800;
// Positions above this lie in the bottom band (row 400 from column 1 on),
// whose grains re-enter WrapDistance cells higher up, in row 1.
constexpr int32_t BottomBandStart = 134400;
constexpr int32_t WrapDistance = 134064;

// Grain positions; reserved once by the main routine. Odd indices belong to
// the first population, even ones to the second.
extern int32_t*& ParticleList;
extern int16_t& ParticleCount;

// The step's own generator: each draw adds s2 to s1, then s1 to s2.
struct StepRandomState {
    uint32_t s1;
    uint32_t s2;
};
extern StepRandomState& StepRandom;


// The cell kind grain i is drawn as.
constexpr uint8_t GrainKind(int32_t i)
{
    const bool colourB = (i & 6) == 0;
    if (i & 1) return colourB ? CellSand1B : CellSand1A;
    return colourB ? CellSand2B : CellSand2A;
}

// Draws one random column (0..15) from StepRandom (the scene in hand's).
uint32_t DrawStepColumn();
// Moves grains 0..count-1 once each, in order, in the Field; table1 serves
// the odd indices, table2 the even ones. A replay's copy of the scene is
// moved in its own cells, with its own generator.
void StepParticles(int32_t* list, int32_t count, const int32_t* table1, const int32_t* table2);

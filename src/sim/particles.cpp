#include "sim/particles.h"

int32_t* ParticleList = nullptr;
int16_t ParticleCount = 0;
StepRandomState StepRandom = {257, 1023};

uint32_t DrawStepColumn()
{
    StepRandom.s1 += StepRandom.s2;
    StepRandom.s2 += StepRandom.s1;
    return (StepRandom.s1 >> 16) & 15;
}

// Lookups that turn a neighbour's byte straight into its part of the rule
// table index (16 * state): above 16, left 32, right 64, below 128. A cell
// counts when its kind bits are not 0; the shade bits play no part.
struct StepLookups {
    uint8_t above[256];
    uint8_t left[256];
    uint8_t right[256];
    uint8_t below[256];
    // The cell a grain leaves: emptied, shade kept, unless it is a wall.
    uint8_t vacated[256];
};

static constexpr StepLookups MakeStepLookups()
{
    StepLookups t{};
    for (int b = 0; b < 256; ++b) {
        const bool occupied = (b & 7) != 0;
        t.above[b] = occupied ? 16 : 0;
        t.left[b] = occupied ? 32 : 0;
        t.right[b] = occupied ? 64 : 0;
        t.below[b] = occupied ? 128 : 0;
        t.vacated[b] = static_cast<uint8_t>((b & 7) == CellWall ? b : (b & ShadeMask));
    }
    return t;
}

static constexpr StepLookups Lookups = MakeStepLookups();

// Empties the cell the grain leaves (a wall stays) and marks the target. A
// grain that stays must leave its cell as it was, so the cell is emptied
// unconditionally and then given back: a select, not a branch, since a
// resting grain is about as likely as a moving one.
template <uint8_t Kind>
static inline void MoveGrain(uint8_t* field, int32_t* entry, int32_t p, int32_t target, uint32_t here)
{
    const bool moves = target != p;
    field[p] = Lookups.vacated[here];
    const uint32_t marked = (field[target] & ShadeMask) | Kind;
    field[target] = static_cast<uint8_t>(__builtin_expect_with_probability(moves, 1, 0.5) ? marked : here);
    *entry = target;
}

// The rule table index of a grain: 16 * neighbourhood state.
static inline uint32_t StateIndex(const uint8_t* field, int32_t p)
{
    return Lookups.above[field[p - FieldWidth]] + Lookups.left[field[p - 1]] + Lookups.right[field[p + 1]] +
           Lookups.below[field[p + FieldWidth]];
}

static inline uint32_t NextColumn(uint32_t& s1, uint32_t& s2)
{
    s1 += s2;
    s2 += s1;
    return (s1 >> 16) & 15;
}

// One grain. The kind is a template argument so that the unrolled loop below
// needs no per-grain colour logic.
template <uint8_t Kind>
static inline void StepGrain(uint8_t* field, int32_t* entry, const int32_t* table, uint32_t& s1, uint32_t& s2)
{
    const int32_t p = *entry;
    const uint32_t here = field[p];
    if (p > BottomBandStart) [[unlikely]] {
        // Re-enter in row 1 when that cell is empty; otherwise the wrap
        // target counts as the cell below (OR keeps the state within 0..15
        // when the real cell below is occupied too).
        const int32_t wrapped = p - WrapDistance;
        int32_t target = wrapped;
        if ((field[wrapped] & 7) != 0) {
            const uint32_t index = StateIndex(field, p) | 128u;
            target = p + table[index + NextColumn(s1, s2)];
        }
        MoveGrain<Kind>(field, entry, p, target, here);
        return;
    }
    const uint32_t index = StateIndex(field, p);
    MoveGrain<Kind>(field, entry, p, p + table[index + NextColumn(s1, s2)], here);
}

void StepParticles(int32_t* list, int32_t count, const int32_t* table1, const int32_t* table2)
{
    uint8_t* const field = Field;
    uint32_t s1 = StepRandom.s1;
    uint32_t s2 = StepRandom.s2;
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        StepGrain<GrainKind(0)>(field, list + i + 0, table2, s1, s2);
        StepGrain<GrainKind(1)>(field, list + i + 1, table1, s1, s2);
        StepGrain<GrainKind(2)>(field, list + i + 2, table2, s1, s2);
        StepGrain<GrainKind(3)>(field, list + i + 3, table1, s1, s2);
        StepGrain<GrainKind(4)>(field, list + i + 4, table2, s1, s2);
        StepGrain<GrainKind(5)>(field, list + i + 5, table1, s1, s2);
        StepGrain<GrainKind(6)>(field, list + i + 6, table2, s1, s2);
        StepGrain<GrainKind(7)>(field, list + i + 7, table1, s1, s2);
    }
    // The tail starts at a multiple of 8, so its kinds are those of 0..6.
    if (i + 0 < count) StepGrain<GrainKind(0)>(field, list + i + 0, table2, s1, s2);
    if (i + 1 < count) StepGrain<GrainKind(1)>(field, list + i + 1, table1, s1, s2);
    if (i + 2 < count) StepGrain<GrainKind(2)>(field, list + i + 2, table2, s1, s2);
    if (i + 3 < count) StepGrain<GrainKind(3)>(field, list + i + 3, table1, s1, s2);
    if (i + 4 < count) StepGrain<GrainKind(4)>(field, list + i + 4, table2, s1, s2);
    if (i + 5 < count) StepGrain<GrainKind(5)>(field, list + i + 5, table1, s1, s2);
    if (i + 6 < count) StepGrain<GrainKind(6)>(field, list + i + 6, table2, s1, s2);
    StepRandom.s1 = s1;
    StepRandom.s2 = s2;
}

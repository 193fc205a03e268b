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

#if defined(__GNUC__) || defined(__clang__)
#define STEP_INLINE inline __attribute__((always_inline))
// A hint that the condition is a coin toss, so that the compiler selects
// rather than branches.
#define STEP_EITHER(c) __builtin_expect_with_probability((c), 1, 0.5)
#else
#define STEP_INLINE inline
#define STEP_EITHER(c) (c)
#endif

namespace {

// Lookups that turn a neighbour's byte straight into its part of the rule
// table index (16 * state): above 16, left 32, right 64, below 128. A cell
// counts when its kind bits are not 0; the shade bits play no part. Full
// words, so that each lookup adds straight from memory.
struct StepLookups {
    uint32_t above[256];
    uint32_t left[256];
    uint32_t right[256];
    uint32_t below[256];
    // The cell a grain leaves: emptied, shade kept, unless it is a wall.
    uint8_t vacated[256];
};

constexpr StepLookups MakeStepLookups()
{
    StepLookups t{};
    for (int b = 0; b < 256; ++b) {
        const uint32_t occupied = (b & KindMask) != 0 ? 1 : 0;
        t.above[b] = 16 * occupied;
        t.left[b] = 32 * occupied;
        t.right[b] = 64 * occupied;
        t.below[b] = 128 * occupied;
        t.vacated[b] = static_cast<uint8_t>((b & KindMask) == CellWall ? b : (b & ShadeMask));
    }
    return t;
}

constexpr StepLookups Lookups = MakeStepLookups();

// Where a grain that stays writes its two bytes: somewhere no one reads.
uint8_t Scratch[16];

// The generator's low 20 bits, kept in the top 20 bits of each word: the sums
// agree there, and the column is then just the top nibble. The full state is
// brought forward once at the end of the step.
struct ColumnDraws {
    uint32_t t1;
    uint32_t t2;
    uint32_t skipped; // grains that wrapped without a draw

    STEP_INLINE uint32_t Next()
    {
        t1 += t2;
        t2 += t1;
        return t1 >> 28;
    }
};

// (s1, s2) after n draws: each draw multiplies the pair by [[1, 1], [1, 2]],
// so n draws are that matrix to the n-th power, by repeated squaring.
void AdvanceStepRandom(uint32_t n)
{
    uint32_t a = 1, b = 0, c = 0, d = 1; // the product so far
    uint32_t pa = 1, pb = 1, pc = 1, pd = 2; // the matrix to a power of two
    for (; n != 0; n >>= 1) {
        if (n & 1) {
            const uint32_t na = a * pa + b * pc, nb = a * pb + b * pd;
            const uint32_t nc = c * pa + d * pc, nd = c * pb + d * pd;
            a = na, b = nb, c = nc, d = nd;
        }
        const uint32_t qa = pa * pa + pb * pc, qb = pa * pb + pb * pd;
        const uint32_t qc = pc * pa + pd * pc, qd = pc * pb + pd * pd;
        pa = qa, pb = qb, pc = qc, pd = qd;
    }
    const uint32_t s1 = StepRandom.s1, s2 = StepRandom.s2;
    StepRandom.s1 = a * s1 + b * s2;
    StepRandom.s2 = c * s1 + d * s2;
}

// One grain. Its drawing kind is a template argument so that the unrolled
// loop below needs no per-grain colour logic.
template <uint8_t Kind>
STEP_INLINE void StepGrain(uint8_t* field, int32_t* entry, const int32_t* table, ColumnDraws& draws)
{
    const int32_t p = *entry;
    const uint32_t here = field[p];
    intptr_t move;
    if (p > BottomBandStart) [[unlikely]] {
        // Re-enter in row 1 when that cell is empty; otherwise the wrap
        // target counts as the cell below.
        move = -WrapDistance;
        if (field[p - WrapDistance] & KindMask) {
            const uint32_t index = Lookups.above[field[p - FieldWidth]] + Lookups.left[field[p - 1]] +
                                   Lookups.right[field[p + 1]] + Lookups.below[CellWall];
            move = table[index + draws.Next()];
        } else {
            ++draws.skipped;
        }
    } else {
        const uint32_t index = Lookups.above[field[p - FieldWidth]] + Lookups.left[field[p - 1]] +
                               Lookups.right[field[p + 1]] + Lookups.below[field[p + FieldWidth]];
        move = table[index + draws.Next()];
    }
    // Every move goes to an empty cell, so the target is marked by setting
    // its kind bits. A grain that stays must leave the field as it was: its
    // two stores go to the scratch bytes (move 0), chosen by a select, since
    // in a pile most grains stay and in a pour about half of them do.
    uint8_t* const cell = field + p;
    const uint32_t there = cell[move];
    uint8_t* const out = STEP_EITHER(move != 0) ? cell : Scratch;
    out[0] = Lookups.vacated[here];
    out[move] = static_cast<uint8_t>(there | Kind);
    *entry = p + static_cast<int32_t>(move);
}

} // namespace

void StepParticles(int32_t* list, int32_t count, const int32_t* table1, const int32_t* table2)
{
    if (count <= 0) return;
    uint8_t* const field = Field;
    ColumnDraws draws{StepRandom.s1 << 12, StepRandom.s2 << 12, 0};
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        StepGrain<GrainKind(0)>(field, list + i + 0, table2, draws);
        StepGrain<GrainKind(1)>(field, list + i + 1, table1, draws);
        StepGrain<GrainKind(2)>(field, list + i + 2, table2, draws);
        StepGrain<GrainKind(3)>(field, list + i + 3, table1, draws);
        StepGrain<GrainKind(4)>(field, list + i + 4, table2, draws);
        StepGrain<GrainKind(5)>(field, list + i + 5, table1, draws);
        StepGrain<GrainKind(6)>(field, list + i + 6, table2, draws);
        StepGrain<GrainKind(7)>(field, list + i + 7, table1, draws);
    }
    // The tail starts at a multiple of 8, so its kinds are those of 0..6.
    if (i + 0 < count) StepGrain<GrainKind(0)>(field, list + i + 0, table2, draws);
    if (i + 1 < count) StepGrain<GrainKind(1)>(field, list + i + 1, table1, draws);
    if (i + 2 < count) StepGrain<GrainKind(2)>(field, list + i + 2, table2, draws);
    if (i + 3 < count) StepGrain<GrainKind(3)>(field, list + i + 3, table1, draws);
    if (i + 4 < count) StepGrain<GrainKind(4)>(field, list + i + 4, table2, draws);
    if (i + 5 < count) StepGrain<GrainKind(5)>(field, list + i + 5, table1, draws);
    if (i + 6 < count) StepGrain<GrainKind(6)>(field, list + i + 6, table2, draws);
    AdvanceStepRandom(static_cast<uint32_t>(count) - draws.skipped);
}

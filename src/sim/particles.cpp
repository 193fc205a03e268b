#include "sim/particles.h"

#include <cstdlib>
#include <cstring>

#include "sim/rules.h"
#include "sim/scene.h"

int32_t*& ParticleList = LiveScene.grains;
int16_t& ParticleCount = LiveScene.grainCount;
StepRandomState& StepRandom = LiveScene.stepRandom;

uint32_t DrawStepColumn()
{
    StepRandomState& random = SceneInHand->stepRandom;
    random.s1 += random.s2;
    random.s2 += random.s1;
    return (random.s1 >> 16) & 15;
}

#if defined(__GNUC__) || defined(__clang__)
#define STEP_INLINE inline __attribute__((always_inline))
#define STEP_OUTLINE __attribute__((noinline))
#else
#define STEP_INLINE inline
#define STEP_OUTLINE
#endif

namespace {

#ifdef TALVO_STEP_LOOKUPS_AT
// WebAssembly folds a constant address into a load, a table's address not
// (Emscripten's LLVM adds it apart, and the engine with it): the web build
// keeps memory at this address free, and the lookups are bytes there, each
// one load in the engine's code instead of three.
using LookupEntry = uint8_t;
#else
// Full words, so that each lookup adds straight from memory.
using LookupEntry = uint32_t;
#endif

// Lookups that turn a neighbour's byte straight into its part of the rule
// table index (16 * state): above 16, left 32, right 64, below 128. A cell
// counts when its kind bits are not 0; the shade bits play no part.
struct StepLookups {
    LookupEntry above[256];
    LookupEntry left[256];
    LookupEntry right[256];
    LookupEntry below[256];
    // The cell a grain leaves: emptied, shade kept, unless it is a wall.
    uint8_t vacated[256];
};

constexpr StepLookups MakeStepLookups()
{
    StepLookups t{};
    for (int b = 0; b < 256; ++b) {
        const uint32_t occupied = (b & KindMask) != 0 ? 1 : 0;
        t.above[b] = static_cast<LookupEntry>(16 * occupied);
        t.left[b] = static_cast<LookupEntry>(32 * occupied);
        t.right[b] = static_cast<LookupEntry>(64 * occupied);
        t.below[b] = static_cast<LookupEntry>(128 * occupied);
        t.vacated[b] = static_cast<uint8_t>((b & KindMask) == CellWall ? b : (b & ShadeMask));
    }
    return t;
}

constexpr StepLookups MadeLookups = MakeStepLookups();

#ifdef TALVO_STEP_LOOKUPS_AT
extern "C" const char __global_base; // where the linker put the data

STEP_INLINE const StepLookups& Lookups() { return *reinterpret_cast<const StepLookups*>(TALVO_STEP_LOOKUPS_AT); }

void PlaceLookups()
{
    static bool placed = false;
    if (placed) return;
    // A link that did not keep the room would have the tables overwrite data.
    if (reinterpret_cast<uintptr_t>(&__global_base) < TALVO_STEP_LOOKUPS_AT + sizeof(StepLookups)) std::abort();
    std::memcpy(reinterpret_cast<void*>(TALVO_STEP_LOOKUPS_AT), &MadeLookups, sizeof MadeLookups);
    placed = true;
}
#else
STEP_INLINE constexpr const StepLookups& Lookups() { return MadeLookups; }

void PlaceLookups() {}
#endif

constexpr uint32_t BoxedIn = 16 * 15;

// The two rule tables of this step at a fixed address, even grains' first:
// no register holds them, and the unrolled loop needs every one it has.
int32_t StepRules[2][RuleTableSize];

struct StepCounters {
    // The generator's low 20 bits, kept in the top 20 bits of each word: the
    // sums agree there, and the column is then just the top nibble. The full
    // state is brought forward once, at the end of the step.
    uint32_t t1;
    uint32_t t2;
    // Grains that wrapped without a draw in the low half; in the high half
    // the boxed-in grains in slots 0 and 1, one of each population. One
    // register for both.
    uint32_t tally;

    STEP_INLINE void Draw()
    {
        t1 += t2;
        t2 += t1;
    }
    STEP_INLINE uint32_t Column()
    {
        Draw();
        return t1 >> 28;
    }
};

// (s1, s2) after n draws: each draw multiplies the pair by [[1, 1], [1, 2]],
// so n draws are that matrix to the n-th power, by repeated squaring.
void AdvanceStepRandom(uint32_t n)
{
    uint32_t a = 1, b = 0, c = 0, d = 1;     // the product so far
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
    StepRandomState& random = SceneInHand->stepRandom;
    const uint32_t s1 = random.s1, s2 = random.s2;
    random.s1 = a * s1 + b * s2;
    random.s2 = c * s1 + d * s2;
}

// A grain's neighbours as offsets from the cell above and left of it, all
// positive: WebAssembly folds only such offsets into its loads, and would
// add each negative one apart. The field's address comes into the passes as
// a number, so the optimiser cannot turn them back into negative offsets
// from the grain's own cell.
constexpr int32_t Above = 1, Left = FieldWidth, Here = FieldWidth + 1, Right = FieldWidth + 2,
                  Below = 2 * FieldWidth + 1;
constexpr uintptr_t CornerOffset = Here;

#ifdef TALVO_FIELD_AT
// The web build keeps the field at this address when it can. High enough
// that even the wrap's offset, back to row 1, is a constant above 0.
constexpr uintptr_t FixedCorners = TALVO_FIELD_AT - CornerOffset;
static_assert(FixedCorners >= static_cast<uintptr_t>(WrapDistance - Here), "the wrap's offset must stay above 0");
#endif

// A grain's cells, at offsets from its corner. FixedAt is the corners'
// address where the build fixes it, else 0, and then the corner's address
// comes from `corners`, a register. With FixedAt the offsets are constants
// added to the grain's position, a sum that cannot wrap: WebAssembly carries
// each in its load's or store's offset, and needs no register for the field.
template <uintptr_t FixedAt>
struct Cells {
    uintptr_t corner; // the corner's address, or with FixedAt the position

    STEP_INLINE static Cells Of(uintptr_t corners, int32_t p)
    {
        if constexpr (FixedAt != 0) {
#if defined(__clang__)
            // Positions lie in the field (the scene loader checks them): the
            // compiler may then take position + offset as not wrapping.
            __builtin_assume(static_cast<uint32_t>(p) < FieldSize);
#endif
            return Cells{static_cast<uint32_t>(p)};
        }
        return Cells{corners + static_cast<uint32_t>(p)};
    }
    STEP_INLINE uint8_t& operator[](int32_t offset) const
    {
        if constexpr (FixedAt != 0) return *reinterpret_cast<uint8_t*>(corner + (FixedAt + offset));
        return reinterpret_cast<uint8_t*>(corner)[offset];
    }
    // The cell `move` away from the grain's own, at position p + move: with
    // FixedAt addressed from that position, which the grain's entry takes
    // too; natively from the corner, with the move as the rule table gives it.
    STEP_INLINE uint8_t& Moved(int32_t p, int32_t move) const
    {
        if constexpr (FixedAt != 0) {
            const uint32_t target = static_cast<uint32_t>(p + move);
#if defined(__clang__)
            __builtin_assume(target < FieldSize);
#endif
            return *reinterpret_cast<uint8_t*>(target + (FixedAt + Here));
        }
        return (reinterpret_cast<uint8_t*>(corner) + Here)[move];
    }
};

// One grain, whatever its neighbourhood. Its slot, the index modulo 8, is a
// constant in the unrolled loop below, which so needs no per-grain colour
// logic; only the last few grains take it as a variable.
//
// Whether the grain moves is not branched on: in a pour about half of the
// grains do, at random. The next grains' loads start long before this
// grain's table read ends, and nearby grains read each other's cells; a
// load that ran ahead of an older store to the same byte, whose address was
// not known yet, costs a pipeline clear on Intel processors. So the grain's
// own cell is written last, at its known address, with a byte chosen by a
// select on the move: a later load of that cell waits for the byte, and by
// then the target's address (the own cell's when the grain stays) is known
// too. Before, a grain wrote its vacated byte at once and, when it stayed,
// its own byte back through the target's address; one grain in ten to twenty
// in a pour has such a cell among its neighbours a few grains later.
template <uintptr_t FixedAt>
STEP_INLINE void MoveGrain(Cells<FixedAt> corner, int32_t* entry, int32_t p, int32_t slot, StepCounters& n)
{
    const uint32_t kind = GrainKind(slot);
    const uint32_t here = corner[Here];
    // The byte the grain leaves is looked up early, off the path to the
    // rule; with the field fixed (WebAssembly) late, so that the engine,
    // short of registers there, has one value fewer to keep meanwhile.
    const uint32_t early = FixedAt == 0 ? Lookups().vacated[here] : 0;
    uint32_t state = Lookups().above[corner[Above]] + Lookups().left[corner[Left]] + Lookups().right[corner[Right]];
    if (p > BottomBandStart) [[unlikely]] {
        // Re-enter in row 1 when that cell is empty; otherwise the wrap
        // target counts as the cell below.
        constexpr int32_t Top = Here - WrapDistance;
        const uint32_t topByte = corner[Top];
        if (!(topByte & KindMask)) {
            ++n.tally;
            corner[Here] = static_cast<uint8_t>(FixedAt == 0 ? early : Lookups().vacated[here]);
            corner[Top] = static_cast<uint8_t>((topByte & ShadeMask) | kind);
            *entry = p - WrapDistance;
            return;
        }
        state += MadeLookups.below[CellWall];
    } else {
        state += Lookups().below[corner[Below]];
        if (slot < 2) n.tally += static_cast<uint32_t>(state == BoxedIn) << 16;
    }
    const int32_t move = StepRules[slot & 1][state + n.Column()];
    // Both cells are read before either is written. The target is written
    // first: it is the own cell when the grain stays, and the store after it
    // at the known address leaves that byte.
    const uint32_t marked = (corner.Moved(p, move) & ShadeMask) | kind;
    const uint32_t stays = static_cast<uint32_t>(move != 0) - 1u;
    corner.Moved(p, move) = static_cast<uint8_t>(marked);
    const uint32_t vacated = FixedAt == 0 ? early : Lookups().vacated[here];
    corner[Here] = static_cast<uint8_t>(vacated ^ ((vacated ^ here) & stays));
    *entry = p + move;
}

enum class Pass {
    Flow, // every grain through MoveGrain
    Pile, // grains boxed in on all four sides only draw
};

template <Pass P, uintptr_t FixedAt>
STEP_INLINE void StepGrain(uintptr_t corners, int32_t* entry, int32_t slot, StepCounters& n)
{
    const int32_t p = *entry;
    const Cells<FixedAt> corner = Cells<FixedAt>::Of(corners, p);
    if constexpr (P == Pass::Pile) {
        // In a pile most grains are boxed in, and every kind leaves such a
        // grain where it is. The test goes cell by cell, each branch settled
        // by one load, so the few grains that fail it cost little.
        if (!(corner[Above] & KindMask) || !(corner[Below] & KindMask) || !(corner[Left] & KindMask) ||
            !(corner[Right] & KindMask) || p > BottomBandStart) [[unlikely]] {
            MoveGrain(corner, entry, p, slot, n);
            return;
        }
        if (slot < 2) n.tally += 1u << 16;
        n.Draw();
    } else {
        MoveGrain(corner, entry, p, slot, n);
    }
}

// Each pass in a function of its own, with the counters in locals: the two
// unrolled loops together hold more than the registers do.
template <Pass P, uintptr_t FixedAt>
STEP_OUTLINE StepCounters StepRange(uintptr_t corners, int32_t* list, int32_t count, const StepCounters start)
{
    StepCounters n = start;
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        StepGrain<P, FixedAt>(corners, list + i + 0, 0, n);
        StepGrain<P, FixedAt>(corners, list + i + 1, 1, n);
        StepGrain<P, FixedAt>(corners, list + i + 2, 2, n);
        StepGrain<P, FixedAt>(corners, list + i + 3, 3, n);
        StepGrain<P, FixedAt>(corners, list + i + 4, 4, n);
        StepGrain<P, FixedAt>(corners, list + i + 5, 5, n);
        StepGrain<P, FixedAt>(corners, list + i + 6, 6, n);
        StepGrain<P, FixedAt>(corners, list + i + 7, 7, n);
    }
    // The tail starts at a multiple of 8: slots 0..6, one copy of the code.
    for (int32_t slot = 0; i + slot < count; ++slot) StepGrain<P, FixedAt>(corners, list + i + slot, slot, n);
    // A copy, not n itself: where a struct is returned through memory
    // (WebAssembly), n would otherwise live there, and every draw would
    // load and store the generator.
    return StepCounters{n.t1, n.t2, n.tally};
}

bool BoxedInStays(const int32_t* table)
{
    for (uint32_t c = 0; c < 16; ++c)
        if (table[BoxedIn + c] != 0) return false;
    return true;
}

// Whether the last step found a pile: scenes change slowly, so this one will
// likely be one too. Only the speed depends on it.
bool LastWasPile = false;

} // namespace

void StepParticles(int32_t* list, int32_t count, const int32_t* table1, const int32_t* table2)
{
    if (count <= 0) return;
    PlaceLookups();
    uint8_t* const field = SceneInHand->field;
    const StepRandomState& random = SceneInHand->stepRandom;
    const StepCounters start{random.s1 << 12, random.s2 << 12, 0};
    std::memcpy(StepRules[0], table2, sizeof StepRules[0]);
    std::memcpy(StepRules[1], table1, sizeof StepRules[1]);
    // Called through a table: a WebAssembly optimiser then keeps each pass a
    // function of its own, and the engine compiles and optimises each alone
    // (the pile's only once a pile comes). A field that is not where the
    // build fixes it (it did not fit there) takes the passes for any field.
    using PassFunction = StepCounters (*)(uintptr_t, int32_t*, int32_t, StepCounters);
#ifdef TALVO_FIELD_AT
    static const PassFunction passes[2][2] = {{StepRange<Pass::Flow, 0>, StepRange<Pass::Pile, 0>},
                                              {StepRange<Pass::Flow, FixedCorners>, StepRange<Pass::Pile, FixedCorners>}};
    const bool fixed = field == reinterpret_cast<uint8_t*>(TALVO_FIELD_AT);
#else
    static const PassFunction passes[1][2] = {{StepRange<Pass::Flow, 0>, StepRange<Pass::Pile, 0>}};
    const bool fixed = false;
#endif
    const bool pile = LastWasPile && BoxedInStays(table1) && BoxedInStays(table2);
    const StepCounters n = passes[fixed][pile](reinterpret_cast<uintptr_t>(field) - CornerOffset, list, count, start);
    // A pile: seven in eight of the grains looked at were boxed in. Below
    // that the mispredicted tests cost about what the skipped grains save.
    const uint32_t total = static_cast<uint32_t>(count);
    const uint32_t sampled = (total + 7) / 8 + (total + 6) / 8;
    LastWasPile = (n.tally >> 16) * 8 >= sampled * 7;
    AdvanceStepRandom(total - (n.tally & 0xFFFF));
}

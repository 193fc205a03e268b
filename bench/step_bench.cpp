// The particle step on a fresh scene and on a settled pile.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "app/main_routine.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "sim/particles.h"
#include "sim/rules.h"
#include "ui/settings.h"

namespace {

std::vector<uint8_t> Surface(FieldSize);
std::vector<int32_t> Rules(RuleTextLength);
std::vector<int32_t> Grains(ParticleCapacity);

void MakeNewScene()
{
    SurfaceBits = Field = Surface.data();
    RuleBlock = Rules.data();
    ParticleList = Grains.data();
    BuildAllRuleTables(RuleBlock);
    SetMirror(0);
    BuildBasePalette();
    NewScene();
}

void Step()
{
    StepParticles(ParticleList, ParticleCount, RuleBlock + RuleTableSize * SlotKind1,
                  RuleBlock + RuleTableSize * SlotKind2);
}

struct Snapshot {
    std::vector<uint8_t> field;
    std::vector<int32_t> grains;
    StepRandomState random;
};

Snapshot Take()
{
    return Snapshot{std::vector<uint8_t>(Field, Field + FieldSize),
                    std::vector<int32_t>(ParticleList, ParticleList + ParticleCapacity), StepRandom};
}

void Restore(const Snapshot& s)
{
    std::memcpy(Field, s.field.data(), FieldSize);
    std::memcpy(ParticleList, s.grains.data(), s.grains.size() * sizeof(int32_t));
    StepRandom = s.random;
}

// Runs `frames` steps from the snapshot per iteration, restoring in between.
void RunFrom(benchmark::State& state, const Snapshot& start, int frames)
{
    for (auto _ : state) {
        state.PauseTiming();
        Restore(start);
        state.ResumeTiming();
        for (int i = 0; i < frames; ++i) Step();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frames * ParticleCount);
    state.counters["ns_per_grain"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * frames * ParticleCount,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_StepNewScene(benchmark::State& state)
{
    MakeNewScene();
    RunFrom(state, Take(), 50);
}
BENCHMARK(BM_StepNewScene)->Unit(benchmark::kMicrosecond);

// The gate wide open for a while: most grains lie on the bottom pile or
// the reservoir floor, some still falling.
void BM_StepSettledPile(benchmark::State& state)
{
    MakeNewScene();
    DrawLine(1, GateRow, FieldWidth - 1, GateRow, PaletteColour(CellEmpty));
    for (int i = 0; i < 600; ++i) Step();
    DrawRect(1, 200, FieldWidth - 1, 201, 3, PaletteColour(CellWall));
    for (int i = 0; i < 1500; ++i) Step();
    RunFrom(state, Take(), 50);
}
BENCHMARK(BM_StepSettledPile)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

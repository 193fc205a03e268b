// The particle step against a plain reference step, on a fresh scene, a
// settled pile and a scene mid-pour. Each scene reports both per-grain times
// and their ratio, measured side by side in the same iterations so that a
// busy machine slows both alike.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <utility>
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
#include "reference_step.h"

namespace {

void PlainStep(int32_t* list, int32_t count, const int32_t* table1, const int32_t* table2)
{
    ReferenceStep(Field, list, count, table1, table2, StepRandom);
}

using StepFunction = void (*)(int32_t*, int32_t, const int32_t*, const int32_t*);

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

void Step(StepFunction step)
{
    step(ParticleList, ParticleCount, RuleBlock + RuleTableSize * SlotKind1, RuleBlock + RuleTableSize * SlotKind2);
}

struct Snapshot {
    std::vector<uint8_t> field;
    std::vector<int32_t> grains;
    StepRandomState random;
    int16_t kind1;
    int16_t kind2;
};

Snapshot Take()
{
    return Snapshot{std::vector<uint8_t>(Field, Field + FieldSize),
                    std::vector<int32_t>(ParticleList, ParticleList + ParticleCapacity), StepRandom, SlotKind1,
                    SlotKind2};
}

void Restore(const Snapshot& s)
{
    std::memcpy(Field, s.field.data(), FieldSize);
    std::memcpy(ParticleList, s.grains.data(), s.grains.size() * sizeof(int32_t));
    StepRandom = s.random;
    SlotKind1 = s.kind1;
    SlotKind2 = s.kind2;
}

// The scenes. Each starts from a new scene with the default kinds.
Snapshot NewSceneStart()
{
    MakeNewScene();
    return Take();
}

// The gate wide open for a while, then a shelf across the middle: the grains
// come to rest on it, and about one in twelve still moves.
Snapshot SettledPile()
{
    MakeNewScene();
    DrawLine(1, GateRow, FieldWidth - 1, GateRow, PaletteColour(CellEmpty));
    for (int i = 0; i < 600; ++i) Step(StepParticles);
    DrawRect(1, 200, FieldWidth - 1, 201, 3, PaletteColour(CellWall));
    for (int i = 0; i < 1500; ++i) Step(StepParticles);
    return Take();
}

// Seven narrow gaps open for a while: streams run from the reservoir down
// and round through the bottom, a little under half of the grains moving.
Snapshot MidPour()
{
    MakeNewScene();
    OpenGate(3);
    for (int i = 0; i < 450; ++i) Step(StepParticles);
    return Take();
}

const int FramesPerIteration = 50;

// The share of grains that move in the scene's next step.
double MovingShare(const Snapshot& start)
{
    Restore(start);
    Step(StepParticles);
    int32_t moved = 0;
    for (int32_t i = 0; i < ParticleCount; ++i) moved += ParticleList[i] != start.grains[static_cast<size_t>(i)];
    return ParticleCount > 0 ? static_cast<double>(moved) / ParticleCount : 0.0;
}

// The machine is shared: time spent descheduled is not the step's, so the
// thread's own CPU time is taken where there is one.
double Seconds()
{
#ifdef CLOCK_THREAD_CPUTIME_ID
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
#else
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

double TimeFrames(const Snapshot& start, StepFunction step)
{
    Restore(start);
    const double begin = Seconds();
    for (int i = 0; i < FramesPerIteration; ++i) Step(step);
    benchmark::ClobberMemory();
    return Seconds() - begin;
}

// Per iteration, the real step and the reference each run the same frames
// from the same start; the reported time is the real step's.
void RunScene(benchmark::State& state, const Snapshot& start)
{
    double real = 0, reference = 0;
    for (auto _ : state) {
        const double r = TimeFrames(start, StepParticles);
        reference += TimeFrames(start, PlainStep);
        real += r;
        state.SetIterationTime(r);
    }
    const double grains = static_cast<double>(state.iterations()) * FramesPerIteration * ParticleCount;
    state.SetItemsProcessed(static_cast<int64_t>(grains));
    state.counters["real_ns"] = real * 1e9 / grains;
    state.counters["reference_ns"] = reference * 1e9 / grains;
    state.counters["ratio"] = reference > 0 ? real / reference : 0.0;
    state.counters["moving"] = MovingShare(start);
}

// The scenes are built once, before any timing.
Snapshot NewSceneSnapshot, SettledPileSnapshot, MidPourSnapshot;

void BM_StepNewScene(benchmark::State& state) { RunScene(state, NewSceneSnapshot); }
void BM_StepSettledPile(benchmark::State& state) { RunScene(state, SettledPileSnapshot); }
void BM_StepMidPour(benchmark::State& state) { RunScene(state, MidPourSnapshot); }
BENCHMARK(BM_StepNewScene)->Unit(benchmark::kMicrosecond)->UseManualTime();
BENCHMARK(BM_StepSettledPile)->Unit(benchmark::kMicrosecond)->UseManualTime();
BENCHMARK(BM_StepMidPour)->Unit(benchmark::kMicrosecond)->UseManualTime();

// A figure measured against the wrong yardstick is worse than none: before
// timing, both steps run every scene under every sand kind and must leave the
// same field, grains and generator.
bool SameAsReference(const Snapshot& start, const char* name)
{
    for (int16_t kind = 0; kind < SandKindCount; ++kind) {
        Snapshot from = start;
        from.kind1 = kind;
        from.kind2 = static_cast<int16_t>(SandKindCount - 1 - kind);
        Restore(from);
        for (int i = 0; i < 60; ++i) Step(StepParticles);
        const Snapshot real = Take();
        Restore(from);
        for (int i = 0; i < 60; ++i) Step(PlainStep);
        const Snapshot reference = Take();
        if (real.field != reference.field || real.grains != reference.grains ||
            real.random.s1 != reference.random.s1 || real.random.s2 != reference.random.s2) {
            std::fprintf(stderr, "talvo_bench: the step and the reference step differ on %s (kinds %d and %d)\n",
                         name, from.kind1, from.kind2);
            return false;
        }
    }
    return true;
}

// Collects every repetition's figures for a summary after the run, which
// gives the ratio a line of its own whatever the counters' display.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        // Every repetition when they are reported, else the median the
        // library worked out from them.
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool repetition = run.run_type == Run::RT_Iteration;
            if (!repetition && run.aggregate_name != "median") continue;
            Figures& f = Find(run.run_name.function_name);
            if (!repetition && !f.ratio.empty()) continue;
            f.real.push_back(run.counters.at("real_ns"));
            f.reference.push_back(run.counters.at("reference_ns"));
            f.ratio.push_back(run.counters.at("ratio"));
        }
    }

    void PrintSummary(const std::string& processor) const
    {
        std::printf("\nprocessor: %s\n", processor.c_str());
        for (const auto& [name, f] : scenes_)
            std::printf("%-20s real %.3f ns/grain  reference %.3f ns/grain  ratio %.3f  (medians of %zu)\n",
                        name.c_str(), Median(f.real), Median(f.reference), Median(f.ratio), f.ratio.size());
    }

private:
    struct Figures {
        std::vector<double> real, reference, ratio;
    };
    Figures& Find(const std::string& name)
    {
        for (auto& scene : scenes_)
            if (scene.first == name) return scene.second;
        scenes_.emplace_back(name, Figures{});
        return scenes_.back().second;
    }
    static double Median(std::vector<double> v)
    {
        if (v.empty()) return 0.0;
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }
    std::vector<std::pair<std::string, Figures>> scenes_;
};

std::string ProcessorName()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) != 0) continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) break;
        const size_t first = line.find_first_not_of(" \t", colon + 1);
        if (first != std::string::npos) return line.substr(first);
    }
    return "unknown (no model name in /proc/cpuinfo)";
}

} // namespace

int main(int argc, char** argv)
{
    NewSceneSnapshot = NewSceneStart();
    SettledPileSnapshot = SettledPile();
    MidPourSnapshot = MidPour();
    if (!SameAsReference(NewSceneSnapshot, "the new scene") ||
        !SameAsReference(SettledPileSnapshot, "the settled pile") ||
        !SameAsReference(MidPourSnapshot, "the scene mid-pour")) {
        std::fprintf(stderr, "talvo_bench: MISMATCH, no figures\n");
        return 1;
    }
    const std::string processor = ProcessorName();
    benchmark::AddCustomContext("processor", processor);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary(processor);
    benchmark::Shutdown();
    return 0;
}

// The particle step against the plain reference step of the tests, on the
// scenes the program makes: a new scene, a settled pile, a scene mid-pour
// and talvo-sim's own benchmark run halfway. Each scene reports both
// per-grain times and their ratio, measured side by side in the same
// iterations so that a busy machine slows both alike.
//
//   talvo_bench [GOOGLE BENCHMARK OPTIONS]   agreement, then the timings
//   talvo_bench --check [FRAMES]             agreement alone (the suite's)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "app/main_routine.h"
#include "framework/headless/headless.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "framework/pump.h"
#include "framework/start.h"
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

// A new scene made as the program makes it at its first start, seed 1: the
// headless window and its surface, then the main routine's start-up, which
// finds no scene file, no init.txt and no background in the empty folder
// the benchmark runs in.
bool MakeNewScene()
{
    HeadlessReset();
    FrameworkReset();
    ProgramReset();
    PinClockSeconds(1);
    if (!AppCreateWindow()) return false;
    StartUp();
    return true;
}
void Step(StepFunction step)
{
    step(ParticleList, ParticleCount, RuleBlock + RuleTableSize * SlotKind1, RuleBlock + RuleTableSize * SlotKind2);
}

struct Snapshot {
    std::vector<uint8_t> field;
    std::vector<int32_t> grains;
    int16_t count;
    StepRandomState random;
    int16_t kind1;
    int16_t kind2;
};

Snapshot Take()
{
    return Snapshot{std::vector<uint8_t>(Field, Field + FieldSize),
                    std::vector<int32_t>(ParticleList, ParticleList + ParticleCapacity),
                    ParticleCount,
                    StepRandom,
                    SlotKind1,
                    SlotKind2};
}

void Restore(const Snapshot& s)
{
    std::memcpy(Field, s.field.data(), FieldSize);
    std::memcpy(ParticleList, s.grains.data(), s.grains.size() * sizeof(int32_t));
    ParticleCount = s.count;
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

// Halfway through talvo-sim's benchmark run (--frames 5000 --seed 1): the
// frame loop itself, pouring cycle and all.
Snapshot SimRunHalfway()
{
    MakeNewScene();
    for (int i = 0; i < 2500; ++i) RunFrame();
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
// from the same start, taking turns at going first; the reported time is the
// real step's.
void RunScene(benchmark::State& state, const Snapshot& start)
{
    double real = 0, reference = 0;
    bool realFirst = true;
    for (auto _ : state) {
        double r;
        if (realFirst) {
            r = TimeFrames(start, StepParticles);
            reference += TimeFrames(start, PlainStep);
        } else {
            reference += TimeFrames(start, PlainStep);
            r = TimeFrames(start, StepParticles);
        }
        realFirst = !realFirst;
        real += r;
        state.SetIterationTime(r);
    }
    const double grains = static_cast<double>(state.iterations()) * FramesPerIteration * start.count;
    state.SetItemsProcessed(static_cast<int64_t>(grains));
    state.counters["real_ns"] = real * 1e9 / grains;
    state.counters["reference_ns"] = reference * 1e9 / grains;
    state.counters["ratio"] = reference > 0 ? real / reference : 0.0;
    state.counters["moving"] = MovingShare(start);
}

struct Scene {
    const char* name;
    Snapshot (*make)();
    Snapshot start;
};

Scene Scenes[] = {
    {"new_scene", NewSceneStart, {}},
    {"settled_pile", SettledPile, {}},
    {"mid_pour", MidPour, {}},
    {"sim_halfway", SimRunHalfway, {}},
};

// A scene made without a window would be all surface colour: no frame, no
// walls, grains the field does not show. Every scene has its frame, and a
// grain is marked in most of its cells after a few frames.
bool SceneIsReal(const Scene& scene)
{
    const Snapshot& s = scene.start;
    bool frame = true;
    for (int32_t x = 0; x < FieldWidth; ++x)
        frame = frame && (s.field[FieldPos(x, 0)] & KindMask) == CellWall &&
                (s.field[FieldPos(x, FieldHeight - 1)] & KindMask) == CellWall;
    for (int32_t y = 0; y < FieldHeight; ++y)
        frame = frame && (s.field[FieldPos(0, y)] & KindMask) == CellWall &&
                (s.field[FieldPos(FieldWidth - 1, y)] & KindMask) == CellWall;
    Restore(s);
    for (int i = 0; i < 20; ++i) Step(StepParticles);
    int32_t marked = 0;
    for (int32_t i = 0; i < ParticleCount; ++i) marked += (Field[ParticleList[i]] & KindMask) >= CellSand1A;
    if (frame && s.count > 0 && marked * 10 >= s.count * 9) return true;
    std::fprintf(stderr, "talvo_bench: the scene %s is not what the program makes (frame %s, %d of %d grains shown)\n",
                 scene.name, frame ? "whole" : "missing", marked, s.count);
    return false;
}

// A figure measured against the wrong yardstick is worse than none: both
// steps run the scene under every pair of sand kinds and must leave the same
// field, grains and generator.
bool SameAsReference(const Scene& scene, int frames)
{
    for (int16_t kind1 = 0; kind1 < SandKindCount; ++kind1) {
        for (int16_t kind2 = 0; kind2 < SandKindCount; ++kind2) {
            Snapshot from = scene.start;
            from.kind1 = kind1;
            from.kind2 = kind2;
            Restore(from);
            for (int i = 0; i < frames; ++i) Step(StepParticles);
            const Snapshot real = Take();
            Restore(from);
            for (int i = 0; i < frames; ++i) Step(PlainStep);
            const Snapshot reference = Take();
            if (real.field != reference.field || real.grains != reference.grains ||
                real.random.s1 != reference.random.s1 || real.random.s2 != reference.random.s2) {
                std::fprintf(stderr,
                             "talvo_bench: the step and the reference step differ on the scene %s (kinds %d and %d, "
                             "%d frames)\n",
                             scene.name, kind1, kind2, frames);
                return false;
            }
        }
    }
    return true;
}

// Builds every scene in an empty folder of its own, so that no scene file,
// init.txt or background where the benchmark is started shapes them.
bool MakeScenes()
{
    char pattern[] = "/tmp/talvo-bench-XXXXXX";
    const char* folder = mkdtemp(pattern);
    if (!folder) {
        std::perror("talvo_bench: mkdtemp");
        return false;
    }
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    bool made = true;
    for (Scene& scene : Scenes) {
        scene.start = scene.make();
        made = made && SceneIsReal(scene);
    }
    std::error_code ignored;
    std::filesystem::current_path(previous, ignored);
    std::filesystem::remove_all(folder, ignored);
    return made;
}

bool AllAgree(int frames)
{
    for (const Scene& scene : Scenes)
        if (!SameAsReference(scene, frames)) return false;
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
    if (argc >= 2 && std::strcmp(argv[1], "--check") == 0) {
        int frames = 60;
        if (argc > 3 || (argc == 3 && (std::sscanf(argv[2], "%d", &frames) != 1 || frames < 1))) {
            std::fprintf(stderr, "usage: talvo_bench --check [FRAMES]\n");
            return 2;
        }
        if (!MakeScenes() || !AllAgree(frames)) return 1;
        std::printf("talvo_bench: the step and the reference step agree on %zu scenes, every pair of kinds, "
                    "%d frames each\n",
                    std::size(Scenes), frames);
        return 0;
    }
    if (!MakeScenes() || !AllAgree(60)) {
        std::fprintf(stderr, "talvo_bench: MISMATCH, no figures\n");
        return 1;
    }
    for (const Scene& scene : Scenes)
        benchmark::RegisterBenchmark(scene.name, [&scene](benchmark::State& state) { RunScene(state, scene.start); })
            ->Unit(benchmark::kMicrosecond)
            ->UseManualTime();
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

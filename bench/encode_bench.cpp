// What a picture and an animation of the field cost: the bytes and the time
// to encode a frame of a pour into a GIF, and a field into a PNG. The pour is
// a new scene with seven narrow gaps open in the gate, its frames taken
// after every step (Normal speed, a frame every 36 ms) or every fifth (a
// faster speed, sampled at 50 frames a second).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "app/main_routine.h"
#include "codecs/gif_animation.h"
#include "codecs/png_image.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/scene.h"
#include "sim/palette.h"
#include "sim/particles.h"
#include "sim/rules.h"
#include "ui/settings.h"

namespace {

constexpr int32_t PourFrames = 250;

std::vector<uint8_t> Surface(FieldSize);
std::vector<int32_t> Rules(RuleTextLength);
std::vector<int32_t> Grains(ParticleCapacity);
uint8_t Colours[256][4];

// The same pour every time, however often the library runs a benchmark.
void NewPour()
{
    ResetLiveScene();
    SurfaceBits = Field = Surface.data();
    SurfaceColours = Colours;
    RuleBlock = Rules.data();
    ParticleList = Grains.data();
    BuildAllRuleTables(RuleBlock);
    SetMirror(0);
    BuildBasePalette();
    NewScene();
    OpenGate(3);
}

void Steps(int32_t n)
{
    for (int32_t i = 0; i < n; ++i)
        StepParticles(ParticleList, ParticleCount, RuleBlock + RuleTableSize * SlotKind1,
                      RuleBlock + RuleTableSize * SlotKind2);
}

// PourFrames fields, `stride` steps apart, once the streams are running.
std::vector<std::vector<uint8_t>> PourOf(int32_t stride)
{
    NewPour();
    Steps(100);
    std::vector<std::vector<uint8_t>> frames;
    for (int32_t i = 0; i < PourFrames; ++i) {
        frames.emplace_back(Field, Field + FieldSize);
        Steps(stride);
    }
    return frames;
}

// One iteration encodes the whole pour, 20 ms a frame when sampled, else 36.
void BM_GifFrameOfAPour(benchmark::State& state)
{
    const int32_t stride = static_cast<int32_t>(state.range(0));
    const std::vector<std::vector<uint8_t>> frames = PourOf(stride);
    const uint64_t period = stride == 1 ? 36 : 20;
    size_t bytes = 0;
    for (auto _ : state) {
        GifAnimation gif;
        GifStart(&gif, FieldWidth, FieldHeight);
        for (size_t i = 0; i < frames.size(); ++i) GifAddFrame(&gif, frames[i].data(), Colours, i * period);
        const std::vector<uint8_t> file = GifFinish(&gif, frames.size() * period);
        bytes = file.size();
        benchmark::DoNotOptimize(file.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * PourFrames);
    state.counters["frame_time"] =
        benchmark::Counter(PourFrames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["bytes_per_frame"] = static_cast<double>(bytes) / PourFrames;
    // A minute of such frames: 1667 at Normal speed, 3000 sampled.
    state.counters["minute_MB"] = static_cast<double>(bytes) / PourFrames * (60000.0 / static_cast<double>(period)) / 1e6;
}
BENCHMARK(BM_GifFrameOfAPour)->Arg(1)->Arg(5)->ArgName("steps_apart")->Unit(benchmark::kMillisecond);

// The field after so many steps of the pour, as a PNG.
void BM_PngOfTheField(benchmark::State& state)
{
    NewPour();
    Steps(static_cast<int32_t>(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) {
        const std::vector<uint8_t> png = EncodePng(Field, FieldWidth, FieldHeight, Colours);
        bytes = png.size();
        benchmark::DoNotOptimize(png.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_PngOfTheField)->Arg(0)->Arg(300)->Arg(2000)->ArgName("steps")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

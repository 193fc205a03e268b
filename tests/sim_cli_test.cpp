// talvo-sim as a user runs it: the scene it leaves, the picture, the
// benchmark line and the handling of bad command lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

#ifdef TALVO_TEST_LIBPNG
#include <png.h>
#endif

namespace {

constexpr int32_t Width = 336;
constexpr int32_t Height = 402;
constexpr size_t FieldBytes = static_cast<size_t>(Width) * Height;

// Runs talvo-sim in the current directory; stdout and stderr go to files.
int RunSim(const std::string& args)
{
    const std::string command =
        std::string("'") + TALVO_SIM_PATH + "' " + args + " >sim.out 2>sim.err </dev/null";
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string ReadText(const std::string& name)
{
    const std::vector<uint8_t> bytes = ReadFileBytes(name);
    return std::string(bytes.begin(), bytes.end());
}

int32_t Get16(const std::vector<uint8_t>& b, size_t at) { return static_cast<int16_t>(b[at] | b[at + 1] << 8); }

int32_t Get32(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24);
}

// A scene file read back by the format, with its limits checked.
struct Scene {
    std::vector<uint8_t> bytes;
    bool full = false;
    uint8_t settings = 0;
    int32_t count = 0, slot1 = 0, slot2 = 0, speed = 0;
    std::vector<uint32_t> palette;
    std::vector<uint8_t> field;
    std::vector<int32_t> grains;
};

// Fails the current test (fatally) unless the file is a valid scene.
void ReadScene(const std::string& name, Scene* scene)
{
    scene->bytes = ReadFileBytes(name);
    const std::vector<uint8_t>& b = scene->bytes;
    ASSERT_GE(b.size(), 28u) << name;
    ASSERT_EQ(std::string(b.begin(), b.begin() + 5), "TALVO");
    scene->full = b[12] == 'B';
    scene->settings = b[15];
    EXPECT_LE(scene->settings & 15, 2);
    EXPECT_LE(scene->settings >> 4, 2);
    EXPECT_EQ(Get16(b, 16), Width);
    EXPECT_EQ(Get16(b, 18), Height);
    scene->count = Get16(b, 20);
    scene->slot1 = Get16(b, 22);
    scene->slot2 = Get16(b, 24);
    scene->speed = Get16(b, 26);
    ASSERT_GE(scene->count, 0);
    ASSERT_LE(scene->count, 16800);
    const size_t entries = scene->full ? 256 : 6;
    const size_t fieldAt = 28 + 4 * entries;
    ASSERT_EQ(b.size(), fieldAt + FieldBytes + 4 * static_cast<size_t>(scene->count)) << name;
    scene->palette.clear();
    for (size_t i = 0; i < entries; ++i) scene->palette.push_back(static_cast<uint32_t>(Get32(b, 28 + 4 * i)));
    scene->field.assign(b.begin() + static_cast<std::ptrdiff_t>(fieldAt),
                        b.begin() + static_cast<std::ptrdiff_t>(fieldAt + FieldBytes));
    scene->grains.clear();
    for (int32_t i = 0; i < scene->count; ++i) {
        const int32_t p = Get32(b, fieldAt + FieldBytes + 4 * static_cast<size_t>(i));
        ASSERT_GE(p, 336) << "grain " << i;
        ASSERT_LE(p, 134735) << "grain " << i;
        scene->grains.push_back(p);
    }
}

int32_t KindCount(const Scene& scene, uint8_t kind)
{
    return static_cast<int32_t>(
        std::count_if(scene.field.begin(), scene.field.end(), [&](uint8_t c) { return (c & 7) == kind; }));
}

int32_t DistinctPositions(const Scene& scene)
{
    std::vector<int32_t> p = scene.grains;
    std::sort(p.begin(), p.end());
    return static_cast<int32_t>(std::unique(p.begin(), p.end()) - p.begin());
}

uint32_t Crc32(const uint8_t* data, size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

uint32_t GetBe32(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<uint32_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

// ---------------------------------------------------------------------------

TEST(SimCli, OneFrameOfANewScene)
{
    TempDir dir;
    ASSERT_EQ(RunSim("--frames 1 --seed 7 x.talvo"), 0) << ReadText("sim.err");
    Scene scene;
    ReadScene("x.talvo", &scene);
    if (HasFatalFailure()) return;
    EXPECT_EQ(scene.bytes.size(), 200588u);
    EXPECT_EQ(std::string(scene.bytes.begin(), scene.bytes.begin() + 15), "TALVO  V3.0    ");
    EXPECT_FALSE(scene.full);
    // Start settings: Normal pen, Big eraser, No wait, Boiling / Normal sand.
    EXPECT_EQ(scene.settings, 0x21);
    EXPECT_EQ(scene.speed, 4);
    EXPECT_EQ(scene.slot1, 3);
    EXPECT_EQ(scene.slot2, 0);
    EXPECT_EQ(scene.palette, (std::vector<uint32_t>{0x000000, 0x40A0C8, 0xDCF000, 0xC8A000, 0x0000FF, 0x0000A0}));
    EXPECT_EQ(scene.count, 16366);
    EXPECT_EQ(KindCount(scene, 2), 504);
    EXPECT_EQ(KindCount(scene, 3), 169);
    EXPECT_EQ(KindCount(scene, 4), 505);
    EXPECT_EQ(KindCount(scene, 5), 171);
    EXPECT_EQ(DistinctPositions(scene), 16333);
    // The gate line is still closed and the frame whole.
    for (int32_t x = 0; x < Width; ++x) {
        EXPECT_EQ(scene.field[static_cast<size_t>(59 * Width + x)], 1) << "gate x " << x;
        EXPECT_EQ(scene.field[static_cast<size_t>(x)], 1);
        EXPECT_EQ(scene.field[static_cast<size_t>(401 * Width + x)], 1);
    }
    EXPECT_FALSE(FileExists("Default.talvo"));
    EXPECT_FALSE(FileExists("~talvo.save"));
}

TEST(SimCli, TenFramesOfANewScene)
{
    TempDir dir;
    ASSERT_EQ(RunSim("--frames 10 --seed 7 x.talvo"), 0) << ReadText("sim.err");
    Scene scene;
    ReadScene("x.talvo", &scene);
    if (HasFatalFailure()) return;
    EXPECT_EQ(KindCount(scene, 2), 5177);
    EXPECT_EQ(KindCount(scene, 3), 1739);
    EXPECT_EQ(KindCount(scene, 4), 5188);
    EXPECT_EQ(KindCount(scene, 5), 1724);
    EXPECT_EQ(scene.count, 16366);
}

TEST(SimCli, SameSeedGivesTheSameScene)
{
    TempDir dir;
    // Frame 11 opens the first gap, whose width is the first random draw.
    ASSERT_EQ(RunSim("--frames 11 --seed 7 a.talvo"), 0) << ReadText("sim.err");
    ASSERT_EQ(RunSim("--frames 11 --seed 7 b.talvo"), 0) << ReadText("sim.err");
    EXPECT_TRUE(ReadFileBytes("a.talvo") == ReadFileBytes("b.talvo"));
    Scene scene;
    ReadScene("a.talvo", &scene);
    if (HasFatalFailure()) return;
    int32_t gap = 0;
    while (82 + gap < Width && scene.field[static_cast<size_t>(59 * Width + 82 + gap)] == 0) ++gap;
    EXPECT_GE(gap, 3);
    EXPECT_LE(gap, 9);
    for (int32_t x = 0; x < Width; ++x) {
        const bool inGap = x >= 82 && x < 82 + gap;
        if (!inGap) {
            EXPECT_EQ(scene.field[static_cast<size_t>(59 * Width + x)], 1) << "gate x " << x;
        }
    }

    ASSERT_EQ(RunSim("--frames 60 --seed 7 c.talvo"), 0) << ReadText("sim.err");
    ASSERT_EQ(RunSim("--frames 60 --seed 7 d.talvo"), 0) << ReadText("sim.err");
    EXPECT_TRUE(ReadFileBytes("c.talvo") == ReadFileBytes("d.talvo"));
}

TEST(SimCli, SecondRunContinuesTheSavedScene)
{
    TempDir dir;
    ASSERT_EQ(RunSim("--frames 1 --seed 7 x.talvo"), 0) << ReadText("sim.err");
    std::vector<uint8_t> first = ReadFileBytes("x.talvo");
    ASSERT_EQ(first.size(), 200588u);
    // Marks only a loaded scene can carry: Thick pen and Small eraser,
    // "Fast", "Magical sand" for slot 2, and a wall block low in the field.
    first[15] = 0x02;
    first[26] = 3;
    first[24] = 4;
    const size_t fieldAt = 52;
    for (int32_t y = 300; y < 303; ++y)
        for (int32_t x = 100; x < 103; ++x) first[fieldAt + static_cast<size_t>(y * Width + x)] = 1;
    WriteFileBytes("x.talvo", first);

    ASSERT_EQ(RunSim("--frames 1 --seed 7 x.talvo"), 0) << ReadText("sim.err");
    Scene scene;
    ReadScene("x.talvo", &scene);
    if (HasFatalFailure()) return;
    EXPECT_FALSE(scene.bytes == first) << "the grains did not move on";
    EXPECT_EQ(scene.settings, 0x02);
    EXPECT_EQ(scene.speed, 3);
    EXPECT_EQ(scene.slot2, 4);
    EXPECT_EQ(scene.slot1, 3);
    EXPECT_EQ(scene.count, 16366);
    for (int32_t y = 300; y < 303; ++y)
        for (int32_t x = 100; x < 103; ++x)
            EXPECT_EQ(scene.field[static_cast<size_t>(y * Width + x)], 1) << x << "," << y;

    // And once more from there: it goes on changing and stays a scene.
    const std::vector<uint8_t> second = scene.bytes;
    ASSERT_EQ(RunSim("--frames 3 x.talvo"), 0) << ReadText("sim.err");
    Scene third;
    ReadScene("x.talvo", &third);
    if (HasFatalFailure()) return;
    EXPECT_FALSE(third.bytes == second);
    EXPECT_EQ(third.settings, 0x02);
}

TEST(SimCli, PngShowsTheFieldThroughThePalette)
{
    TempDir dir;
    ASSERT_EQ(RunSim("--frames 1 --png p.png x.talvo"), 0) << ReadText("sim.err");
    const std::vector<uint8_t> png = ReadFileBytes("p.png");
    ASSERT_GE(png.size(), 8u + 25u + 12u);
    const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_TRUE(std::equal(signature, signature + 8, png.begin()));
    // IHDR first: 336 x 402, 8-bit RGB, not interlaced.
    EXPECT_EQ(GetBe32(png, 8), 13u);
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(GetBe32(png, 16), 336u);
    EXPECT_EQ(GetBe32(png, 20), 402u);
    EXPECT_EQ(png[24], 8);
    EXPECT_EQ(png[25], 2);
    EXPECT_EQ(png[26], 0);
    EXPECT_EQ(png[27], 0);
    EXPECT_EQ(png[28], 0);
    // Every chunk whole, with a right checksum, up to IEND at the very end.
    size_t at = 8;
    bool sawData = false, sawEnd = false;
    while (at + 12 <= png.size()) {
        const uint32_t length = GetBe32(png, at);
        ASSERT_LE(at + 12 + length, png.size()) << "chunk at " << at;
        const std::string type(png.begin() + static_cast<std::ptrdiff_t>(at + 4),
                               png.begin() + static_cast<std::ptrdiff_t>(at + 8));
        EXPECT_EQ(Crc32(&png[at + 4], 4 + length), GetBe32(png, at + 8 + length)) << type;
        sawData = sawData || type == "IDAT";
        at += 12 + length;
        if (type == "IEND") {
            sawEnd = true;
            break;
        }
    }
    EXPECT_TRUE(sawData);
    EXPECT_TRUE(sawEnd);
    EXPECT_EQ(at, png.size());

#ifdef TALVO_TEST_LIBPNG
    Scene scene;
    ReadScene("x.talvo", &scene);
    if (HasFatalFailure()) return;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, "p.png"));
    image.format = PNG_FORMAT_RGB;
    ASSERT_EQ(image.width, 336u);
    ASSERT_EQ(image.height, 402u);
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    int32_t wrong = 0;
    for (size_t i = 0; i < FieldBytes; ++i) {
        const uint32_t colour = scene.palette.at(scene.field[i]);
        wrong += rgb[3 * i] != (colour & 0xFF) || rgb[3 * i + 1] != ((colour >> 8) & 0xFF) ||
                 rgb[3 * i + 2] != ((colour >> 16) & 0xFF);
    }
    EXPECT_EQ(wrong, 0);
    // Spot values: the frame in the wall colour, an empty cell black.
    EXPECT_EQ(rgb[0], 200);
    EXPECT_EQ(rgb[1], 160);
    EXPECT_EQ(rgb[2], 64);
    const size_t empty = 3 * static_cast<size_t>(200 * Width + 100);
    EXPECT_EQ(rgb[empty] + rgb[empty + 1] + rgb[empty + 2], 0);
#endif
}

TEST(SimCli, BenchPrintsOneSummaryLine)
{
    TempDir dir;
    ASSERT_EQ(RunSim("--frames 5 --bench x.talvo"), 0) << ReadText("sim.err");
    std::istringstream out(ReadText("sim.out"));
    std::string line, last;
    while (std::getline(out, line))
        if (!line.empty()) last = line;
    unsigned frames = 0, grains = 0;
    double stepNs = 0, frameUs = 0, fps = 0;
    char extra = 0;
    ASSERT_EQ(std::sscanf(last.c_str(), "bench: frames=%u grains=%u step_ns_per_grain=%lf frame_us=%lf fps=%lf%c",
                          &frames, &grains, &stepNs, &frameUs, &fps, &extra),
              5)
        << last;
    EXPECT_EQ(frames, 5u);
    EXPECT_EQ(grains, 16366u);
    EXPECT_GT(frameUs, 0.0);
    EXPECT_GT(stepNs, 0.0);
    // Frames per second and the frame time describe the same frames.
    EXPECT_NEAR(fps * frameUs, 1e6, 1e6 * 0.01);
    EXPECT_TRUE(FileExists("x.talvo"));
}

TEST(SimCli, BadCommandLinesAreRefused)
{
    const char* cases[] = {
        "--bogus x.talvo",       "--frames 0 x.talvo",   "--frames abc x.talvo", "--frames -3 x.talvo",
        "--frames 12x x.talvo",  "--seed -1 x.talvo",    "--seed ten x.talvo",   "x.talvo --frames",
        "x.talvo --seed",        "x.talvo --png",        "-q x.talvo",
    };
    for (const char* args : cases) {
        SCOPED_TRACE(args);
        TempDir dir;
        const int code = RunSim(args);
        EXPECT_NE(code, 0);
        EXPECT_NE(code, -1) << "did not exit normally";
        EXPECT_FALSE(ReadText("sim.err").empty());
        EXPECT_FALSE(FileExists("x.talvo"));
        EXPECT_FALSE(FileExists("Default.talvo"));
    }
}

TEST(SimCli, TwoSceneArgumentsAreIgnored)
{
    TempDir dir;
    // A scene with marks of its own, which must not be loaded or touched.
    ASSERT_EQ(RunSim("--frames 1 a.talvo"), 0) << ReadText("sim.err");
    std::vector<uint8_t> a = ReadFileBytes("a.talvo");
    ASSERT_EQ(a.size(), 200588u);
    a[24] = 2;
    WriteFileBytes("a.talvo", a);

    ASSERT_EQ(RunSim("--frames 1 --seed 7 a.talvo b.talvo"), 0) << ReadText("sim.err");
    EXPECT_TRUE(ReadFileBytes("a.talvo") == a);
    EXPECT_FALSE(FileExists("b.talvo"));
    Scene scene;
    ReadScene("Default.talvo", &scene);
    if (HasFatalFailure()) return;
    // A new scene's first frame, not a's.
    EXPECT_EQ(scene.slot2, 0);
    EXPECT_EQ(KindCount(scene, 2), 504);
    EXPECT_EQ(KindCount(scene, 5), 171);
}

TEST(SimCli, FileThatIsNotASceneIsLeftAlone)
{
    TempDir dir;
    const std::string notes = "shopping list\nmilk\nsand\n";
    WriteFileText("notes", notes);
    ASSERT_EQ(RunSim("--frames 3 notes"), 0) << ReadText("sim.err");
    EXPECT_EQ(ReadText("notes"), notes);
    EXPECT_FALSE(FileExists("~talvo.save"));
    EXPECT_FALSE(FileExists("Default.talvo"));
}

} // namespace

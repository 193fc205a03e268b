// The PNG and GIF encoders, read back by independent decoders (libpng and
// giflib): the pictures that went in, frame by frame, with their timing.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "app/main_routine.h"
#include "codecs/gif_animation.h"
#include "codecs/png_image.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "sim/particles.h"
#include "sim/rules.h"
#include "ui/settings.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Picture {
    int32_t width, height;
    Bytes pixels;
    uint8_t colours[256][4];
};

// 256 different colours, so that equal colours mean equal indices.
Picture MakePicture(int32_t width, int32_t height, uint32_t seed = 0)
{
    Picture p{width, height, Bytes(static_cast<size_t>(width) * static_cast<size_t>(height), 0), {}};
    for (int32_t i = 0; i < 256; ++i) {
        p.colours[i][0] = static_cast<uint8_t>(i);
        p.colours[i][1] = static_cast<uint8_t>(i * 7 + seed);
        p.colours[i][2] = static_cast<uint8_t>(255 - i);
    }
    return p;
}

Bytes Rgb(const Bytes& pixels, const uint8_t (*colours)[4])
{
    Bytes rgb;
    for (uint8_t index : pixels) rgb.insert(rgb.end(), {colours[index][2], colours[index][1], colours[index][0]});
    return rgb;
}

// Real fields: a new scene with the gate open, after `first` steps and then
// every `every` steps.
std::vector<Picture> Pour(int32_t first, int32_t count, int32_t every)
{
    StartProgram();
    SetMirror(0);
    BuildBasePalette();
    NewScene();
    OpenGate(3);
    std::vector<Picture> frames;
    for (int32_t step = 0; frames.size() < static_cast<size_t>(count); ++step) {
        if (step >= first && (step - first) % every == 0) {
            frames.push_back(Picture{FieldWidth, FieldHeight, Bytes(Field, Field + FieldSize), {}});
            std::memcpy(frames.back().colours, SurfaceColours, sizeof frames.back().colours);
        }
        StepParticles(ParticleList, ParticleCount, RuleBlock + RuleTableSize * SlotKind1,
                      RuleBlock + RuleTableSize * SlotKind2);
    }
    return frames;
}

// libpng's reading: the format and every pixel's colour.
void ExpectPngIs(const Bytes& png, const Picture& p, const std::string& what)
{
    SCOPED_TRACE(what);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size())) << image.message;
    EXPECT_EQ(static_cast<int32_t>(image.width), p.width);
    EXPECT_EQ(static_cast<int32_t>(image.height), p.height);
    EXPECT_TRUE(image.format & PNG_FORMAT_FLAG_COLORMAP);
    EXPECT_EQ(image.colormap_entries, 256u);
    image.format = PNG_FORMAT_RGB;
    Bytes rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) << image.message;
    EXPECT_TRUE(rgb == Rgb(p.pixels, p.colours));
}

TEST(PngImage, ReadsBackAsThePictureGiven)
{
    std::mt19937 random(5);
    std::vector<std::pair<std::string, Picture>> cases;
    cases.emplace_back("a pour", Pour(300, 1, 1)[0]);
    cases.emplace_back("one colour", MakePicture(336, 402));
    std::memset(cases.back().second.pixels.data(), 17, cases.back().second.pixels.size());
    cases.emplace_back("one pixel", MakePicture(1, 1));
    // So few bytes that the fixed code is the smallest.
    cases.emplace_back("a few pixels", MakePicture(7, 3));
    for (uint8_t& b : cases.back().second.pixels) b = static_cast<uint8_t>(random());
    // Random bytes do not compress: stored blocks, over 64 KiB of them.
    cases.emplace_back("noise", MakePicture(300, 301));
    for (uint8_t& b : cases.back().second.pixels) b = static_cast<uint8_t>(random());
    // Repeats near and far, runs, and rows of noise in between: every kind of
    // match and both Huffman forms.
    cases.emplace_back("patterns", MakePicture(1000, 90));
    Bytes& patterns = cases.back().second.pixels;
    for (size_t i = 0; i < patterns.size(); ++i)
        patterns[i] = i / 1000 % 7 == 3 ? static_cast<uint8_t>(random() % 5) : static_cast<uint8_t>(i * i / 977 % 11);
    for (const auto& [what, picture] : cases) {
        const Bytes png = EncodePng(picture.pixels.data(), picture.width, picture.height, picture.colours);
        ExpectPngIs(png, picture, what);
        // A plain picture compresses to almost nothing; noise stays stored.
        if (what == "one colour") {
            EXPECT_LT(png.size(), 2000u);
        } else if (what == "noise") {
            EXPECT_LT(png.size(), picture.pixels.size() + 1200);
        }
    }
    // The program's own pictures compress well.
    const Picture& pour = cases[0].second;
    EXPECT_LT(EncodePng(pour.pixels.data(), pour.width, pour.height, pour.colours).size(), 20000u);
    const uint8_t colours[256][4] = {};
    EXPECT_TRUE(EncodePng(nullptr, 5, 5, colours).empty());
    EXPECT_TRUE(EncodePng(pour.pixels.data(), 0, 5, colours).empty());
    EXPECT_TRUE(EncodePng(pour.pixels.data(), 5, -1, colours).empty());
}

// giflib's reading, composed as a viewer shows it.
struct GifFrame {
    Bytes rgb;
    int32_t delay, left, top, width, height;
    bool local;
};

int ReadMemory(GifFileType* file, GifByteType* to, int size)
{
    auto* source = static_cast<std::pair<const Bytes*, size_t>*>(file->UserData);
    const int n = std::min<int>(size, static_cast<int>(source->first->size() - source->second));
    std::memcpy(to, source->first->data() + source->second, static_cast<size_t>(n));
    source->second += static_cast<size_t>(n);
    return n;
}

// Every image's codes run to the end code, read at the width the table has
// grown to by then (the pixel reading stops before it).
void ExpectEndCodes(const Bytes& gif)
{
    std::pair<const Bytes*, size_t> source{&gif, 0};
    int error = 0;
    GifFileType* file = DGifOpen(&source, ReadMemory, &error);
    ASSERT_TRUE(file) << GifErrorString(error);
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    do {
        ASSERT_EQ(DGifGetRecordType(file, &record), GIF_OK) << GifErrorString(file->Error);
        if (record == IMAGE_DESC_RECORD_TYPE) {
            ASSERT_EQ(DGifGetImageDesc(file), GIF_OK);
            int code = 0;
            do
                ASSERT_EQ(DGifGetLZCodes(file, &code), GIF_OK) << "no end code: " << GifErrorString(file->Error);
            while (code >= 0);
        } else if (record == EXTENSION_RECORD_TYPE) {
            int kind = 0;
            GifByteType* block = nullptr;
            ASSERT_EQ(DGifGetExtension(file, &kind, &block), GIF_OK);
            while (block) ASSERT_EQ(DGifGetExtensionNext(file, &block), GIF_OK);
        }
    } while (record != TERMINATE_RECORD_TYPE);
    DGifCloseFile(file, &error);
}

std::vector<GifFrame> ReadGif(const Bytes& gif, int32_t width, int32_t height)
{
    ExpectEndCodes(gif);
    std::vector<GifFrame> frames;
    std::pair<const Bytes*, size_t> source{&gif, 0};
    int error = 0;
    GifFileType* file = DGifOpen(&source, ReadMemory, &error);
    EXPECT_TRUE(file) << GifErrorString(error);
    if (!file) return frames;
    EXPECT_EQ(DGifSlurp(file), GIF_OK) << GifErrorString(file->Error);
    EXPECT_EQ(file->SWidth, width);
    EXPECT_EQ(file->SHeight, height);
    EXPECT_TRUE(file->SColorMap && file->SColorMap->ColorCount == 256);
    const std::string loop("NETSCAPE2.0\x03\x01\x00\x00", 15);
    EXPECT_NE(std::string(gif.begin(), gif.end()).find(loop), std::string::npos) << "no endless loop";
    Bytes canvas(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 0);
    for (int i = 0; file->SColorMap && i < file->ImageCount; ++i) {
        const SavedImage& image = file->SavedImages[i];
        const GifImageDesc& d = image.ImageDesc;
        GraphicsControlBlock control{};
        EXPECT_EQ(DGifSavedExtensionToGCB(file, i, &control), GIF_OK);
        EXPECT_EQ(control.DisposalMode, DISPOSE_DO_NOT);
        EXPECT_FALSE(d.Interlace);
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : file->SColorMap;
        EXPECT_TRUE(d.Left >= 0 && d.Top >= 0 && d.Left + d.Width <= width && d.Top + d.Height <= height);
        for (int y = 0; y < d.Height; ++y)
            for (int x = 0; x < d.Width; ++x) {
                const int index = image.RasterBits[y * d.Width + x];
                if (index == control.TransparentColor) continue;
                const GifColorType c = map->Colors[index];
                const size_t at = 3 * static_cast<size_t>((d.Top + y) * width + d.Left + x);
                canvas[at] = c.Red;
                canvas[at + 1] = c.Green;
                canvas[at + 2] = c.Blue;
            }
        frames.push_back({canvas, control.DelayTime, d.Left, d.Top, d.Width, d.Height, d.ColorMap != nullptr});
    }
    DGifCloseFile(file, &error);
    return frames;
}

// A pour at 36 ms a frame, its colours changed for a while and back, a
// frame of noise (every index used: no transparency) and an odd size: each
// frame reads back whole, stored as the rectangle that changed, with the
// rounding of the delays carried.
TEST(GifAnimation, FramesReadBackAsGivenInTheRectangleThatChanged)
{
    std::vector<Picture> given = Pour(40, 10, 2);
    // Frame 6 changes only colours.
    given[6].pixels = given[5].pixels;
    for (int32_t i = 6; i < 9; ++i) given[static_cast<size_t>(i)].colours[CellSand1A][1] ^= 0x80;
    // One cell, and back at once.
    const size_t cell = FieldPos(200, 300);
    given.push_back(given[9]);
    given[10].pixels[cell] = given[9].pixels[cell] == CellWall ? CellEmpty : CellWall;
    given.push_back(given[9]);
    given.push_back(given[9]);
    std::mt19937 random(3);
    for (size_t i = 0; i < given.back().pixels.size(); i += 2) given.back().pixels[i] = static_cast<uint8_t>(random());
    for (const Picture& later : Pour(60, 3, 2)) given.push_back(later);

    GifAnimation gif;
    GifStart(&gif, FieldWidth, FieldHeight);
    for (size_t i = 0; i < given.size(); ++i) GifAddFrame(&gif, given[i].pixels.data(), given[i].colours, 36 * i);
    const Bytes bytes = GifFinish(&gif, 36 * given.size());
    const std::vector<GifFrame> frames = ReadGif(bytes, FieldWidth, FieldHeight);
    ASSERT_EQ(frames.size(), given.size());
    const int32_t delays[16] = {4, 3, 4, 3, 4, 4, 3, 4, 3, 4, 4, 3, 4, 3, 4, 4};
    for (size_t i = 0; i < given.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(frames[i].rgb == Rgb(given[i].pixels, given[i].colours));
        EXPECT_EQ(frames[i].delay, delays[i]);
        EXPECT_EQ(frames[i].local, i >= 6 && i < 9);
        // The bounding rectangle of the cells whose colour changed.
        int32_t left = FieldWidth, right = -1, top = -1, bottom = -1;
        for (int32_t y = 0; y < FieldHeight; ++y)
            for (int32_t x = 0; x < FieldWidth; ++x) {
                const size_t at = 3 * static_cast<size_t>(FieldPos(x, y));
                if (i > 0 && std::memcmp(&frames[i].rgb[at], &frames[i - 1].rgb[at], 3) == 0) continue;
                left = std::min(left, x);
                right = std::max(right, x);
                top = top < 0 ? y : top;
                bottom = y;
            }
        EXPECT_EQ((std::vector<int32_t>{frames[i].left, frames[i].top, frames[i].width, frames[i].height}),
                  (std::vector<int32_t>{left, top, right - left + 1, bottom - top + 1}));
    }
    EXPECT_EQ(frames[10].width * frames[10].height + frames[11].width * frames[11].height, 2);

    // Other sizes; 255 different pixels end just as the codes widen.
    for (const auto& [w, h] : std::vector<std::pair<int32_t, int32_t>>{{1, 1}, {255, 1}, {3, 170}, {640, 480}}) {
        std::vector<Picture> pictures = {MakePicture(w, h, 1), MakePicture(w, h, 2)};
        for (size_t i = 0; i < pictures[0].pixels.size(); ++i) pictures[0].pixels[i] = static_cast<uint8_t>(i);
        for (uint8_t& b : pictures[1].pixels) b = static_cast<uint8_t>(random());
        GifStart(&gif, w, h);
        GifAddFrame(&gif, pictures[0].pixels.data(), pictures[0].colours, 0);
        GifAddFrame(&gif, pictures[1].pixels.data(), pictures[1].colours, 100);
        const std::vector<GifFrame> read = ReadGif(GifFinish(&gif, 200), w, h);
        ASSERT_EQ(read.size(), 2u) << w << "x" << h;
        EXPECT_TRUE(read[0].rgb == Rgb(pictures[0].pixels, pictures[0].colours)) << w << "x" << h;
        EXPECT_TRUE(read[1].rgb == Rgb(pictures[1].pixels, pictures[1].colours)) << w << "x" << h;
    }
}

// Frames that change nothing add only time; frames under 2 cs give way to
// the next one, so that a thousand frames a second play at 50 at most; the
// delays add up to the time from the first frame to the end.
TEST(GifAnimation, TimeIsKeptWhenFramesAddNothingOrComeTooFast)
{
    std::vector<Picture> given;
    for (int32_t i = 0; i < 1000; ++i) {
        given.push_back(MakePicture(40, 30));
        given.back().pixels[static_cast<size_t>(i % 1200)] = static_cast<uint8_t>(1 + i % 250);
    }
    GifAnimation gif;
    GifStart(&gif, 40, 30);
    GifAddFrame(&gif, given[0].pixels.data(), given[0].colours, 0);
    GifAddFrame(&gif, given[0].pixels.data(), given[0].colours, 50);
    // An entry no pixel uses changes: nothing to see.
    given[1].colours[200][0] ^= 1;
    GifAddFrame(&gif, given[0].pixels.data(), given[1].colours, 80);
    GifAddFrame(&gif, given[1].pixels.data(), given[1].colours, 120);
    GifAddFrame(&gif, given[1].pixels.data(), given[1].colours, 130);
    std::vector<GifFrame> frames = ReadGif(GifFinish(&gif, 210), 40, 30);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].delay, 12);
    EXPECT_EQ(frames[1].delay, 9);
    EXPECT_TRUE(frames[1].rgb == Rgb(given[1].pixels, given[1].colours));

    // Longer than a delay holds (655.35 s): a frame that changes nothing
    // carries the rest.
    GifStart(&gif, 40, 30);
    GifAddFrame(&gif, given[0].pixels.data(), given[0].colours, 0);
    GifAddFrame(&gif, given[1].pixels.data(), given[1].colours, 700000);
    frames = ReadGif(GifFinish(&gif, 700100), 40, 30);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ((std::vector<int32_t>{frames[0].delay, frames[1].delay, frames[2].delay}),
              (std::vector<int32_t>{65535, 70000 - 65535, 10}));
    EXPECT_EQ(frames[1].rgb, frames[0].rgb);

    // One frame a millisecond.
    GifStart(&gif, 40, 30);
    for (size_t i = 0; i < given.size(); ++i) GifAddFrame(&gif, given[i].pixels.data(), given[i].colours, 1000 + i);
    frames = ReadGif(GifFinish(&gif, 2020), 40, 30);
    ASSERT_GE(frames.size(), 40u);
    int32_t total = 0;
    size_t from = 0;
    for (const GifFrame& frame : frames) {
        EXPECT_GE(frame.delay, 2);
        total += frame.delay;
        // Each frame is one of those given, in their order.
        while (from < given.size() && frame.rgb != Rgb(given[from].pixels, given[from].colours)) ++from;
        EXPECT_LT(from, given.size());
    }
    EXPECT_EQ(total, 102);
    EXPECT_EQ(frames.back().rgb, Rgb(given.back().pixels, given.back().colours));

    // Bad sizes and input make no animation.
    for (const auto& [w, h] : std::vector<std::pair<int32_t, int32_t>>{{0, 5}, {5, -1}, {65536, 1}}) {
        GifStart(&gif, w, h);
        GifAddFrame(&gif, given[0].pixels.data(), given[0].colours, 0);
        EXPECT_TRUE(GifFinish(&gif, 10).empty());
    }
    GifStart(&gif, 40, 30);
    GifAddFrame(&gif, nullptr, given[0].colours, 0);
    GifAddFrame(&gif, given[0].pixels.data(), nullptr, 0);
    EXPECT_TRUE(GifFinish(&gif, 10).empty());
}

// Taken out as it is made, the file is the same bytes as one made whole,
// and the animation holds no more than its last image meanwhile: frames
// that change much, little and nothing, colours of their own, a frame
// past the longest delay.
TEST(GifAnimation, TakenAsItIsMadeItIsTheSameFileAndHoldsOnlyItsLastImage)
{
    std::vector<Picture> given = Pour(10, 40, 3);
    given[20].colours[CellWall][0] ^= 0x40;
    given[21] = given[20];
    uint64_t at[40];
    for (size_t i = 0; i < 40; ++i) at[i] = 36 * i + (i >= 30 ? 800000 : 0);
    GifAnimation whole, taken;
    GifStart(&whole, FieldWidth, FieldHeight);
    GifStart(&taken, FieldWidth, FieldHeight);
    Bytes streamed;
    size_t held = 0;
    for (size_t i = 0; i < given.size(); ++i) {
        GifAddFrame(&whole, given[i].pixels.data(), given[i].colours, at[i]);
        GifAddFrame(&taken, given[i].pixels.data(), given[i].colours, at[i]);
        const size_t before = streamed.size();
        GifTakeSettled(&taken, &streamed);
        EXPECT_GE(streamed.size(), before);
        held = std::max(held, taken.bytes.size());
    }
    const Bytes rest = GifFinish(&taken, at[39] + 36);
    streamed.insert(streamed.end(), rest.begin(), rest.end());
    const Bytes bytes = GifFinish(&whole, at[39] + 36);
    EXPECT_TRUE(streamed == bytes) << streamed.size() << " bytes against " << bytes.size();
    EXPECT_LT(held, bytes.size() / 10) << "more than the last image was held";
    EXPECT_EQ(ReadGif(streamed, FieldWidth, FieldHeight).size(), ReadGif(bytes, FieldWidth, FieldHeight).size());

    // Nothing to take before a frame is written, nor from no animation.
    GifStart(&taken, FieldWidth, FieldHeight);
    Bytes none;
    GifTakeSettled(&taken, &none);
    GifAddFrame(&taken, given[0].pixels.data(), given[0].colours, 0);
    GifTakeSettled(&taken, &none);
    GifTakeSettled(nullptr, &none);
    EXPECT_TRUE(none.empty());
}

// The field as the talvo-sim picture of that frame shows it.
Bytes PngRgb(const Bytes& png)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return {};
    image.format = PNG_FORMAT_RGB;
    Bytes rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
    return rgb;
}

// A scripted run's animation, frame by frame, is what the run's picture of
// each frame shows: strokes, a Clear whose start-up script changes the
// colours (a table of its own), a change of speed (the delays follow it).
TEST(TalvoSimAnimation, EveryFrameIsTheFieldOfThatFrame)
{
    TempDir dir;
    // A scene of the default colours; the script's colours come with Clear.
    ASSERT_EQ(RunSim("--frames 1 --seed 3 start.talvo"), 0);
    const Bytes start = ReadFileBytes("start.talvo");
    WriteFileText("init.txt", "WALLCOLOR 30 200 90\nBOX 40 100 120 160 1\n");
    WriteFileText("events.txt", "2 lbuttondown 30 300\n3 mousemove 300 310\n4 lbuttonup 300 310\n"
                                "6 command 7\n8 command 42\n9 rbuttondown 60 130\n10 mousemove 110 150\n");
    const std::string run = "--seed 3 --events events.txt ";
    WriteFileBytes("a.talvo", start);
    ASSERT_EQ(RunSim(run + "--frames 12 --gif a.gif a.talvo"), 0) << ReadText("sim.err");
    const std::vector<GifFrame> frames = ReadGif(ReadFileBytes("a.gif"), FieldWidth, FieldHeight);
    ASSERT_EQ(frames.size(), 12u);
    for (int frame = 1; frame <= 12; ++frame) {
        // Appended, not "f" + ...: GCC 12 warns falsely on that (-Wrestrict).
        const std::string name = std::string("f").append(std::to_string(frame));
        WriteFileBytes(name + ".talvo", start);
        ASSERT_EQ(RunSim(run + "--frames " + std::to_string(frame) + " --png " + name + ".png " + name + ".talvo"), 0);
        EXPECT_TRUE(frames[static_cast<size_t>(frame - 1)].rgb == PngRgb(ReadFileBytes(name + ".png"))) << frame;
    }
    EXPECT_FALSE(frames[4].local);
    EXPECT_TRUE(frames[5].local) << "the Clear's colours";
    // "No wait" counts as 20 ms a frame, Normal 36 ms, the rounding carried:
    // frames 8 to 11 show for 144 ms.
    EXPECT_EQ(frames[0].delay, 2);
    int32_t normal = 0;
    for (size_t i = 7; i < 11; ++i) {
        EXPECT_TRUE(frames[i].delay == 3 || frames[i].delay == 4) << i;
        normal += frames[i].delay;
    }
    EXPECT_EQ(normal, 14);
}

} // namespace

namespace {

// The frame of the run each frame of the animation is (1 the first, 0 none).
std::vector<size_t> FramesOf(const std::string& gif, const std::vector<GifFrame>& run)
{
    std::vector<size_t> numbers;
    for (const GifFrame& frame : ReadGif(ReadFileBytes(gif), FieldWidth, FieldHeight)) {
        size_t n = 0;
        while (n < run.size() && run[n].rgb != frame.rgb) ++n;
        numbers.push_back(n < run.size() ? n + 1 : 0);
    }
    return numbers;
}

std::string JournalOf(const std::string& scene)
{
    for (const auto& entry : std::filesystem::directory_iterator(std::getenv("XDG_DATA_HOME") + std::string("/talvo/journal")))
        if (ReadText(entry.path().string() + "/00000000.seg").find("/" + scene) != std::string::npos)
            return entry.path().string();
    return "";
}

// --gif-frames and --gif-every at their bounds pick frames of the whole
// run's animation; a run in real time animates the same; G in it, and a
// replay of a journal at the window's pace, the frames the window showed
// (which depend on its timing: compared with what the journal recorded);
// what is out of range is refused before anything runs.
TEST(TalvoSimAnimation, FrameRangesStepsRealTimeAndReplayGiveTheFramesOfTheRun)
{
    TempDir dir;
    WriteFileText("events.txt", "2 lbuttondown 30 300\n3 mousemove 300 310\n4 lbuttonup 300 310\n6 command 42\n");
    const std::string run = "--seed 3 --frames 12 --events events.txt ";
    ASSERT_EQ(RunSim(run + "--gif all.gif --png all.png all.talvo"), 0) << ReadText("sim.err");
    const std::vector<GifFrame> all = ReadGif(ReadFileBytes("all.gif"), FieldWidth, FieldHeight);
    ASSERT_EQ(all.size(), 12u);
    const std::vector<size_t> every = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::pair<const char*, std::vector<size_t>> picks[] = {
        {"--gif-frames 3:7", {3, 4, 5, 6, 7}},
        {"--gif-frames 5:5", {5}},
        {"--gif-frames 10:", {10, 11, 12}},
        {"--gif-frames :2", {1, 2}},
        {"--gif-frames 0:4611686018427387904", every},
        {"--gif-every 5", {5, 10}},
        {"--gif-every 4 --gif-frames 2:", {2, 6, 10}},
        {"--gif-every 1 --gif-frames :", every},
    };
    for (const auto& [options, frames] : picks) {
        std::filesystem::remove("p.talvo");
        ASSERT_EQ(RunSim(run + options + " --gif p.gif p.talvo"), 0) << options << ReadText("sim.err");
        EXPECT_EQ(FramesOf("p.gif", all), frames) << options;
    }
    for (const char* options : {"--gif-frames 5:4", "--gif-frames 7", "--gif-frames 1:x", "--gif-frames -1:",
                                "--gif-frames 4611686018427387905:", "--gif-every 0", "--gif-every 2147483648",
                                "--gif-every -3"}) {
        EXPECT_EQ(RunSim(run + options + " --gif x.gif x.talvo"), 2) << options;
        EXPECT_EQ(RunSim(std::string(options) + " x.talvo"), 2) << options << ": no --gif";
        EXPECT_FALSE(FileExists("x.gif") || FileExists("x.talvo")) << options;
    }

    // In real time: the same animation, byte for byte.
    ASSERT_EQ(RunSim("--real-time " + run + "--gif rt.gif rt.talvo"), 0) << ReadText("sim.err");
    EXPECT_EQ(ReadFileBytes("rt.gif"), ReadFileBytes("all.gif"));
    // Its journal played again: the scene and picture of the run; at the
    // window's pace, shown frames in order; by frames, those asked for.
    const std::string rt = JournalOf("rt.talvo");
    ASSERT_EQ(RunSim("--replay " + rt + " --png r.png --gif r.gif r.talvo"), 0) << ReadText("sim.err");
    EXPECT_EQ(ReadFileBytes("r.png"), ReadFileBytes("all.png"));
    EXPECT_EQ(ReadFileBytes("r.talvo"), ReadFileBytes("all.talvo"));
    const std::vector<size_t> shown = FramesOf("r.gif", all);
    EXPECT_GE(shown.size(), 3u);
    EXPECT_TRUE(shown.front() > 0 && std::adjacent_find(shown.begin(), shown.end(), std::greater_equal<size_t>()) == shown.end())
        << ::testing::PrintToString(shown);
    std::vector<size_t> middle;
    std::copy_if(shown.begin(), shown.end(), std::back_inserter(middle), [](size_t n) { return n >= 7 && n <= 9; });
    ASSERT_EQ(RunSim("--replay " + rt + " --gif r3.gif --gif-frames 7:9 r3.talvo"), 0) << ReadText("sim.err");
    EXPECT_EQ(FramesOf("r3.gif", all), middle);
    ASSERT_EQ(RunSim("--replay " + rt + " --gif r2.gif --gif-every 3 --gif-frames 2:11 r2.talvo"), 0)
        << ReadText("sim.err");
    EXPECT_EQ(FramesOf("r2.gif", all), (std::vector<size_t>{2, 5, 8, 11}));
    EXPECT_EQ(RunSim("--replay " + rt + " --gif x.gif --gif-frames 9:8 x.talvo"), 2);
    EXPECT_FALSE(FileExists("x.gif") || FileExists("x.talvo"));

    // G at frame 9: the frames shown until then, as the journal has them;
    // the session goes on as it was.
    WriteFileText("g.txt", "1 command 42\n" + ReadText("events.txt") + "9 char g\n");
    ASSERT_EQ(RunSim("--real-time --seed 3 --frames 12 --events g.txt g.talvo"), 0) << ReadText("sim.err");
    EXPECT_EQ(ReadFileBytes("g.talvo"), ReadFileBytes("all.talvo"));
    ASSERT_EQ(RunSim("--replay " + JournalOf("g.talvo") + " --gif gr.gif --gif-frames :8 gr.talvo"), 0);
    const std::vector<size_t> untilG = FramesOf("gr.gif", all);
    EXPECT_GE(untilG.size(), 2u);
    // Under a name of its moment, beside the scene as no pictures folder is set.
    std::vector<std::string> made;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        if (entry.path().extension() == ".gif" && entry.path().filename().string().rfind("Talvo ", 0) == 0)
            made.push_back(entry.path().filename().string());
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(FramesOf(made[0], all), untilG);
}

} // namespace

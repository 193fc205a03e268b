// The scene file: its byte layout, loading and the refusal of damaged files,
// the save safeguards, the drop and close handlers and the command line.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <iterator>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "app/main_routine.h"
#include "app/scene_handlers.h"
#include "files/scene_file.h"
#include "files/side_files.h"
#include "framework/headless/headless.h"
#include "framework/messages.h"
#include "framework/palette_builder.h"
#include "framework/platform.h"
#include "framework/pump.h"
#include "framework/queue/message_queue.h"
#include "framework/window.h"
#include "framework/window_menu.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "sim/particles.h"
#include "test_support.h"
#include "ui/menu.h"
#include "ui/settings.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t SixGrainsAt = 135124; // also a six-colour file without grains
constexpr size_t FullGrainsAt = 136124;
constexpr size_t NewSceneSize = 200588;

// A scene file put together byte by byte from the format, independent of the
// program's own writer.
struct SceneImage {
    std::string version = "V3.0";
    char marker = ' ';
    uint8_t settings = 0x21;
    int16_t width = 336, height = 402, count = 0, slot1 = 3, slot2 = 0, speed = 4;
    std::vector<uint32_t> palette;
    Bytes field;
    std::vector<int32_t> grains;

    bool Full() const { return marker == 'B'; }
    Bytes Encode() const
    {
        const std::string head = "TALVO  " + version + " " + marker + "  ";
        Bytes out(head.begin(), head.end());
        auto put = [&](uint32_t v, int size) {
            for (int i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        };
        out.push_back(settings);
        for (int16_t v : {width, height, count, slot1, slot2, speed}) put(static_cast<uint16_t>(v), 2);
        for (uint32_t colour : palette) put(colour, 4);
        out.insert(out.end(), field.begin(), field.end());
        for (int32_t p : grains) put(static_cast<uint32_t>(p), 4);
        return out;
    }
};

SceneImage Edited(SceneImage image, auto edit)
{
    edit(image);
    return image;
}

// Every scene carries its frame of walls; the shade bits are free.
void Frame(Bytes& field)
{
    for (int32_t y = 0; y < FieldHeight; ++y)
        for (int32_t x = 0; x < FieldWidth; ++x)
            if (x == 0 || y == 0 || x == FieldWidth - 1 || y == FieldHeight - 1) {
                uint8_t& cell = field[static_cast<size_t>(FieldPos(x, y))];
                cell = static_cast<uint8_t>((cell & 0xF8) | 1);
            }
}

// Differs from the program's start state in every setting, colour and
// nearly every cell. Settings 0x10: "Thin" pen, "Normal" eraser.
SceneImage SixColourScene()
{
    SceneImage image{.settings = 0x10, .count = 100, .slot1 = 4, .slot2 = 2, .speed = 2,
                     .palette = {0x102030, 0x405060, 0x708090, 0xA0B0C0, 0xD0E0F0, 0x0A0B0C},
                     .field = Bytes(FieldSize), .grains = {336, 134735}}; // both ends of rows 1 to 400
    for (int32_t i = 0; i < FieldSize; ++i) image.field[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 31 + 7);
    Frame(image.field);
    for (int32_t i = 0; i < 98; ++i) image.grains.push_back(336 + i * 1367);
    return image;
}

SceneImage FullColourScene()
{
    SceneImage image{.marker = 'B', .settings = 0x02, .count = 100, .slot1 = 1, .slot2 = 3, .speed = 0,
                     .palette = std::vector<uint32_t>(256), .field = Bytes(FieldSize), .grains = SixColourScene().grains};
    for (uint32_t j = 0; j < 256; ++j) image.palette[j] = (j * 0x010203u + 0x405060u) & 0xFFFFFFu;
    for (int32_t i = 0; i < FieldSize; ++i) image.field[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 13 + 1);
    Frame(image.field);
    return image;
}

const uint32_t MarkIds[] = {10, 20, 21, 22, 30, 31, 32, 40, 41, 42, 43, 44,
                            50, 51, 52, 53, 54, 60, 61, 62, 63, 64};

// Everything a load could touch.
struct Snapshot {
    std::vector<int64_t> settings; // switches, settings, count, flag, menu marks
    std::vector<uint32_t> colours; // base, full, drawing colours, surface table
    Bytes field;
    std::vector<int32_t> grains;
    std::string name;
};

Snapshot Take()
{
    Snapshot s{{DrawingEnabled, PenSize, EraserSize, Speed, SlotKind1, SlotKind2, ParticleCount, FullPaletteFlag},
               {BaseColours, BaseColours + BaseColourCount},
               {Field, Field + FieldSize},
               {ParticleList, ParticleList + ParticleCapacity},
               SceneFileName};
    for (uint32_t id : MarkIds) s.settings.push_back(MenuChecked(id));
    s.colours.insert(s.colours.end(), FullPalette, FullPalette + 256);
    for (int32_t i = 0; i < 256; ++i) s.colours.push_back(PaletteColour(i));
    s.colours.insert(s.colours.end(), &SurfaceColours[0][0], &SurfaceColours[0][0] + 256 * 4);
    return s;
}

void ExpectSame(const Snapshot& a, const Snapshot& b)
{
    EXPECT_EQ(a.settings, b.settings);
    EXPECT_TRUE(a.colours == b.colours) << "colours changed";
    EXPECT_TRUE(a.field == b.field) << "Field changed";
    EXPECT_TRUE(a.grains == b.grains) << "ParticleList changed";
    EXPECT_EQ(a.name, b.name);
}

// The program as the main routine leaves it before the load.
void StartWithNewScene()
{
    StartProgram();
    SetDefaultSettings();
    BuildSystemMenu();
    BuildBasePalette();
    NewScene();
}

// The program state, palette in force and menu marks equal what the image carries.
void ExpectStateIs(const SceneImage& image)
{
    // Pen, eraser, speed, slots, palette flag, grain count.
    const int32_t values[7] = {image.settings & 15, image.settings >> 4, image.speed, image.slot1,
                               image.slot2,         image.Full(),        image.count};
    ASSERT_EQ((std::vector<int32_t>{PenSize, EraserSize, Speed, SlotKind1, SlotKind2, FullPaletteFlag, ParticleCount}),
              std::vector<int32_t>(values, values + 7));
    EXPECT_TRUE(std::equal(image.grains.begin(), image.grains.begin() + image.count, ParticleList)) << "grains differ";
    EXPECT_EQ(0, std::memcmp(Field, image.field.data(), FieldSize)) << "field bytes differ";
    EXPECT_TRUE(std::equal(image.palette.begin(), image.palette.end(), image.Full() ? FullPalette : BaseColours));
    for (size_t i = 0; i < image.palette.size(); ++i) {
        const uint32_t c = image.palette[i];
        EXPECT_TRUE(SurfaceColours[i][0] == ((c >> 16) & 0xFF) && SurfaceColours[i][1] == ((c >> 8) & 0xFF) &&
                    SurfaceColours[i][2] == (c & 0xFF))
            << "surface colour " << i;
        EXPECT_EQ(PaletteColour(static_cast<int32_t>(i)), c | PaletteRelative) << "entry " << i;
    }
    // One mark per group on its value; none for a speed without an item.
    const int32_t items[5] = {3, 3, 5, 5, 5};
    for (uint32_t g = 0; g < 5; ++g)
        for (int32_t v = 0; v < items[g]; ++v)
            EXPECT_EQ(MenuChecked(20 + 10 * g + static_cast<uint32_t>(v)), v == values[g] ? 1 : 0)
                << "menu item " << 20 + 10 * g + static_cast<uint32_t>(v);
}

// Puts an image's state in force without the loader.
void SetStateTo(const SceneImage& image)
{
    MarkSettings(false);
    PenSize = image.settings & 15;
    EraserSize = image.settings >> 4;
    Speed = image.speed;
    SlotKind1 = image.slot1;
    SlotKind2 = image.slot2;
    MarkSettings(true);
    FullPaletteFlag = image.Full() ? 1 : 0;
    if (image.Full()) {
        std::copy(image.palette.begin(), image.palette.end(), FullPalette);
        PaletteBegin();
        for (uint32_t colour : image.palette) PaletteAdd(colour);
        PaletteRealize();
    } else {
        std::copy(image.palette.begin(), image.palette.end(), BaseColours);
        BuildBasePalette();
    }
    std::memcpy(Field, image.field.data(), FieldSize);
    std::copy(image.grains.begin(), image.grains.end(), ParticleList);
    ParticleCount = image.count;
}

void SetName(const std::string& name) { std::snprintf(SceneFileName, sizeof SceneFileName, "%s", name.c_str()); }

std::vector<std::string> DirectoryEntries()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(".")) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// --- What SaveScene writes.

TEST(SceneFileSave, WritesTheLayoutByteForByte)
{
    TempDir dir;
    StartProgram();
    BuildSystemMenu();
    for (const SceneImage& image : {SixColourScene(), FullColourScene()}) {
        SCOPED_TRACE(image.marker);
        SetStateTo(image);
        if (image.Full()) BaseColours[2] = 0x123456; // not part of a 256-colour file
        SaveSceneAndTell();
        const Bytes bytes = ReadFileBytes("Default.talvo");
        ASSERT_EQ(bytes.size(), (image.Full() ? FullGrainsAt : SixGrainsAt) + 4u * 100u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 15), image.Full() ? "TALVO  V3.0 B  " : "TALVO  V3.0    ");
        EXPECT_TRUE(bytes == image.Encode()) << "file differs from the layout";
        EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"Default.talvo"}) << "side file left";
        if (image.Full()) continue;
        // Little-endian 336, 402, 100, 4, 2, 2; background 0x102030 stored red 0x30 first.
        const Bytes head = {0x10, 0x50, 0x01, 0x92, 0x01, 100, 0, 4, 0, 2, 0, 2, 0, 0x30, 0x20, 0x10, 0x00};
        EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin() + 15));
        EXPECT_EQ(bytes[52], image.field[0]);
        EXPECT_EQ(bytes[SixGrainsAt - 1], image.field[FieldSize - 1]);
        const Bytes grain1 = {0x4F, 0x0E, 0x02, 0x00}; // 134735
        EXPECT_TRUE(std::equal(grain1.begin(), grain1.end(), bytes.begin() + SixGrainsAt + 4));
    }
}

TEST(SceneFileSave, NewSceneFileSizeAndSettingsByte)
{
    TempDir dir;
    StartWithNewScene();
    SaveSceneAndTell();
    const Bytes bytes = ReadFileBytes("Default.talvo");
    ASSERT_EQ(bytes.size(), NewSceneSize);
    // Normal pen and Big eraser, 336 x 402, 16366 grains, Boiling / Normal sand, No wait;
    // then the default colours, red first.
    const Bytes head = {' ', ' ', ' ', 0x21, 0x50, 1, 0x92, 1, 0xEE, 0x3F, 3, 0, 0, 0, 4, 0, // header
                        0,   0,   0,   0,    200,  160, 64, 0, 0,    240, 220, 0, 0, 160, 200, 0, 255, 0, 0, 0, 160, 0, 0, 0};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin() + 12));
    // First grain (48, 6) = 2064, last (1, 18) = 6049.
    EXPECT_EQ(bytes[SixGrainsAt] | bytes[SixGrainsAt + 1] << 8, 2064);
    EXPECT_EQ(bytes[NewSceneSize - 4] | bytes[NewSceneSize - 3] << 8, 6049);
    // The gate line (row 59) is wall, the reservoir above it empty.
    EXPECT_EQ(bytes[52 + 59 * 336 + 100], 1);
    EXPECT_EQ(bytes[52 + 30 * 336 + 100], 0);

    const struct {
        int32_t pen, eraser, count, full;
        uint8_t settings;
        size_t size;
    } cases[] = {{2, 0, 16366, 0, 0x02, NewSceneSize}, // Thick pen, Small eraser
                 {0, 2, 16366, 0, 0x20, NewSceneSize}, // Thin pen, Big eraser
                 {1, 1, 0, 0, 0x11, SixGrainsAt},
                 {1, 1, 0, 1, 0x11, FullGrainsAt}};
    for (const auto& c : cases) {
        PenSize = c.pen;
        EraserSize = c.eraser;
        ParticleCount = static_cast<int16_t>(c.count);
        FullPaletteFlag = c.full;
        SaveSceneAndTell();
        const Bytes saved = ReadFileBytes("Default.talvo");
        EXPECT_EQ(saved.at(15), c.settings);
        EXPECT_EQ(saved.size(), c.size);
    }
}

// --- Loading.

TEST(SceneFileLoad, HandMadeFilesLoadWithPaletteAndMarks)
{
    TempDir dir;
    const SceneImage six = SixColourScene();
    Bytes odd = six.Encode(); // header bytes other than magic and marker, and a tail, are not read
    for (const auto& [at, value] : {std::pair{5, 'x'}, {6, '\0'}, {11, '#'}, {13, '\xFF'}, {14, 'z'}})
        odd[static_cast<size_t>(at)] = static_cast<uint8_t>(value);
    odd.insert(odd.end(), 5000, 0xEE);
    const struct {
        const char* what;
        SceneImage image;
        Bytes bytes; // the image's own when empty
    } cases[] = {
        {"six colours", six, {}},
        {"256 colours", FullColourScene(), {}},
        {"other version text", six, Edited(six, [](SceneImage& s) { s.version = "V9.x"; }).Encode()},
        {"lower-case marker reads six colours", six, Edited(six, [](SceneImage& s) { s.marker = 'b'; }).Encode()},
        {"no grains", Edited(six, [](SceneImage& s) { s.grains.clear(); s.count = 0; }), {}},
        {"full grain list", Edited(FullColourScene(), [](SceneImage& s) { s.grains.assign(16800, 134735); s.count = 16800; }), {}},
        {"largest settings, speed without menu item",
         Edited(six, [](SceneImage& s) { s.settings = 0x22; s.speed = 9; s.slot1 = 0; s.slot2 = 4; }), {}},
        {"other header bytes and trailing bytes", six, odd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartWithNewScene();
        DrawingEnabled = 0; // not carried by the file
        const std::vector<uint32_t> base(BaseColours, BaseColours + BaseColourCount);
        const std::vector<uint32_t> full(FullPalette, FullPalette + 256);
        WriteFileBytes("Default.talvo", c.bytes.empty() ? c.image.Encode() : c.bytes);
        ASSERT_EQ(LoadScene(), 1);
        ExpectStateIs(c.image);
        EXPECT_EQ(DrawingEnabled, 0);
        const Bytes encoded = c.image.Encode();
        std::filesystem::remove("Default.talvo");
        SaveSceneAndTell();
        EXPECT_TRUE(ReadFileBytes("Default.talvo") == encoded) << "saved again differently";
        // The block the file does not hold keeps its colours.
        if (!c.image.Full()) {
            EXPECT_TRUE(std::equal(full.begin(), full.end(), FullPalette)) << "256 colours changed";
            continue;
        }
        EXPECT_TRUE(std::equal(base.begin(), base.end(), BaseColours)) << "base colours changed";
        // A Clear that finds no background image keeps the loaded palette for the next save.
        NewScene();
        SaveSceneAndTell();
        const Bytes cleared = ReadFileBytes("Default.talvo");
        ASSERT_EQ(cleared.size(), FullGrainsAt + 4u * 16366u);
        EXPECT_EQ(cleared[12], 'B');
        EXPECT_TRUE(std::equal(encoded.begin() + 28, encoded.begin() + 1052, cleared.begin() + 28)) << "palette differs";
    }
}

TEST(SceneFileLoad, DamagedFilesAreRefusedWithNothingChanged)
{
    TempDir dir;
    const SceneImage six = SixColourScene();
    const Bytes sixBytes = six.Encode(), fullBytes = FullColourScene().Encode();
    auto with = [&](auto edit) { return Edited(six, edit).Encode(); };
    auto cut = [](Bytes bytes, size_t size) {
        bytes.resize(size);
        return bytes;
    };
    auto poke = [](Bytes bytes, size_t at, char value) {
        bytes[at] = static_cast<uint8_t>(value);
        return bytes;
    };
    const std::pair<const char*, Bytes> cases[] = {
        {"magic TALVX", poke(sixBytes, 4, 'X')},
        {"magic in lower case", poke(sixBytes, 0, 't')},
        {"width 335", with([](SceneImage& s) { s.width = 335; })},
        {"height 403", with([](SceneImage& s) { s.height = 403; })},
        {"count -1", with([](SceneImage& s) { s.count = -1; })},
        {"count 16801", with([](SceneImage& s) { s.grains.assign(16801, 5000); s.count = 16801; })},
        {"grain in row 0", with([](SceneImage& s) { s.grains[50] = 335; })},
        {"grain in row 401", with([](SceneImage& s) { s.grains[99] = 134736; })},
        {"SlotKind1 5", with([](SceneImage& s) { s.slot1 = 5; })},
        {"SlotKind1 -1", with([](SceneImage& s) { s.slot1 = -1; })},
        {"SlotKind2 5", with([](SceneImage& s) { s.slot2 = 5; })},
        {"SlotKind2 -1", with([](SceneImage& s) { s.slot2 = -1; })},
        {"Speed 10", with([](SceneImage& s) { s.speed = 10; })},
        {"Speed -1", with([](SceneImage& s) { s.speed = -1; })},
        {"pen nibble 3", with([](SceneImage& s) { s.settings = 0x13; })},
        // Without its frame a grain could step out of the field.
        {"frame gap on the left", with([](SceneImage& s) { s.field[FieldPos(0, 200)] &= 0xF8; })},
        {"frame gap on the right", with([](SceneImage& s) { s.field[FieldPos(335, 1)] = 0x0A; })},
        {"frame gap at the top", with([](SceneImage& s) { s.field[FieldPos(100, 0)] = 0; })},
        {"frame gap at the bottom", with([](SceneImage& s) { s.field[FieldPos(334, 401)] = 0xF8; })},
        {"eraser nibble 3", with([](SceneImage& s) { s.settings = 0x31; })},
        {"one byte short of the last grain", cut(sixBytes, sixBytes.size() - 1)},
        {"field cut short", cut(sixBytes, 52 + 1000)},
        {"header cut short", cut(sixBytes, 20)},
        {"256-colour file one word short", cut(fullBytes, fullBytes.size() - 2)},
        {"marker B on a six-colour file", poke(sixBytes, 12, 'B')},
        {"no grains, field one byte short", cut(with([](SceneImage& s) { s.grains.clear(); s.count = 0; }), SixGrainsAt - 1)},
        {"empty file", {}},
        {"TALV", {'T', 'A', 'L', 'V'}},
        {"just the magic", {'T', 'A', 'L', 'V', 'O'}},
    };
    for (bool fullInForce : {false, true}) {
        SCOPED_TRACE(fullInForce ? "256 colours in force" : "six colours in force");
        for (const auto& [what, bytes] : cases) {
            SCOPED_TRACE(what);
            StartWithNewScene();
            BaseColours[3] = 0x0F0E0D; // colour table not the start one
            BuildBasePalette();
            WriteFileBytes("Default.talvo", fullBytes);
            if (fullInForce) {
                ASSERT_EQ(LoadScene(), 1);
            }
            WriteFileBytes("Default.talvo", bytes);
            const Snapshot before = Take();
            EXPECT_EQ(LoadScene(), 0);
            ExpectSame(before, Take());
        }
    }
    SetName("absent.talvo");
    const Snapshot before = Take();
    EXPECT_EQ(LoadScene(), 0);
    ExpectSame(before, Take());
    EXPECT_FALSE(FileExists("absent.talvo"));
}

// --- Files longer than any the program reads.

// What this process has read from files so far (Linux's count).
uint64_t BytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return 0;
}

// `text`, then zeros up to `length` (a sparse tail, quick to make).
void WriteLong(const char* name, const std::string& text, uint64_t length)
{
    WriteFileText(name, text);
    std::filesystem::resize_file(name, length);
}

TEST(SceneFileLoad, LongerFilesThanAnyTheProgramReadsAreRefusedUnreadAndChangeNothing)
{
    TempDir dir;
    ASSERT_GT(BytesRead(), 0u) << "no count of the bytes read here";
    StartWithNewScene();
    size_t size = 0;
    const uint8_t* encoded = EncodedScene(&size);
    const Bytes fresh(encoded, encoded + size);
    std::string scene(fresh.begin(), fresh.end());
    scene[26] = 1; // Slow: a scene of its own
    // Up to the largest scene's length a tail is left unused, as ever; past
    // it the file is kept aside whole by the save, and the scene stays.
    for (const uint64_t length : {uint64_t{SceneMaxSize}, uint64_t{SceneMaxSize} + 1, uint64_t{50} << 20}) {
        SCOPED_TRACE(length);
        StartWithNewScene();
        WriteLong("Default.talvo", scene, length);
        const uint64_t before = BytesRead();
        ASSERT_EQ(LoadScene(), length == SceneMaxSize ? 1 : 0);
        if (length == SceneMaxSize) continue;
        EXPECT_LT(BytesRead() - before, 65536u) << "the file was read";
        ASSERT_EQ(SaveSceneAndTell(), 1);
        EXPECT_EQ(std::filesystem::file_size("Default.talvo.damaged"), length);
        EXPECT_EQ(ReadFileBytes("Default.talvo"), fresh);
        std::filesystem::remove("Default.talvo.damaged");
    }
    // A side file at the limit shapes a new scene; a byte more, and the new
    // scene is made as without it.
    std::string pal = "one\ntwo\nthree\n";
    for (int shade = 0; shade < 32; ++shade) pal += std::to_string(8 * shade) + " 7 9\n";
    for (const std::string longer : {"init.txt", "bg.raw", "bg.pal"})
        for (const uint64_t length : {uint64_t{SideFileLimit}, uint64_t{SideFileLimit} + 1}) {
            SCOPED_TRACE(longer + " of " + std::to_string(length));
            for (const char* name : {"init.txt", "bg.raw", "bg.pal"}) std::filesystem::remove(name);
            if (longer == "init.txt") {
                WriteLong("init.txt", "BGCOLOR 10 20 30\n", length);
            } else {
                WriteLong("bg.raw", std::string(FieldSize, '\x11'), longer == "bg.raw" ? length : FieldSize);
                WriteLong("bg.pal", pal, longer == "bg.pal" ? length : pal.size());
            }
            const uint64_t before = BytesRead();
            StartWithNewScene();
            const bool used = std::memcmp(EncodedScene(&size), fresh.data(), 40) != 0;
            EXPECT_EQ(used, length == SideFileLimit);
            if (!used) {
                EXPECT_LT(BytesRead() - before, 2u * FieldSize) << "the long file was read";
            }
        }
}

// --- Save safeguards.

// Only an absent or empty file, or one beginning with the magic, is replaced;
// any other is left alone, the user told, and the scene rescued.
TEST(SceneFileSave, ReplacesOnlyEmptyFilesAndScenes)
{
    TempDir dir;
    StartWithNewScene();
    const SceneImage image = SixColourScene();
    SetStateTo(image);
    SetName("target");
    const struct {
        Bytes content;
        bool replaced;
    } cases[] = {{{'m', 'y', ' ', 'n', 'o', 't', 'e', 's', '\n'}, false}, {{'T', 'A', 'L'}, false},
                 {{'T', 'A', 'L', 'V', 'X', 'X', 'X', 'X'}, false},     {{0}, false},
                 {{}, true},
                 {{'T', 'A', 'L', 'V', 'O', '!'}, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.content.begin(), c.content.end()));
        WriteFileBytes("target", c.content);
        const int32_t errors = HeadlessErrorCount();
        SaveSceneAndTell();
        EXPECT_TRUE(ReadFileBytes("target") == (c.replaced ? image.Encode() : c.content));
        EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"target"});
        EXPECT_EQ(HeadlessErrorCount(), errors + (c.replaced ? 0 : 1));
        if (!c.replaced) {
            EXPECT_TRUE(ReadFileBytes(dir.Rescued().back()) == image.Encode());
        }
    }
}

// A save that cannot be made leaves what was there, says why, and names the
// rescued copy in the data folder; where even that fails the message says so.
TEST(SceneFileSave, FailedSavesAreToldAndRescued)
{
    TempDir dir;
    StartWithNewScene();
    const SceneImage first = SixColourScene(), second = FullColourScene();
    SetStateTo(first);
    SetName("x.talvo");
    SaveSceneAndTell();
    SetStateTo(second);
    std::filesystem::create_directory("folder.talvo");
    WriteFileText("folder.talvo/inside", "inside");
    const struct {
        std::string name, why;
    } cases[] = {
        {"folder.talvo", "it is not a regular file"},
        {"no-such-folder/x.talvo", "No such file or directory"},
        {"", "it has no usable name"},
        {"line\nbreak", "not a scene file"}, // shown on one line
    };
    WriteFileText("line\nbreak", "notes");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetName(c.name);
        const int32_t errors = HeadlessErrorCount();
        const std::vector<std::string> before = dir.Rescued();
        SaveSceneAndTell();
        ASSERT_EQ(HeadlessErrorCount(), errors + 1);
        std::vector<std::string> added;
        std::ranges::set_difference(dir.Rescued(), before, std::back_inserter(added));
        ASSERT_EQ(added.size(), 1u);
        const std::string message = HeadlessLastError(), rescued = added[0];
        EXPECT_NE(message.find(c.why), std::string::npos) << message;
        EXPECT_NE(message.find("It was saved to \"" + rescued + "\""), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        EXPECT_TRUE(ReadFileBytes(rescued) == second.Encode());
    }
    EXPECT_EQ(dir.Rescued().size(), 4u);
    EXPECT_EQ(ReadText("folder.talvo/inside"), "inside");

    // Past the file-size limit the rescue fails too, and so does the file
    // the user is then offered: the scene is lost, and each step is told.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    SetName("x.talvo");
    SaveSceneAndTell();
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_TRUE(ReadFileBytes("x.talvo") == first.Encode());
    EXPECT_NE(HeadlessLastError().find("\"x (2).talvo\" could not be saved: File too large"), std::string::npos)
        << HeadlessLastError();
    EXPECT_EQ(dir.Rescued().size(), 4u);
    EXPECT_EQ(DirectoryEntries(), (std::vector<std::string>{"folder.talvo", "line\nbreak", "x.talvo"})) << "side file left";

    // A save that fails on close still lets the window go.
    SetName("no-such-folder/x.talvo");
    EXPECT_EQ(OnClose(MainWindow, WmClose, 0, 0), 0);
    EXPECT_FALSE(HeadlessWindowExists());
}

// A file that begins like a scene but was refused is moved aside at the first
// save under its name, to the first free name, cut to fit a folder entry.
TEST(SceneFileSave, RefusedScenesAreKeptAside)
{
    TempDir dir;
    Bytes damaged = SixColourScene().Encode();
    damaged.pop_back();
    const std::string longName(250, 'd');
    WriteFileText("d.talvo.damaged", "someone's");
    for (const auto& [name, aside] : {std::pair{std::string("d.talvo"), std::string("d.talvo.damaged-2")},
                                      std::pair{longName, longName.substr(0, 247) + ".damaged"}}) {
        SCOPED_TRACE(aside);
        WriteFileBytes(name, damaged);
        StartWithNewScene();
        SetName(name);
        EXPECT_EQ(LoadScene(), 0);
        SaveSceneAndTell();
        const Bytes saved = ReadFileBytes(name);
        EXPECT_EQ(saved.size(), NewSceneSize);
        SaveSceneAndTell(); // the scene just saved is not damaged
        EXPECT_TRUE(ReadFileBytes(name) == saved);
        EXPECT_TRUE(ReadFileBytes(aside) == damaged);
    }
    EXPECT_EQ(ReadText("d.talvo.damaged"), "someone's");
    EXPECT_EQ(DirectoryEntries().size(), 5u);
    EXPECT_EQ(HeadlessErrorCount(), 0);
}

// --- File drop and close.

class SceneFileHandlers : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartWithNewScene();
        AddHandler(WmDropFiles, OnDropFiles);
        AddHandler(WmClose, OnClose);
        SetStateTo(current_);
    }

    // Delivers a drop of one file through the message pump; an empty path drops no name.
    static void Drop(const std::string& path)
    {
        if (path.empty())
            QueuePost(WmDropFiles, 0, 0);
        else
            HeadlessSchedule(HeadlessEvent{HeadlessFrame() + 1, HeadlessEvent::Drop, 0, 0, 0, path});
        PumpMessages();
    }

    void ExpectCurrentSavedAs(const std::string& name)
    {
        EXPECT_TRUE(ReadFileBytes(name) == current_.Encode()) << "current scene not saved to " << name;
    }

    TempDir dir_;
    // Distinct from the new scene and from the dropped one.
    const SceneImage current_ = Edited(SixColourScene(), [](SceneImage& s) { s.speed = 3; });
    const SceneImage dropped_ = FullColourScene();
};

TEST_F(SceneFileHandlers, DropSavesFirstLoadsAndTakesTheNameThatCloseSavesTo)
{
    const std::string name(254, 'f'); // the longest name the drop takes
    WriteFileBytes(name, dropped_.Encode());
    Drop(name);
    ExpectCurrentSavedAs("Default.talvo");
    ExpectStateIs(dropped_);
    EXPECT_EQ(std::string(SceneFileName), name);

    const SceneImage changed = SixColourScene();
    SetStateTo(changed);
    EXPECT_EQ(OnClose(MainWindow, WmClose, 0, 0), 0);
    EXPECT_TRUE(ReadFileBytes(name) == changed.Encode());
    ExpectCurrentSavedAs("Default.talvo");
    EXPECT_FALSE(HeadlessWindowExists());
}

// The end of the session saves as the close does, but a save that fails is
// noted beside the rescued scene, never shown in a box that would hold the
// end up.
TEST_F(SceneFileHandlers, TheEndOfTheSessionSavesWithoutABox)
{
    AddHandler(WmEndSession, OnEndSession);
    WndProc(MainWindow, WmEndSession, 0, 0);
    EXPECT_TRUE(HeadlessWindowExists()) << "a session that does not end after all";
    EXPECT_FALSE(FileExists("Default.talvo"));

    std::filesystem::create_directory("folder.talvo");
    SetName("folder.talvo");
    WndProc(MainWindow, WmEndSession, 1, 0);
    EXPECT_EQ(HeadlessErrorCount(), 0);
    EXPECT_FALSE(HeadlessWindowExists());
    const std::vector<std::string> rescued = dir_.Rescued();
    ASSERT_EQ(rescued.size(), 2u);
    const std::string scene = rescued[0], note = rescued[1];
    ASSERT_EQ(note, scene.substr(0, scene.size() - 6) + ".txt");
    EXPECT_TRUE(ReadFileBytes(scene) == current_.Encode());
    const std::string text = ReadText(note);
    EXPECT_NE(text.find("could not be saved to \"folder.talvo\": it is not a regular file"), std::string::npos) << text;
    EXPECT_NE(text.find("It was saved to \"" + scene + "\""), std::string::npos) << text;
}

// A drop that does not load, or of the current file itself, saves and goes on unchanged.
TEST_F(SceneFileHandlers, DropThatDoesNotLoadKeepsSceneAndName)
{
    const Bytes notes = {'n', 'o', 't', 'e', 's', '\n'};
    WriteFileBytes("notes.txt", notes);
    WriteFileBytes("damaged.talvo", Edited(dropped_, [](SceneImage& s) { s.slot2 = 9; }).Encode());
    // A name the drop buffer cannot hold is refused, never cut to another one.
    std::string tooLong;
    for (int i = 0; i < 2000; ++i) tooLong += "./";
    tooLong += std::string(200, 'g');
    WriteFileBytes(tooLong.substr(0, 4095), dropped_.Encode());
    for (const std::string& name : {std::string("notes.txt"), std::string("damaged.talvo"),
                                    std::string("absent.talvo"), tooLong, std::string(), std::string("Default.talvo")}) {
        SCOPED_TRACE(name.empty() ? "no file name" : name.substr(0, 20));
        WriteFileBytes("Default.talvo", dropped_.Encode());
        const Snapshot before = Take();
        const int32_t errors = HeadlessErrorCount();
        Drop(name);
        ExpectCurrentSavedAs("Default.talvo");
        ExpectSame(before, Take());
        EXPECT_EQ(HeadlessErrorCount() - errors, name == tooLong ? 1 : 0);
    }
    EXPECT_NE(HeadlessLastError().find("The dropped name \"./././"), std::string::npos);
    EXPECT_TRUE(ReadFileBytes("notes.txt") == notes);
    EXPECT_FALSE(FileExists("absent.talvo"));
}

// --- The command line.

// A name that cannot be held, or an empty one, is refused aloud and leaves no
// name at all: never the default, a file the user did not name.
TEST(SceneFileCommandLine, OnlyASingleArgumentThatFitsNamesTheScene)
{
    std::string program = "talvo", one = "first.talvo", two = "second.talvo", empty;
    std::string longest(4095, 'L'), tooLong(4096, 'T');
    const struct {
        const char* what;
        std::vector<char*> argv;
        std::string expected;
    } cases[] = {
        {"no argument", {program.data(), nullptr}, "Default.talvo"},
        {"one argument", {program.data(), one.data(), nullptr}, one},
        {"two arguments", {program.data(), one.data(), two.data(), nullptr}, "Default.talvo"},
        {"4095 characters", {program.data(), longest.data(), nullptr}, longest},
        {"4096 characters", {program.data(), tooLong.data(), nullptr}, ""},
        {"empty", {program.data(), empty.data(), nullptr}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartProgram();
        std::vector<char*> argv = c.argv;
        ApplyCommandLine(static_cast<int>(argv.size() - 1), argv.data());
        EXPECT_EQ(std::string(SceneFileName), c.expected);
        EXPECT_EQ(HeadlessErrorCount(), c.expected.empty() ? 1 : 0);
    }
}

} // namespace

// The scene file: its byte layout, loading and the refusal of damaged files,
// the save safeguards, the drop and close handlers and the command line.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_routine.h"
#include "files/scene_file.h"
#include "framework/headless/headless.h"
#include "framework/messages.h"
#include "framework/palette_builder.h"
#include "framework/platform.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "sim/particles.h"
#include "test_support.h"
#include "ui/menu.h"
#include "ui/settings.h"

namespace {

constexpr size_t SixColourFieldAt = 52;
constexpr size_t SixColourGrainsAt = 135124;
constexpr size_t FullFieldAt = 1052;
constexpr size_t FullGrainsAt = 136124;

// A scene file put together byte by byte from the format, independent of the
// program's own writer.
struct SceneImage {
    std::string version = "V3.0";
    char marker = ' ';
    uint8_t settings = 0x21;
    int16_t width = 336;
    int16_t height = 402;
    int16_t count = 0;
    int16_t slot1 = 3;
    int16_t slot2 = 0;
    int16_t speed = 4;
    std::vector<uint32_t> palette;
    std::vector<uint8_t> field;
    std::vector<int32_t> grains;

    std::vector<uint8_t> Bytes() const
    {
        std::vector<uint8_t> out;
        auto text = [&](const std::string& s) { out.insert(out.end(), s.begin(), s.end()); };
        auto u16 = [&](int16_t v) {
            out.push_back(static_cast<uint8_t>(v & 0xFF));
            out.push_back(static_cast<uint8_t>((static_cast<uint16_t>(v) >> 8) & 0xFF));
        };
        auto u32 = [&](uint32_t v) {
            for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
        };
        text("TALVO  ");
        text(version);
        text(" ");
        out.push_back(static_cast<uint8_t>(marker));
        text("  ");
        out.push_back(settings);
        u16(width);
        u16(height);
        u16(count);
        u16(slot1);
        u16(slot2);
        u16(speed);
        for (uint32_t colour : palette) u32(colour);
        out.insert(out.end(), field.begin(), field.end());
        for (int32_t p : grains) u32(static_cast<uint32_t>(p));
        return out;
    }
};

bool IsFull(const SceneImage& image) { return image.marker == 'B'; }

// A six-colour scene that differs from the program's start state in every
// setting, every colour and nearly every cell.
SceneImage SixColourScene()
{
    SceneImage image;
    image.settings = 0x10; // "Thin" pen, "Normal" eraser
    image.slot1 = 4;
    image.slot2 = 2;
    image.speed = 2;
    image.palette = {0x102030, 0x405060, 0x708090, 0xA0B0C0, 0xD0E0F0, 0x0A0B0C};
    image.field.resize(FieldSize);
    for (int32_t i = 0; i < FieldSize; ++i) image.field[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 31 + 7);
    // Both ends of the allowed range (rows 1 to 400) and a spread between.
    image.grains = {336, 134735};
    for (int32_t i = 0; i < 98; ++i) image.grains.push_back(336 + i * 1367);
    image.count = static_cast<int16_t>(image.grains.size());
    return image;
}

SceneImage FullColourScene()
{
    SceneImage image = SixColourScene();
    image.marker = 'B';
    image.settings = 0x02;
    image.slot1 = 1;
    image.slot2 = 3;
    image.speed = 0;
    image.palette.resize(256);
    for (uint32_t j = 0; j < 256; ++j) image.palette[j] = (j * 0x010203u + 0x405060u) & 0xFFFFFFu;
    for (int32_t i = 0; i < FieldSize; ++i) image.field[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 13 + 1);
    return image;
}

const uint32_t MarkIds[] = {10, 20, 21, 22, 30, 31, 32, 40, 41, 42, 43, 44,
                            50, 51, 52, 53, 54, 60, 61, 62, 63, 64};

// Everything a load could touch.
struct Snapshot {
    int32_t drawing, pen, eraser;
    int16_t speed, slot1, slot2, count;
    std::vector<uint32_t> base, full;
    int32_t flag;
    std::vector<uint8_t> field;
    std::vector<int32_t> grains;
    std::vector<int32_t> marks;
    std::vector<uint8_t> surfaceColours;
    std::vector<uint32_t> drawColours;
    std::string name;
};

Snapshot Take()
{
    Snapshot s;
    s.drawing = DrawingEnabled;
    s.pen = PenSize;
    s.eraser = EraserSize;
    s.speed = Speed;
    s.slot1 = SlotKind1;
    s.slot2 = SlotKind2;
    s.count = ParticleCount;
    s.base.assign(BaseColours, BaseColours + BaseColourCount);
    s.full.assign(FullPalette, FullPalette + 256);
    s.flag = FullPaletteFlag;
    s.field.assign(Field, Field + FieldSize);
    s.grains.assign(ParticleList, ParticleList + ParticleCapacity);
    for (uint32_t id : MarkIds) s.marks.push_back(HeadlessMenuChecked(id));
    s.surfaceColours.assign(&SurfaceColours[0][0], &SurfaceColours[0][0] + 256 * 4);
    for (int32_t i = 0; i < 256; ++i) s.drawColours.push_back(PaletteColour(i));
    s.name = SceneFileName;
    return s;
}

void ExpectSame(const Snapshot& a, const Snapshot& b)
{
    EXPECT_EQ(a.drawing, b.drawing);
    EXPECT_EQ(a.pen, b.pen);
    EXPECT_EQ(a.eraser, b.eraser);
    EXPECT_EQ(a.speed, b.speed);
    EXPECT_EQ(a.slot1, b.slot1);
    EXPECT_EQ(a.slot2, b.slot2);
    EXPECT_EQ(a.count, b.count);
    EXPECT_EQ(a.base, b.base);
    EXPECT_TRUE(a.full == b.full) << "FullPalette changed";
    EXPECT_EQ(a.flag, b.flag);
    EXPECT_TRUE(a.field == b.field) << "Field changed";
    EXPECT_TRUE(a.grains == b.grains) << "ParticleList changed";
    EXPECT_EQ(a.marks, b.marks);
    EXPECT_TRUE(a.surfaceColours == b.surfaceColours) << "surface colour table changed";
    EXPECT_TRUE(a.drawColours == b.drawColours) << "palette in force changed";
    EXPECT_EQ(a.name, b.name);
}

// The program as the main routine leaves it before the load: default
// settings marked in the system menu, base palette in force, a new scene.
void StartWithNewScene()
{
    StartProgram();
    SetDefaultSettings();
    BuildSystemMenu();
    BuildBasePalette();
    NewScene();
}

// The marks of one setting group: exactly one, on base + value (none when
// the value has no item).
void ExpectGroupMark(uint32_t base, int32_t items, int32_t value)
{
    for (int32_t v = 0; v < items; ++v)
        EXPECT_EQ(HeadlessMenuChecked(base + static_cast<uint32_t>(v)), v == value ? 1 : 0) << "menu item " << base + v;
}

// The program state equals what the image carries.
void ExpectStateIs(const SceneImage& image)
{
    EXPECT_EQ(PenSize, image.settings & 15);
    EXPECT_EQ(EraserSize, image.settings >> 4);
    EXPECT_EQ(Speed, image.speed);
    EXPECT_EQ(SlotKind1, image.slot1);
    EXPECT_EQ(SlotKind2, image.slot2);
    EXPECT_EQ(FullPaletteFlag, IsFull(image) ? 1 : 0);
    ASSERT_EQ(ParticleCount, image.count);
    EXPECT_TRUE(std::equal(image.grains.begin(), image.grains.begin() + image.count, ParticleList))
        << "grain positions differ";
    EXPECT_EQ(0, std::memcmp(Field, image.field.data(), FieldSize)) << "field bytes differ";
    if (IsFull(image)) {
        EXPECT_TRUE(std::equal(image.palette.begin(), image.palette.end(), FullPalette));
    } else {
        EXPECT_TRUE(std::equal(image.palette.begin(), image.palette.end(), BaseColours));
    }
    // The palette in force: the surface's colour table and the drawing colours.
    for (size_t i = 0; i < image.palette.size(); ++i) {
        const uint32_t c = image.palette[i];
        EXPECT_EQ(SurfaceColours[i][0], (c >> 16) & 0xFF) << "entry " << i;
        EXPECT_EQ(SurfaceColours[i][1], (c >> 8) & 0xFF) << "entry " << i;
        EXPECT_EQ(SurfaceColours[i][2], c & 0xFF) << "entry " << i;
        EXPECT_EQ(PaletteColour(static_cast<int32_t>(i)), c | PaletteRelative) << "entry " << i;
    }
    ExpectGroupMark(20, 3, image.settings & 15);
    ExpectGroupMark(30, 3, image.settings >> 4);
    ExpectGroupMark(40, 5, image.speed);
    ExpectGroupMark(50, 5, image.slot1);
    ExpectGroupMark(60, 5, image.slot2);
}

// Puts an image's state in force without the loader, with matching marks
// and palette.
void SetStateTo(const SceneImage& image)
{
    MarkSettings(false);
    PenSize = image.settings & 15;
    EraserSize = image.settings >> 4;
    Speed = image.speed;
    SlotKind1 = image.slot1;
    SlotKind2 = image.slot2;
    MarkSettings(true);
    FullPaletteFlag = IsFull(image) ? 1 : 0;
    if (IsFull(image)) {
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
    for (const auto& entry : std::filesystem::directory_iterator("."))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Delivers a drop of one file through the message pump, as the platform would.
void DropFile(const std::string& path)
{
    HeadlessSchedule(HeadlessEvent{HeadlessFrame() + 1, HeadlessEvent::Drop, 0, 0, 0, path});
    PumpMessages();
}

// ---------------------------------------------------------------------------
// The layout of what SaveScene writes.

TEST(SceneFileSave, SixColourSceneLayoutByteForByte)
{
    TempDir dir;
    StartProgram();
    BuildSystemMenu();
    const SceneImage image = SixColourScene();
    SetStateTo(image);
    SaveScene();

    const std::vector<uint8_t> bytes = ReadFileBytes("Default.talvo");
    ASSERT_EQ(bytes.size(), 135124u + 4u * 100u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 15), "TALVO  V3.0    ");
    EXPECT_EQ(bytes[15], 0x10);
    // 336 = 0x0150, 402 = 0x0192, little-endian.
    EXPECT_EQ(bytes[16], 0x50);
    EXPECT_EQ(bytes[17], 0x01);
    EXPECT_EQ(bytes[18], 0x92);
    EXPECT_EQ(bytes[19], 0x01);
    EXPECT_EQ(bytes[20], 100);
    EXPECT_EQ(bytes[21], 0);
    EXPECT_EQ(bytes[22], 4);
    EXPECT_EQ(bytes[24], 2);
    EXPECT_EQ(bytes[26], 2);
    // Background colour 0x102030 is red 0x30, green 0x20, blue 0x10.
    EXPECT_EQ(bytes[28], 0x30);
    EXPECT_EQ(bytes[29], 0x20);
    EXPECT_EQ(bytes[30], 0x10);
    EXPECT_EQ(bytes[31], 0x00);
    EXPECT_EQ(bytes[SixColourFieldAt], image.field[0]);
    EXPECT_EQ(bytes[SixColourGrainsAt - 1], image.field[FieldSize - 1]);
    // Grain 1 is 134735 = 0x00020E4F.
    EXPECT_EQ(bytes[SixColourGrainsAt + 4], 0x4F);
    EXPECT_EQ(bytes[SixColourGrainsAt + 5], 0x0E);
    EXPECT_EQ(bytes[SixColourGrainsAt + 6], 0x02);
    EXPECT_EQ(bytes[SixColourGrainsAt + 7], 0x00);
    EXPECT_TRUE(bytes == image.Bytes()) << "file differs from the layout";
    EXPECT_FALSE(FileExists("~talvo.save"));
}

TEST(SceneFileSave, FullPaletteSceneLayoutByteForByte)
{
    TempDir dir;
    StartProgram();
    BuildSystemMenu();
    const SceneImage image = FullColourScene();
    SetStateTo(image);
    // The base colours are not part of a 256-colour file.
    BaseColours[2] = 0x123456;
    SaveScene();

    const std::vector<uint8_t> bytes = ReadFileBytes("Default.talvo");
    ASSERT_EQ(bytes.size(), 136124u + 4u * 100u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 15), "TALVO  V3.0 B  ");
    EXPECT_EQ(bytes[15], 0x02);
    EXPECT_EQ(bytes[FullFieldAt], image.field[0]);
    EXPECT_EQ(bytes[FullGrainsAt], 0x50); // 336
    EXPECT_EQ(bytes[FullGrainsAt + 1], 0x01);
    EXPECT_TRUE(bytes == image.Bytes()) << "file differs from the layout";
}

TEST(SceneFileSave, SettingsByteHoldsEraserHighAndPenLow)
{
    TempDir dir;
    StartProgram();
    BuildSystemMenu();
    NewScene();
    PenSize = 2; // Thick
    EraserSize = 0; // Small
    SaveScene();
    EXPECT_EQ(ReadFileBytes("Default.talvo").at(15), 0x02);
    PenSize = 0; // Thin
    EraserSize = 2; // Big
    SaveScene();
    EXPECT_EQ(ReadFileBytes("Default.talvo").at(15), 0x20);
}

TEST(SceneFileSave, NewSceneFileIs200588BytesWithStartSettings)
{
    TempDir dir;
    StartWithNewScene();
    SaveScene();
    const std::vector<uint8_t> bytes = ReadFileBytes("Default.talvo");
    ASSERT_EQ(bytes.size(), 200588u);
    EXPECT_EQ(bytes[12], ' ');
    EXPECT_EQ(bytes[15], 0x21); // Normal pen, Big eraser
    EXPECT_EQ(bytes[20] | bytes[21] << 8, 16366);
    EXPECT_EQ(bytes[22], 3);
    EXPECT_EQ(bytes[24], 0);
    EXPECT_EQ(bytes[26], 4);
    // The default colours, red first.
    const uint8_t colours[24] = {0,   0, 0,   0, 200, 160, 64,  0, 0,   240, 220, 0,
                                 0, 160, 200, 0, 255, 0,   0,   0, 160, 0,   0,   0};
    EXPECT_TRUE(std::equal(colours, colours + 24, bytes.begin() + 28));
    // First grain at (48, 6) = 2064 = 0x0810; the last at (1, 18) = 6049 = 0x17A1.
    EXPECT_EQ(bytes[SixColourGrainsAt], 0x10);
    EXPECT_EQ(bytes[SixColourGrainsAt + 1], 0x08);
    EXPECT_EQ(bytes[200584], 0xA1);
    EXPECT_EQ(bytes[200585], 0x17);
    // Gate line row 59 and the frame are walls, the reservoir empty.
    EXPECT_EQ(bytes[SixColourFieldAt + 59 * 336 + 100], 1);
    EXPECT_EQ(bytes[SixColourFieldAt + 30 * 336 + 100], 0);
}

TEST(SceneFileSave, EmptyGrainListGivesBareSize)
{
    TempDir dir;
    StartWithNewScene();
    ParticleCount = 0;
    SaveScene();
    EXPECT_EQ(ReadFileBytes("Default.talvo").size(), 135124u);
    FullPaletteFlag = 1;
    SaveScene();
    EXPECT_EQ(ReadFileBytes("Default.talvo").size(), 136124u);
}

// ---------------------------------------------------------------------------
// Loading.

TEST(SceneFileLoad, SixColourRoundTripRestoresEverything)
{
    TempDir dir;
    StartWithNewScene();
    const SceneImage image = SixColourScene();
    SetStateTo(image);
    SaveScene();

    // Scramble everything the file carries.
    StartWithNewScene();
    BaseColours[0] = 0xFFFFFF;
    BuildBasePalette();
    ASSERT_EQ(LoadScene(), 1);
    ExpectStateIs(image);
}

TEST(SceneFileLoad, FullPaletteRoundTripKeepsBaseColours)
{
    TempDir dir;
    StartWithNewScene();
    const SceneImage image = FullColourScene();
    SetStateTo(image);
    SaveScene();
    const std::vector<uint8_t> saved = ReadFileBytes("Default.talvo");

    StartWithNewScene();
    const uint32_t before[BaseColourCount] = {0x010101, 0x020202, 0x030303, 0x040404, 0x050505, 0x060606};
    std::copy(before, before + BaseColourCount, BaseColours);
    ASSERT_EQ(LoadScene(), 1);
    ExpectStateIs(image);
    EXPECT_TRUE(std::equal(before, before + BaseColourCount, BaseColours));

    // Saved again: the same "B" file with the same 256 entries.
    std::filesystem::remove("Default.talvo");
    SaveScene();
    EXPECT_TRUE(ReadFileBytes("Default.talvo") == saved);
}

TEST(SceneFileLoad, HandMadeFilesLoad)
{
    TempDir dir;
    struct Case {
        const char* what;
        SceneImage image;
    };
    std::vector<Case> cases;
    cases.push_back({"six colours", SixColourScene()});
    cases.push_back({"256 colours", FullColourScene()});
    {
        SceneImage image = SixColourScene();
        image.version = "V9.x";
        cases.push_back({"other version text", image});
    }
    {
        // Only "B" selects the 256-colour block.
        SceneImage image = SixColourScene();
        image.marker = 'b';
        cases.push_back({"lower-case marker", image});
    }
    {
        SceneImage image = SixColourScene();
        image.grains.clear();
        image.count = 0;
        cases.push_back({"no grains", image});
    }
    {
        SceneImage image = FullColourScene();
        image.grains.assign(16800, 134735);
        image.count = 16800;
        cases.push_back({"full grain list", image});
    }
    {
        SceneImage image = SixColourScene();
        image.settings = 0x22;
        image.speed = 9;
        image.slot1 = 0;
        image.slot2 = 4;
        cases.push_back({"largest settings", image});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartWithNewScene();
        WriteFileBytes("Default.talvo", c.image.Bytes());
        ASSERT_EQ(LoadScene(), 1);
        SceneImage expected = c.image;
        if (expected.marker != 'B') expected.marker = ' ';
        ExpectStateIs(expected);
    }
}

TEST(SceneFileLoad, OtherHeaderBytesAndTrailingBytesAreIgnored)
{
    TempDir dir;
    StartWithNewScene();
    const SceneImage image = SixColourScene();
    std::vector<uint8_t> bytes = image.Bytes();
    bytes[5] = 'x';
    bytes[6] = 0;
    bytes[11] = '#';
    bytes[13] = 0xFF;
    bytes[14] = 'z';
    bytes.insert(bytes.end(), 5000, 0xEE);
    WriteFileBytes("Default.talvo", bytes);
    ASSERT_EQ(LoadScene(), 1);
    ExpectStateIs(image);
}

TEST(SceneFileLoad, SpeedWithoutMenuItemMarksNoSpeed)
{
    TempDir dir;
    StartWithNewScene();
    SceneImage image = SixColourScene();
    image.speed = 7;
    WriteFileBytes("Default.talvo", image.Bytes());
    ASSERT_EQ(LoadScene(), 1);
    EXPECT_EQ(Speed, 7);
    ExpectGroupMark(40, 5, -1);
}

TEST(SceneFileLoad, DrawingSwitchIsNotCarried)
{
    TempDir dir;
    StartWithNewScene();
    DrawingEnabled = 0;
    WriteFileBytes("Default.talvo", SixColourScene().Bytes());
    ASSERT_EQ(LoadScene(), 1);
    EXPECT_EQ(DrawingEnabled, 0);
}

TEST(SceneFileLoad, ClearAfterFullPaletteLoadKeepsFullPalette)
{
    TempDir dir;
    StartWithNewScene();
    const SceneImage image = FullColourScene();
    WriteFileBytes("Default.talvo", image.Bytes());
    ASSERT_EQ(LoadScene(), 1);
    NewScene(); // no background image here
    EXPECT_EQ(FullPaletteFlag, 1);
    std::filesystem::remove("Default.talvo");
    SaveScene();
    const std::vector<uint8_t> bytes = ReadFileBytes("Default.talvo");
    ASSERT_EQ(bytes.size(), 136124u + 4u * 16366u);
    EXPECT_EQ(bytes[12], 'B');
    for (size_t j = 0; j < 256; ++j) {
        const uint32_t stored = bytes[28 + 4 * j] | bytes[29 + 4 * j] << 8 | bytes[30 + 4 * j] << 16;
        ASSERT_EQ(stored, image.palette[j]) << "entry " << j;
    }
}

TEST(SceneFileLoad, DamagedFilesAreRefusedWithNothingChanged)
{
    TempDir dir;
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    auto variant = [&](const char* what, SceneImage image) { cases.push_back({what, image.Bytes()}); };
    const SceneImage six = SixColourScene();
    const SceneImage full = FullColourScene();

    {
        std::vector<uint8_t> b = six.Bytes();
        b[4] = 'X';
        cases.push_back({"magic TALVX", b});
        b = six.Bytes();
        b[0] = 't';
        cases.push_back({"magic in lower case", b});
    }
    {
        SceneImage s = six;
        s.width = 335;
        variant("width 335", s);
        s = six;
        s.height = 403;
        variant("height 403", s);
        s = six;
        s.width = 402;
        s.height = 336;
        variant("width and height swapped", s);
    }
    {
        SceneImage s = six;
        s.count = -1;
        variant("count -1", s);
        s = six;
        s.grains.assign(16801, 5000);
        s.count = 16801;
        variant("count 16801", s);
        s = six;
        s.count = -32768;
        variant("count -32768", s);
    }
    {
        SceneImage s = six;
        s.grains[50] = 335;
        variant("grain in row 0", s);
        s = six;
        s.grains[99] = 134736;
        variant("grain in row 401", s);
        s = six;
        s.grains[0] = -1;
        variant("negative grain position", s);
        s = six;
        s.grains[10] = 2000000;
        variant("grain far outside", s);
    }
    {
        SceneImage s = six;
        s.slot1 = 5;
        variant("SlotKind1 5", s);
        s = six;
        s.slot1 = -1;
        variant("SlotKind1 -1", s);
        s = six;
        s.slot2 = 5;
        variant("SlotKind2 5", s);
        s = six;
        s.slot2 = -1;
        variant("SlotKind2 -1", s);
        s = six;
        s.speed = 10;
        variant("Speed 10", s);
        s = six;
        s.speed = -1;
        variant("Speed -1", s);
    }
    {
        SceneImage s = six;
        s.settings = 0x13;
        variant("pen nibble 3", s);
        s = six;
        s.settings = 0x31;
        variant("eraser nibble 3", s);
        s = six;
        s.settings = 0xFF;
        variant("settings byte 0xFF", s);
    }
    {
        std::vector<uint8_t> b = six.Bytes();
        b.pop_back();
        cases.push_back({"one byte short of the last grain", b});
        b = six.Bytes();
        b.resize(SixColourGrainsAt);
        cases.push_back({"grain block missing", b});
        b = six.Bytes();
        b.resize(SixColourFieldAt + 1000);
        cases.push_back({"field cut short", b});
        b = six.Bytes();
        b.resize(40);
        cases.push_back({"palette cut short", b});
        b = six.Bytes();
        b.resize(20);
        cases.push_back({"header cut short", b});
        b = full.Bytes();
        b.resize(b.size() - 2);
        cases.push_back({"256-colour file one word short", b});
        // A six-colour file's length is 1000 bytes short for the "B" block.
        b = six.Bytes();
        b[12] = 'B';
        cases.push_back({"marker B on a six-colour file", b});
    }
    {
        SceneImage s = SixColourScene();
        s.grains.clear();
        s.count = 0;
        std::vector<uint8_t> b = s.Bytes();
        b.pop_back();
        cases.push_back({"no grains, field one byte short", b});
    }
    cases.push_back({"empty file", {}});
    cases.push_back({"four bytes TALV", {'T', 'A', 'L', 'V'}});
    cases.push_back({"just the magic", {'T', 'A', 'L', 'V', 'O'}});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartWithNewScene();
        // A second palette build, so the colour table is not the start one.
        BaseColours[3] = 0x0F0E0D;
        BuildBasePalette();
        WriteFileBytes("Default.talvo", c.bytes);
        const Snapshot before = Take();
        EXPECT_EQ(LoadScene(), 0);
        ExpectSame(before, Take());
    }
}

TEST(SceneFileLoad, RefusalKeepsFullPaletteState)
{
    TempDir dir;
    StartWithNewScene();
    // The 256-colour palette in force; a damaged six-colour file must not
    // switch it back.
    WriteFileBytes("Default.talvo", FullColourScene().Bytes());
    ASSERT_EQ(LoadScene(), 1);
    SceneImage damaged = SixColourScene();
    damaged.speed = 12;
    WriteFileBytes("Default.talvo", damaged.Bytes());
    const Snapshot before = Take();
    EXPECT_EQ(LoadScene(), 0);
    ExpectSame(before, Take());
}

TEST(SceneFileLoad, MissingFileChangesNothing)
{
    TempDir dir;
    StartWithNewScene();
    SetName("absent.talvo");
    const Snapshot before = Take();
    EXPECT_EQ(LoadScene(), 0);
    ExpectSame(before, Take());
    EXPECT_FALSE(FileExists("absent.talvo"));
}

// ---------------------------------------------------------------------------
// Save safeguards.

TEST(SceneFileSave, NeverOverwritesAFileThatIsNotAScene)
{
    TempDir dir;
    StartWithNewScene();
    const std::vector<std::vector<uint8_t>> others = {
        {'m', 'y', ' ', 'n', 'o', 't', 'e', 's', '\n'},
        {'T', 'A', 'L'},
        {'T', 'A', 'L', 'V', 'X', 'X', 'X', 'X'},
        {0},
    };
    for (const auto& content : others) {
        SCOPED_TRACE(std::string(content.begin(), content.end()));
        WriteFileBytes("notes", content);
        SetName("notes");
        SaveScene();
        EXPECT_TRUE(ReadFileBytes("notes") == content);
        EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"notes"});
    }
}

TEST(SceneFileSave, ReplacesEmptyFilesAndOlderScenes)
{
    TempDir dir;
    StartWithNewScene();
    WriteFileBytes("empty.talvo", {});
    SetName("empty.talvo");
    SaveScene();
    EXPECT_EQ(ReadFileBytes("empty.talvo").size(), 200588u);

    // A file that begins with the magic is a scene and may be replaced,
    // whatever follows.
    WriteFileBytes("old.talvo", {'T', 'A', 'L', 'V', 'O', '!'});
    SetName("old.talvo");
    const SceneImage image = SixColourScene();
    SetStateTo(image);
    SaveScene();
    EXPECT_TRUE(ReadFileBytes("old.talvo") == image.Bytes());
    EXPECT_EQ(DirectoryEntries(), (std::vector<std::string>{"empty.talvo", "old.talvo"}));
}

TEST(SceneFileSave, MissingDirectoryLeavesNothing)
{
    TempDir dir;
    StartWithNewScene();
    SetName("no-such-dir/scene.talvo");
    SaveScene();
    EXPECT_TRUE(DirectoryEntries().empty());
}

TEST(SceneFileSave, FailedSaveKeepsThePreviousScene)
{
    TempDir dir;
    StartWithNewScene();
    const SceneImage first = SixColourScene();
    SetStateTo(first);
    SetName("x.talvo");
    SaveScene();
    ASSERT_TRUE(ReadFileBytes("x.talvo") == first.Bytes());
    SetStateTo(FullColourScene());

    // The side file cannot be created: the old scene stays.
    std::filesystem::create_directory("~talvo.save");
    WriteFileText("~talvo.save/keep", "keep");
    SaveScene();
    EXPECT_TRUE(ReadFileBytes("x.talvo") == first.Bytes());
    EXPECT_EQ(ReadFileBytes("~talvo.save/keep").size(), 4u);
    std::filesystem::remove_all("~talvo.save");

    // The write stops part-way (as on a full disk): the old scene stays and
    // no side file is left.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 100000;
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    SaveScene();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(ReadFileBytes("x.talvo") == first.Bytes());
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"x.talvo"});
}

TEST(SceneFileSave, TargetThatCannotBeReplacedIsLeftAlone)
{
    TempDir dir;
    StartWithNewScene();
    std::filesystem::create_directory("scene.talvo");
    WriteFileText("scene.talvo/inside", "inside");
    SetName("scene.talvo");
    SaveScene();
    EXPECT_TRUE(std::filesystem::is_directory("scene.talvo"));
    EXPECT_EQ(ReadFileBytes("scene.talvo/inside").size(), 6u);
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"scene.talvo"});
}

// The scene file name holds up to 255 characters, and the file system takes
// names that long: such a scene must still be written.
TEST(SceneFileSave, LongestFileNamesCanBeSaved)
{
    TempDir dir;
    StartWithNewScene();
    for (size_t length : {240u, 250u, 255u}) {
        SCOPED_TRACE(length);
        const std::string name(length, 'n');
        SetName(name);
        SaveScene();
        EXPECT_EQ(ReadFileBytes(name).size(), 200588u);
    }
}

// The side file of a save lies in the target's own folder.
TEST(SceneFileSave, ScenesInOtherFoldersAreSavedThere)
{
    TempDir dir;
    StartWithNewScene();
    std::filesystem::create_directory("sub");
    SetName("sub/x.talvo");
    SaveScene();
    EXPECT_EQ(ReadFileBytes("sub/x.talvo").size(), 200588u);
    EXPECT_FALSE(FileExists("sub/~talvo.save"));
    EXPECT_FALSE(FileExists("~talvo.save"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator()), 1);
}

// ---------------------------------------------------------------------------
// File drop and close.

class SceneFileHandlers : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartWithNewScene();
        AddHandler(WM_DROPFILES, OnDropFiles);
        AddHandler(WM_CLOSE, OnClose);
        // The current scene: distinct from both the new scene and the ones
        // dropped below.
        current_ = SixColourScene();
        current_.speed = 3;
        SetStateTo(current_);
        dropped_ = FullColourScene();
    }

    TempDir dir_;
    SceneImage current_;
    SceneImage dropped_;
};

TEST_F(SceneFileHandlers, DropSavesFirstThenLoadsAndTakesTheName)
{
    WriteFileBytes("other.talvo", dropped_.Bytes());
    DropFile("other.talvo");
    EXPECT_TRUE(ReadFileBytes("Default.talvo") == current_.Bytes()) << "current scene not saved first";
    ExpectStateIs(dropped_);
    EXPECT_STREQ(SceneFileName, "other.talvo");

    // Later saves go to the dropped file.
    const SceneImage changed = SixColourScene();
    SetStateTo(changed);
    DialogBrush = PlatformCreateButtonFaceBrush();
    OnClose(MainWindow, WM_CLOSE, 0, 0);
    EXPECT_TRUE(ReadFileBytes("other.talvo") == changed.Bytes());
    EXPECT_TRUE(ReadFileBytes("Default.talvo") == current_.Bytes());
}

TEST_F(SceneFileHandlers, DropOfSomethingElseKeepsSceneAndName)
{
    const std::vector<uint8_t> notes = {'n', 'o', 't', 'e', 's', '\n'};
    WriteFileBytes("notes.txt", notes);
    SceneImage damaged = dropped_;
    damaged.slot2 = 9;
    WriteFileBytes("damaged.talvo", damaged.Bytes());
    for (const char* name : {"notes.txt", "damaged.talvo", "absent.talvo"}) {
        SCOPED_TRACE(name);
        std::filesystem::remove("Default.talvo");
        const Snapshot before = Take();
        DropFile(name);
        EXPECT_TRUE(ReadFileBytes("Default.talvo") == current_.Bytes()) << "current scene not saved first";
        ExpectSame(before, Take());
    }
    EXPECT_TRUE(ReadFileBytes("notes.txt") == notes);
    EXPECT_FALSE(FileExists("absent.talvo"));

    // The next save goes to the old name.
    std::filesystem::remove("Default.talvo");
    SaveScene();
    EXPECT_TRUE(FileExists("Default.talvo"));
}

TEST_F(SceneFileHandlers, DropWithoutFileNameOnlySaves)
{
    const Snapshot before = Take();
    PlatformPostMessage(WM_DROPFILES, 0, 0);
    PumpMessages();
    EXPECT_TRUE(ReadFileBytes("Default.talvo") == current_.Bytes());
    ExpectSame(before, Take());
}

TEST_F(SceneFileHandlers, DroppingTheCurrentFileGoesOnUnchanged)
{
    SetName("mine.talvo");
    WriteFileBytes("mine.talvo", dropped_.Bytes());
    const Snapshot before = Take();
    DropFile("mine.talvo");
    // Written first, so what comes back is the current scene itself.
    EXPECT_TRUE(ReadFileBytes("mine.talvo") == current_.Bytes());
    ExpectSame(before, Take());
    ExpectStateIs(current_);
}

TEST_F(SceneFileHandlers, DroppedNameMustFitTheBuffer)
{
    // 254 characters fit beside the terminating zero; 255 do not, and the
    // name cut to 254 must not be read instead.
    const std::string fits(254, 'f');
    const std::string tooLong(255, 'g');
    const std::string cut(254, 'g');
    WriteFileBytes(tooLong, dropped_.Bytes());
    WriteFileBytes(cut, dropped_.Bytes());
    const Snapshot before = Take();
    DropFile(tooLong);
    EXPECT_TRUE(ReadFileBytes("Default.talvo") == current_.Bytes()) << "current scene not saved first";
    ExpectSame(before, Take());

    WriteFileBytes(fits, dropped_.Bytes());
    DropFile(fits);
    ExpectStateIs(dropped_);
    EXPECT_EQ(std::string(SceneFileName), fits);
}

TEST_F(SceneFileHandlers, CloseSavesDestroysWindowAndDeletesBrush)
{
    DialogBrush = PlatformCreateButtonFaceBrush();
    ASSERT_EQ(HeadlessLiveBrushes(), 1);
    ASSERT_TRUE(HeadlessWindowExists());
    EXPECT_EQ(OnClose(MainWindow, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(ReadFileBytes("Default.talvo") == current_.Bytes());
    EXPECT_FALSE(HeadlessWindowExists());
    EXPECT_EQ(HeadlessLiveBrushes(), 0);
}

TEST_F(SceneFileHandlers, CloseEndsEvenWhenTheSaveFails)
{
    SetName("no-such-dir/x.talvo");
    DialogBrush = PlatformCreateButtonFaceBrush();
    EXPECT_EQ(OnClose(MainWindow, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(HeadlessWindowExists());
    EXPECT_EQ(HeadlessLiveBrushes(), 0);
    EXPECT_TRUE(DirectoryEntries().empty());
}

// ---------------------------------------------------------------------------
// The command line.

TEST(SceneFileCommandLine, OnlyASingleArgumentThatFitsNamesTheScene)
{
    std::string program = "talvo";
    std::string one = "first.talvo";
    std::string two = "second.talvo";
    std::string longest(255, 'L');
    std::string tooLong(256, 'T');
    std::string wayTooLong(1000, 'W');
    struct Case {
        const char* what;
        std::vector<char*> argv;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"no argument", {program.data(), nullptr}, "Default.talvo"},
        {"one argument", {program.data(), one.data(), nullptr}, one},
        {"two arguments", {program.data(), one.data(), two.data(), nullptr}, "Default.talvo"},
        {"255 characters", {program.data(), longest.data(), nullptr}, longest},
        {"256 characters", {program.data(), tooLong.data(), nullptr}, "Default.talvo"},
        {"1000 characters", {program.data(), wayTooLong.data(), nullptr}, "Default.talvo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartProgram();
        std::vector<char*> argv = c.argv;
        ApplyCommandLine(static_cast<int>(argv.size() - 1), argv.data());
        EXPECT_EQ(std::string(SceneFileName), c.expected);
    }
}

} // namespace

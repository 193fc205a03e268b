#include "files/scene_file.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "files/scene_save.h"
#include "framework/file_system.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "sim/particles.h"
#include "sim/scene.h"

char (&SceneFileName)[SceneFileNameSize] = LiveScene.name;
char (&DamagedScene)[SceneFileNameSize] = LiveScene.damaged;
static_assert(sizeof LiveScene.name == SceneFileNameSize);

static const char HeaderTemplate[] = "TALVO  V3.0     ";
static const int32_t MarkerOffset = 12;

namespace {

struct SceneBytes {
    // One whole file, read or written in one piece; reserved with the program.
    uint8_t SceneBuffer[SceneMaxSize];
    size_t ReadLength = 0;
};

SceneBytes Bytes;

} // namespace

static void PutInt16(uint8_t* at, int32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

static int16_t GetInt16(const uint8_t* at)
{
    return static_cast<int16_t>(at[0] | (at[1] << 8));
}

static int32_t GetInt32(const uint8_t* at)
{
    return static_cast<int32_t>(at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24));
}

static void PutInt32(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

// Builds the file image in SceneBuffer; returns its length.
static int32_t EncodeScene()
{
    const Scene& scene = *SceneInHand;
    const SceneSettings& settings = scene.settings;
    uint8_t* out = Bytes.SceneBuffer;
    std::memcpy(out, HeaderTemplate, 15);
    if (scene.fullPaletteFlag) out[MarkerOffset] = 'B';
    out[15] = static_cast<uint8_t>(settings.eraserSize * 16 + settings.penSize);
    PutInt16(out + 16, FieldWidth);
    PutInt16(out + 18, FieldHeight);
    PutInt16(out + 20, scene.grainCount);
    PutInt16(out + 22, settings.slotKind1);
    PutInt16(out + 24, settings.slotKind2);
    PutInt16(out + 26, settings.speed);
    int32_t at = SceneHeaderSize;
    if (scene.fullPaletteFlag) {
        for (int32_t i = 0; i < 256; ++i, at += 4) PutInt32(out + at, scene.fullPalette[i]);
    } else {
        for (int32_t i = 0; i < BaseColourCount; ++i, at += 4) PutInt32(out + at, scene.baseColours[i]);
    }
    std::memcpy(out + at, scene.field, FieldSize);
    at += FieldSize;
    const int32_t count = scene.grainCount > 0 ? scene.grainCount : 0;
    for (int32_t i = 0; i < count; ++i, at += 4) PutInt32(out + at, static_cast<uint32_t>(scene.grains[i]));
    return at;
}

const uint8_t* EncodedScene(size_t* size)
{
    *size = static_cast<size_t>(EncodeScene());
    return Bytes.SceneBuffer;
}

int32_t SaveScene()
{
    const int32_t length = EncodeScene();
    const bool keepOld = DamagedScene[0] && std::strcmp(DamagedScene, SceneFileName) == 0;
    const int32_t saved = StoreScene(SceneFileName, Bytes.SceneBuffer, static_cast<size_t>(length), keepOld);
    if (saved && keepOld) DamagedScene[0] = 0;
    return saved;
}

// Every scene written has its frame of walls, and the particle step relies on
// it to keep grains (and the cells it reads around them) inside the field.
static bool FrameIntact(const uint8_t* field)
{
    for (int32_t x = 0; x < FieldWidth; ++x)
        if ((field[x] & KindMask) != CellWall || (field[FieldSize - FieldWidth + x] & KindMask) != CellWall)
            return false;
    for (int32_t y = 0; y < FieldHeight; ++y)
        if ((field[FieldPos(0, y)] & KindMask) != CellWall || (field[FieldPos(FieldWidth - 1, y)] & KindMask) != CellWall)
            return false;
    return true;
}

// Where the field begins: after the header and its palette, six colours or
// the full 256.
static size_t FieldOffset(const uint8_t* in)
{
    return SceneHeaderSize + (in[MarkerOffset] == 'B' ? 4 * 256 : 4 * BaseColourCount);
}

// Every limit of the format, checked before anything changes.
static bool SceneAcceptable(const uint8_t* in, size_t length)
{
    if (length < SceneHeaderSize) return false;
    const int32_t pen = in[15] & 15;
    const int32_t eraser = in[15] >> 4;
    const int32_t count = GetInt16(in + 20);
    const int16_t slot1 = GetInt16(in + 22);
    const int16_t slot2 = GetInt16(in + 24);
    const int16_t speed = GetInt16(in + 26);
    if (GetInt16(in + 16) != FieldWidth || GetInt16(in + 18) != FieldHeight) return false;
    if (count < 0 || count > ParticleCapacity) return false;
    if (slot1 < 0 || slot1 > 4 || slot2 < 0 || slot2 > 4 || speed < 0 || speed > 9) return false;
    if (pen > 2 || eraser > 2) return false;
    const size_t fieldAt = FieldOffset(in);
    const size_t grainsAt = fieldAt + FieldSize;
    if (length < grainsAt + 4 * static_cast<size_t>(count)) return false;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t position = GetInt32(in + grainsAt + 4 * i);
        if (position < FieldWidth || position >= FieldSize - FieldWidth) return false;
    }
    return FrameIntact(in + fieldAt);
}

int32_t ReadScene(const char* name)
{
    int64_t length = 0;
    std::FILE* file = FileOpenRegular(name, "rb", &length);
    if (!file) return 0;
    // A file longer than the largest scene is none, whatever it begins
    // with, and only its magic is read.
    const bool fits = length <= SceneMaxSize;
    Bytes.ReadLength = std::fread(Bytes.SceneBuffer, 1, fits ? sizeof Bytes.SceneBuffer : 5, file);
    std::fclose(file);
    const uint8_t* in = Bytes.SceneBuffer;
    if (Bytes.ReadLength < 5 || std::memcmp(in, "TALVO", 5) != 0) return 0;
    // A scene that cannot be used is still the user's: kept aside at the
    // first save under its name.
    if (name != DamagedScene) std::snprintf(DamagedScene, sizeof DamagedScene, "%s", name);
    if (!fits || !SceneAcceptable(in, Bytes.ReadLength)) return 0;
    DamagedScene[0] = 0;
    return 1;
}

int32_t AcceptSceneBytes(const uint8_t* bytes, size_t size)
{
    if (size > sizeof Bytes.SceneBuffer || size < 5 || std::memcmp(bytes, "TALVO", 5) != 0) return 0;
    if (!SceneAcceptable(bytes, size)) return 0;
    if (bytes != Bytes.SceneBuffer) std::memcpy(Bytes.SceneBuffer, bytes, size);
    Bytes.ReadLength = size;
    return 1;
}

void UseReadScene(const char* name)
{
    Scene& scene = *SceneInHand;
    SceneSettings& settings = scene.settings;
    const uint8_t* in = Bytes.SceneBuffer;
    if (name != scene.name) std::snprintf(scene.name, sizeof scene.name, "%s", name);
    const bool full = in[MarkerOffset] == 'B';
    const int32_t count = GetInt16(in + 20);
    const size_t paletteAt = SceneHeaderSize;
    const size_t fieldAt = FieldOffset(in);
    const size_t grainsAt = fieldAt + FieldSize;

    scene.fullPaletteFlag = full ? 1 : 0;
    scene.grainCount = static_cast<int16_t>(count);
    settings.slotKind1 = GetInt16(in + 22);
    settings.slotKind2 = GetInt16(in + 24);
    settings.speed = GetInt16(in + 26);
    if (full) {
        for (int32_t i = 0; i < 256; ++i) scene.fullPalette[i] = static_cast<uint32_t>(GetInt32(in + paletteAt + 4 * i));
    } else {
        for (int32_t i = 0; i < BaseColourCount; ++i)
            scene.baseColours[i] = static_cast<uint32_t>(GetInt32(in + paletteAt + 4 * i));
    }
    std::memcpy(scene.field, in + fieldAt, FieldSize);
    for (int32_t i = 0; i < count; ++i) scene.grains[i] = GetInt32(in + grainsAt + 4 * i);
    settings.penSize = in[15] & 15;
    settings.eraserSize = in[15] >> 4;
    if (full)
        InstallPalette(scene.fullPalette, 256);
    else
        BuildBasePalette();
}

void SceneFileReset()
{
    std::snprintf(SceneFileName, sizeof SceneFileName, "%s", "Default.talvo");
    DamagedScene[0] = 0;
}

static const char SaveCaption[] = "Talvo";

// The scene's own name without its folder, for a file the user places.
static std::string OfferedName()
{
    const std::string name = SceneFileName;
    const size_t slash = name.find_last_of("/\\");
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    return base.empty() ? "Scene.talvo" : base;
}

int32_t SaveSceneOrOffer(bool sessionEnds)
{
    if (SaveScene()) return 1;
    if (sessionEnds) {
        ShowLine(StoreFailure(), SaveCaption);
        NoteBesideRescue();
        if (!StoreRescued()) SetExitStatus(1);
        return 0;
    }
    if (StoreRescued()) {
        ShowError(StoreFailure(), SaveCaption);
        return 0;
    }
    // Kept nowhere: before it is given up, the user says where it goes.
    ShowError(StoreFailureToOffer(), SaveCaption);
    size_t size = 0;
    const uint8_t* encoded = EncodedScene(&size);
    const std::vector<uint8_t> bytes(encoded, encoded + size);
    // A place that fails too is told, and another asked for.
    int32_t saved = -1;
    for (int tries = 0; tries < 3 && saved < 0; ++tries)
        saved = OfferFile(OfferedName().c_str(), "application/x-talvo-scene", bytes.data(), bytes.size());
    if (saved <= 0) {
        ShowLine("the scene was not saved anywhere, so it is lost.", SaveCaption);
        SetExitStatus(1);
    }
    return 0;
}

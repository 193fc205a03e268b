#include "app/session_state.h"

#include <cstring>

#include "app/main_routine.h"
#include "app/standard_random.h"
#include "files/scene_file.h"
#include "framework/palette_builder.h"
#include "sim/palette.h"
#include "sim/particles.h"
#include "ui/menu.h"
#include "ui/pen.h"
#include "ui/settings.h"

namespace {

constexpr char Tag[4] = {'T', 'S', 'S', '1'};

void Put32(std::vector<uint8_t>* out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutBytes(std::vector<uint8_t>* out, const void* bytes, size_t size)
{
    Put32(out, static_cast<uint32_t>(size));
    const uint8_t* b = static_cast<const uint8_t*>(bytes);
    out->insert(out->end(), b, b + size);
}

// Reads forward through captured bytes; every take fails past the end.
struct Reader {
    const uint8_t* at;
    const uint8_t* end;
    bool ok = true;
    uint32_t Take32()
    {
        if (end - at < 4) {
            ok = false;
            return 0;
        }
        const uint32_t v = at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
        at += 4;
        return v;
    }
    const uint8_t* TakeBytes(size_t* size)
    {
        *size = Take32();
        if (!ok || static_cast<size_t>(end - at) < *size) {
            ok = false;
            return nullptr;
        }
        const uint8_t* bytes = at;
        at += *size;
        return bytes;
    }
};

} // namespace

void CaptureSessionState(std::vector<uint8_t>* out)
{
    out->insert(out->end(), Tag, Tag + 4);
    size_t sceneSize = 0;
    const uint8_t* scene = EncodedScene(&sceneSize);
    PutBytes(out, scene, sceneSize);
    for (uint32_t colour : BaseColours) Put32(out, colour);
    for (uint32_t colour : FullPalette) Put32(out, colour);
    PutBytes(out, ColourTable, sizeof ColourTable);
    Put32(out, static_cast<uint32_t>(PaletteEntryCount));
    PutBytes(out, SurfaceColours, SurfaceColours ? sizeof ColourTable : 0);
    for (uint32_t v : {StepRandom.s1, StepRandom.s2, StandardRandomState(), static_cast<uint32_t>(PourCounter),
                       static_cast<uint32_t>(GateCountdown), static_cast<uint32_t>(DrawingEnabled),
                       static_cast<uint32_t>(ToolState), static_cast<uint32_t>(LastPoint.x),
                       static_cast<uint32_t>(LastPoint.y)})
        Put32(out, v);
    PutBytes(out, SceneFileName, std::strlen(SceneFileName));
    PutBytes(out, DamagedScene, std::strlen(DamagedScene));
    // Last, so that a state kept before strokes had shapes still reads.
    int32_t shape[PenStrokeValues];
    PenStrokeShape(shape);
    for (int32_t v : shape) Put32(out, static_cast<uint32_t>(v));
}

bool RestoreSessionState(const uint8_t* bytes, size_t size)
{
    if (size < 4 || std::memcmp(bytes, Tag, 4) != 0) return false;
    Reader in{bytes + 4, bytes + size};
    size_t sceneSize = 0, tableSize = 0, surfaceSize = 0, nameSize = 0, damagedSize = 0;
    const uint8_t* scene = in.TakeBytes(&sceneSize);
    uint32_t base[BaseColourCount], full[256];
    for (uint32_t& colour : base) colour = in.Take32();
    for (uint32_t& colour : full) colour = in.Take32();
    const uint8_t* table = in.TakeBytes(&tableSize);
    const int32_t entries = static_cast<int32_t>(in.Take32());
    const uint8_t* surface = in.TakeBytes(&surfaceSize);
    uint32_t v[9];
    for (uint32_t& value : v) value = in.Take32();
    const uint8_t* name = in.TakeBytes(&nameSize);
    const uint8_t* damaged = in.TakeBytes(&damagedSize);
    int32_t shape[PenStrokeValues] = {ShapeFree, 0, 0, 0, 0, 0};
    if (in.ok && in.at != in.end)
        for (int32_t& value : shape) value = static_cast<int32_t>(in.Take32());
    if (!in.ok || in.at != in.end || shape[0] < ShapeFree || shape[0] > ShapeFilledBox || shape[5] < 0 || shape[5] > 1 || tableSize != sizeof ColourTable || (surfaceSize && surfaceSize != tableSize) ||
        entries < 0 || entries > 256 || v[3] > 1760 || v[4] > 7 || v[5] > 1 || v[6] > ToolEraser ||
        nameSize >= SceneFileNameSize || damagedSize >= SceneFileNameSize || !AcceptSceneBytes(scene, sceneSize))
        return false;

    MarkSettings(false);
    std::memcpy(BaseColours, base, sizeof base);
    std::memcpy(FullPalette, full, sizeof full);
    char sceneName[SceneFileNameSize];
    std::memcpy(sceneName, name, nameSize);
    sceneName[nameSize] = 0;
    // Settings, palette in force, field and grains, as a load puts them.
    UseReadScene(sceneName);
    std::memcpy(DamagedScene, damaged, damagedSize);
    DamagedScene[damagedSize] = 0;
    // The tables as they stood, entries past the palette in force included:
    // drawing in an index beyond it takes what they hold.
    std::memcpy(ColourTable, table, sizeof ColourTable);
    PaletteEntryCount = entries;
    if (surfaceSize && SurfaceColours) std::memcpy(SurfaceColours, surface, surfaceSize);
    StepRandom = {v[0], v[1]};
    SeedStandardRandom(v[2]);
    PourCounter = static_cast<int32_t>(v[3]);
    GateCountdown = static_cast<int32_t>(v[4]);
    DrawingEnabled = static_cast<int32_t>(v[5]);
    ToolState = static_cast<int32_t>(v[6]);
    LastPoint = {static_cast<int32_t>(v[7]), static_cast<int32_t>(v[8])};
    SetPenStrokeShape(shape);
    MarkSettings(true);
    MarkDrawingOn();
    return true;
}

#include "app/scene_bytes.h"

#include <cstring>

#include "files/scene_file.h"
#include "framework/palette_builder.h"
#include "ui/menu.h"
#include "ui/pen.h"

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

void SceneToBytes(Scene& scene, std::vector<uint8_t>* out)
{
    const HoldScene hold(&scene);
    out->insert(out->end(), Tag, Tag + 4);
    size_t sceneSize = 0;
    const uint8_t* encoded = EncodedScene(&sceneSize);
    PutBytes(out, encoded, sceneSize);
    for (uint32_t colour : scene.baseColours) Put32(out, colour);
    for (uint32_t colour : scene.fullPalette) Put32(out, colour);
    const PaletteTables& palette = ScenePalette(scene);
    PutBytes(out, palette.table, sizeof palette.table);
    Put32(out, static_cast<uint32_t>(palette.entryCount));
    uint8_t(*colours)[4] = SceneColours(scene);
    PutBytes(out, colours, colours ? sizeof palette.table : 0);
    const PenStroke& stroke = scene.stroke;
    for (uint32_t v : {scene.stepRandom.s1, scene.stepRandom.s2, scene.pour.standardRandom,
                       static_cast<uint32_t>(scene.pour.counter), static_cast<uint32_t>(scene.pour.countdown),
                       static_cast<uint32_t>(scene.settings.drawingEnabled), static_cast<uint32_t>(stroke.tool),
                       static_cast<uint32_t>(stroke.last.x), static_cast<uint32_t>(stroke.last.y)})
        Put32(out, v);
    PutBytes(out, scene.name, std::strlen(scene.name));
    PutBytes(out, scene.damaged, std::strlen(scene.damaged));
    // Last, so that a state kept before strokes had shapes still reads.
    for (int32_t v : {stroke.shape, stroke.anchor.x, stroke.anchor.y, stroke.end.x, stroke.end.y,
                      static_cast<int32_t>(stroke.byKeyboard)})
        Put32(out, static_cast<uint32_t>(v));
}

bool SceneFromBytes(const uint8_t* bytes, size_t size, Scene* into)
{
    if (size < 4 || std::memcmp(bytes, Tag, 4) != 0) return false;
    Reader in{bytes + 4, bytes + size};
    size_t sceneSize = 0, tableSize = 0, surfaceSize = 0, nameSize = 0, damagedSize = 0;
    const uint8_t* encoded = in.TakeBytes(&sceneSize);
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
    int32_t shape[6] = {ShapeFree, 0, 0, 0, 0, 0};
    if (in.ok && in.at != in.end)
        for (int32_t& value : shape) value = static_cast<int32_t>(in.Take32());
    if (!in.ok || in.at != in.end || shape[0] < ShapeFree || shape[0] > ShapeFilledBox || shape[5] < 0 || shape[5] > 1 ||
        tableSize != sizeof PaletteTables::table || (surfaceSize && surfaceSize != tableSize) || entries < 0 ||
        entries > 256 || v[3] > 1760 || v[4] > 7 || v[5] > 1 || v[6] > ToolEraser || nameSize >= SceneFileNameSize ||
        damagedSize >= SceneFileNameSize || !AcceptSceneBytes(encoded, sceneSize))
        return false;

    const bool live = into == &LiveScene;
    if (live) MarkSettings(false);
    const HoldScene hold(into);
    std::memcpy(into->baseColours, base, sizeof base);
    std::memcpy(into->fullPalette, full, sizeof full);
    char sceneName[SceneFileNameSize];
    std::memcpy(sceneName, name, nameSize);
    sceneName[nameSize] = 0;
    // Settings, palette in force, field and grains, as a load puts them.
    UseReadScene(sceneName);
    std::memcpy(into->damaged, damaged, damagedSize);
    into->damaged[damagedSize] = 0;
    // The tables as they stood, entries past the palette in force included:
    // drawing in an index beyond it takes what they hold.
    PaletteTables& palette = ScenePalette(*into);
    std::memcpy(palette.table, table, sizeof palette.table);
    palette.entryCount = entries;
    uint8_t(*colours)[4] = SceneColours(*into);
    if (surfaceSize && colours) std::memcpy(colours, surface, surfaceSize);
    into->stepRandom = {v[0], v[1]};
    into->pour = {static_cast<int32_t>(v[3]), static_cast<int32_t>(v[4]), v[2]};
    into->settings.drawingEnabled = static_cast<int32_t>(v[5]);
    PenStroke& stroke = into->stroke;
    stroke.tool = static_cast<int32_t>(v[6]);
    stroke.last = {static_cast<int32_t>(v[7]), static_cast<int32_t>(v[8])};
    stroke.shape = shape[0];
    stroke.anchor = {shape[1], shape[2]};
    stroke.end = {shape[3], shape[4]};
    stroke.byKeyboard = shape[5] != 0;
    if (live) {
        MarkSettings(true);
        MarkDrawingOn();
    }
    return true;
}

void PutSceneInForce(Scene& scene)
{
    MarkSettings(false);
    CopyScene(scene, &LiveScene);
    PaletteShowAgain();
    MarkSettings(true);
    MarkDrawingOn();
}

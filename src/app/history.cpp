#include "app/history.h"

#include <cstring>
#include <deque>
#include <vector>

#include "app/replay.h"
#include "codecs/lz_pack.h"
#include "framework/palette_builder.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "sim/particles.h"
#include "ui/keys.h"
#include "ui/pen.h"

namespace {

// The most the history may take; the oldest steps go first.
constexpr size_t Budget = 8u << 20;

struct Picture {
    // Field, grain count and list, both palettes and the flag, the colour
    // tables and the count of entries in force, as one block.
    std::vector<uint8_t> packed;
    size_t size = 0;
};

// The history's state, all of it.
struct HistoryState {
    std::deque<Picture> Undos;
    std::vector<Picture> Redos;
    size_t Bytes = 0;
    // Undo steps dropped for the budget, and whether the player heard of it.
    bool Forgot = false, ToldForgot = false;
    // What the window's buttons were last told (-1: nothing yet).
    int Offered = -1;
};

HistoryState H;

void Offer()
{
    const int now = (H.Undos.empty() ? 0 : 1) | (H.Redos.empty() ? 0 : 2);
    if (now == H.Offered) return;
    EnableKeyButton(CharUndo, (now & 1) != 0);
    EnableKeyButton(CharRedo, (now & 2) != 0);
    H.Offered = now;
}

// The block's layout, with the surface's colour table at its end.
size_t BlockSize(int32_t count)
{
    return FieldSize + 4 + 4 * static_cast<size_t>(count) + sizeof BaseColours + sizeof FullPalette + 4 +
           sizeof ColourTable + 4 + sizeof ColourTable;
}

Picture Take()
{
    const int32_t count = ParticleCount > 0 ? ParticleCount : 0;
    std::vector<uint8_t> block(BlockSize(count));
    uint8_t* at = block.data();
    auto put = [&at](const void* from, size_t size) {
        std::memcpy(at, from, size);
        at += size;
    };
    put(Field, FieldSize);
    put(&count, 4);
    put(ParticleList, 4 * static_cast<size_t>(count));
    put(BaseColours, sizeof BaseColours);
    put(FullPalette, sizeof FullPalette);
    put(&FullPaletteFlag, 4);
    put(ColourTable, sizeof ColourTable);
    put(&PaletteEntryCount, 4);
    if (SurfaceColours) put(SurfaceColours, sizeof ColourTable);
    Picture picture;
    picture.size = block.size();
    LzPack(block.data(), block.size(), &picture.packed);
    picture.packed.shrink_to_fit();
    return picture;
}

void Put(const Picture& picture)
{
    std::vector<uint8_t> block(picture.size);
    if (!LzUnpack(picture.packed.data(), picture.packed.size(), block.data(), block.size())) return;
    const uint8_t* at = block.data();
    auto get = [&at](void* to, size_t size) {
        std::memcpy(to, at, size);
        at += size;
    };
    get(Field, FieldSize);
    int32_t count = 0;
    get(&count, 4);
    ParticleCount = static_cast<int16_t>(count);
    get(ParticleList, 4 * static_cast<size_t>(count));
    get(BaseColours, sizeof BaseColours);
    get(FullPalette, sizeof FullPalette);
    get(&FullPaletteFlag, 4);
    uint8_t table[256][4];
    get(table, sizeof table);
    int32_t entries = 0;
    get(&entries, 4);
    // The palette comes back into force as it was, and with it every entry
    // the tables held past it.
    PaletteBegin();
    for (int32_t i = 0; i < entries; ++i) PaletteAddRGB(table[i][2], table[i][1], table[i][0]);
    PaletteRealize();
    std::memcpy(ColourTable, table, sizeof table);
    if (SurfaceColours) get(SurfaceColours, sizeof ColourTable);
}

void Forget(std::vector<Picture>& steps)
{
    for (const Picture& step : steps) H.Bytes -= step.packed.size();
    steps.clear();
}

// Within the budget, dropping the oldest undo steps (and, past them, what
// could be redone) first.
void Keep(Picture picture, bool toUndo)
{
    H.Bytes += picture.packed.size();
    if (toUndo)
        H.Undos.push_back(std::move(picture));
    else
        H.Redos.push_back(std::move(picture));
    while (H.Bytes > Budget && !H.Undos.empty()) {
        H.Bytes -= H.Undos.front().packed.size();
        H.Undos.pop_front();
        H.Forgot = true;
    }
    while (H.Bytes > Budget && H.Redos.size() > 1) {
        H.Bytes -= H.Redos.front().packed.size();
        H.Redos.erase(H.Redos.begin());
    }
}

} // namespace

void HistoryRecord()
{
    // A replay repeats strokes whose history was kept, or is not needed.
    if (ReplayRunning()) return;
    Forget(H.Redos);
    Keep(Take(), true);
    Offer();
}

bool HistoryUndo()
{
    if (H.Undos.empty() || ToolState != ToolIdle) return false;
    Picture before = std::move(H.Undos.back());
    H.Bytes -= before.packed.size();
    H.Undos.pop_back();
    Keep(Take(), false);
    Put(before);
    Offer();
    return true;
}

bool HistoryRedo()
{
    if (H.Redos.empty() || ToolState != ToolIdle) return false;
    Picture after = std::move(H.Redos.back());
    H.Bytes -= after.packed.size();
    H.Redos.pop_back();
    Keep(Take(), true);
    Put(after);
    Offer();
    return true;
}

void HistoryReset()
{
    H = HistoryState{};
    Offer();
}

bool HistoryTakeForgotten()
{
    if (!H.Forgot || H.ToldForgot) return false;
    H.ToldForgot = true;
    return true;
}

size_t HistoryUndoSteps() { return H.Undos.size(); }
size_t HistoryRedoSteps() { return H.Redos.size(); }
size_t HistoryBytes() { return H.Bytes; }

#include "codecs/gif_animation.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t MaxDelay = 65535;
constexpr int32_t MaxSide = 65535;

// Rounded to the nearest centisecond, halves up.
uint64_t Centiseconds(uint64_t ms) { return ms / 10 + (ms % 10 >= 5 ? 1 : 0); }

bool SameColour(const uint8_t* a, const uint8_t* b) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }

bool SamePalette(const uint8_t (*a)[4], const uint8_t (*b)[4])
{
    for (int32_t i = 0; i < 256; ++i)
        if (!SameColour(a[i], b[i])) return false;
    return true;
}

void PutLe16(std::vector<uint8_t>* out, uint32_t value)
{
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void PutTable(std::vector<uint8_t>* out, const uint8_t (*colours)[4])
{
    for (int32_t i = 0; i < 256; ++i) {
        out->push_back(colours[i][2]);
        out->push_back(colours[i][1]);
        out->push_back(colours[i][0]);
    }
}

// GIF's LZW with 8-bit indices: codes of 9 to 12 bits, least significant bit
// first, a clear code when the table is full, in sub-blocks of at most 255
// bytes.
constexpr uint32_t ClearCode = 256;
constexpr uint32_t EndCode = 257;
constexpr uint32_t FirstFree = 258;
constexpr uint32_t TableLimit = 4096;
constexpr int32_t HashBits = 13;
constexpr uint32_t HashSize = 1u << HashBits;

struct LzwWriter {
    std::vector<uint8_t>* out;
    size_t blockAt = 0;
    uint32_t blockLength = 0;
    uint32_t bits = 0;
    int32_t count = 0;
    int32_t codeBits = 9;
    uint32_t next = FirstFree;
    int32_t prefix = -1;
    // (prefix << 8 | index) + 1 of each entry, 0 where none, by hash.
    std::vector<uint32_t> keys = std::vector<uint32_t>(HashSize, 0);
    std::vector<uint16_t> codes = std::vector<uint16_t>(HashSize, 0);

    void Byte(uint8_t b)
    {
        if (blockLength == 255) {
            (*out)[blockAt] = 255;
            blockAt = out->size();
            out->push_back(0);
            blockLength = 0;
        }
        out->push_back(b);
        ++blockLength;
    }
    void Code(uint32_t code)
    {
        bits |= code << count;
        count += codeBits;
        while (count >= 8) {
            Byte(static_cast<uint8_t>(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    void Reset()
    {
        std::fill(keys.begin(), keys.end(), 0);
        codeBits = 9;
        next = FirstFree;
    }
    // The reader adds its entries one code behind the writer, and widens its
    // codes once its next entry needs the extra bit.
    void Added()
    {
        ++next;
        if (next - 1 >= (1u << codeBits) && codeBits < 12) ++codeBits;
    }
    void Begin()
    {
        out->push_back(8);
        blockAt = out->size();
        out->push_back(0);
        Code(ClearCode);
    }
    void Add(uint8_t index)
    {
        if (prefix < 0) {
            prefix = index;
            return;
        }
        const uint32_t key = static_cast<uint32_t>(prefix) << 8 | index;
        uint32_t slot = ((key + 1) * 2654435761u) >> (32 - HashBits);
        while (keys[slot] != 0) {
            if (keys[slot] == key + 1) {
                prefix = codes[slot];
                return;
            }
            slot = (slot + 1) & (HashSize - 1);
        }
        Code(static_cast<uint32_t>(prefix));
        keys[slot] = key + 1;
        codes[slot] = static_cast<uint16_t>(next);
        Added();
        if (next == TableLimit) {
            Code(ClearCode);
            Reset();
        }
        prefix = index;
    }
    void End()
    {
        if (prefix >= 0) {
            Code(static_cast<uint32_t>(prefix));
            Added();
        }
        Code(EndCode);
        if (count > 0) Byte(static_cast<uint8_t>(bits));
        (*out)[blockAt] = static_cast<uint8_t>(blockLength);
        if (blockLength > 0) out->push_back(0);
    }
};

struct Rect {
    int32_t left, top, width, height;
};

// Where an image's delay sits, from the start of its control extension.
constexpr size_t DelayOffset = 4;

// Appends one image with its control extension, delay 0, to `out`: the
// rectangle of `picture`, through `colours` (a local table unless they are
// the global ones), pixels still as `shown` (where given) and not
// recoloured written as `transparent`.
void WriteImage(std::vector<uint8_t>* out, const GifAnimation& g, Rect r, const uint8_t* picture,
                const uint8_t (*colours)[4], const uint8_t* shown, const bool* recoloured, int32_t transparent)
{
    // Graphic control: disposal 1 (the frame stays under the next one).
    out->insert(out->end(), {0x21, 0xF9, 4, static_cast<uint8_t>(1 << 2 | (transparent >= 0 ? 1 : 0)), 0, 0});
    out->push_back(static_cast<uint8_t>(transparent >= 0 ? transparent : 0));
    out->push_back(0);

    out->push_back(0x2C);
    PutLe16(out, static_cast<uint32_t>(r.left));
    PutLe16(out, static_cast<uint32_t>(r.top));
    PutLe16(out, static_cast<uint32_t>(r.width));
    PutLe16(out, static_cast<uint32_t>(r.height));
    const bool local = !SamePalette(colours, g.globalColours);
    out->push_back(local ? 0x87 : 0);
    if (local) PutTable(out, colours);

    LzwWriter lzw{out};
    lzw.Begin();
    for (int32_t y = r.top; y < r.top + r.height; ++y) {
        const size_t row = static_cast<size_t>(y) * static_cast<size_t>(g.width);
        for (int32_t x = r.left; x < r.left + r.width; ++x) {
            const size_t i = row + static_cast<size_t>(x);
            const uint8_t index = picture[i];
            const bool kept = transparent >= 0 && shown[i] == index && !recoloured[index];
            lzw.Add(kept ? static_cast<uint8_t>(transparent) : index);
        }
    }
    lzw.End();
}

// The image about to be appended is the last frame, shown for 0 cs so far.
void StartImage(GifAnimation* g)
{
    g->delayAt = g->bytes.size() + DelayOffset;
    g->delay = 0;
}

// The last frame shows `cs` longer; past the delay field's limit a frame
// that changes nothing carries the rest.
void AddTime(GifAnimation* g, uint64_t cs)
{
    for (;;) {
        const uint64_t take = std::min<uint64_t>(cs, MaxDelay - g->delay);
        g->delay += static_cast<uint32_t>(take);
        g->bytes[g->delayAt] = static_cast<uint8_t>(g->delay);
        g->bytes[g->delayAt + 1] = static_cast<uint8_t>(g->delay >> 8);
        cs -= take;
        if (cs == 0) return;
        StartImage(g);
        WriteImage(&g->bytes, *g, Rect{0, 0, 1, 1}, g->shown.data(), g->shownColours, nullptr, nullptr, -1);
    }
}

// Writes the pending frame, showing for `cs`.
void Commit(GifAnimation* g, uint64_t cs)
{
    const int32_t w = g->width, h = g->height;
    const uint8_t* now = g->pending.data();
    if (g->delayAt == 0) {
        // The first frame: the header, its colours as the global table, the
        // loop, and the whole picture.
        std::vector<uint8_t>* out = &g->bytes;
        out->insert(out->end(), {'G', 'I', 'F', '8', '9', 'a'});
        PutLe16(out, static_cast<uint32_t>(w));
        PutLe16(out, static_cast<uint32_t>(h));
        out->insert(out->end(), {0xF7, 0, 0});
        std::memcpy(g->globalColours, g->pendingColours, sizeof g->globalColours);
        PutTable(out, g->globalColours);
        out->insert(out->end(), {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0});
        StartImage(g);
        WriteImage(&g->bytes, *g, Rect{0, 0, w, h}, now, g->pendingColours, nullptr, nullptr, -1);
    } else {
        // A pixel changed when its index did, or its entry's colour did.
        bool recoloured[256];
        bool anyRecoloured = false;
        for (int32_t i = 0; i < 256; ++i) {
            recoloured[i] = !SameColour(g->shownColours[i], g->pendingColours[i]);
            anyRecoloured = anyRecoloured || recoloured[i];
        }
        int32_t left = w, right = -1, top = -1, bottom = -1;
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* a = g->shown.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
            const uint8_t* b = now + static_cast<size_t>(y) * static_cast<size_t>(w);
            if (!anyRecoloured && std::memcmp(a, b, static_cast<size_t>(w)) == 0) continue;
            auto differs = [&](int32_t x) { return a[x] != b[x] || recoloured[b[x]]; };
            int32_t first = 0;
            while (first < w && !differs(first)) ++first;
            if (first == w) continue;
            int32_t last = w - 1;
            while (!differs(last)) --last;
            left = std::min(left, first);
            right = std::max(right, last);
            if (top < 0) top = y;
            bottom = y;
        }
        if (top < 0) {
            AddTime(g, cs);
            return;
        }
        const Rect r{left, top, right - left + 1, bottom - top + 1};
        // Unchanged pixels inside the rectangle may go transparent, to make
        // long runs, when some index is free to stand for them.
        bool used[256] = {};
        bool anyKept = false;
        for (int32_t y = r.top; y < r.top + r.height; ++y)
            for (int32_t x = r.left; x < r.left + r.width; ++x) {
                const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
                used[now[i]] = true;
                anyKept = anyKept || (g->shown[i] == now[i] && !recoloured[now[i]]);
            }
        int32_t transparent = -1;
        if (anyKept)
            for (int32_t i = 0; i < 256 && transparent < 0; ++i)
                if (!used[i]) transparent = i;
        // But transparency also breaks up patterns the codes would have
        // found: the smaller of the two forms is kept.
        StartImage(g);
        WriteImage(&g->bytes, *g, r, now, g->pendingColours, g->shown.data(), recoloured, transparent);
        if (transparent >= 0) {
            std::vector<uint8_t> opaque;
            WriteImage(&opaque, *g, r, now, g->pendingColours, nullptr, nullptr, -1);
            if (opaque.size() < g->bytes.size() - (g->delayAt - DelayOffset)) {
                g->bytes.resize(g->delayAt - DelayOffset);
                g->bytes.insert(g->bytes.end(), opaque.begin(), opaque.end());
            }
        }
    }
    g->shown.swap(g->pending);
    std::memcpy(g->shownColours, g->pendingColours, sizeof g->shownColours);
    AddTime(g, cs);
}

} // namespace

void GifStart(GifAnimation* gif, int32_t width, int32_t height)
{
    if (!gif) return;
    *gif = GifAnimation{};
    if (width < 1 || height < 1 || width > MaxSide || height > MaxSide) return;
    gif->width = width;
    gif->height = height;
    gif->shown.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    gif->pending.assign(gif->shown.size(), 0);
}

void GifAddFrame(GifAnimation* gif, const uint8_t* pixels, const uint8_t (*colours)[4], uint64_t atMilliseconds)
{
    if (!gif || gif->width == 0 || !pixels || !colours) return;
    const size_t size = gif->pending.size();
    if (gif->hasPending) {
        if (atMilliseconds < gif->pendingAt) atMilliseconds = gif->pendingAt;
        if (std::memcmp(gif->pending.data(), pixels, size) == 0 && SamePalette(gif->pendingColours, colours)) return;
        const uint64_t cs = Centiseconds(atMilliseconds) - Centiseconds(gif->pendingAt);
        // Under 2 cs the pending frame is dropped and this one takes its time.
        if (cs < 2) {
            std::memcpy(gif->pending.data(), pixels, size);
            std::memcpy(gif->pendingColours, colours, sizeof gif->pendingColours);
            return;
        }
        Commit(gif, cs);
    }
    std::memcpy(gif->pending.data(), pixels, size);
    std::memcpy(gif->pendingColours, colours, sizeof gif->pendingColours);
    gif->pendingAt = atMilliseconds;
    gif->hasPending = true;
}

void GifTakeSettled(GifAnimation* gif, std::vector<uint8_t>* out)
{
    if (!gif || gif->delayAt == 0) return;
    const size_t settled = gif->delayAt - DelayOffset;
    out->insert(out->end(), gif->bytes.begin(), gif->bytes.begin() + static_cast<std::ptrdiff_t>(settled));
    gif->bytes.erase(gif->bytes.begin(), gif->bytes.begin() + static_cast<std::ptrdiff_t>(settled));
    gif->delayAt = DelayOffset;
}

std::vector<uint8_t> GifFinish(GifAnimation* gif, uint64_t endMilliseconds)
{
    std::vector<uint8_t> file;
    if (!gif) return file;
    if (gif->hasPending) {
        const uint64_t end = std::max(endMilliseconds, gif->pendingAt);
        Commit(gif, std::max<uint64_t>(Centiseconds(end) - Centiseconds(gif->pendingAt), 2));
        gif->bytes.push_back(0x3B);
        file.swap(gif->bytes);
    }
    *gif = GifAnimation{};
    return file;
}

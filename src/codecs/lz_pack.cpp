#include "codecs/lz_pack.h"

#include <cstring>

// Each run is a token (literal count in the high four bits, match length
// less four in the low four; 15 is continued in bytes of up to 255 each),
// the literals, then a two-byte distance back to the match. The last run
// has literals only.
namespace {

constexpr size_t MinMatch = 4;
constexpr size_t HashBits = 14;

uint32_t Read32(const uint8_t* at)
{
    uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

size_t HashOf(const uint8_t* at) { return (Read32(at) * 2654435761u) >> (32 - HashBits); }

void PutLength(size_t length, std::vector<uint8_t>* out)
{
    for (; length >= 255; length -= 255) out->push_back(255);
    out->push_back(static_cast<uint8_t>(length));
}

void PutRun(const uint8_t* literals, size_t count, size_t matchLength, size_t distance, std::vector<uint8_t>* out)
{
    const size_t match = matchLength ? matchLength - MinMatch : 0;
    out->push_back(static_cast<uint8_t>((count < 15 ? count : 15) << 4 | (match < 15 ? match : 15)));
    if (count >= 15) PutLength(count - 15, out);
    out->insert(out->end(), literals, literals + count);
    if (!matchLength) return;
    out->push_back(static_cast<uint8_t>(distance));
    out->push_back(static_cast<uint8_t>(distance >> 8));
    if (match >= 15) PutLength(match - 15, out);
}

// A length continued in bytes; false past the end of the input.
bool TakeLength(const uint8_t*& at, const uint8_t* end, size_t* length)
{
    for (;;) {
        if (at == end) return false;
        const uint8_t part = *at++;
        *length += part;
        if (part != 255) return true;
    }
}

} // namespace

void LzPack(const uint8_t* bytes, size_t size, std::vector<uint8_t>* out)
{
    std::vector<int64_t> last(size_t{1} << HashBits, -1);
    size_t literal = 0, at = 0;
    while (size >= MinMatch && at + MinMatch <= size) {
        const size_t hash = HashOf(bytes + at);
        const int64_t candidate = last[hash];
        last[hash] = static_cast<int64_t>(at);
        if (candidate < 0 || at - static_cast<size_t>(candidate) > 65535 ||
            Read32(bytes + candidate) != Read32(bytes + at)) {
            ++at;
            continue;
        }
        size_t length = MinMatch;
        while (at + length < size && bytes[candidate + static_cast<int64_t>(length)] == bytes[at + length]) ++length;
        PutRun(bytes + literal, at - literal, length, at - static_cast<size_t>(candidate), out);
        at += length;
        literal = at;
    }
    PutRun(bytes + literal, size - literal, 0, 0, out);
}

bool LzUnpack(const uint8_t* packed, size_t packedSize, uint8_t* out, size_t size)
{
    const uint8_t* at = packed;
    const uint8_t* end = packed + packedSize;
    size_t written = 0;
    for (;;) {
        if (at == end) return false;
        const uint8_t token = *at++;
        size_t count = token >> 4;
        if (count == 15 && !TakeLength(at, end, &count)) return false;
        if (count > static_cast<size_t>(end - at) || count > size - written) return false;
        if (count > 0) std::memcpy(out + written, at, count);  // out may be null when size is 0
        at += count;
        written += count;
        if (at == end) return written == size && (token & 15) == 0;
        if (end - at < 2) return false;
        const size_t distance = at[0] | static_cast<size_t>(at[1]) << 8;
        at += 2;
        size_t length = (token & 15);
        if (length == 15 && !TakeLength(at, end, &length)) return false;
        length += MinMatch;
        if (distance == 0 || distance > written || length > size - written) return false;
        // Byte by byte: a match may overlap what it copies (a run).
        for (size_t i = 0; i < length; ++i, ++written) out[written] = out[written - distance];
    }
}
